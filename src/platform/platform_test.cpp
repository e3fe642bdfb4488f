#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

namespace orlenta::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using orlenta::testing::ReadBytes;
using orlenta::testing::TempFolder;
using orlenta::testing::ToFsPath;
using orlenta::testing::WriteBytes;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

/// Other spellings of `folder` + `name` that name the same file on this OS.
std::vector<std::u16string> OtherSpellings(const std::u16string& folder, std::u16string_view name) {
  std::vector<std::u16string> spellings;
  std::u16string swapped = folder + u"\\" + std::u16string(name);
  for (char16_t& c : swapped) c = c == u'\\' ? u'/' : (c == u'/' ? u'\\' : c);
  spellings.push_back(swapped);                                   // separators flipped
  spellings.push_back(folder + u"/./" + std::u16string(name));    // a "." component
  spellings.push_back(folder + u"//" + std::u16string(name));     // a doubled separator
  if (kWindows) {
    std::u16string upper = folder + u"\\" + std::u16string(name);
    for (char16_t& c : upper) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    spellings.push_back(upper);  // names compare without case
  }
  return spellings;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return bytes;
}

// ---------------------------------------------------------------------------

TEST(QueryPathTest, TellsFileFolderAndMissing) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "file.csv", "x");
  fs::create_directory(temp.fs_path() / "folder");
  EXPECT_EQ(QueryPath(temp.Join(u"file.csv")), PathKind::kFile);
  EXPECT_EQ(QueryPath(temp.Join(u"folder")), PathKind::kFolder);
  EXPECT_EQ(QueryPath(temp.path()), PathKind::kFolder);
  EXPECT_EQ(QueryPath(temp.Join(u"missing.csv")), PathKind::kMissing);
  EXPECT_EQ(QueryPath(temp.Join(u"missing\\deeper.csv")), PathKind::kMissing);
  EXPECT_EQ(QueryPath(u""), PathKind::kMissing);
}

#ifdef _WIN32
// Reserved device names are no files, bare, with an extension or in a folder;
// a namespace path to a real file still is one.
TEST(QueryPathTest, DeviceNamesAreNoFiles) {
  TempFolder temp;
  for (std::u16string name : {u"CON", u"NUL", u"nul.png", u"COM1", u"AUX", u"LPT1.jpg"}) {
    EXPECT_EQ(QueryPath(name), PathKind::kMissing) << std::string(name.begin(), name.end());
    EXPECT_EQ(QueryPath(temp.Join(name)), PathKind::kMissing) << std::string(name.begin(), name.end());
  }
  WriteBytes(temp.fs_path() / "real.png", "x");
  EXPECT_EQ(QueryPath(u"\\\\?\\" + temp.Join(u"real.png")), PathKind::kFile);
}
#endif

TEST(QueryPathTest, NulInsidePathIsNotCutShort) {
  // "file.csv\0junk" must not be taken for "file.csv".
  TempFolder temp;
  WriteBytes(temp.fs_path() / "file.csv", "x");
  const std::u16string path = temp.Join(u"file.csv") + u"\0junk"s;
  EXPECT_EQ(QueryPath(path), PathKind::kMissing);
  EXPECT_FALSE(QueryFileIdentity(path).has_value());
  EXPECT_FALSE(File::Open(path, File::Mode::kRead).has_value());
  EXPECT_FALSE(DeleteFileAt(path));
  EXPECT_EQ(ReadBytes(temp.fs_path() / "file.csv"), "x");
}

TEST(QueryPathTest, NonAsciiNamesReachTheFileSystem) {
  TempFolder temp;
  const std::u16string name = u"画像（表）\U0001F600.jpg";
  WriteBytes(ToFsPath(temp.Join(name)), "img");
  EXPECT_EQ(QueryPath(temp.Join(name)), PathKind::kFile);
  auto file = File::Open(temp.Join(name), File::Mode::kRead);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->Size(), 3u);
}

TEST(CreateFolderTest, CreatedThenAlreadyExists) {
  TempFolder temp;
  const std::u16string path = temp.Join(u"Fore");
  EXPECT_EQ(CreateFolder(path), CreateFolderResult::kCreated);
  EXPECT_EQ(QueryPath(path), PathKind::kFolder);
  EXPECT_EQ(CreateFolder(path), CreateFolderResult::kAlreadyExists);
}

TEST(CreateFolderTest, FileInTheWayCountsAsExisting) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "Back", "not a folder");
  EXPECT_EQ(CreateFolder(temp.Join(u"Back")), CreateFolderResult::kAlreadyExists);
  EXPECT_EQ(QueryPath(temp.Join(u"Back")), PathKind::kFile);
  EXPECT_EQ(ReadBytes(temp.fs_path() / "Back"), "not a folder");
}

