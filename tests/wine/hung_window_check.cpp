// Whether the processing window stays responsive through a long run, as
// IsHungAppWindow judges it (needs a desktop; under Wine an X display). It runs
// itself as a worker on slowed copies and looks at the worker's window once a
// second: the real run ("pumped") must never hang, outlive Alt+F4 and WM_CLOSE
// and fill its bar; the job without progress ("unpumped") must hang after about
// 5 s, which shows that the check can fail.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/run_program.h"
#include "job/update_job.h"
#include "text/text.h"

namespace orlenta {
namespace {

constexpr wchar_t kWindowClass[] = L"OrlentaProcessingWindow";
constexpr int kRows = 320;  // a copy each, of 50 ms and more: 16 s and more

// The real program on slow copies (an unpumped run hands the job no progress)
// that checks what no one is there to see: the bar full and inside the window
// as it goes, then one box, the completion without failures. Exit code: 1 for
// the box, 2 for the bar.
class Worker final : public platform::FileSystem, public RealProgramHost {
 public:
  explicit Worker(bool pumped)
      : RealProgramHost(static_cast<FileSystem&>(*this)), pumped_(pumped) {}
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    SleepFor(50);
    return FileSystem::CopyFileReplacing(from, to);
  }
  std::uint32_t RunUpdateJob(const std::u16string& csv) override {
    return pumped_ ? RealProgramHost::RunUpdateJob(csv) : orlenta::RunUpdateJob(csv, *this);
  }
  void DestroyProcessingWindow(platform::WindowHandle handle) override {
    const HWND window = reinterpret_cast<HWND>(handle);
    const HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    RECT client = {}, box = {}, both;
    GetClientRect(window, &client);
    GetWindowRect(bar, &box);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
    bar_full = SendMessageW(bar, PBM_GETPOS, 0, 0) == kRows &&
               SendMessageW(bar, PBM_GETRANGE, FALSE, 0) == kRows &&
               UnionRect(&both, &client, &box) && EqualRect(&both, &client);
    RealProgramHost::DestroyProcessingWindow(handle);
  }
  void ShowMessageBox(std::u16string_view text, std::u16string_view,
                      platform::MessageIcon) override {
    good_boxes += text == ComposeCompletionText(0) && !FindWindowW(kWindowClass, nullptr);
    ++boxes;
  }
  int Result(int code) const {
    return (code == 0 && boxes == 1 && good_boxes == 1 ? 0 : 1) | (bar_full ? 0 : 2);
  }

 private:
  bool pumped_, bar_full = false;
  int boxes = 0, good_boxes = 0;
};

// The worker's window at each look, one a second: '.' responding, 'H' hung,
// '-' none.
std::string RunAndWatch(const wchar_t* exe, const std::wstring& mode,
                        const std::filesystem::path& folder, DWORD& exit_code) {
  const std::filesystem::path csv = folder / (mode + L".csv");
  const std::string image = WideToUtf8((folder / "a.png").u16string());
  std::ofstream out(csv, std::ios::binary);
  out << "ID,画像（表）,画像（裏）\r\n";
  for (int i = 1; i <= kRows; ++i) out << i << "," << image << ",\r\n";
  out.close();

  std::string looks;
  std::wstring command = L"\"" + std::wstring(exe) + L"\" " + mode + L" \"" + csv.native() + L"\"";
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return looks;
  while (WaitForSingleObject(process.hProcess, 1000) == WAIT_TIMEOUT) {
    const HWND window = FindWindowW(kWindowClass, nullptr);
    const bool hung = window != nullptr && IsHungAppWindow(window);
    looks += window == nullptr ? '-' : hung ? 'H' : '.';
    if (hung && mode == L"unpumped") TerminateProcess(process.hProcess, 98);  // it has shown it
    // What Alt+F4 sends, then what another program would; a hung window is sent nothing.
    if (looks.size() == 3 && looks.back() == '.')
      PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (looks.size() == 4 && looks.back() == '.') PostMessageW(window, WM_CLOSE, 0, 0);
  }
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return looks;
}

}  // namespace
}  // namespace orlenta

int wmain(int argc, wchar_t** argv) {
  using namespace orlenta;
  if (argc == 3) {  // a worker: pumped|unpumped CSV
    Worker worker(std::wstring(argv[1]) == L"pumped");
    return worker.Result(
        RunProgram(worker, {u"Orlenta.exe", reinterpret_cast<const char16_t*>(argv[2])}));
  }
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("orlenta-hung-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "a.png", std::ios::binary)
      << std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  int failed = 0;
  const auto report = [&](bool ok, const char* format, auto... values) {
    failed += !ok;
    std::printf((std::string(ok ? "PASS " : "FAIL ") + format + "\n").c_str(), values...);
    std::fflush(stdout);
  };

  DWORD exit_code = 99;
  const std::string pumped = RunAndWatch(exe, L"pumped", folder, exit_code);
  // Responding from the 3rd look at the latest (so both close requests went
  // out) to the one before the last, which may follow the window's end.
  const std::size_t up = pumped.find_first_not_of('-');
  const bool kept = up <= 2 && pumped.find_first_of("-H", up) >= pumped.size() - 1;
  report(kept && pumped.find('H') == std::string::npos && pumped.size() >= 15,
         "pumped run never hung: %s", pumped.c_str());
  report(kept && exit_code == 0,
         "Alt+F4 and WM_CLOSE: window %s; exit %lu (1: not one good box, 2: bar not full inside "
         "the window)", kept ? "kept" : "GONE OR HUNG", exit_code);
  // Windows' rule: hung once the thread has left its messages alone for 5 s.
  const std::string unpumped = RunAndWatch(exe, L"unpumped", folder, exit_code);
  const std::size_t hung = unpumped.find('H') + 1;  // 0: never
  report(hung >= 5 && hung <= 9, "unpumped run hung from look %zu: %s", hung, unpumped.c_str());

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::printf("%d passed, %d failed\n", 3 - failed, failed);
  return failed == 0 ? 0 : 1;
}
