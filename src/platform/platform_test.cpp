#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/long_path.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orlenta::platform {
namespace {

namespace stdfs = std::filesystem;
using namespace std::literals;
using orlenta::testing::ReadBytes, orlenta::testing::WriteBytes;
using enum File::Mode;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The operations and what they give; the table's head says what each means.
constexpr std::string_view kTable =
#include "platform/platform_cases.txt"
    ;

constexpr std::u16string_view kName = u"画像\U0001F600.csv";

/// The folder that the table's head describes.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(temp.Join(kName), "abc");
    WriteBytes(temp.Join(u"other.csv"), "abc");
    stdfs::create_directory(temp.Join(u"dir"));
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7 + i / 251);
    WriteBytes(temp.Join(u"long.jpg"), bytes + "tail");
    WriteBytes(temp.Join(u"src.jpg"), bytes);
    const stdfs::path source = temp.Join(u"src.jpg");
    stdfs::last_write_time(source, stdfs::last_write_time(source) - std::chrono::hours(24 * 40));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((temp.fs_path() / "pipe.png").c_str(), 0644), 0);
    for (const char* name : {"CON", "NUL.png", "dir/COM1"}) WriteBytes(temp.fs_path() / name, "");
    reader = ::open((temp.fs_path() / "pipe.png").c_str(), O_RDONLY | O_NONBLOCK);
    input = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);  // as a program started without it: a file may open as descriptor 0
  }
  void TearDown() override {
    ::dup2(input, STDIN_FILENO), ::close(input), ::close(reader);
#endif
  }
  /// `text` as the program spells paths, with the table's placeholders ($: the folder).
  std::u16string Path(const std::string& text) const {
    return *ConvertUtf8ToUtf16(orlenta::testing::Expand(text, *ConvertUtf16ToUtf8(temp.path())));
  }
  /// `path` for the standard library, which takes no backslash for a separator on POSIX.
  static stdfs::path Disk(std::u16string path) {
    if (!kWindows) std::replace(path.begin(), path.end(), u'\\', u'/');
    return path;
  }
  std::string Do(const std::string& op, const std::u16string& a, const std::u16string& b);

  orlenta::testing::TempFolder temp;
  FileSystem files;
  int input = -1, reader = -1;  // standard input, put back after the test; the pipe's reader
};

std::string PlatformTest::Do(const std::string& op, const std::u16string& a, const std::u16string& b) {
  constexpr const char* kKinds[] = {"missing", "file", "folder"};
  if (op == "kind") return kKinds[static_cast<int>(files.QueryPath(a))];
  if (op == "read") return ReadBytes(Disk(a));
  if (op == "write" || op == "append")
    return files.OpenFile(a, op == "write" ? kWriteNew : kAppendShared) ? "opens" : "fails";
  if (op == "key") return *ConvertUtf16ToUtf8(PathCompareKey(a));
  if (op == "text") return *ConvertUtf16ToUtf8(a);  // `a` is the conversion under test
  if (op.starts_with("widen")) {
    const std::size_t limit = op == "widen-folder" ? kMaxFolderPathLength : kMaxPathLength;
    if constexpr (kWindows) {  // the system's full form is `b`: a limit of 1 hands it over
      if (op != "widen-elsewhere") {
        EXPECT_EQ(WidenForWin32Call(a, limit), WidenPath(a, b, limit));
        EXPECT_EQ(WidenForWin32Call(a, 1), WidenPath(a, b, 1));
      }
    }
    return *ConvertUtf16ToUtf8(WidenPath(a, b, limit));
  }
  if (op == "at") {
    const std::string kind = Do("kind", a, b);
    const auto id = files.QueryFileIdentity(a), same = files.QueryFileIdentity(temp.Join(kName));
    const bool reads = files.OpenFile(a, kRead).has_value();
    constexpr const char* kMade[] = {"created", "exists", "failed"};
    return kind + (!id ? " none " : id == same ? " same " : " other ") + (reads ? "reads " : "fails ") +
           kMade[static_cast<int>(files.CreateFolder(a))];
  }
  if (op == "copy") {
    const stdfs::path from = Disk(a), to = Disk(b);
    const stdfs::file_type before = stdfs::status(to).type();
    const auto held = [](const stdfs::path& file) { return stdfs::is_regular_file(file) ? ReadBytes(file) : "(no file)"; };
    const std::string bytes = held(from);
    const bool copied = files.CopyFileReplacing(a, b);
    EXPECT_EQ(held(from), bytes);
    if (!copied) return stdfs::status(to).type() == before ? "refused" : "refused, the target changed";
    EXPECT_EQ(held(to), bytes);
    EXPECT_LT(std::chrono::abs(stdfs::last_write_time(to) - stdfs::last_write_time(from)), 2s);
    EXPECT_EQ(stdfs::status(to).permissions(), stdfs::status(from).permissions());
    return "copied";
  }
  if (op == "sync") {
    std::optional<File> file = files.OpenFile(a, kAppendShared);
    std::size_t done = 0;
    const std::u16string written[] = {b};
    return file && files.MakeDurable(*file, written, done) == Outcome::kDone ? "done" : "failed";
  }
  if (op == "replace" || op == "replace-held") {
    std::optional<File> held = op == "replace-held" ? files.OpenFile(b, kRead) : std::nullopt;
    constexpr const char* kResults[] = {"done", "busy", "failed"};
    return kResults[static_cast<int>(files.ReplaceFileAtomically(a, b))];
  }
  ADD_FAILURE() << "unknown operation " << op;
  return {};
}