TEST(CreateFolderTest, MissingParentFails) {
  TempFolder temp;
  EXPECT_EQ(CreateFolder(temp.Join(u"no\\such")), CreateFolderResult::kFailed);
  EXPECT_EQ(CreateFolder(temp.Join(u"x") + u"\0y"s), CreateFolderResult::kFailed);
  EXPECT_EQ(QueryPath(temp.Join(u"x")), PathKind::kMissing);
}

// ---------------------------------------------------------------------------

TEST(CopyFileReplacingTest, CopiesIntoNewAndOverExistingFiles) {
  TempFolder temp;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{4096},
                           std::size_t{3} << 20 | 17}) {
    const std::string bytes = Pattern(size);
    WriteBytes(temp.fs_path() / "source.bin", bytes);
    fs::remove(temp.fs_path() / "new.bin");
    ASSERT_TRUE(CopyFileReplacing(temp.Join(u"source.bin"), temp.Join(u"new.bin"))) << size;
    EXPECT_EQ(ReadBytes(temp.fs_path() / "new.bin"), bytes) << size;

    // A longer file already there must not leave its tail behind.
    WriteBytes(temp.fs_path() / "old.bin", Pattern(size + 5000) + "tail");
    ASSERT_TRUE(CopyFileReplacing(temp.Join(u"source.bin"), temp.Join(u"old.bin"))) << size;
    EXPECT_EQ(ReadBytes(temp.fs_path() / "old.bin"), bytes) << size;
    EXPECT_EQ(ReadBytes(temp.fs_path() / "source.bin"), bytes) << size;
  }
}

TEST(CopyFileReplacingTest, KeepsModificationTime) {
  TempFolder temp;
  const fs::path source = temp.fs_path() / "source.jpg";
  WriteBytes(source, "jpeg");
  const auto old_time = fs::last_write_time(source) - std::chrono::hours(24 * 40);
  fs::last_write_time(source, old_time);
  WriteBytes(temp.fs_path() / "copy.jpg", "older content");
  ASSERT_TRUE(CopyFileReplacing(temp.Join(u"source.jpg"), temp.Join(u"copy.jpg")));
  const auto copied = fs::last_write_time(temp.fs_path() / "copy.jpg");
  EXPECT_LT(std::chrono::abs(copied - old_time), std::chrono::seconds(2));
}

#ifndef _WIN32
TEST(CopyFileReplacingTest, KeepsPermissionBits) {
  TempFolder temp;
  const fs::path source = temp.fs_path() / "source.png";
  WriteBytes(source, "png");
  fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteBytes(temp.fs_path() / "copy.png", "x");
  fs::permissions(temp.fs_path() / "copy.png", fs::perms::all);
  ASSERT_TRUE(CopyFileReplacing(temp.Join(u"source.png"), temp.Join(u"copy.png")));
  EXPECT_EQ(fs::status(temp.fs_path() / "copy.png").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

#ifndef _WIN32
// A FIFO named as an image has no writer: opening it must not wait for one.
TEST(CopyFileReplacingTest, FifoSourceFailsWithoutBlocking) {
  TempFolder temp;
  ASSERT_EQ(::mkfifo((temp.fs_path() / "pipe.png").c_str(), 0644), 0);
  EXPECT_FALSE(CopyFileReplacing(temp.Join(u"pipe.png"), temp.Join(u"copy.png")));
  EXPECT_EQ(QueryPath(temp.Join(u"copy.png")), PathKind::kMissing);
}
#endif

TEST(CopyFileReplacingTest, FailsForMissingSourceAndFolderTargets) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "source.tif", "tiff");
  fs::create_directory(temp.fs_path() / "target");
  fs::create_directory(temp.fs_path() / "folder");
  EXPECT_FALSE(CopyFileReplacing(temp.Join(u"missing.tif"), temp.Join(u"copy.tif")));
  EXPECT_EQ(QueryPath(temp.Join(u"copy.tif")), PathKind::kMissing);
  EXPECT_FALSE(CopyFileReplacing(temp.Join(u"source.tif"), temp.Join(u"target")));
  EXPECT_EQ(QueryPath(temp.Join(u"target")), PathKind::kFolder);
  EXPECT_FALSE(CopyFileReplacing(temp.Join(u"folder"), temp.Join(u"copy.tif")));
  EXPECT_FALSE(CopyFileReplacing(temp.Join(u"source.tif"), temp.Join(u"no\\such\\copy.tif")));
  EXPECT_EQ(ReadBytes(temp.fs_path() / "source.tif"), "tiff");
}

