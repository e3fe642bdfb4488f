#include "app/run_program.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "text/app_exception.h"

namespace orlenta {
namespace {

using enum platform::PathKind;
using Job = std::function<std::uint32_t()>;

struct Row {
  const char* name;
  std::vector<std::u16string> arguments;
  std::u16string calls;  // the host's calls in order, one line each
  int exit_code;
  platform::PathKind kind = kFile;    // what QueryPath answers
  platform::WindowHandle window = 7;  // what ShowProcessingWindow returns
  Job job = [] { return 0u; };
  bool information_box_throws = false;
};

/// Answers as its row says and writes down every call.
struct RecordingHost final : ProgramHost {
  explicit RecordingHost(const Row& row) : row(row) {}
  platform::PathKind QueryPath(std::u16string_view path) override { return Note(u"query ", path), row.kind; }
  platform::WindowHandle ShowProcessingWindow(std::u16string_view title, std::u16string_view text) override {
    return Note(u"window ", title, u" / ", text), row.window;
  }
  void DestroyProcessingWindow(platform::WindowHandle window) override {
    Note(u"destroy ", std::u16string(1, static_cast<char16_t>(u'0' + window)));
  }
  void ShowMessageBox(std::u16string_view text, std::u16string_view title, platform::MessageIcon icon) override {
    const bool information = icon == platform::MessageIcon::kInformation;
    if (information && row.information_box_throws) throw std::bad_alloc();
    Note(u"box ", title, information ? u" / information / " : u" / error / ", text);
  }
  std::uint32_t RunUpdateJob(const std::u16string& csv_path) override { return Note(u"job ", csv_path), row.job(); }
  void Note(auto... parts) { ((calls += parts), ...), calls += u'\n'; }

  const Row& row;
  std::u16string calls;
};

TEST(RunProgramTest, OneBoxAfterTheWindowIsGoneAndTheExitCode) {
  const std::u16string program = u"C:\\Orlenta\\Orlenta.exe", csv = u"C:\\データ\\list.csv";
  const auto error = [](std::u16string_view text) { return u"box Orlenta エラー / error / " + std::u16string(text) + u"\n"; };
  const auto completion = [](std::u16string_view text) {
    return u"box Orlenta / information / " + std::u16string(text) + u"\n";
  };
  const std::u16string usage = error(u"引数が不足しています。\n使い方:\n  Orlenta.exe <CSVファイルパス>");
  const std::u16string missing = u"CSVファイルが存在しません:\n", unexpected = error(u"予期しないエラーが発生しました。");
  const std::u16string ran = u"query " + csv + u"\nwindow Orlenta / 処理中です。しばらくお待ちください。\njob " + csv + u"\n";
  const std::u16string gone = ran + u"destroy 7\n", done = completion(u"処理が完了しました。");
  const Row rows[] = {
      {"empty command line", {}, usage, 1},
      {"program only", {program}, usage, 1},
      {"empty argument", {program, u""}, u"query \n" + error(missing), 1, kMissing},
      {"folder", {program, u"C:\\データ"}, u"query C:\\データ\n" + error(missing + u"C:\\データ"), 1, kFolder},
      {"missing file", {program, csv}, u"query " + csv + u"\n" + error(missing + csv), 1, kMissing},
      {"further arguments ignored", {program, csv, u"other.csv", u""}, gone + done, 0},
      {"job returns 12", {program, csv},
       gone + completion(u"処理が完了しました。\r\n画像処理に失敗した件数: 12件\r\n"
                         u"失敗した項目は空欄にし、エラーログを出力しました。"),
       0, kFile, 7, [] { return 12u; }},
      {"job throws AppException", {program, csv}, gone + error(u"CSVが空です:\n x"), 1, kFile, 7,
       []() -> std::uint32_t { throw AppException(u"CSVが空です:\n x"); }},
      {"job throws bad_alloc", {program, csv}, gone + unexpected, 1, kFile, 7,
       []() -> std::uint32_t { throw std::bad_alloc(); }},
      {"no window", {program, csv}, ran + done, 0, kFile, 0},
      // Fails once the window is gone: the window is not destroyed again.
      {"completion box throws", {program, csv}, gone + unexpected, 1, kFile, 7, [] { return 2u; }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingHost host(row);
    EXPECT_EQ(RunProgram(host, row.arguments), row.exit_code);
    EXPECT_EQ(host.calls, row.calls);
  }
}

}  // namespace
}  // namespace orlenta
