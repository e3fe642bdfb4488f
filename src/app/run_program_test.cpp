#include "app/run_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "text/app_exception.h"

namespace orlenta {
namespace {

using platform::MessageIcon;
using platform::PathKind;
using platform::WindowHandle;

struct Box {
  std::u16string text;
  std::u16string title;
  MessageIcon icon;
};

// Records every call in order; each call's outcome is set up by the test.
class RecordingHost : public ProgramHost {
 public:
  std::optional<std::vector<std::u16string>> arguments;  // nullopt: failed split
  std::map<std::u16string, PathKind> paths;
  WindowHandle window_to_return = 7;
  std::function<std::uint32_t()> job = [] { return 0u; };
  bool completion_box_throws = false;

  std::vector<std::string> events;
  std::vector<Box> boxes;
  std::vector<std::u16string> job_paths;
  std::vector<std::u16string> queried;
  std::u16string window_title, window_text;
  int releases = 0;

  void SplitCommandLine() override {
    EXPECT_EQ(split_, false) << "split twice";
    split_ = true;
    events.push_back("split");
  }
  int ArgumentCount() override {
    EXPECT_TRUE(split_);
    EXPECT_EQ(releases, 0) << "count read after release";
    return arguments ? static_cast<int>(arguments->size()) : 0;
  }
  std::u16string Argument(int index) override {
    EXPECT_EQ(releases, 0) << "argument read after release";
    EXPECT_TRUE(arguments && index >= 0 && index < static_cast<int>(arguments->size()));
    return arguments->at(static_cast<std::size_t>(index));
  }
  void ReleaseArguments() override {
    ++releases;
    events.push_back("release");
  }
  PathKind QueryPath(std::u16string_view path) override {
    events.push_back("query");
    queried.emplace_back(path);
    const auto it = paths.find(std::u16string(path));
    return it == paths.end() ? PathKind::kMissing : it->second;
  }
  WindowHandle ShowProcessingWindow(std::u16string_view title, std::u16string_view text) override {
    events.push_back("window");
    window_title = title;
    window_text = text;
    return window_to_return;
  }
  void DestroyProcessingWindow(WindowHandle window) override {
    events.push_back("destroy");
    EXPECT_NE(window, 0);
    EXPECT_EQ(window, window_to_return);
  }
  void ShowMessageBox(std::u16string_view text, std::u16string_view title,
                      MessageIcon icon) override {
    if (completion_box_throws && icon == MessageIcon::kInformation) {
      events.push_back("box failed");
      throw std::bad_alloc();
    }
    events.push_back(icon == MessageIcon::kError ? "error box" : "information box");
    boxes.push_back({std::u16string(text), std::u16string(title), icon});
  }
  std::uint32_t RunUpdateJob(const std::u16string& csv_path) override {
    events.push_back("job");
    job_paths.push_back(csv_path);
    return job();
  }

