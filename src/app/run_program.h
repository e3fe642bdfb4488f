// The run of the program from the command line to the exit code: argument and
// file checks, the processing window, the job, and the one message box that
// reports how it ended. Written against ProgramHost so that the sequence, its
// texts and its exit codes run in tests without a desktop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace orlenta {

inline constexpr std::u16string_view kErrorTitle = u"Orlenta エラー";
inline constexpr std::u16string_view kCompletionTitle = u"Orlenta";
inline constexpr std::u16string_view kProcessingTitle = u"Orlenta";
inline constexpr std::u16string_view kProcessingText = u"処理中です。しばらくお待ちください。";
inline constexpr std::u16string_view kUsageText =
    u"引数が不足しています。\n使い方:\n  Orlenta.exe <CSVファイルパス>";
inline constexpr std::u16string_view kMissingFilePrefix = u"CSVファイルが存在しません:\n";
inline constexpr std::u16string_view kCompletedText = u"処理が完了しました。";
inline constexpr std::u16string_view kFailedCountPrefix = u"画像処理に失敗した件数: ";
inline constexpr std::u16string_view kFailedCountSuffix = u"件";
inline constexpr std::u16string_view kFailedCellsNote =
    u"失敗した項目は空欄にし、エラーログを出力しました。";

/// What the run needs from the system. Abstract so that tests can record the
/// calls; RealProgramHost forwards to the platform and to RunUpdateJob.
class ProgramHost {
 public:
  virtual ~ProgramHost() = default;

  /// What stands at `path`; kMissing also when it cannot be queried.
  virtual platform::PathKind QueryPath(std::u16string_view path) = 0;

  /// Shows and paints the processing window; 0 when it could not be created.
  virtual platform::WindowHandle ShowProcessingWindow(std::u16string_view title,
                                                      std::u16string_view text) = 0;
  /// Destroys a window that ShowProcessingWindow returned (never 0).
  virtual void DestroyProcessingWindow(platform::WindowHandle window) = 0;

  /// A modal OK box without owner; returns once dismissed.
  virtual void ShowMessageBox(std::u16string_view text, std::u16string_view title,
                              platform::MessageIcon icon) = 0;

  /// Updates the CSV at `csv_path`; returns the number of failed image cells
  /// or throws (AppException for a failure of the job as a whole).
  virtual std::uint32_t RunUpdateJob(const std::u16string& csv_path) = 0;
};

/// The host of the real program: the platform's window and boxes, and the
/// machine's file system (or `fs`) for the check and the job. While its
/// processing window is up, the job runs on one worker thread, and the
/// window's thread only answers the window and shows the job's phase.
class RealProgramHost : public ProgramHost {
 public:
  RealProgramHost() : fs_(own_fs_) {}
  explicit RealProgramHost(platform::FileSystem& fs) : fs_(fs) {}
  RealProgramHost(const RealProgramHost&) = delete;
  RealProgramHost& operator=(const RealProgramHost&) = delete;

  platform::PathKind QueryPath(std::u16string_view path) override;
  platform::WindowHandle ShowProcessingWindow(std::u16string_view title,
                                              std::u16string_view text) override;
  void DestroyProcessingWindow(platform::WindowHandle window) override;
  void ShowMessageBox(std::u16string_view text, std::u16string_view title,
                      platform::MessageIcon icon) override;
  std::uint32_t RunUpdateJob(const std::u16string& csv_path) override;

 private:
  platform::FileSystem own_fs_;
  platform::FileSystem& fs_;
  platform::WindowHandle window_ = 0;  // the window shown and not yet destroyed
};

/// The text of the completion box for `failure_count` failed image cells:
/// one line when it is 0, three lines joined by CR LF otherwise.
std::u16string ComposeCompletionText(std::uint32_t failure_count);

/// Shows `text` in the error box ("Orlenta エラー", error icon).
void ShowErrorMessage(ProgramHost& host, std::u16string_view text);

/// Shows the completion text for `failure_count` in the information box.
void ShowCompletion(ProgramHost& host, std::uint32_t failure_count);

/// The whole run over the process's `arguments` (element 0 the program, an
/// empty vector when the command line could not be split): shows exactly one
/// message box, removes the processing window before it, and returns the exit
/// code (0 when the job returned, 1 otherwise). Catches every exception.
int RunProgram(ProgramHost& host, const std::vector<std::u16string>& arguments);

}  // namespace orlenta
