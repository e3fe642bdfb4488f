#include "app/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <new>

#include "support/test_support.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace orlenta {
namespace {

// The cases; the table's head says what each line means.
constexpr std::string_view kTable =
#include "app/run_program_cases.txt"
    ;

/// Answers as its case says and writes down every call.
struct RecordingHost final : ProgramHost {
  platform::PathKind QueryPath(std::u16string_view path) override { return Note(u"query \"", path, u"\""), kind; }
  platform::WindowHandle ShowProcessingWindow(std::u16string_view title, std::u16string_view text) override {
    return Note(u"window ", title, u" / ", text), window;
  }
  void DestroyProcessingWindow(platform::WindowHandle shown) override { Note(u"destroy ", std::u16string(1, u'0' + shown)); }
  void ShowMessageBox(std::u16string_view text, std::u16string_view title, platform::MessageIcon icon) override {
    const bool information = icon == platform::MessageIcon::kInformation;
    if (information && box_throws) throw std::bad_alloc();
    Note(u"box ", title, information ? u" / information / " : u" / error / ", text);
  }
  std::uint32_t RunUpdateJob(const std::u16string& csv_path) override { return Note(u"job ", csv_path), job(); }
  void Note(auto... parts) { ((calls += parts), ...), calls += u"\r\n"; }

  platform::PathKind kind = platform::PathKind::kFile;
  platform::WindowHandle window = 7;
  std::function<std::uint32_t()> job = [] { return 0u; };
  bool box_throws = false;
  std::u16string calls;
};

TEST(RunProgramTest, OneBoxAfterTheWindowIsGoneAndTheExitCode) {
  for (const testing::TableCase& c : testing::ReadTable(kTable)) {
    SCOPED_TRACE(c.name);
    RecordingHost host;
    std::vector<std::u16string> arguments;
    std::string exit, calls;
    for (const testing::TableLine& line : c.lines) {
      const std::vector<std::string>& w = line.words;
      if (w[0] == "args") std::transform(w.begin() + 1, w.end(), std::back_inserter(arguments),
                                         [](const std::string& a) { return Utf8ToWide(testing::Expand(a)); });
      if (w[0] == "path") host.kind = w[1] == "folder" ? platform::PathKind::kFolder : platform::PathKind::kMissing;
      if (w[0] == "window") host.window = std::stoi(w[1]);
      if (w[0] == "job" && w[1] == "returns") host.job = [n = std::stoul(w[2])] { return static_cast<std::uint32_t>(n); };
      if (w[0] == "job" && w[1] == "throws")
        host.job = [text = Utf8ToWide(testing::Expand(line.line.substr(11)))]() -> std::uint32_t { throw AppException(text); };
      if (w[0] == "job" && w[1] == "throws-other") host.job = []() -> std::uint32_t { throw std::bad_alloc(); };
      host.box_throws |= w[0] == "box-throws";
      if (w[0] == "exit") exit = w[1];
      if (w[0] == "calls") calls = testing::Expand(line.more);
    }
    EXPECT_EQ(std::to_string(RunProgram(host, arguments)), exit);
    EXPECT_EQ(WideToUtf8(host.calls), calls);
  }
}

}  // namespace
}  // namespace orlenta