 private:
  bool split_ = false;
};

// What every run must hold, whatever its outcome.
void ExpectSoundRun(const RecordingHost& host) {
  EXPECT_EQ(host.boxes.size(), 1u) << "exactly one box per run";
  EXPECT_EQ(host.releases, 1) << "arguments released exactly once";
  int shown = 0, destroyed = 0;
  for (const std::string& e : host.events) {
    if (e == "window" && host.window_to_return != 0) ++shown;
    if (e == "destroy") ++destroyed;
    if (e == "error box" || e == "information box") {
      EXPECT_EQ(shown, destroyed) << "window still up when the box appeared";
    }
  }
  EXPECT_LE(destroyed, shown);
  if (host.window_to_return == 0) {
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_NE(host.events.back(), "window");
}

const std::u16string kProgram = u"C:\\tools\\Orlenta.exe";
const std::u16string kCsv = u"C:\\データ\\list.csv";

std::u16string MissingText(const std::u16string& path) {
  return std::u16string(u"CSVファイルが存在しません:\n") + path;
}

const std::u16string kUsage = u"引数が不足しています。\n使い方:\n  Orlenta.exe <CSVファイルパス>";
const std::u16string kUnexpected = u"予期しないエラーが発生しました。";

struct EarlyExitCase {
  const char* name;
  std::optional<std::vector<std::u16string>> arguments;
  std::map<std::u16string, PathKind> paths;
  std::u16string text;
  std::vector<std::string> events;
};

TEST(RunProgramTest, EarlyExitsShowOneErrorBoxAndNoWindow) {
  const std::vector<std::string> usage_events = {"split", "error box", "release"};
  const std::vector<std::string> missing_events = {"split", "query", "error box", "release"};
  const std::u16string folder = u"C:\\データ";
  const EarlyExitCase cases[] = {
      {"no argument", std::vector<std::u16string>{kProgram}, {}, kUsage, usage_events},
      {"failed split", std::nullopt, {}, kUsage, usage_events},
      {"empty command line", std::vector<std::u16string>{}, {}, kUsage, usage_events},
      {"folder", std::vector<std::u16string>{kProgram, folder}, {{folder, PathKind::kFolder}},
       MissingText(folder), missing_events},
      {"missing file", std::vector<std::u16string>{kProgram, kCsv}, {}, MissingText(kCsv),
       missing_events},
      {"empty argument", std::vector<std::u16string>{kProgram, u""}, {},
       u"CSVファイルが存在しません:\n", missing_events},
      {"path kept as received", std::vector<std::u16string>{kProgram, u"  rel/x .csv "}, {},
       MissingText(u"  rel/x .csv "), missing_events},
      {"only the first argument is checked",
       std::vector<std::u16string>{kProgram, u"gone.csv", kCsv},
       {{kCsv, PathKind::kFile}}, MissingText(u"gone.csv"), missing_events},
  };
  for (const EarlyExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingHost host;
    host.arguments = c.arguments;
    host.paths = c.paths;
    EXPECT_EQ(RunProgram(host), 1);
    EXPECT_EQ(host.events, c.events);
    ExpectSoundRun(host);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, c.text);
    EXPECT_EQ(host.boxes[0].title, u"Orlenta エラー");
    EXPECT_EQ(host.boxes[0].icon, MessageIcon::kError);
    EXPECT_TRUE(host.job_paths.empty());
  }
}

TEST(RunProgramTest, CompletedRunInOrder) {
  RecordingHost host;
  host.arguments = std::vector<std::u16string>{kProgram, kCsv};
  host.paths[kCsv] = PathKind::kFile;
  EXPECT_EQ(RunProgram(host), 0);
  const std::vector<std::string> expected = {"split", "query",           "window", "job",
                                             "destroy", "information box", "release"};
  EXPECT_EQ(host.events, expected);
  ExpectSoundRun(host);
  EXPECT_EQ(host.queried, std::vector<std::u16string>{kCsv});
  EXPECT_EQ(host.job_paths, std::vector<std::u16string>{kCsv});
  EXPECT_EQ(host.window_title, u"Orlenta");
  EXPECT_EQ(host.window_text, u"処理中です。しばらくお待ちください。");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, u"処理が完了しました。");
  EXPECT_EQ(host.boxes[0].title, u"Orlenta");
  EXPECT_EQ(host.boxes[0].icon, MessageIcon::kInformation);
}

TEST(RunProgramTest, FurtherArgumentsChangeNothing) {
  RecordingHost host;
  host.arguments = std::vector<std::u16string>{kProgram, kCsv, u"second.csv", u""};
  host.paths[kCsv] = PathKind::kFile;
  EXPECT_EQ(RunProgram(host), 0);
  EXPECT_EQ(host.queried, std::vector<std::u16string>{kCsv});
  EXPECT_EQ(host.job_paths, std::vector<std::u16string>{kCsv});
  ExpectSoundRun(host);
}

TEST(RunProgramTest, FailedCellsStillExitZero) {
  RecordingHost host;
  host.arguments = std::vector<std::u16string>{kProgram, kCsv};
  host.paths[kCsv] = PathKind::kFile;
  host.job = [] { return 12u; };
  EXPECT_EQ(RunProgram(host), 0);
  ExpectSoundRun(host);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            u"処理が完了しました。\r\n画像処理に失敗した件数: 12件\r\n"
            u"失敗した項目は空欄にし、エラーログを出力しました。");
  EXPECT_EQ(host.boxes[0].icon, MessageIcon::kInformation);
}

struct FailureCase {
  const char* name;
  std::function<std::uint32_t()> job;
  WindowHandle window;
  std::u16string text;
  std::vector<std::string> events;
};

