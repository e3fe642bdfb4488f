#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace orlenta::platform {
namespace {

namespace stdfs = std::filesystem;
using namespace std::literals;
using ::testing::PrintToString;
using orlenta::testing::ReadBytes;
using orlenta::testing::WriteBytes;
using enum PathKind;
using enum File::Mode;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

/// The expected result on this OS, where POSIX and Windows differ.
template <class T>
T Os(T posix, T windows) { return kWindows ? windows : posix; }

constexpr std::u16string_view kName = u"画像\U0001F600.csv";

/// A temporary folder holding kName ("abc") and the folder "dir". Paths under
/// test are spelled with backslashes, which POSIX must take as separators.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(OnDisk(At(kName)), "abc");
    stdfs::create_directory(OnDisk(At(u"dir")));
  }
  std::u16string At(std::u16string_view name) const {
    std::u16string path = temp.path() + u"\\" + std::u16string(name);
    for (char16_t& c : path) c = c == u'/' ? u'\\' : c;
    return path;
  }
  /// The same path for the test's own checks, which go through the standard library.
  static stdfs::path OnDisk(std::u16string path) {
    for (char16_t& c : path) c = !kWindows && c == u'\\' ? u'/' : c;
    return orlenta::testing::ToFsPath(path);
  }
  orlenta::testing::TempFolder temp;
  FileSystem files;
};

TEST_F(PlatformTest, QueryPath) {
  // Device names are ordinary names on POSIX; Windows must not call them files.
  if (!kWindows) {
    for (auto name : {u"CON", u"NUL.png", u"dir\\COM1"}) WriteBytes(OnDisk(At(name)), "");
  }
  const struct { std::u16string path; PathKind kind; } cases[] = {
      {At(kName), kFile}, {temp.Join(kName), kFile}, {At(u"dir"), kFolder},
      {At(u"none.csv"), kMissing}, {At(kName) + u"\0x"s, kMissing},  // not cut short at the NUL
      {At(u"CON"), Os(kFile, kMissing)}, {At(u"NUL.png"), Os(kFile, kMissing)},
      {At(u"dir\\COM1"), Os(kFile, kMissing)},
  };
  for (const auto& c : cases) EXPECT_EQ(files.QueryPath(c.path), c.kind) << PrintToString(c.path);
}

TEST_F(PlatformTest, CreateFolder) {
  using enum CreateFolderResult;
  const struct { std::u16string path; CreateFolderResult result; } cases[] = {
      {At(u"Fore"), kCreated}, {At(u"Fore"), kAlreadyExists}, {At(kName), kAlreadyExists},
      {At(u"no\\such"), kFailed}, {At(u"x") + u"\0y"s, kFailed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.CreateFolder(c.path), c.result) << PrintToString(c.path);
  }
  EXPECT_TRUE(stdfs::is_directory(OnDisk(At(u"Fore"))));
  EXPECT_EQ(ReadBytes(OnDisk(At(kName))), "abc");
  EXPECT_FALSE(stdfs::exists(OnDisk(At(u"x"))));
}

TEST_F(PlatformTest, CopyFileReplacing) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7 + i / 251);
  const stdfs::path source = OnDisk(At(u"src.jpg"));
  WriteBytes(source, bytes);
  const auto old = stdfs::last_write_time(source) - std::chrono::hours(24 * 40);
  stdfs::last_write_time(source, old);
  using enum stdfs::perms;
  stdfs::permissions(source, owner_read | owner_write | group_read);
  WriteBytes(OnDisk(At(u"long.jpg")), bytes + "tail");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(OnDisk(At(u"pipe.png")).c_str(), 0644), 0);  // no writer: must not block
#endif
  const struct { std::u16string from, to; bool copied; } cases[] = {
      {At(u"src.jpg"), At(u"new.jpg"), true}, {At(u"src.jpg"), At(u"long.jpg"), true},
      {At(u"src.jpg"), At(u"SRC.JPG"), Os(true, false)},  // one file on Windows
      {At(u"src.jpg"), temp.path() + u"/./src.jpg", false}, {At(u"src.jpg"), At(u"dir"), false},
      {At(u"none.jpg"), At(u"a.jpg"), false}, {At(u"dir"), At(u"b.jpg"), false},
      {At(u"pipe.png"), At(u"c.jpg"), false}, {At(u"src.jpg"), At(u"no\\such\\d.jpg"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PrintToString(c.from + u" -> " + c.to));
    const stdfs::file_type before = stdfs::status(OnDisk(c.to)).type();
    EXPECT_EQ(files.CopyFileReplacing(c.from, c.to), c.copied);
    EXPECT_EQ(ReadBytes(source), bytes);
    if (!c.copied) {
      EXPECT_EQ(stdfs::status(OnDisk(c.to)).type(), before);
      continue;
    }
    EXPECT_EQ(ReadBytes(OnDisk(c.to)), bytes);
    EXPECT_LT(std::chrono::abs(stdfs::last_write_time(OnDisk(c.to)) - old), 2s);
    const auto bits = stdfs::status(OnDisk(c.to)).permissions();
    if (!kWindows) { EXPECT_EQ(bits, owner_read | owner_write | group_read); }
  }
}