TEST(CopyFileReplacingTest, CopyOntoItselfLeavesTheFileIntact) {
  TempFolder temp;
  const std::string bytes = Pattern(70000);
  WriteBytes(temp.fs_path() / "image.jpg", bytes);
  std::vector<std::u16string> targets = OtherSpellings(temp.path(), u"image.jpg");
  targets.push_back(temp.Join(u"image.jpg"));
  std::error_code error;
  fs::create_hard_link(temp.fs_path() / "image.jpg", temp.fs_path() / "link.jpg", error);
  if (!error) targets.push_back(temp.Join(u"link.jpg"));
  for (const std::u16string& target : targets) {
    EXPECT_FALSE(CopyFileReplacing(temp.Join(u"image.jpg"), target));
    ASSERT_EQ(ReadBytes(temp.fs_path() / "image.jpg"), bytes);
  }
}

// ---------------------------------------------------------------------------

TEST(QueryFileIdentityTest, SameFileUnderEverySpellingOtherFileDiffers) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "one.csv", "1");
  WriteBytes(temp.fs_path() / "two.csv", "1");
  const auto one = QueryFileIdentity(temp.Join(u"one.csv"));
  const auto two = QueryFileIdentity(temp.Join(u"two.csv"));
  ASSERT_TRUE(one.has_value());
  ASSERT_TRUE(two.has_value());
  EXPECT_NE(*one, *two);
  for (const std::u16string& spelling : OtherSpellings(temp.path(), u"one.csv")) {
    const auto same = QueryFileIdentity(spelling);
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(*same, *one);
  }
  EXPECT_FALSE(QueryFileIdentity(temp.Join(u"missing.csv")).has_value());
}

TEST(DeleteFileAtTest, DeletesOnlyWhatExists) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "list.csv", "x");
  EXPECT_TRUE(DeleteFileAt(temp.Join(u"list.csv")));
  EXPECT_EQ(QueryPath(temp.Join(u"list.csv")), PathKind::kMissing);
  EXPECT_FALSE(DeleteFileAt(temp.Join(u"list.csv")));
}

TEST(ReplaceFileAtomicallyTest, ReplacesAndLeavesNoSource) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "list.csv.tmp", "new");
  WriteBytes(temp.fs_path() / "list.csv", "old and longer");
  EXPECT_EQ(ReplaceFileAtomically(temp.Join(u"list.csv.tmp"), temp.Join(u"list.csv")),
            ReplaceResult::kDone);
  EXPECT_EQ(ReadBytes(temp.fs_path() / "list.csv"), "new");
  EXPECT_EQ(QueryPath(temp.Join(u"list.csv.tmp")), PathKind::kMissing);

  WriteBytes(temp.fs_path() / "a.tmp", "a");
  EXPECT_EQ(ReplaceFileAtomically(temp.Join(u"a.tmp"), temp.Join(u"fresh.csv")),
            ReplaceResult::kDone);
  EXPECT_EQ(ReadBytes(temp.fs_path() / "fresh.csv"), "a");
}

TEST(ReplaceFileAtomicallyTest, MissingSourceFailsAndKeepsTarget) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "list.csv", "old");
  EXPECT_EQ(ReplaceFileAtomically(temp.Join(u"none.tmp"), temp.Join(u"list.csv")),
            ReplaceResult::kFailed);
  EXPECT_EQ(ReadBytes(temp.fs_path() / "list.csv"), "old");
}

#ifdef _WIN32
TEST(ReplaceFileAtomicallyTest, TargetHeldOpenIsBusyUntilClosed) {
  TempFolder temp;
  WriteBytes(temp.fs_path() / "list.csv.tmp", "new");
  WriteBytes(temp.fs_path() / "list.csv", "old");
  const std::u16string target = temp.Join(u"list.csv");
  HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(target.c_str()), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReplaceFileAtomically(temp.Join(u"list.csv.tmp"), target), ReplaceResult::kBusy);
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(temp.fs_path() / "list.csv"), "old");
  EXPECT_EQ(ReadBytes(temp.fs_path() / "list.csv.tmp"), "new");
  EXPECT_EQ(ReplaceFileAtomically(temp.Join(u"list.csv.tmp"), target), ReplaceResult::kDone);
  EXPECT_EQ(ReadBytes(temp.fs_path() / "list.csv"), "new");
}
#endif

// ---------------------------------------------------------------------------

