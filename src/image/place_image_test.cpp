// PlaceImage over real files, through a file system that records every call
// it gets: each row is one run (one ledger) of cells, and pins both what the
// cells become and which calls the run made, so that the common path stays
// the check and the copy, and the file identities and contents are looked at
// only when something collides.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "image/image.h"
#include "support/test_support.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace orlenta {
namespace {

namespace stdfs = std::filesystem;

enum class Fault {
  kNone,
  kCopyFails,       // the copy returns false, copying nothing
  kSourceVanishes,  // the copy's source is deleted just before it
};

struct InjectedFault {
  Fault fault;
  std::string_view target;  // the copy destination it hits
};
constexpr InjectedFault kNoFault{Fault::kNone, ""};

// Paths in the table are relative to a fresh temporary folder, written with
// '/', and so are the calls recorded.
class RecordingFileSystem : public platform::FileSystem {
 public:
  RecordingFileSystem(std::u16string root, InjectedFault fault)
      : root_(std::move(root)), fault_(fault) {}

  platform::PathKind QueryPath(std::u16string_view path) override {
    Note("path " + Relative(path));
    return FileSystem::QueryPath(path);
  }
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    Note("copy " + Relative(from) + " > " + Relative(to));
    if (fault_.fault != Fault::kNone && Relative(to) == fault_.target) {
      if (fault_.fault == Fault::kCopyFails) return false;
      std::u16string doomed(from);
      for (char16_t& c : doomed)
        if (c == u'\\') c = u'/';
      std::filesystem::remove(std::filesystem::path(doomed));
    }
    return FileSystem::CopyFileReplacing(from, to);
  }
  std::optional<platform::FileIdentity> QueryFileIdentity(std::u16string_view path) override {
    Note("identity " + Relative(path));
    return FileSystem::QueryFileIdentity(path);
  }
  std::optional<platform::File> OpenFile(std::u16string_view path,
                                         platform::File::Mode mode) override {
    Note("open " + Relative(path));
    return FileSystem::OpenFile(path, mode);
  }

  /// The calls since the last Take, joined by "; ".
  std::string Take() { return std::exchange(calls_, {}); }

 private:
  std::string Relative(std::u16string_view path) const {
    if (path.starts_with(root_)) path.remove_prefix(root_.size() + 1);
    std::string text = WideToUtf8(path);
    for (char& c : text)
      if (c == '\\') c = '/';
    return text;
  }
  void Note(const std::string& call) { calls_ += (calls_.empty() ? "" : "; ") + call; }

  std::u16string root_;
  InjectedFault fault_;
  std::string calls_;
};

#ifdef _WIN32
constexpr bool kCaseBlindNames = true;
#else
constexpr bool kCaseBlindNames = false;
#endif

enum class Where { kEverywhere, kCaseBlindNames, kCaseSensitiveNames };

constexpr std::string_view kFolder = "(folder)";   // as file content: a folder stands there
constexpr std::string_view kNoFile = "(no file)";  // as content after the run: nothing there

struct FileState {
  std::string_view path;
  std::string_view bytes;
};

struct Cell {
  std::string_view cell;     // relative, '\' separated; "" is an empty cell
  std::string_view target;   // "Fore" or "Back"
  std::string_view outcome;  // the new cell text, or the message with "~" for the folder
  std::string_view calls;
};

struct CellRun {
  std::string_view name;
  Where where;
  std::initializer_list<FileState> before;
  InjectedFault fault;
  std::initializer_list<Cell> cells;
  std::initializer_list<FileState> after;
};

