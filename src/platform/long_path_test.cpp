#include "platform/long_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"

namespace orlenta::platform {
namespace {

const char kCases[] =
#include "platform/long_path_cases.txt"
    ;

struct Row {
  std::string line;
  std::u16string path, full, handed, current;
  std::size_t limit;
};

// The table's rows: path, full form, what is handed, and optionally the limit and the current folder.
std::vector<Row> Rows() {
  std::vector<Row> rows;
  const std::vector<testing::TableCase> table = testing::ReadTable(kCases);
  for (const testing::TableLine& row : table[0].lines) {
    std::vector<std::string> cells = row.words;
    cells.resize(5);
    if (cells[4].empty()) cells[4] = "C:\\work";
    const auto path = [&](int i) { return *ConvertUtf8ToUtf16(testing::Expand(cells[i])); };
    rows.push_back({row.line, path(0), path(1), path(2), path(4),
                    cells[3] == "folder" ? kMaxFolderPathLength : kMaxPathLength});
  }
  return rows;
}

TEST(LongPathTest, WidensTheFullFormPastTheLimit) {
  const std::vector<Row> rows = Rows();
  ASSERT_FALSE(rows.empty());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(WidenPath(row.path, row.full, row.limit), row.handed);
  }
}

// The same rows through GetFullPathNameW from C:\work, which shows that the
// table's full forms are Windows' own. A limit of 1 widens every path that
// resolves, so it shows the full form itself.
TEST(LongPathTest, Win32CallsResolveAsTheTableSays) {
#ifndef _WIN32
  GTEST_SKIP() << "Windows resolves paths only under Windows";
#else
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::create_directories(u"C:\\work");
  std::filesystem::current_path(u"C:\\work");
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.line);
    if (row.current != u"C:\\work") continue;
    EXPECT_EQ(WidenForWin32Call(row.path, row.limit), row.handed);
    EXPECT_EQ(WidenForWin32Call(row.path, 1), WidenPath(row.path, row.full, 1));
  }
  std::filesystem::current_path(previous);
#endif
}

}  // namespace
}  // namespace orlenta::platform