TEST_F(PlatformTest, Operations) {
  const stdfs::path previous = stdfs::current_path();
  if (kWindows) stdfs::create_directories("C:\\work"), stdfs::current_path("C:\\work");
  const std::vector<orlenta::testing::TableCase> table = orlenta::testing::ReadTable(kTable);
  for (const orlenta::testing::TableLine& row : table[0].lines) {
    SCOPED_TRACE(row.line);
    const std::size_t equals = row.line.find(" = ");
    std::string expected = row.line.substr(equals + 3), op, a, b;
    if (const std::size_t bar = expected.find(" | "); bar != std::string::npos)
      expected = kWindows ? expected.substr(bar + 3) : expected.substr(0, bar);
    expected = orlenta::testing::Expand(expected);
    std::istringstream(row.line.substr(0, equals)) >> op >> a >> b;
    if (op == "put") WriteBytes(Disk(Path(a)), expected);
    else if (op == "mode") stdfs::permissions(Disk(Path(a)), stdfs::perms(std::stoi(expected, nullptr, 8)));
    else EXPECT_EQ(Do(op, Path(a), Path(b)), expected);
  }
  stdfs::current_path(previous);
}

TEST_F(PlatformTest, TruncatedThenAppendedToByAWriterThatLetsAReaderIn) {
  auto out = files.OpenFile(temp.Join(kName), kWriteNew);
  ASSERT_TRUE(out && out->Size() == 0u && files.Write(*out, "1\0"s) && out->Close());
  auto log = files.OpenFile(temp.Join(kName), kAppendShared);
  auto in = log && files.Write(*log, "234") ? files.OpenFile(temp.Join(kName), kRead) : std::nullopt;
  ASSERT_TRUE(in && files.Write(*log, "56789"));
  char buffer[16];
  EXPECT_EQ(files.Read(*in, buffer, 4), 4);
  EXPECT_EQ(files.Read(*in, buffer + 4, 12), 6);
  EXPECT_EQ(files.Read(*in, buffer, 16), 0);
  EXPECT_EQ(std::string_view(buffer, 10), "1\0" "23456789"sv);
  EXPECT_FALSE(files.Write(*in, "x"));
  EXPECT_EQ(files.Read(*log, buffer, 1), -1);
}