const CellRun kRuns[] = {
    {"plain copy, then an empty cell", Where::kEverywhere,
     {{"images/a.png", "A"}}, kNoFault,
     {{"images\\a.png", "Fore", "Fore\\a.png", "path images/a.png; copy images/a.png > export/Fore/a.png"},
      {"", "Fore", "", ""}},
     {{"export/Fore/a.png", "A"}}},
    {"name without extension is probed", Where::kEverywhere,
     {{"images/scan0002", testing::kPngBytes}}, kNoFault,
     {{"images\\scan0002", "Back", "Back\\scan0002.png",
       "path images/scan0002; copy images/scan0002 > export/Back/scan0002.png"}},
     {{"export/Back/scan0002.png", testing::kPngBytes}}},
    {"missing image, folder instead of image", Where::kEverywhere,
     {{"images/x", kFolder}}, kNoFault,
     {{"images\\none.png", "Fore", "画像ファイルが存在しません: ~\\images\\none.png", "path images/none.png"},
      {"images\\x", "Fore", "画像ファイルが存在しません: ~\\images\\x", "path images/x"}},
     {}},
    {"cell naming its copy as the copy is spelt, then another image of its name",
     Where::kEverywhere,
     {{"export/Fore/a.png", "A"}, {"b/a.png", "B"}}, kNoFault,
     {{"export\\Fore\\a.png", "Fore", "Fore\\a.png", "path export/Fore/a.png"},
      {"b\\a.png", "Fore", "同名の別の画像ファイルが既にコピーされています: ~\\b\\a.png",
       "path b/a.png; identity export/Fore/a.png; identity b/a.png; open b/a.png; "
       "open export/Fore/a.png"}},
     {{"export/Fore/a.png", "A"}}},
    {"cell naming its copy in other letter case", Where::kCaseBlindNames,
     {{"export/Fore/a.png", "A"}}, kNoFault,
     {{"EXPORT\\FORE\\A.PNG", "Fore", "Fore\\A.PNG", "path EXPORT/FORE/A.PNG"}},
     {{"export/Fore/a.png", "A"}}},
    {"cell naming its copy by another path", Where::kEverywhere,
     {{"export/Fore/a.png", "A"}}, kNoFault,
     {{"export\\Fore\\.\\a.png", "Fore", "Fore\\a.png",
       "path export/Fore/./a.png; copy export/Fore/./a.png > export/Fore/a.png; "
       "identity export/Fore/./a.png; identity export/Fore/a.png"}},
     {{"export/Fore/a.png", "A"}}},
    {"two different images of one name", Where::kEverywhere,
     {{"a/x.png", "image one"}, {"b/x.png", "image two"}}, kNoFault,
     {{"a\\x.png", "Fore", "Fore\\x.png", "path a/x.png; copy a/x.png > export/Fore/x.png"},
      {"b\\x.png", "Fore", "同名の別の画像ファイルが既にコピーされています: ~\\b\\x.png",
       "path b/x.png; identity a/x.png; identity b/x.png; open b/x.png; open export/Fore/x.png"},
      {"b\\x.png", "Back", "Back\\x.png", "path b/x.png; copy b/x.png > export/Back/x.png"}},
     {{"export/Fore/x.png", "image one"}, {"export/Back/x.png", "image two"}}},
    {"the same image twice, by one path and by another", Where::kEverywhere,
     {{"a/x.png", "A"}}, kNoFault,
     {{"a\\x.png", "Fore", "Fore\\x.png", "path a/x.png; copy a/x.png > export/Fore/x.png"},
      {"a\\x.png", "Fore", "Fore\\x.png", "path a/x.png; copy a/x.png > export/Fore/x.png"},
      {"a\\.\\x.png", "Fore", "Fore\\x.png",
       "path a/./x.png; identity a/x.png; identity a/./x.png; copy a/./x.png > export/Fore/x.png"}},
     {{"export/Fore/x.png", "A"}}},
    {"the same bytes from two files", Where::kEverywhere,
     {{"a/x.png", "same"}, {"c/x.png", "same"}}, kNoFault,
     {{"a\\x.png", "Fore", "Fore\\x.png", "path a/x.png; copy a/x.png > export/Fore/x.png"},
      {"c\\x.png", "Fore", "Fore\\x.png",
       "path c/x.png; identity a/x.png; identity c/x.png; open c/x.png; open export/Fore/x.png; "
       "copy c/x.png > export/Fore/x.png"}},
     {{"export/Fore/x.png", "same"}}},
    {"two images whose names differ in letter case", Where::kCaseBlindNames,
     {{"a/X.png", "image one"}, {"b/x.png", "image two"}}, kNoFault,
     {{"a\\X.png", "Fore", "Fore\\X.png", "path a/X.png; copy a/X.png > export/Fore/X.png"},
      {"b\\x.png", "Fore", "同名の別の画像ファイルが既にコピーされています: ~\\b\\x.png",
       "path b/x.png; identity a/X.png; identity b/x.png; open b/x.png; open export/Fore/x.png"}},
     {{"export/Fore/X.png", "image one"}}},
    {"two images whose names differ in letter case", Where::kCaseSensitiveNames,
     {{"a/X.png", "image one"}, {"b/x.png", "image two"}}, kNoFault,
     {{"a\\X.png", "Fore", "Fore\\X.png", "path a/X.png; copy a/X.png > export/Fore/X.png"},
      {"b\\x.png", "Fore", "Fore\\x.png", "path b/x.png; copy b/x.png > export/Fore/x.png"}},
     {{"export/Fore/X.png", "image one"}, {"export/Fore/x.png", "image two"}}},
    {"copy failures: refused, and a folder in the way", Where::kEverywhere,
     {{"images/a.png", "A"}, {"images/b.png", "B"}, {"export/Fore/b.png", kFolder}},
     {Fault::kCopyFails, "export/Fore/a.png"},
     {{"images\\a.png", "Fore",
       "画像ファイルのコピーに失敗しました。\n\nコピー元:\n~\\images\\a.png\n\nコピー先:\n~\\export\\Fore\\a.png",
       "path images/a.png; copy images/a.png > export/Fore/a.png; identity images/a.png; "
       "identity export/Fore/a.png"},
      {"images\\b.png", "Fore",
       "画像ファイルのコピーに失敗しました。\n\nコピー元:\n~\\images\\b.png\n\nコピー先:\n~\\export\\Fore\\b.png",
       "path images/b.png; copy images/b.png > export/Fore/b.png; identity images/b.png; "
       "identity export/Fore/b.png"}},
     {{"export/Fore/a.png", kNoFile}}},
    {"copy failure: the image vanishes after the check", Where::kEverywhere,
     {{"images/a.png", "A"}}, {Fault::kSourceVanishes, "export/Fore/a.png"},
     {{"images\\a.png", "Fore",
       "画像ファイルのコピーに失敗しました。\n\nコピー元:\n~\\images\\a.png\n\nコピー先:\n~\\export\\Fore\\a.png",
       "path images/a.png; copy images/a.png > export/Fore/a.png; identity images/a.png"}},
     {{"export/Fore/a.png", kNoFile}}},
};

