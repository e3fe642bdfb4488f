// What the job tells its progress observer about the row pass.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "job/update_job.h"
#include "support/test_support.h"
#include "text/text.h"

namespace orlenta {
namespace {

using Call = std::pair<std::size_t, std::size_t>;  // done, total

class RecordingProgress final : public JobProgress {
 public:
  void RowsDone(std::size_t done, std::size_t total) override { calls.emplace_back(done, total); }
  std::vector<Call> calls;
};

struct Case {
  const char* name;
  std::string rows;  // the CSV after its header; "{ok}" and "{gone}" name images
  std::size_t data_rows;
  std::uint32_t failures;
};

std::string Replace(std::string text, std::string_view key, std::string_view value) {
  for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  return text;
}

TEST(JobProgressTest, ReportsEveryDataRowFromNoneToAll) {
  const Case cases[] = {
      {"header only", "", 0, 0},
      {"one row", "1,{ok},{ok}\r\n", 1, 0},
      {"empty cells, a short row, no line break at the end",
       "1,{ok},\r\n2,,\r\n3\r\n4,,{ok}\r\n5,{ok},{ok}", 5, 0},
      {"failing cells still count as rows done",
       "1,{gone},{ok}\r\n2,{ok},{gone}\r\n3,{gone},{gone}\r\n", 3, 4},
      {"a quoted line break is inside a row, not between two",
       "1,{ok},\"{ok}\"\r\n\"2\nstill 2\",,\r\n", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempFolder folder;
    testing::WriteBytes(testing::ToFsPath(folder.Join(u"a.png")), testing::kPngBytes);
    std::string rows = Replace(c.rows, "{ok}", WideToUtf8(folder.Join(u"a.png")));
    rows = Replace(rows, "{gone}", WideToUtf8(folder.Join(u"gone.png")));
    const std::u16string csv = folder.Join(u"list.csv");
    testing::WriteBytes(testing::ToFsPath(csv), "ID,画像（表）,画像（裏）\r\n" + rows);

    platform::FileSystem fs;
    RecordingProgress progress;
    EXPECT_EQ(RunUpdateJob(csv, fs, &progress), c.failures);

    std::vector<Call> expected;
    for (std::size_t done = 0; c.data_rows != 0 && done <= c.data_rows; ++done)
      expected.emplace_back(done, c.data_rows);
    EXPECT_EQ(progress.calls, expected);
  }
}

}  // namespace
}  // namespace orlenta
