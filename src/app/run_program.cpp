#include "app/run_program.h"

#include <future>

#include "job/update_job.h"
#include "text/app_exception.h"

namespace orlenta {

namespace {

using Phase = platform::JobStatus::Phase;

// Hands the job's progress to the window's thread: stores into the shared
// status, which that thread reads on its own timer. A row costs one store.
class StatusProgress final : public JobProgress {
 public:
  explicit StatusProgress(platform::JobStatus& status) : status_(status) {}

  void BytesRead(std::uint64_t done, std::uint64_t total) override {
    status_.Set(Phase::kReading, done, total);
  }
  void RowsDone(std::size_t done, std::size_t total) override {
    if (done == 0) status_.Set(Phase::kRows, 0, total);
    else status_.done.store(done, std::memory_order_relaxed);
  }
  void Saving() override { status_.Set(Phase::kSaving, 0, 0); }

 private:
  platform::JobStatus& status_;
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
  if (window_ != 0) {
    // One worker runs the job while this thread answers for the window. The
    // task keeps the job's result or the exception that left it, and get()
    // hands either over here, to RunProgram's handlers.
    platform::JobStatus status;
    StatusProgress progress(status);
    std::packaged_task<std::uint32_t()> job(
        [&] { return orlenta::RunUpdateJob(csv_path, fs_, &progress); });
    std::future<std::uint32_t> result = job.get_future();
    if (platform::RunBesideWindow(window_, status, [&] { job(); })) return result.get();
  }
  // Without a window (none could be made, or the native program's standard
  // error is not a terminal) or a thread, the job runs here as it always did.
  return orlenta::RunUpdateJob(csv_path, fs_);
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
