#include "platform/long_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace orlenta::platform {
namespace {

#ifdef _WIN32
constexpr bool kWin32 = true;
#else
constexpr bool kWin32 = false;
#endif

/// `head` followed by as many 'x' as make the whole `length` units long.
std::u16string OfLength(std::u16string_view head, std::size_t length) {
  std::u16string path(head);
  path.resize(length, u'x');
  return path;
}

const std::u16string kName200(200, u'n');

struct Row {
  const char* what;
  std::u16string path;
  std::u16string full;    // GetFullPathNameW's result against `current`
  std::u16string handed;  // what the file call gets
  std::size_t limit = kMaxPathLength;
  std::u16string current = u"C:\\work";
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"drive path", u"C:\\data\\a.png", u"C:\\data\\a.png", u"C:\\data\\a.png"},
      {"short path keeps its spelling", u"C:/data//Fore/./a.png", u"C:\\data\\Fore\\a.png",
       u"C:/data//Fore/./a.png"},
      {"relative", u"Fore\\a.png", u"C:\\work\\Fore\\a.png", u"Fore\\a.png"},
      {"relative with dots", u".\\x\\..\\..\\a.png", u"C:\\a.png", u".\\x\\..\\..\\a.png"},
      {"rooted", u"\\data\\a.png", u"C:\\data\\a.png", u"\\data\\a.png"},
      {"rooted on a share", u"\\x\\a.png", u"\\\\srv\\share\\x\\a.png", u"\\x\\a.png",
       kMaxPathLength, u"\\\\srv\\share\\work"},
      {"drive-relative, other drive", u"D:img\\a.png", u"D:\\img\\a.png", u"D:img\\a.png"},
      {".. stops at the drive", u"C:\\data\\..\\..", u"C:\\", u"C:\\data\\..\\.."},
      {"trailing separator stays", u"C:\\data\\sub\\", u"C:\\data\\sub\\", u"C:\\data\\sub\\"},
      {"trailing . goes", u"C:\\data\\sub\\.", u"C:\\data\\sub", u"C:\\data\\sub\\."},
      {"UNC with slashes", u"//srv/share/dir/../a.png", u"\\\\srv\\share\\a.png",
       u"//srv/share/dir/../a.png"},
      {".. stops at the share", u"\\\\srv\\share\\dir\\..\\..", u"\\\\srv\\share\\",
       u"\\\\srv\\share\\dir\\..\\.."},
      {"259: below MAX_PATH", OfLength(u"C:\\d\\", 259), OfLength(u"C:\\d\\", 259),
       OfLength(u"C:\\d\\", 259)},
      {"260: at MAX_PATH", OfLength(u"C:\\d\\", 260), OfLength(u"C:\\d\\", 260),
       OfLength(u"\\\\?\\C:\\d\\", 264)},
      {"folder, 247", OfLength(u"C:\\d\\", 247), OfLength(u"C:\\d\\", 247),
       OfLength(u"C:\\d\\", 247), kMaxFolderPathLength},
      {"folder, 248", OfLength(u"C:\\d\\", 248), OfLength(u"C:\\d\\", 248),
       OfLength(u"\\\\?\\C:\\d\\", 252), kMaxFolderPathLength},
      {"long relative with slashes and dots",
       u"a/./" + kName200 + u"/../" + kName200 + u"//" + kName200 + u"/b/",
       u"C:\\work\\a\\" + kName200 + u"\\" + kName200 + u"\\b\\",
       u"\\\\?\\C:\\work\\a\\" + kName200 + u"\\" + kName200 + u"\\b\\"},
      {"long UNC", u"//srv/share/" + kName200 + u"/" + kName200,
       u"\\\\srv\\share\\" + kName200 + u"\\" + kName200,
       u"\\\\?\\UNC\\srv\\share\\" + kName200 + u"\\" + kName200},
      {"long spelling, short full form", u"C:\\" + kName200 + u"\\" + kName200 + u"\\..\\..\\a.png",
       u"C:\\a.png", u"C:\\" + kName200 + u"\\" + kName200 + u"\\..\\..\\a.png"},
      {"\\\\?\\ path as written", u"\\\\?\\C:\\" + kName200 + u"\\" + kName200,
       u"\\\\?\\C:\\" + kName200 + u"\\" + kName200, u"\\\\?\\C:\\" + kName200 + u"\\" + kName200},
      {"\\\\.\\ path as written", u"//./C:/" + kName200 + u"/" + kName200,
       u"//./C:/" + kName200 + u"/" + kName200, u"//./C:/" + kName200 + u"/" + kName200},
      {"empty", u"", u"", u""},
  };
  return rows;
}