std::string ReadAll(File& file) {
  std::string bytes;
  char buffer[7];  // small on purpose: several reads per file
  for (;;) {
    const std::int64_t got = file.Read(buffer, sizeof buffer);
    if (got <= 0) {
      EXPECT_EQ(got, 0);
      return bytes;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

TEST(FileTest, WriteTruncateCreatesAndEmpties) {
  TempFolder temp;
  const std::u16string path = temp.Join(u"out.csv");
  {
    auto file = File::Open(path, File::Mode::kWriteTruncate);
    ASSERT_TRUE(file.has_value());
    EXPECT_TRUE(file->Write("first content\0with nul"s));
    EXPECT_TRUE(file->Sync());
    EXPECT_EQ(file->Size(), 22u);
    EXPECT_TRUE(file->Close());
    EXPECT_FALSE(file->Close());
    EXPECT_FALSE(file->Write("x"));
  }
  EXPECT_EQ(ReadBytes(ToFsPath(path)), "first content\0with nul"s);
  {
    auto file = File::Open(path, File::Mode::kWriteTruncate);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->Size(), 0u);
    EXPECT_TRUE(file->Write("2"));
  }  // closed by the destructor
  EXPECT_EQ(ReadBytes(ToFsPath(path)), "2");
}

TEST(FileTest, AppendKeepsEarlierBytesAndSharesTheFile) {
  TempFolder temp;
  const std::u16string path = temp.Join(u"Orlenta_Error.log");
  {
    auto first = File::Open(path, File::Mode::kAppendShared);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->Write("one\r\n"));
    // A second writer (another run, say) may append meanwhile; both land at the end.
    auto second = File::Open(path, File::Mode::kAppendShared);
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(second->Write("two\r\n"));
    EXPECT_TRUE(first->Write("three\r\n"));
    auto reader = File::Open(path, File::Mode::kRead);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(ReadAll(*reader), "one\r\ntwo\r\nthree\r\n");
  }
  {
    auto again = File::Open(path, File::Mode::kAppendShared);
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(again->Write("four"));
    EXPECT_TRUE(again->Close());
  }
  EXPECT_EQ(ReadBytes(ToFsPath(path)), "one\r\ntwo\r\nthree\r\nfour");
}

TEST(FileTest, ReadGivesWholeContentThenZero) {
  TempFolder temp;
  const std::string bytes = Pattern(100003);
  WriteBytes(temp.fs_path() / "in.csv", bytes);
  auto file = File::Open(temp.Join(u"in.csv"), File::Mode::kRead);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->Size(), bytes.size());
  std::string big(bytes.size() + 10, '\0');
  std::size_t total = 0;
  for (;;) {
    const std::int64_t got = file->Read(big.data() + total, big.size() - total);
    ASSERT_GE(got, 0);
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  big.resize(total);
  EXPECT_EQ(big, bytes);
  EXPECT_FALSE(file->Write("x")) << "a read-only file accepted a write";
}

TEST(FileTest, FoldersAndMissingFilesDoNotOpen) {
  TempFolder temp;
  fs::create_directory(temp.fs_path() / "folder");
  EXPECT_FALSE(File::Open(temp.Join(u"folder"), File::Mode::kRead).has_value());
  EXPECT_FALSE(File::Open(temp.Join(u"folder"), File::Mode::kWriteTruncate).has_value());
  EXPECT_FALSE(File::Open(temp.Join(u"folder"), File::Mode::kAppendShared).has_value());
  EXPECT_EQ(QueryPath(temp.Join(u"folder")), PathKind::kFolder);
  EXPECT_FALSE(File::Open(temp.Join(u"missing.csv"), File::Mode::kRead).has_value());
  EXPECT_EQ(QueryPath(temp.Join(u"missing.csv")), PathKind::kMissing);
  EXPECT_FALSE(File::Open(temp.Join(u"no\\such.csv"), File::Mode::kWriteTruncate).has_value());
}

TEST(FileTest, MoveTransfersOwnership) {
  TempFolder temp;
  auto opened = File::Open(temp.Join(u"m.bin"), File::Mode::kWriteTruncate);
  ASSERT_TRUE(opened.has_value());
  File moved = std::move(*opened);
  EXPECT_FALSE(opened->Write("lost"));
  EXPECT_FALSE(opened->Size().has_value());
  EXPECT_TRUE(moved.Write("kept"));
  auto other = File::Open(temp.Join(u"n.bin"), File::Mode::kWriteTruncate);
  ASSERT_TRUE(other.has_value());
  *other = std::move(moved);  // closes n.bin, takes m.bin
  EXPECT_TRUE(other->Write("+"));
  EXPECT_TRUE(other->Close());
  EXPECT_EQ(ReadBytes(temp.fs_path() / "m.bin"), "kept+");
  EXPECT_EQ(ReadBytes(temp.fs_path() / "n.bin"), "");
}

// ---------------------------------------------------------------------------

TEST(PathCompareKeyTest, FoldsWhatTheFileSystemFolds) {
  struct Case {
    std::u16string_view path, posix, windows;
  };
  const Case cases[] = {
      {u"", u"", u""},
      {u"C:\\Data\\list.csv", u"C:/Data/list.csv", u"C:\\DATA\\LIST.CSV"},
      {u"c:/data/LIST.csv", u"c:/data/LIST.csv", u"C:\\DATA\\LIST.CSV"},
      {u"Fore\\..\\x", u"Fore/../x", u"FORE\\..\\X"},
      {u"café\\画像.jpg", u"café/画像.jpg", u"CAFÉ\\画像.JPG"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathCompareKey(c.path), kWindows ? c.windows : c.posix);
  }
  EXPECT_EQ(PathCompareKey(u"Fore\\A.JPG"), PathCompareKey(kWindows ? u"fore/a.jpg" : u"Fore/A.JPG"));
  EXPECT_NE(PathCompareKey(u"Fore\\a.jpg"), PathCompareKey(u"Back\\a.jpg"));
}

#ifndef _WIN32
TEST(PosixPathTest, BackslashSeparatedPathsWorkAsSlashes) {
  TempFolder temp;
  std::u16string root = temp.path();
  for (char16_t& c : root) {
    if (c == u'/') c = u'\\';
  }
  EXPECT_EQ(QueryPath(root), PathKind::kFolder);
  EXPECT_EQ(CreateFolder(root + u"\\Fore"), CreateFolderResult::kCreated);
  auto file = File::Open(root + u"\\Fore\\x.jpg", File::Mode::kWriteTruncate);
  ASSERT_TRUE(file.has_value());
  EXPECT_TRUE(file->Write("x"));
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(ReadBytes(temp.fs_path() / "Fore" / "x.jpg"), "x");
  EXPECT_TRUE(CopyFileReplacing(root + u"\\Fore\\x.jpg", root + u"\\y.jpg"));
  EXPECT_EQ(ReadBytes(temp.fs_path() / "y.jpg"), "x");
}

TEST(PosixCommandLineTest, ArgumentsConvertLenientlyAndReleaseOnce) {
  char program[] = "orlenta";
  char path[] = "/tmp/caf\xC3\xA9.csv";
  char broken[] = "a\x80z";
  char* argv[] = {program, path, broken, nullptr};
  SetProcessArguments(3, argv);
  CommandLine line;
  ASSERT_EQ(line.count(), 3);
  EXPECT_EQ(line.argument(0), u"orlenta");
  EXPECT_EQ(line.argument(1), u"/tmp/café.csv");
  EXPECT_EQ(line.argument(2), u"a\uFFFDz");
  line.Release();
  line.Release();
  EXPECT_EQ(line.count(), 0);
  SetProcessArguments(0, nullptr);
  EXPECT_EQ(CommandLine().count(), 0);
}

TEST(PosixMessageTest, MessagesGoToTheRightStreamWithOneLineFeed) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  ShowMessageBox(u"処理が完了しました。\r\n2行目", u"Orlenta", MessageIcon::kInformation);
  ShowMessageBox(u"CSVファイルが存在しません:\n", u"Orlenta エラー", MessageIcon::kError);
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "処理が完了しました。\r\n2行目\n");
  EXPECT_EQ(err, "CSVファイルが存在しません:\n\n");
  EXPECT_EQ(ShowProcessingWindow(u"Orlenta", u"処理中です。"), 0);
}
#else
TEST(WindowsCommandLineTest, SplitsThisProcess) {
  CommandLine line;
  ASSERT_GE(line.count(), 1);
  EXPECT_FALSE(line.argument(0).empty());
  line.Release();
  line.Release();
}
#endif

TEST(ClockTest, LocalTimeIsPlausible) {
  const LocalTime now = GetLocalTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
  EXPECT_TRUE(now.minute >= 0 && now.minute <= 59);
  EXPECT_TRUE(now.second >= 0 && now.second <= 60);
}

TEST(SleepForTest, WaitsAtLeastRoughlyThatLong) {
  const auto start = std::chrono::steady_clock::now();
  SleepFor(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace orlenta::platform
