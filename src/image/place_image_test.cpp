// PlaceImage over real files through a file system that records every call,
// so that each run pins both what the cells become and which calls they took.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <utility>

#include "image/image.h"
#include "support/test_support.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace orlenta {
namespace {

namespace stdfs = std::filesystem;

// The runs; the table's head says what each line means.
constexpr std::string_view kTable =
#include "image/place_image_cases.txt"
    ;

// Each run: its "== NAME [system]" line and the lines up to the next.
std::vector<std::string> Runs() {
  std::vector<std::string> runs;
  for (std::size_t at = kTable.find("\n== "), next; at != std::string_view::npos; at = next)
    runs.emplace_back(kTable.substr(at + 4, (next = kTable.find("\n== ", at + 1)) - at - 4));
  return runs;
}

class RecordingFileSystem : public platform::FileSystem {
 public:
  std::u16string root;
  std::string fault, fault_target, calls;

  platform::PathKind QueryPath(std::u16string_view path) override {
    Note("path " + Relative(path));
    return FileSystem::QueryPath(path);
  }
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    Note("copy " + Relative(from) + " > " + Relative(to));
    if (Relative(to) == fault_target && fault == "copy-fails") return false;
    if (Relative(to) == fault_target) stdfs::remove(stdfs::path(root) / Relative(from));
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

 private:
  std::string Relative(std::u16string_view path) const {
    std::string text = WideToUtf8(path.substr(root.size() + 1));
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
  }
  void Note(const std::string& call) { calls += (calls.empty() ? "" : "; ") + call; }
};

class PlaceImageRuns : public ::testing::TestWithParam<std::string> {};

TEST_P(PlaceImageRuns, Run) {
  std::istringstream lines(GetParam());
  std::string line;
  std::getline(lines, line);
  const bool windows = platform::PathCompareKey(u"/") == u"\\";
  if (line.ends_with(windows ? "[posix]" : "[windows]")) GTEST_SKIP() << "not on this system";
  testing::TempFolder folder;
  RecordingFileSystem fs;
  fs.root = folder.path();
  const std::string root = WideToUtf8(fs.root);
  auto expand = [&](std::string text) {
    for (auto [from, to] : {std::pair<std::string, std::string>{"{LF}", "\n"},
                            {"{PNG}", std::string(testing::kPngBytes)},
                            {"~", root}})
      for (std::size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
  };
  for (const char* target : {"export/Fore", "export/Back"})
    stdfs::create_directories(folder.fs_path() / target);
  CopyLedger ledger;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string verb, path, arg, expected, calls;  // the words of `cell CELL TARGET | OUT | CALLS`
    words >> verb >> path >> std::ws;
    std::getline(words, arg, '|');
    const stdfs::path at = folder.fs_path() / stdfs::path(Utf8ToWide(path));
    if (verb == "put") {
      stdfs::create_directories(at.parent_path());
      arg == "/" ? (void)stdfs::create_directory(at) : testing::WriteBytes(at, expand(arg));
    } else if (verb == "fault") {
      fs.fault = path;
      fs.fault_target = arg;
    } else if (verb == "has") {
      EXPECT_EQ(stdfs::exists(at) ? testing::ReadBytes(at) : "-", expand(arg)) << path;
    } else if (verb == "cell") {
      std::getline(words >> std::ws, expected, '|');
      std::getline(words >> std::ws, calls);
      std::string outcome;
      try {
        outcome = PlaceImage(path == "-" ? "" : root + "\\" + path,
                             fs.root + u"\\export\\" + Utf8ToWide(arg.substr(0, arg.find(' '))),
                             fs.root + u"\\export", fs, &ledger);
      } catch (const AppException& e) {
        outcome = WideToUtf8(e.message());
      }
      EXPECT_EQ(outcome,
                expand(expected.erase(expected.find_last_not_of(' ') + 1)))
          << path;
      EXPECT_EQ(std::exchange(fs.calls, {}), calls) << path;
    } else {
      ADD_FAILURE() << "unknown line " << line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PlaceImageRuns, ::testing::ValuesIn(Runs()), [](const auto& info) {
  std::string name;
  for (unsigned char c :
       info.param.substr(0, std::min(info.param.find(" ["), info.param.find('\n'))))
    name += std::isalnum(c) ? c : '_';
  return name;
});

}  // namespace
}  // namespace orlenta
