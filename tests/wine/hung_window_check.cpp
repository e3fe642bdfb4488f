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

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

// The real host, except that boxes are checked instead of shown (no one is
// there to dismiss them) and that an unpumped run hands the job no progress.
class WorkerHost final : public RealProgramHost {
 public:
  WorkerHost(platform::FileSystem& fs, bool pumped) : RealProgramHost(fs), fs_(fs), pumped_(pumped) {}

  std::uint32_t RunUpdateJob(const std::u16string& csv_path) override {
    return pumped_ ? RealProgramHost::RunUpdateJob(csv_path) : orlenta::RunUpdateJob(csv_path, fs_);
  }
  // Good: the completion without failures, after the window went.
  void ShowMessageBox(std::u16string_view text, std::u16string_view, platform::MessageIcon icon) override {
    ++boxes;
    good_box = text == ComposeCompletionText(0) && icon == platform::MessageIcon::kInformation &&
               FindWindowW(kWindowClass, nullptr) == nullptr;
  }

  int boxes = 0;
  bool good_box = false;

 private:
  platform::FileSystem& fs_;
  bool pumped_;
};

int RunWorker(bool pumped, const std::u16string& csv) {
  SlowFileSystem fs;
  WorkerHost host(fs, pumped);
  const int code = RunProgram(host, {u"Orlenta.exe", csv});
  if (code == 0 && host.boxes == 1 && host.good_box) return 0;
  std::fprintf(stderr, "worker: exit %d, %d boxes\n", code, host.boxes);
  return 2;
}

// ---------------------------------------------------------------------------
// Controller

// What the controller saw of one worker's run, looking once a second.
struct Run {
  std::string timeline;  // a look each: '.' responding, 'H' hung, '-' no window
  ULONGLONG duration_ms = 0, first_hung_ms = 0;  // from the worker's start
  int seen = 0, hung = 0;
  HWND closed = nullptr;  // the window sent Alt+F4 and WM_CLOSE
  bool kept = true;       // ... and still the window at every later look but the last
  int first = -1, last = -1, high = 0;  // the bar's position and upper limit
  bool rising = true, inside = true;
  DWORD exit_code = 1;
  std::size_t rewritten = 0;  // cells holding the copy's path afterwards
};

// Looks at the worker's window once; a hung window is sent nothing.
void Look(Run& run, ULONGLONG at_ms, int second, HWND& previous) {
  const HWND window = FindWindowW(kWindowClass, nullptr);
  // The look before this one: the window of the close requests, when it
  // came after them, must still be there (the very last look may follow
  // the end of the run).
  if (run.closed != nullptr && second > kCloseSecond + 1 && previous != run.closed) run.kept = false;
  previous = window;
  if (window == nullptr) {
    run.timeline += '-';
    return;
  }
  ++run.seen;
  if (IsHungAppWindow(window)) {
    run.timeline += 'H';
    ++run.hung;
    if (run.first_hung_ms == 0) run.first_hung_ms = at_ms;
    return;
  }
  run.timeline += '.';
  if (second == kAltF4Second) {
    run.closed = window;
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // what Alt+F4 sends
  } else if (second == kCloseSecond) {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  const HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
  DWORD_PTR position = 0, high = 0;
  if (bar == nullptr ||
      !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 500, &position) ||
      !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 500, &high))
    return;
  if (run.first < 0) run.first = static_cast<int>(position);
  run.rising = run.rising && static_cast<int>(position) >= run.last;
  run.last = static_cast<int>(position);
  run.high = static_cast<int>(high);
  RECT client, box;
  GetClientRect(window, &client);
  GetWindowRect(bar, &box);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
  run.inside = run.inside && box.left >= client.left && box.top >= client.top &&
               box.right <= client.right && box.bottom <= client.bottom;
}