TEST(RunProgramTest, JobFailuresRemoveTheWindowThenShowTheError) {
  const std::u16string message = u"CSVヘッダが見つかりません: 画像（表）";
  const std::vector<std::string> with_window = {"split",   "query",     "window", "job",
                                                "destroy", "release", "error box"};
  const std::vector<std::string> without_window = {"split", "query",   "window",
                                                   "job",   "release", "error box"};
  const FailureCase cases[] = {
      {"AppException", [&]() -> std::uint32_t { throw AppException(message); }, 7, message,
       with_window},
      {"AppException with line feeds", []() -> std::uint32_t { throw AppException(u"a\nb\n"); },
       7, u"a\nb\n", with_window},
      {"AppException with empty text", []() -> std::uint32_t { throw AppException(u""); }, 7,
       u"", with_window},
      {"out of memory", []() -> std::uint32_t { throw std::bad_alloc(); }, 7, kUnexpected,
       with_window},
      {"foreign exception", []() -> std::uint32_t { throw 42; }, 7, kUnexpected, with_window},
      {"AppException, no window", [&]() -> std::uint32_t { throw AppException(message); }, 0,
       message, without_window},
      {"out of memory, no window", []() -> std::uint32_t { throw std::bad_alloc(); }, 0,
       kUnexpected, without_window},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingHost host;
    host.arguments = std::vector<std::u16string>{kProgram, kCsv};
    host.paths[kCsv] = PathKind::kFile;
    host.window_to_return = c.window;
    host.job = c.job;
    EXPECT_EQ(RunProgram(host), 1);
    EXPECT_EQ(host.events, c.events);
    ExpectSoundRun(host);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, c.text);
    EXPECT_EQ(host.boxes[0].title, u"Orlenta エラー");
    EXPECT_EQ(host.boxes[0].icon, MessageIcon::kError);
  }
}

TEST(RunProgramTest, NoWindowJobStillRunsAndNothingIsDestroyed) {
  RecordingHost host;
  host.arguments = std::vector<std::u16string>{kProgram, kCsv};
  host.paths[kCsv] = PathKind::kFile;
  host.window_to_return = 0;
  host.job = [] { return 3u; };
  EXPECT_EQ(RunProgram(host), 0);
  const std::vector<std::string> expected = {"split", "query", "window", "job",
                                             "information box", "release"};
  EXPECT_EQ(host.events, expected);
  ExpectSoundRun(host);
}

// Out of memory once the window is gone (the completion box cannot be
// built): the second handler reports it, and the window is not destroyed again.
TEST(RunProgramTest, FailureAfterTheWindowIsGoneDestroysNothingTwice) {
  RecordingHost host;
  host.arguments = std::vector<std::u16string>{kProgram, kCsv};
  host.paths[kCsv] = PathKind::kFile;
  host.job = [] { return 2u; };
  host.completion_box_throws = true;
  EXPECT_EQ(RunProgram(host), 1);
  const std::vector<std::string> expected = {"split",      "query",   "window",   "job",
                                             "destroy", "box failed", "release", "error box"};
  EXPECT_EQ(host.events, expected);
  ExpectSoundRun(host);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, kUnexpected);
  EXPECT_EQ(host.boxes[0].title, u"Orlenta エラー");
}

TEST(ComposeCompletionTextTest, Counts) {
  const std::u16string head = u"処理が完了しました。\r\n画像処理に失敗した件数: ";
  const std::u16string tail = u"件\r\n失敗した項目は空欄にし、エラーログを出力しました。";
  const struct {
    std::uint32_t count;
    std::u16string digits;
  } cases[] = {{1, u"1"},     {3, u"3"},       {9, u"9"},           {10, u"10"},
               {12, u"12"},   {100, u"100"},   {1000000, u"1000000"}, {4294967295u, u"4294967295"}};
  EXPECT_EQ(ComposeCompletionText(0), u"処理が完了しました。");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(ComposeCompletionText(c.count), head + c.digits + tail);
  }
}

TEST(ShowMessagesTest, TitlesAndIcons) {
  RecordingHost host;
  ShowErrorMessage(host, u"x\ny");
  ShowCompletion(host, 0);
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[0].text, u"x\ny");
  EXPECT_EQ(host.boxes[0].title, u"Orlenta エラー");
  EXPECT_EQ(host.boxes[0].icon, MessageIcon::kError);
  EXPECT_EQ(host.boxes[1].text, u"処理が完了しました。");
  EXPECT_EQ(host.boxes[1].title, u"Orlenta");
  EXPECT_EQ(host.boxes[1].icon, MessageIcon::kInformation);
}

}  // namespace
}  // namespace orlenta
