#include "app/run_program.h"

#include <chrono>

#include "job/update_job.h"
#include "text/app_exception.h"

namespace orlenta {

namespace {

// Hands the job's progress to the processing window. A row costs one read
// of a monotonic clock; the window is updated, and its messages handed out,
// on the first and the last row and otherwise at most every 100 ms: often
// enough that Windows never takes it for hung (5 s), seldom enough that the
// updates cost nothing measurable.
class WindowProgress final : public JobProgress {
 public:
  explicit WindowProgress(platform::WindowHandle window) : window_(window) {}

  void RowsDone(std::size_t done, std::size_t total) override {
    const Clock::time_point now = Clock::now();
    if (done != 0 && done != total && now - last_update_ < kInterval) return;
    last_update_ = now;
    platform::UpdateProcessingWindow(window_, done, total);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kInterval = std::chrono::milliseconds(100);

  platform::WindowHandle window_;
  Clock::time_point last_update_;
};

}  // namespace

platform::PathKind RealProgramHost::QueryPath(std::u16string_view path) {
  return fs_.QueryPath(path);
}

platform::WindowHandle RealProgramHost::ShowProcessingWindow(std::u16string_view title,
                                                             std::u16string_view text) {
  window_ = platform::ShowProcessingWindow(title, text);
  return window_;
}

void RealProgramHost::DestroyProcessingWindow(platform::WindowHandle window) {
  if (window == window_) window_ = 0;
  platform::DestroyProcessingWindow(window);
}

void RealProgramHost::ShowMessageBox(std::u16string_view text, std::u16string_view title,
                                     platform::MessageIcon icon) {
  platform::ShowMessageBox(text, title, icon);
}

std::uint32_t RealProgramHost::RunUpdateJob(const std::u16string& csv_path) {
  // Without a window (none could be made, or the native program's standard
  // error is not a terminal) the job runs exactly as it always did.
  if (window_ == 0) return orlenta::RunUpdateJob(csv_path, fs_);
  WindowProgress progress(window_);
  return orlenta::RunUpdateJob(csv_path, fs_, &progress);
}

std::u16string ComposeCompletionText(std::uint32_t failure_count) {
  std::u16string text(kCompletedText);
  if (failure_count != 0) {
    // Digits of an unsigned count: no sign, no grouping, no padding.
    char16_t digits[10];
    std::size_t start = sizeof(digits) / sizeof(digits[0]);
    for (std::uint32_t rest = failure_count; rest != 0; rest /= 10) {
      digits[--start] = static_cast<char16_t>(u'0' + rest % 10);
    }
    text += u"\r\n";
    text += kFailedCountPrefix;
    text.append(digits + start, digits + sizeof(digits) / sizeof(digits[0]));
    text += kFailedCountSuffix;
    text += u"\r\n";
    text += kFailedCellsNote;
  }
  return text;
}

void ShowErrorMessage(ProgramHost& host, std::u16string_view text) {
  host.ShowMessageBox(text, kErrorTitle, platform::MessageIcon::kError);
}

void ShowCompletion(ProgramHost& host, std::uint32_t failure_count) {
  host.ShowMessageBox(ComposeCompletionText(failure_count), kCompletionTitle,
                      platform::MessageIcon::kInformation);
}

int RunProgram(ProgramHost& host, const std::vector<std::u16string>& arguments) {
  // Outside the guarded region so that the handlers can still remove the
  // window, at most once.
  platform::WindowHandle window = 0;
  const auto destroy_window = [&] {
    if (window != 0) {
      const platform::WindowHandle destroyed = window;
      window = 0;
      host.DestroyProcessingWindow(destroyed);
    }
  };

  try {
    if (arguments.size() < 2) {
      ShowErrorMessage(host, kUsageText);
      return 1;
    }

    const std::u16string& csv_path = arguments[1];
    if (host.QueryPath(csv_path) != platform::PathKind::kFile) {
      std::u16string text(kMissingFilePrefix);
      text += csv_path;
      ShowErrorMessage(host, text);
      return 1;
    }

    window = host.ShowProcessingWindow(kProcessingTitle, kProcessingText);
    const std::uint32_t failure_count = host.RunUpdateJob(csv_path);
    destroy_window();
    ShowCompletion(host, failure_count);
    return 0;
  } catch (const AppException& e) {
    destroy_window();
    ShowErrorMessage(host, e.message());
    return 1;
  } catch (...) {
    destroy_window();
    ShowErrorMessage(host, kUnexpectedErrorText);
    return 1;
  }
}

}  // namespace orlenta
