// Whether the processing window stays responsive through a long run, checked
// the way Windows decides it (IsHungAppWindow). Windows only; needs a
// desktop (under Wine an X display).
//
//   hung_window_check             runs both checks below and prints one line
//                                 per result, then "N passed, M failed"
//   hung_window_check pumped CSV  (worker) the real run on CSV, each copied
//   hung_window_check unpumped CSV  image slowed down; unpumped runs the job
//                                 without progress, as before it had any
//
// The controller starts a worker on a generated CSV and looks at its window
// once a second from outside: the pumped run must never be hung over more
// than 15 s, must shrug off Alt+F4 and WM_CLOSE, and must move its bar; the
// unpumped run must turn hung after about 5 s, which shows that the check
// can fail. Exit code: 0 when every check passed.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/run_program.h"
#include "job/update_job.h"
#include "text/text.h"

namespace orlenta {
namespace {

constexpr wchar_t kWindowClass[] = L"OrlentaProcessingWindow";
constexpr unsigned kCopyPauseMs = 50;     // one image per row: a row costs this
constexpr std::size_t kPumpedRows = 320;  // 16 s and more
constexpr std::size_t kUnpumpedRows = 200;  // 10 s and more
constexpr int kAltF4Second = 3;
constexpr int kCloseSecond = 4;
constexpr char kPngBytes[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR";

// ---------------------------------------------------------------------------
// Worker

class SlowFileSystem final : public platform::FileSystem {
 public:
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    SleepFor(kCopyPauseMs);
    return FileSystem::CopyFileReplacing(from, to);
  }
};

struct Box {
  std::u16string text;
  platform::MessageIcon icon;
  bool window_still_up;
};

// The real host, except that boxes are recorded (no one is there to dismiss
// them) and that an unpumped run hands the job no progress.
class WorkerHost final : public RealProgramHost {
 public:
  WorkerHost(platform::FileSystem& fs, bool pumped) : RealProgramHost(fs), fs_(fs), pumped_(pumped) {}

  std::uint32_t RunUpdateJob(const std::u16string& csv_path) override {
    return pumped_ ? RealProgramHost::RunUpdateJob(csv_path) : orlenta::RunUpdateJob(csv_path, fs_);
  }
  void ShowMessageBox(std::u16string_view text, std::u16string_view, platform::MessageIcon icon) override {
    boxes.push_back({std::u16string(text), icon, FindWindowW(kWindowClass, nullptr) != nullptr});
  }

  std::vector<Box> boxes;

 private:
  platform::FileSystem& fs_;
  bool pumped_;
};

int RunWorker(bool pumped, const std::u16string& csv) {
  SlowFileSystem fs;
  WorkerHost host(fs, pumped);
  const int code = RunProgram(host, {u"Orlenta.exe", csv});
  // One box, the completion without failures, shown after the window went.
  if (code != 0 || host.boxes.size() != 1 || host.boxes[0].text != ComposeCompletionText(0) ||
      host.boxes[0].icon != platform::MessageIcon::kInformation || host.boxes[0].window_still_up) {
    std::fprintf(stderr, "worker: exit %d, %zu boxes\n", code, host.boxes.size());
    return 2;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Controller

struct Sample {
  ULONGLONG at_ms = 0;  // since the worker was started
  HWND window = nullptr;
  bool hung = false;
  bool bar_read = false;
  int position = 0, high = 0;
  bool bar_inside = false;
};

struct Run {
  std::vector<Sample> samples;  // one a second, the first after one second
  ULONGLONG duration_ms = 0;  // from start to exit of the worker
  DWORD exit_code = 1;
  std::size_t rewritten_cells = 0;
  HWND closed_window = nullptr;  // the window that got Alt+F4 and WM_CLOSE
};

// One look from outside; a hung window is not sent anything.
Sample Look() {
  Sample s;
  s.window = FindWindowW(kWindowClass, nullptr);
  if (s.window == nullptr) return s;
  s.hung = IsHungAppWindow(s.window) != FALSE;
  const HWND bar = FindWindowExW(s.window, nullptr, PROGRESS_CLASSW, nullptr);
  if (s.hung || bar == nullptr) return s;
  DWORD_PTR position = 0, high = 0;
  s.bar_read = SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 500, &position) != 0 &&
               SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 500, &high) != 0;
  s.position = static_cast<int>(position);
  s.high = static_cast<int>(high);
  RECT client, bar_rect;
  GetClientRect(s.window, &client);
  GetWindowRect(bar, &bar_rect);
  MapWindowPoints(nullptr, s.window, reinterpret_cast<POINT*>(&bar_rect), 2);
  s.bar_inside = bar_rect.left >= client.left && bar_rect.top >= client.top &&
                 bar_rect.right <= client.right && bar_rect.bottom <= client.bottom;
  return s;
}

Run RunAndWatch(const std::filesystem::path& exe, const char* mode, const std::filesystem::path& folder,
                std::size_t rows) {
  const std::filesystem::path image = folder / "a.png";
  const std::filesystem::path csv = folder / (std::string(mode) + ".csv");
  std::filesystem::remove_all(folder / "Fore");
  {
    std::ofstream out(csv, std::ios::binary);
    out << "ID,画像（表）,画像（裏）\r\n";
    const std::string cell = WideToUtf8(image.u16string());
    for (std::size_t i = 1; i <= rows; ++i) out << i << "," << cell << ",\r\n";
  }

  Run run;
  std::wstring command = L"\"" + exe.wstring() + L"\" " +
                         std::wstring(mode, mode + std::char_traits<char>::length(mode)) + L" \"" +
                         csv.wstring() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "cannot start the worker: error %lu\n", GetLastError());
    return run;
  }
  CloseHandle(process.hThread);
  const ULONGLONG start = GetTickCount64();
  for (int second = 1; WaitForSingleObject(process.hProcess, 1000) == WAIT_TIMEOUT; ++second) {
    Sample s = Look();
    s.at_ms = GetTickCount64() - start;
    run.samples.push_back(s);
    if (s.window == nullptr) continue;
    if (second == kAltF4Second) {
      run.closed_window = s.window;
      PostMessageW(s.window, WM_SYSCOMMAND, SC_CLOSE, 0);  // what Alt+F4 sends
    } else if (second == kCloseSecond) {
      PostMessageW(s.window, WM_CLOSE, 0, 0);
    }
  }
  run.duration_ms = GetTickCount64() - start;
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(process.hProcess);

