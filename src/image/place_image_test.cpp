// PlaceImage over real files through a file system that records every call,
// so that each run pins both what the cells become and which calls they took.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <utility>

#include "image/image.h"
#include "support/test_support.h"
#include "text/text.h"

namespace orlenta {
namespace {

namespace stdfs = std::filesystem;

// The runs; the table's head says what each line means.
constexpr std::string_view kTable =
#include "image/place_image_cases.txt"
    ;

struct Run {
  std::string name, only;
  std::vector<std::string> lines;
};
void PrintTo(const Run& run, std::ostream* out) { *out << run.name; }

std::vector<Run> ParseRuns() {
  std::vector<Run> runs;
  std::istringstream in{std::string(kTable)};
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("== ")) {
      if (!line.empty() && line[0] != '#') runs.back().lines.push_back(line);
      continue;
    }
    Run& run = runs.emplace_back();
    const std::size_t flag = line.find(" [");
    if (flag != std::string::npos) run.only = line.substr(flag + 2, line.size() - flag - 3);
    for (unsigned char c : line.substr(3, flag - 3)) run.name += std::isalnum(c) ? c : '_';
  }
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
    if (Relative(to) == fault_target) stdfs::remove(testing::ToFsPath(root) / Relative(from));
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

class PlaceImageRuns : public ::testing::TestWithParam<Run> {};

TEST_P(PlaceImageRuns, Run) {
  const bool windows = platform::PathCompareKey(u"/") == u"\\";
  if (!GetParam().only.empty() && GetParam().only != (windows ? "windows" : "posix"))
    GTEST_SKIP() << "only on " << GetParam().only;
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
  for (const std::string& line : GetParam().lines) {
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
      const std::u16string message = testing::MessageOf([&] {
        outcome = PlaceImage(path == "-" ? "" : root + "\\" + path,
                             fs.root + u"\\export\\" + Utf8ToWide(arg.substr(0, 4)),
                             fs.root + u"\\export", fs, &ledger);
      });
      EXPECT_EQ(message == u"(no exception)" ? outcome : WideToUtf8(message),
                expand(expected.erase(expected.find_last_not_of(' ') + 1)))
          << path;
      EXPECT_EQ(std::exchange(fs.calls, {}), calls) << path;
    } else {
      ADD_FAILURE() << "unknown line " << line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PlaceImageRuns, ::testing::ValuesIn(ParseRuns()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orlenta