TEST_F(PlatformTest, QueryFileIdentity) {
  WriteBytes(OnDisk(At(u"other.csv")), "abc");
  const auto one = files.QueryFileIdentity(At(kName));
  const auto other = files.QueryFileIdentity(At(u"other.csv"));
  ASSERT_TRUE(one && other);
  EXPECT_NE(*one, *other);
  const struct { std::u16string path; std::optional<FileIdentity> id; } cases[] = {
      {temp.Join(kName), one}, {temp.path() + u"/./" + std::u16string(kName), one},
      {At(u"画像\U0001F600.CSV"), Os<std::optional<FileIdentity>>(std::nullopt, one)},
      {At(u"none.csv"), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.QueryFileIdentity(c.path), c.id) << PrintToString(c.path);
  }
}

TEST_F(PlatformTest, ReplaceFileAtomically) {
  using enum ReplaceResult;
  // name.tmp moves onto name.csv; nullptr: no such file. `held`: the target is open for
  // reading meanwhile, which on Windows shares no deletion.
  const struct { std::u16string name; const char *from, *to; bool held; ReplaceResult result; }
      cases[] = {
          {u"a", "new", "old and longer", false, kDone}, {u"b", "new", nullptr, false, kDone},
          {u"c", nullptr, "old", false, kFailed}, {u"d", "new", "old", true, Os(kDone, kBusy)},
      };
  for (const auto& c : cases) {
    const std::u16string from = At(c.name + u".tmp"), to = At(c.name + u".csv");
    if (c.from) WriteBytes(OnDisk(from), c.from);
    if (c.to) WriteBytes(OnDisk(to), c.to);
    std::optional<File> held = c.held ? files.OpenFile(to, kRead) : std::nullopt;
    EXPECT_EQ(files.ReplaceFileAtomically(from, to), c.result) << PrintToString(c.name);
    held.reset();
    const bool done = c.result == kDone;
    EXPECT_EQ(ReadBytes(OnDisk(to)), done ? c.from : c.to ? c.to : "");
    EXPECT_EQ(stdfs::exists(OnDisk(from)), !done && c.from != nullptr);
  }
}

TEST_F(PlatformTest, OpenFile) {
  const struct { std::u16string path; File::Mode mode; bool opens; } cases[] = {
      {At(u"dir"), kRead, false}, {At(u"dir"), kWriteTruncate, false},
      {At(u"dir"), kAppendShared, false}, {At(u"none.csv"), kRead, false},
      {At(u"no\\such.csv"), kWriteTruncate, false}, {At(kName) + u"\0"s, kRead, false},
      {At(u"new.log"), kAppendShared, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.OpenFile(c.path, c.mode).has_value(), c.opens) << PrintToString(c.path);
  }

  auto out = files.OpenFile(At(kName), kWriteTruncate);  // held "abc"
  ASSERT_TRUE(out);
  EXPECT_EQ(out->Size(), 0u);
  EXPECT_TRUE(files.Write(*out, "1\0"s) && out->Close());
  auto log = files.OpenFile(At(kName), kAppendShared);
  ASSERT_TRUE(log);
  EXPECT_TRUE(files.Write(*log, "234"));
  auto in = files.OpenFile(At(kName), kRead);  // while the appender holds it
  ASSERT_TRUE(in);
  EXPECT_TRUE(files.Write(*log, "56789"));
  std::string got;
  char buffer[4];
  std::int64_t n;
  while ((n = files.Read(*in, buffer, sizeof buffer)) > 0) got.append(buffer, n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(got, "1\0" "23456789"s);
  EXPECT_FALSE(files.Write(*in, "x"));
}

TEST(PathCompareKeyTest, FoldsAsTheFileSystemCompares) {
  const struct { std::u16string_view path, posix, windows; } cases[] = {
      {u"C:\\Data\\list.csv", u"C:/Data/list.csv", u"C:\\DATA\\LIST.CSV"},
      {u"c:/data/LIST.csv", u"c:/data/LIST.csv", u"C:\\DATA\\LIST.CSV"},
      {u"café\\画像.jpg", u"café/画像.jpg", u"CAFÉ\\画像.JPG"},
  };
  for (const auto& c : cases) EXPECT_EQ(PathCompareKey(c.path), Os(c.posix, c.windows));
}

TEST(CommandLineArgumentsTest, ConvertsArgvOrSplitsTheProcessCommandLine) {
  char program[] = "orlenta", path[] = "/tmp/caf\xC3\xA9.csv", broken[] = "a\x80z";
  char* argv[] = {program, path, broken, nullptr};
  const std::vector<std::u16string> arguments = CommandLineArguments(3, argv);
  if (kWindows) {  // argv is ignored: element 0 is this program
    ASSERT_FALSE(arguments.empty());
    EXPECT_TRUE(PathCompareKey(arguments[0]).ends_with(u"\\PLATFORM_TEST.EXE"));
    EXPECT_EQ(FileSystem().QueryPath(arguments[0]), kFile);
  } else {
    EXPECT_EQ(arguments, (std::vector<std::u16string>{u"orlenta", u"/tmp/café.csv", u"a\uFFFDz"}));
    EXPECT_TRUE(CommandLineArguments(2, nullptr).empty());
  }
}

#ifndef _WIN32
TEST(ShowMessageBoxTest, PosixWritesTheTextAndOneLineFeed) {
  const struct { MessageIcon icon; std::string out, err; } cases[] = {
      {MessageIcon::kInformation, "完了\r\n2\n", ""}, {MessageIcon::kError, "", "完了\r\n2\n"}};
  for (const auto& c : cases) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    ShowMessageBox(u"完了\r\n2", u"Orlenta", c.icon);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out);
  }
}
#endif

}  // namespace
}  // namespace orlenta::platform