  std::ifstream in(csv, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t at = 0; (at = text.find("\"Fore\\a.png\"", at)) != std::string::npos; ++at)
    ++run.rewritten_cells;
  return run;
}

// One character a look (about a second apart): '.' responding, 'H' hung,
// '-' no window.
std::string Timeline(const Run& run) {
  std::string line;
  for (const Sample& s : run.samples) line += s.window == nullptr ? '-' : s.hung ? 'H' : '.';
  return line;
}

std::string Seconds(ULONGLONG ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", static_cast<double>(ms) / 1000);
  return text;
}

int passed = 0, failed = 0;

void Report(bool ok, const std::string& what) {
  ++(ok ? passed : failed);
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
}

bool Completed(const Run& run, std::size_t rows) {
  return run.exit_code == 0 && run.rewritten_cells == rows;
}

int RunController(const std::filesystem::path& exe) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orlenta-hung-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "a.png", std::ios::binary).write(kPngBytes, sizeof(kPngBytes) - 1);

  // Pumped: the program as it ships.
  const Run pumped = RunAndWatch(exe, "pumped", folder, kPumpedRows);
  std::printf("pumped   %s\n", Timeline(pumped).c_str());
  std::size_t seen = 0, hung = 0;
  bool kept_after_close = !pumped.samples.empty();
  int first = -1, last = -1, high = 0;
  bool rising = true, inside = true;
  for (std::size_t i = 0; i < pumped.samples.size(); ++i) {
    const Sample& s = pumped.samples[i];
    seen += s.window != nullptr;
    hung += s.hung;
    // Up to the last second or two the window must still be the one that
    // got the close requests.
    if (static_cast<int>(i) + 1 > kCloseSecond && i + 2 < pumped.samples.size())
      kept_after_close = kept_after_close && s.window == pumped.closed_window;
    if (!s.bar_read) continue;
    if (first < 0) first = s.position;
    rising = rising && s.position >= last;
    last = s.position;
    high = s.high;
    inside = inside && s.bar_inside;
  }
  Report(pumped.duration_ms >= 15000 && seen + 2 >= pumped.samples.size() && hung == 0,
         "pumped run of " + Seconds(pumped.duration_ms) + " s: window seen " + std::to_string(seen) +
             " times, hung " + std::to_string(hung) + " times");
  kept_after_close = kept_after_close && pumped.closed_window != nullptr;
  Report(kept_after_close && Completed(pumped, kPumpedRows),
         "Alt+F4 at " + std::to_string(kAltF4Second) + " s and WM_CLOSE at " +
             std::to_string(kCloseSecond) + " s: window " + (kept_after_close ? "kept" : "GONE") +
             ", run ended (exit " +
             std::to_string(pumped.exit_code) + ", " + std::to_string(pumped.rewritten_cells) + " of " +
             std::to_string(kPumpedRows) + " cells rewritten, one box)");
  Report(first >= 0 && rising && last > first && high == static_cast<int>(kPumpedRows) && inside,
         first < 0 ? std::string("bar never read")
                   : "bar of " + std::to_string(high) + " rows went from " + std::to_string(first) +
                         " to " + std::to_string(last) + (rising ? ", never fell" : ", FELL") +
                         (inside ? ", inside the client area" : ", OUTSIDE the client area"));

  // Unpumped: the job without progress, as the window was before.
  const Run unpumped = RunAndWatch(exe, "unpumped", folder, kUnpumpedRows);
  std::printf("unpumped %s\n", Timeline(unpumped).c_str());
  // Windows' rule: hung once the thread has left its messages alone for 5 s,
  // which cannot happen sooner than 5 s after the worker started.
  ULONGLONG first_hung_ms = 0;
  for (const Sample& s : unpumped.samples) {
    if (s.hung) {
      first_hung_ms = s.at_ms;
      break;
    }
  }
  Report(first_hung_ms >= 5000 && first_hung_ms <= 9000 && Completed(unpumped, kUnpumpedRows),
         "unpumped run of " + Seconds(unpumped.duration_ms) + " s: hung from " +
             (first_hung_ms == 0 ? std::string("never") : Seconds(first_hung_ms) + " s") +
             ", run completed (exit " + std::to_string(unpumped.exit_code) + ")");

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace orlenta

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && (std::wstring(argv[1]) == L"pumped" || std::wstring(argv[1]) == L"unpumped")) {
    const std::u16string csv(reinterpret_cast<const char16_t*>(argv[2]));
    return orlenta::RunWorker(std::wstring(argv[1]) == L"pumped", csv);
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: hung_window_check\n");
    return 2;
  }
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return orlenta::RunController(exe);
}
