// Whether the processing window answers in every phase of a run, as
// IsHungAppWindow judges it (needs a desktop; under Wine an X display). The
// real program runs on a thread of this process, on a file system where three
// single calls take 8 s, longer than Windows' 5 s: a read of the CSV, a copy
// and the sync of the temporary file. This thread looks at the run's window
// once a second: the real run ("worker") must never hang, keep its window
// through Alt+F4 and WM_CLOSE, show the rows done during the slow copy and a
// marquee during the slow sync; the job on the window's own thread
// ("control") must hang, which shows that the check can fail.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <string>

#include "app/run_program.h"
#include "job/update_job.h"
#include "support/test_support.h"
#include "text/text.h"

namespace orlenta {
namespace {

constexpr wchar_t kWindowClass[] = L"OrlentaProcessingWindow";
constexpr int kRows = 4, kSlowCopy = 3;  // while row 3 copies, the bar stands at 2 of 4
constexpr unsigned kSlowMs = 8000;
constexpr std::size_t kReadPiece = 64;  // the CSV arrives in pieces, the second one slowly

// The real program on the slowed file system. It checks what no one is there
// to see: each box is the completion without failures, after the window has gone.
class Slowed final : public platform::FileSystem, public RealProgramHost {
 public:
  explicit Slowed(bool control) : RealProgramHost(static_cast<FileSystem&>(*this)), control_(control) {}
  std::int64_t Read(platform::File& file, char* buffer, std::size_t size) override {
    if (++reads_ == 2) SleepFor(kSlowMs);
    return FileSystem::Read(file, buffer, std::min(size, kReadPiece));
  }
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    if (++copies_ == kSlowCopy) SleepFor(kSlowMs);
    return FileSystem::CopyFileReplacing(from, to);
  }
  platform::Outcome MakeDurable(platform::File& file, std::span<const std::u16string> written,
                                std::size_t& done) override {
    SleepFor(kSlowMs);
    return FileSystem::MakeDurable(file, written, done);
  }
  std::uint32_t RunUpdateJob(const std::u16string& csv) override {
    return control_ ? orlenta::RunUpdateJob(csv, *this) : RealProgramHost::RunUpdateJob(csv);
  }
  void ShowMessageBox(std::u16string_view text, std::u16string_view, platform::MessageIcon) override {
    EXPECT_EQ(WideToUtf8(text), WideToUtf8(ComposeCompletionText(0)));
    EXPECT_FALSE(FindWindowW(kWindowClass, nullptr)) << "a box beside the window";
    ++boxes;
  }
  int boxes = 0;

 private:
  bool control_;
  int reads_ = 0, copies_ = 0;
};

// One look at the window from another thread: "-" none, "H" hung, "?" its bar missing
// or not inside its client area, "m" a marquee bar, else the bar's "pos/range".
std::string Look() {
  const HWND window = FindWindowW(kWindowClass, nullptr);
  if (window == nullptr) return "-";
  if (IsHungAppWindow(window)) return "H";
  const HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
  RECT client = {}, box = {}, both;
  GetClientRect(window, &client);
  GetWindowRect(bar, &box);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
  if (bar == nullptr || !UnionRect(&both, &client, &box) || !EqualRect(&both, &client)) return "?";
  if (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) return "m";
  DWORD_PTR pos = 0, range = 0;
  SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 200, &pos);
  SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 200, &range);
  return std::to_string(pos) + "/" + std::to_string(range);
}

// Runs the worker or the control on a fresh CSV and looks once a second;
// prints the looks and returns one letter per look: the look itself where it
// is one letter, else "c" the bar at the slow copy's row, "o" at other rows,
// "r" anything else (the bytes read). The run must end with code 0 and one box.
std::string RunAndWatch(bool control, const std::filesystem::path& folder) {
  const std::filesystem::path csv = folder / (control ? "control.csv" : "worker.csv");
  std::ofstream out(csv, std::ios::binary);
  out << "ID,画像（表）,画像（裏）\r\n";
  for (int i = 1; i <= kRows; ++i)  // one image a row: one image on every row is copied once
    out << i << "," << WideToUtf8((folder / ("a" + std::to_string(i) + ".png")).u16string()) << ",\r\n";
  out.close();

  std::future<void> run = std::async(std::launch::async, [&] {
    Slowed slowed(control);
    EXPECT_EQ(RunProgram(slowed, {u"Orlenta.exe", csv.u16string()}), 0);
    EXPECT_EQ(slowed.boxes, 1);
  });
  std::printf("%s looks:", control ? "control" : "worker");
  std::string looks;
  const std::string at_copy = std::to_string(kSlowCopy - 1) + "/" + std::to_string(kRows);
  // A look at a window that does not answer yet waits for it: keep to the second.
  const auto start = std::chrono::steady_clock::now();
  while (run.wait_until(start + std::chrono::seconds(looks.size() + 1)) == std::future_status::timeout) {
    const std::string look = Look();
    std::printf(" %s", look.c_str());
    std::fflush(stdout);
    looks += look.size() == 1 ? look[0] : look == at_copy ? 'c' : look.ends_with("/" + std::to_string(kRows)) ? 'o' : 'r';
    // What Alt+F4 sends, then what another program would; a hung window is sent nothing.
    const HWND window = looks.back() == 'H' ? nullptr : FindWindowW(kWindowClass, nullptr);
    if (window && looks.size() == 3) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (window && looks.size() == 4) PostMessageW(window, WM_CLOSE, 0, 0);
  }
  std::printf("\n");
  return looks;
}

TEST(HungWindowCheck, TheWindowAnswersThroughSlowCallsAndTheControlHangs) {
  testing::TempFolder folder;
  for (int i = 1; i <= kRows; ++i)
    testing::WriteBytes(folder.fs_path() / ("a" + std::to_string(i) + ".png"), testing::kPngBytes);
  // Up by the 3rd look (so both close requests went out) and up to the last
  // but one; 5 looks at least of each slow phase, in order: the bytes read,
  // the rows at the slow copy, a marquee at the slow sync.
  const std::string worker = RunAndWatch(false, folder.fs_path());
  EXPECT_TRUE(std::regex_match(worker, std::regex("-{0,2}r{5,}o*c{5,}o*m{5,}-?"))) << worker;
  // Windows' rule: hung once the thread has left its messages alone for 5 s.
  const std::string control = RunAndWatch(true, folder.fs_path());
  const std::size_t hung = control.find('H') + 1;  // 0: never
  EXPECT_TRUE(hung >= 5 && hung <= 9) << "hung from look " << hung << ": " << control;
}

}  // namespace
}  // namespace orlenta