TEST(LongPathTest, ResolvesAndWidensAgainstAKnownFolder) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ResolveFullPath(row.path, row.current), row.full);
    EXPECT_EQ(WidenPath(row.path, row.full, row.limit), row.handed);
  }
}

// The same rows through GetFullPathNameW against the process's own folder. A
// limit of 1 widens every path that resolves, so it shows the real full form.
TEST(LongPathTest, Win32CallsAgreeWithTheModel) {
  if constexpr (!kWin32) {
    GTEST_SKIP() << "Windows resolves paths only under Windows";
  } else {
    const std::u16string current = std::filesystem::current_path().u16string();
    for (const Row& row : Rows()) {
      SCOPED_TRACE(row.what);
      const std::u16string full = ResolveFullPath(row.path, current);
      EXPECT_EQ(WidenForWin32Call(row.path, row.limit), WidenPath(row.path, full, row.limit));
      EXPECT_EQ(WidenForWin32Call(row.path, 1), WidenPath(row.path, full, 1));
    }
  }
}

/// A fresh folder under the system's temporary folder, removed with its contents.
struct ScratchFolder {
  std::filesystem::path where = std::filesystem::temp_directory_path() /
                                ("long_path_test_" + std::to_string(std::random_device{}()));
  ScratchFolder() { std::filesystem::create_directory(where); }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(where, ignored);
  }
};

// Every file call on a path of 400+ characters, as the program builds it. Under
// Wine this proves the widened forms work end to end; it cannot prove that
// widening was needed, since Wine lets unprefixed wide calls past MAX_PATH.
TEST(LongPathTest, EveryFileCallWorksInADeepFolder) {
  ScratchFolder scratch;
  FileSystem fs;
  const std::u16string top = scratch.where.u16string();
  const std::u16string deep = top + u"\\" + kName200 + u"\\" + kName200;
  const std::u16string file = deep + u"\\image.png";
  // The copy's name spelled with slashes and a "..", which the widened form must resolve.
  const std::u16string copy = deep + u"/../" + kName200 + u"/copy.png";
  ASSERT_GT(file.size(), 400u);

  const std::vector<std::pair<const char*, std::function<bool()>>> steps = {
      {"CreateFolder",
       [&] {
         return fs.CreateFolder(top + u"\\" + kName200) == CreateFolderResult::kCreated &&
                fs.CreateFolder(deep) == CreateFolderResult::kCreated &&
                fs.CreateFolder(deep) == CreateFolderResult::kAlreadyExists;
       }},
      {"OpenFile to write",
       [&] {
         std::optional<File> out = fs.OpenFile(file, File::Mode::kWriteTruncate);
         return out && fs.Write(*out, "png") && out->Close();
       }},
      {"OpenFile to append",
       [&] {
         std::optional<File> out = fs.OpenFile(file, File::Mode::kAppendShared);
         return out && fs.Write(*out, "!") && out->Close();
       }},
      {"QueryPath",
       [&] {
         return fs.QueryPath(file) == PathKind::kFile && fs.QueryPath(deep) == PathKind::kFolder;
       }},
      {"QueryFileIdentity", [&] { return fs.QueryFileIdentity(file).has_value(); }},
      {"CopyFileReplacing",
       [&] {
         if (!fs.CopyFileReplacing(file, copy)) return false;
         const std::optional<FileIdentity> copied = fs.QueryFileIdentity(copy);
         return copied && copied != fs.QueryFileIdentity(file);
       }},
      {"ReplaceFileAtomically",
       [&] {
         return fs.ReplaceFileAtomically(copy, file) == ReplaceResult::kDone &&
                fs.QueryPath(copy) == PathKind::kMissing;
       }},
      {"OpenFile to read",
       [&] {
         std::optional<File> in = fs.OpenFile(file, File::Mode::kRead);
         char bytes[8] = {};
         return in && fs.Read(*in, bytes, sizeof bytes) == 4 && std::string(bytes) == "png!";
       }},
  };
  for (const auto& [method, step] : steps) EXPECT_TRUE(step()) << method;
}

}  // namespace
}  // namespace orlenta::platform
