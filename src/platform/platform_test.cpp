#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>

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

/// A temporary folder holding kName ("abc") and the folder "dir". Names with
/// a backslash check that POSIX takes it as a separator.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(At(kName), "abc");
    stdfs::create_directory(At(u"dir"));
  }
  std::u16string At(std::u16string_view name) const { return temp.Join(name); }
  orlenta::testing::TempFolder temp;
  FileSystem files;
};

// Each path is queried, opened for reading and made a folder, in that order.
TEST_F(PlatformTest, WhatStandsAtAPath) {
  using enum CreateFolderResult;
  enum Id { kNone, kSame, kOther };  // no identity, that of kName, another one
  WriteBytes(At(u"other.csv"), "abc");
  const auto same = files.QueryFileIdentity(At(kName));
  ASSERT_TRUE(same);
  const std::u16string name(kName);
  const struct { std::u16string path; PathKind kind; Id id; bool reads; CreateFolderResult made; } cases[] = {
      {At(kName), kFile, kSame, true, kAlreadyExists},
      {temp.path() + u"\\" + name, kFile, kSame, true, kAlreadyExists},
      {temp.path() + u"/./" + name, kFile, kSame, true, kAlreadyExists},
      {At(u"画像\U0001F600.CSV"), Os(kMissing, kFile), Os(kNone, kSame), kWindows, Os(kCreated, kAlreadyExists)},
      {At(u"other.csv"), kFile, kOther, true, kAlreadyExists},
      {At(u"dir"), kFolder, kOther, false, kAlreadyExists},
      {At(u"none.csv"), kMissing, kNone, false, kCreated},
      {At(kName) + u"\0x"s, kMissing, kNone, false, kFailed},  // not cut short at the NUL
      {At(u"no\\such"), kMissing, kNone, false, kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PrintToString(c.path));
    EXPECT_EQ(files.QueryPath(c.path), c.kind);
    const auto id = files.QueryFileIdentity(c.path);
    EXPECT_EQ(!id ? kNone : *id == *same ? kSame : kOther, c.id);
    EXPECT_EQ(files.OpenFile(c.path, kRead).has_value(), c.reads);
    EXPECT_EQ(files.CreateFolder(c.path), c.made);
    EXPECT_EQ(files.QueryPath(c.path), c.made == kCreated ? kFolder : c.kind);
  }
  // Device names are ordinary names on POSIX; Windows must not call them files.
  for (auto [name, posix] : {std::pair{u"CON", "CON"}, {u"NUL.png", "NUL.png"}, {u"dir\\COM1", "dir/COM1"}}) {
    if (!kWindows) WriteBytes(temp.fs_path() / posix, "");
    EXPECT_EQ(files.QueryPath(At(name)), Os(kFile, kMissing)) << PrintToString(std::u16string(name));
  }
}

TEST_F(PlatformTest, CopyFileReplacing) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7 + i / 251);
  WriteBytes(At(u"src.jpg"), bytes);
  WriteBytes(At(u"long.jpg"), bytes + "tail");
  const auto old = stdfs::last_write_time(At(u"src.jpg")) - std::chrono::hours(24 * 40);
  stdfs::last_write_time(At(u"src.jpg"), old);
  using enum stdfs::perms;
  stdfs::permissions(At(u"src.jpg"), owner_read | owner_write | group_read);
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((temp.fs_path() / "pipe.png").c_str(), 0644), 0);  // no writer: must not block
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
    const stdfs::file_type before = stdfs::status(c.to).type();
    EXPECT_EQ(files.CopyFileReplacing(c.from, c.to), c.copied);
    EXPECT_EQ(ReadBytes(At(u"src.jpg")), bytes);
    if (!c.copied) {
      EXPECT_EQ(stdfs::status(c.to).type(), before);
      continue;
    }
    EXPECT_EQ(ReadBytes(c.to), bytes);
    EXPECT_LT(std::chrono::abs(stdfs::last_write_time(c.to) - old), 2s);
    if (!kWindows) {
      EXPECT_EQ(stdfs::status(c.to).permissions(), owner_read | owner_write | group_read);
    }
  }
}