stdfs::path At(const testing::TempFolder& folder, std::string_view relative) {
  return folder.fs_path() / stdfs::path(Utf8ToWide(relative));
}

TEST(PlaceImage, RunsOfCells) {
  for (const CellRun& run : kRuns) {
    if ((run.where == Where::kCaseBlindNames && !kCaseBlindNames) ||
        (run.where == Where::kCaseSensitiveNames && kCaseBlindNames))
      continue;
    SCOPED_TRACE(run.name);
    testing::TempFolder folder;
    const std::u16string& root = folder.path();
    stdfs::create_directories(At(folder, "export/Fore"));
    stdfs::create_directories(At(folder, "export/Back"));
    for (const FileState& file : run.before) {
      stdfs::create_directories(At(folder, file.path).parent_path());
      if (file.bytes == kFolder)
        stdfs::create_directory(At(folder, file.path));
      else
        testing::WriteBytes(At(folder, file.path), file.bytes);
    }

    RecordingFileSystem fs(root, run.fault);
    CopyLedger ledger;
    for (const Cell& step : run.cells) {
      const std::u16string cell =
          step.cell.empty() ? u"" : root + u"\\" + Utf8ToWide(step.cell);
      std::string outcome;
      try {
        outcome = PlaceImage(WideToUtf8(cell), root + u"\\export\\" + Utf8ToWide(step.target),
                             root + u"\\export", fs, &ledger);
      } catch (const AppException& e) {
        std::u16string message = e.message();
        for (std::size_t at; (at = message.find(root)) != std::u16string::npos;)
          message.replace(at, root.size(), u"~");
        outcome = WideToUtf8(message);
      }
      EXPECT_EQ(outcome, step.outcome) << step.cell;
      EXPECT_EQ(fs.Take(), step.calls) << step.cell;
    }
    for (const FileState& file : run.after) {
      if (file.bytes == kNoFile)
        EXPECT_FALSE(stdfs::exists(At(folder, file.path))) << file.path;
      else
        EXPECT_EQ(testing::ReadBytes(At(folder, file.path)), file.bytes) << file.path;
    }
  }
}

}  // namespace
}  // namespace orlenta
