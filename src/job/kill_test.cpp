// A run killed at any moment leaves the CSV either as it was or complete.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "job/update_job.h"
#include "support/test_support.h"
#include "text/text.h"

namespace orlenta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kKills = 50;
constexpr int kRows = 60000;
#else
constexpr int kKills = 50;
constexpr int kRows = 300000;
#endif

// Runs the job in a child process; kills it after `delay` unless negative.
int RunChild(const std::u16string& csv, std::chrono::microseconds delay) {
  pid_t child = fork();
  if (child == 0) {
    try {
      RunUpdateJob(csv);
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  if (delay.count() >= 0) {
    std::this_thread::sleep_for(delay);
    kill(child, SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

TEST(KillTest, CsvIsAlwaysOldOrCompletelyNew) {
  testing::TempFolder folder;
  fs::create_directories(folder.fs_path() / "img");
  testing::WriteBytes(folder.fs_path() / "img" / "a.png", testing::kPngBytes);
  testing::WriteBytes(folder.fs_path() / "img" / "b", testing::kJpegBytes);
  const std::string a = (folder.fs_path() / "img" / "a.png").string();
  const std::string b = (folder.fs_path() / "img" / "b").string();
  std::string old_text = "\xEF\xBB\xBFID,名前,画像（表）,画像（裏）,備考\r\n";
  for (int r = 0; r < kRows; ++r) {
    old_text += std::to_string(r) + ",商品" + std::to_string(r) + ",";
    if (r % 1000 == 0) old_text += a + "," + b;
    else old_text += ",";
    old_text += ",\"note, with \"\"quotes\"\"\"\r\n";
  }
  const fs::path csv_path = folder.fs_path() / "list.csv";
  const std::u16string csv = testing::FromFsPath(csv_path);

  testing::WriteBytes(csv_path, old_text);
  auto start = Clock::now();
  ASSERT_EQ(RunChild(csv, std::chrono::microseconds(-1)), 0);
  auto full = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  const std::string new_text = testing::ReadBytes(csv_path);
  ASSERT_NE(new_text, old_text);

  std::mt19937 random(42);
  int saw_old = 0, saw_new = 0;
  for (int k = 0; k < kKills; ++k) {
    testing::WriteBytes(csv_path, old_text);
    std::chrono::microseconds delay(random() % (full.count() + 1));
    RunChild(csv, delay);
    std::string now = testing::ReadBytes(csv_path);
    ASSERT_TRUE(now == old_text || now == new_text) << "kill " << k << " after " << delay.count() << " us";
    (now == old_text ? saw_old : saw_new)++;
  }
  // A following run completes from whatever the kills left behind.
  testing::WriteBytes(csv_path, old_text);
  EXPECT_EQ(RunChild(csv, std::chrono::microseconds(-1)), 0);
  EXPECT_EQ(testing::ReadBytes(csv_path), new_text);
  EXPECT_GT(saw_old, 0);
  RecordProperty("kills_old", saw_old);
  RecordProperty("kills_new", saw_new);
}

}  // namespace
}  // namespace orlenta