Run RunAndWatch(const std::filesystem::path& exe, const char* mode, const std::filesystem::path& folder,
                std::size_t rows) {
  const std::filesystem::path csv = folder / (std::string(mode) + ".csv");
  std::filesystem::remove_all(folder / "Fore");
  {
    std::ofstream out(csv, std::ios::binary);
    out << "ID,画像（表）,画像（裏）\r\n";
    const std::string cell = WideToUtf8((folder / "a.png").u16string());
    for (std::size_t i = 1; i <= rows; ++i) out << i << "," << cell << ",\r\n";
  }

  Run run;
  std::wstring command = L"\"" + exe.wstring() + L"\" " + std::filesystem::path(mode).wstring() +
                         L" \"" + csv.wstring() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return run;
  CloseHandle(process.hThread);
  const ULONGLONG start = GetTickCount64();
  HWND previous = nullptr;
  for (int second = 1; WaitForSingleObject(process.hProcess, 1000) == WAIT_TIMEOUT; ++second)
    Look(run, GetTickCount64() - start, second, previous);
  run.duration_ms = GetTickCount64() - start;
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(process.hProcess);

  std::ifstream in(csv, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t at = 0; (at = text.find("\"Fore\\a.png\"", at)) != std::string::npos; ++at)
    ++run.rewritten;
  return run;
}

int passed = 0, failed = 0;

void Report(bool ok, const char* format, ...) {
  ++(ok ? passed : failed);
  std::printf("%s ", ok ? "PASS" : "FAIL");
  va_list values;
  va_start(values, format);
  std::vprintf(format, values);
  va_end(values);
  std::printf("\n");
  std::fflush(stdout);
}

int RunController(const std::filesystem::path& exe) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orlenta-hung-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "a.png", std::ios::binary).write(kPngBytes, sizeof(kPngBytes) - 1);

  // The program as it ships.
  const Run p = RunAndWatch(exe, "pumped", folder, kPumpedRows);
  std::printf("pumped   %s\n", p.timeline.c_str());
  Report(p.duration_ms >= 15000 && p.seen + 2 >= static_cast<int>(p.timeline.size()) && p.hung == 0,
         "pumped run of %.1f s: window seen %d times, hung %d times", p.duration_ms / 1000.0, p.seen,
         p.hung);
  const bool completed = p.exit_code == 0 && p.rewritten == kPumpedRows;
  Report(p.closed != nullptr && p.kept && completed,
         "Alt+F4 at %d s, WM_CLOSE at %d s: window %s; run %s (exit %lu, %zu of %zu cells rewritten)",
         kAltF4Second, kCloseSecond, p.closed != nullptr && p.kept ? "kept" : "GONE",
         completed ? "completed with one box" : "FAILED", p.exit_code, p.rewritten, kPumpedRows);
  Report(p.first >= 0 && p.rising && p.last > p.first && p.high == static_cast<int>(kPumpedRows) &&
             p.inside,
         "bar of %d rows went from %d to %d%s%s", p.high, p.first, p.last,
         p.rising ? ", never fell" : ", FELL", p.inside ? ", inside the client area" : ", OUTSIDE");

  // The job without progress: the window as it was before.
  const Run u = RunAndWatch(exe, "unpumped", folder, kUnpumpedRows);
  std::printf("unpumped %s\n", u.timeline.c_str());
  // Windows' rule: hung once the thread has left its messages alone for 5 s,
  // which cannot be sooner than 5 s after the worker started.
  Report(u.first_hung_ms >= 5000 && u.first_hung_ms <= 9000 && u.exit_code == 0 &&
             u.rewritten == kUnpumpedRows,
         "unpumped run of %.1f s: hung from %.1f s (0: never), run completed (exit %lu)",
         u.duration_ms / 1000.0, u.first_hung_ms / 1000.0, u.exit_code);

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace orlenta

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc == 3 ? argv[1] : L"";
  if (mode == L"pumped" || mode == L"unpumped")
    return orlenta::RunWorker(mode == L"pumped", reinterpret_cast<const char16_t*>(argv[2]));
  if (argc != 1) {
    std::fprintf(stderr, "usage: hung_window_check\n");
    return 2;
  }
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return orlenta::RunController(exe);
}