#ifdef _WIN32
// A file that only SYSTEM may change and everyone may read, hidden and
// read-only: the new one is so too, though created for its owner alone.
// Wine keeps no creation time (it reports the last write's).
TEST_F(PlatformTest, WindowsCarriesDaclAndAttributes) {
  const std::u16string from = temp.Join(u"list.csv"), to = temp.Join(u"list.csv.tmp");
  const auto wide = [](const std::u16string& path) { return reinterpret_cast<const wchar_t*>(path.c_str()); };
  const auto dacl = [&](const std::u16string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    GetNamedSecurityInfoW(wide(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                          nullptr, &descriptor);
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &text, nullptr);
    const std::wstring shown = text ? text : L"(none)";
    return LocalFree(descriptor), LocalFree(text), shown;
  };
  WriteBytes(temp.fs_path() / "list.csv", "old");
  PSECURITY_DESCRIPTOR shared = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FR;;;WD)",
                                                                   SDDL_REVISION_1, &shared, nullptr) &&
              SetFileSecurityW(wide(from), DACL_SECURITY_INFORMATION, shared));
  LocalFree(shared);
  ASSERT_TRUE(SetFileAttributesW(wide(from), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  std::optional<File> file = files.OpenFile(to, kWriteNew);
  ASSERT_TRUE(file && files.CarryPermissions(*file, from) && files.Write(*file, "new") && file->Close());
  EXPECT_EQ(dacl(to), dacl(from));
  EXPECT_EQ(GetFileAttributesW(wide(to)), GetFileAttributesW(wide(from)));
}
#else
// The copy under the kernel's limits. It refuses copy_file_range across file
// systems (EXDEV): the copy then reads and writes, and must still copy
// everything; each copy and each file, closed or gone, releases its
// descriptors: 100 fit under a limit of 32. A copy that the file size limit
// cuts short, as a full disk would, is refused. It copies a gigabyte at a
// time: a larger file comes out whole only if the copy goes on.
TEST_F(PlatformTest, PosixCopiesWithinTheKernelsLimits) {
  const auto limited = [](int resource, rlim_t value, auto run) {
    rlimit before, limit;
    ASSERT_EQ(::getrlimit(resource, &before), 0);
    limit = before, limit.rlim_cur = value;
    ASSERT_EQ(::setrlimit(resource, &limit), 0);
    run();
    ::setrlimit(resource, &before);
  };
  limited(RLIMIT_NOFILE, 32, [&] {
    for (int i = 0; i < 100; ++i) {
      ASSERT_TRUE(files.CopyFileReplacing(u"/proc/version", temp.Join(u"version"))) << i;
      std::optional<File> file = files.OpenFile(temp.Join(u"version"), kRead);
      ASSERT_TRUE(file && (i % 2 == 0 || file->Close())) << i;  // else closed as it goes
    }
  });
  EXPECT_EQ(ReadBytes(temp.fs_path() / "version"), ReadBytes("/proc/version"));

  WriteBytes(temp.fs_path() / "a.jpg", std::string(100, 'a'));
  const auto action = ::signal(SIGXFSZ, SIG_IGN);
  limited(RLIMIT_FSIZE, 16, [&] { EXPECT_FALSE(files.CopyFileReplacing(temp.Join(u"a.jpg"), temp.Join(u"b.jpg"))); });
  ::signal(SIGXFSZ, action);

  WriteBytes(temp.fs_path() / "big.tif", "head");
  stdfs::resize_file(temp.fs_path() / "big.tif", std::uintmax_t{1} << 30);  // sparse
  std::ofstream(temp.fs_path() / "big.tif", std::ios::app) << "tail";
  ASSERT_TRUE(files.CopyFileReplacing(temp.Join(u"big.tif"), temp.Join(u"copy.tif")));
  std::ifstream copy(temp.fs_path() / "copy.tif", std::ios::binary);
  std::string ends(8, '-');
  copy.read(ends.data(), 4).seekg(-4, std::ios::end).read(ends.data() + 4, 4);
  EXPECT_EQ(ends, "headtail");
  EXPECT_EQ(stdfs::file_size(temp.fs_path() / "copy.tif"), (std::uintmax_t{1} << 30) + 4);
}

// The native program's processing window is a line on standard error when
// that is a terminal, drawn anew when what it says changes, and erased when
// the window goes. The job waits to see each phase drawn before it moves on;
// the saving mark turns past its four marks.
TEST(ProcessingWindowTest, PosixTerminalLineOfEachPhase) {
  const int screen = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(screen >= 0 && ::grantpt(screen) == 0 && ::unlockpt(screen) == 0);
  const int terminal = ::open(::ptsname(screen), O_RDWR | O_NOCTTY), error = ::dup(STDERR_FILENO);
  ::dup2(terminal, STDERR_FILENO);
  const std::string expected = "\rx\rx 37%\x1b[K\rx 37/100 (37%)\x1b[K\rx |\x1b[K\rx /\x1b[K\rx -\x1b[K\rx \\\x1b[K\rx |\x1b[K";
  std::string drawn;
  const auto see = [&](std::ptrdiff_t drawings) {  // read until so many lines follow the first; -1: the erasure
    for (pollfd in{screen, POLLIN, 0};
         (drawings < 0 ? !drawn.ends_with("\r\x1b[K") : std::count(drawn.begin(), drawn.end(), '\r') <= drawings) &&
         ::poll(&in, 1, 5000) == 1;) {
      char bytes[64];
      drawn.append(bytes, std::max<ssize_t>(0, ::read(screen, bytes, sizeof bytes)));
    }
  };
  JobStatus status;  // the counts stay: a look between the stores of a change sees nothing new
  const WindowHandle window = ShowProcessingWindow(u"Orlenta", u"x");
  const bool ran = window != 0 && RunBesideWindow(window, status, [&] {
    status.Set(JobStatus::kReading, 37, 100), see(1);
    status.Set(JobStatus::kRows, 37, 100), see(2);
    status.Set(JobStatus::kSaving, 37, 100), see(7);  // round the four marks, and one more
  });
  DestroyProcessingWindow(window);
  see(-1);
  ::dup2(error, STDERR_FILENO);
  for (const int fd : {screen, terminal, error}) ::close(fd);
  EXPECT_TRUE(ran);
  EXPECT_EQ(drawn.substr(0, expected.size()), expected);
  EXPECT_TRUE(drawn.ends_with("\r\x1b[K")) << "not erased";
}
#endif

}  // namespace
}  // namespace orlenta::platform