TEST_F(PlatformTest, ReplaceFileAtomically) {
  using enum ReplaceResult;
  // name.tmp moves onto name.csv; nullptr: no such file. `held`: the target is open for reading
  // meanwhile, which on Windows shares no deletion.
  const struct { std::u16string name; const char *from, *to; bool held; ReplaceResult result; } cases[] = {
      {u"a", "new", "old and longer", false, kDone}, {u"b", "new", nullptr, false, kDone},
      {u"c", nullptr, "old", false, kFailed}, {u"d", "new", "old", true, Os(kDone, kBusy)},
  };
  for (const auto& c : cases) {
    const std::u16string from = At(c.name + u".tmp"), to = At(c.name + u".csv");
    if (c.from) WriteBytes(from, c.from);
    if (c.to) WriteBytes(to, c.to);
    std::optional<File> held = c.held ? files.OpenFile(to, kRead) : std::nullopt;
    EXPECT_EQ(files.ReplaceFileAtomically(from, to), c.result) << PrintToString(c.name);
    held.reset();
    const bool done = c.result == kDone;
    EXPECT_EQ(ReadBytes(to), done ? c.from : c.to ? c.to : "");
    EXPECT_EQ(stdfs::exists(from), !done && c.from != nullptr);
  }
}

TEST_F(PlatformTest, OpenFile) {
  for (auto mode : {kWriteTruncate, kAppendShared}) EXPECT_FALSE(files.OpenFile(At(u"dir"), mode));
  EXPECT_FALSE(files.OpenFile(At(u"no\\such.csv"), kWriteTruncate));
  EXPECT_TRUE(files.OpenFile(At(u"new.log"), kAppendShared));
  // Truncated, then appended to by a writer that lets a reader in meanwhile.
  auto out = files.OpenFile(At(kName), kWriteTruncate);
  ASSERT_TRUE(out && out->Size() == 0u && files.Write(*out, "1\0"s) && out->Close());
  auto log = files.OpenFile(At(kName), kAppendShared);
  auto in = log && files.Write(*log, "234") ? files.OpenFile(At(kName), kRead) : std::nullopt;
  ASSERT_TRUE(in && files.Write(*log, "56789"));
  char buffer[16];
  EXPECT_EQ(files.Read(*in, buffer, 4), 4);
  EXPECT_EQ(files.Read(*in, buffer + 4, 12), 6);
  EXPECT_EQ(files.Read(*in, buffer, 16), 0);
  EXPECT_EQ(std::string_view(buffer, 10), "1\0" "23456789"sv);
  EXPECT_FALSE(files.Write(*in, "x"));
}

TEST(PlatformFunctionsTest, PathCompareKeyAndCommandLine) {
  const struct { std::u16string_view path, posix, windows; } keys[] = {
      {u"C:\\Data\\list.csv", u"C:/Data/list.csv", u"C:\\DATA\\LIST.CSV"},
      {u"c:/data/LIST.csv", u"c:/data/LIST.csv", u"C:\\DATA\\LIST.CSV"},
      {u"café\\画像.jpg", u"café/画像.jpg", u"CAFÉ\\画像.JPG"},
  };
  for (const auto& c : keys) EXPECT_EQ(PathCompareKey(c.path), Os(c.posix, c.windows));
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
  using ::testing::internal::CaptureStderr, ::testing::internal::CaptureStdout;
  for (const MessageIcon icon : {MessageIcon::kInformation, MessageIcon::kError}) {
    CaptureStdout(), CaptureStderr();
    ShowMessageBox(u"完了\r\n2", u"Orlenta", icon);
    const std::string err = ::testing::internal::GetCapturedStderr(), out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(icon == MessageIcon::kError ? err + "|" + out : out + "|" + err, "完了\r\n2\n|");
  }
}
#endif

}  // namespace
}  // namespace orlenta::platform
