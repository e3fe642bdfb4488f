#include "app/run_program.h"

#include "job/update_job.h"
#include "text/app_exception.h"

namespace orlenta {

platform::PathKind RealProgramHost::QueryPath(std::u16string_view path) {
  return fs_.QueryPath(path);
}

platform::WindowHandle RealProgramHost::ShowProcessingWindow(std::u16string_view title,
                                                             std::u16string_view text) {
  return platform::ShowProcessingWindow(title, text);
}

void RealProgramHost::DestroyProcessingWindow(platform::WindowHandle window) {
  platform::DestroyProcessingWindow(window);
}

void RealProgramHost::ShowMessageBox(std::u16string_view text, std::u16string_view title,
                                     platform::MessageIcon icon) {
  platform::ShowMessageBox(text, title, icon);
}

std::uint32_t RealProgramHost::RunUpdateJob(const std::u16string& csv_path) {
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
