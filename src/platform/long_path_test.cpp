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

// Each row through WidenPath with its full form, and on Windows through
// GetFullPathNameW from C:\work, which shows that the table's full forms are
// Windows' own: a limit of 1 widens every path that resolves, so it shows the
// full form itself.
TEST(LongPathTest, WidensTheFullFormPastTheLimit) {
  const std::filesystem::path previous = std::filesystem::current_path();
#ifdef _WIN32
  std::filesystem::create_directories(u"C:\\work");
  std::filesystem::current_path(u"C:\\work");
#endif
  const std::vector<testing::TableCase> table = testing::ReadTable(kCases);
  for (const testing::TableLine& row : table.at(0).lines) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> cells = row.words;  // path, full form, handed, [limit [current folder]]
    cells.resize(5);
    const auto cell = [&](int at) { return *ConvertUtf8ToUtf16(testing::Expand(cells[at])); };
    const std::u16string path = cell(0), full = cell(1), handed = cell(2);
    const std::size_t limit = cells[3] == "folder" ? kMaxFolderPathLength : kMaxPathLength;
    EXPECT_EQ(WidenPath(path, full, limit), handed);
#ifdef _WIN32
    if (!cells[4].empty()) continue;  // another current folder
    EXPECT_EQ(WidenForWin32Call(path, limit), handed);
    EXPECT_EQ(WidenForWin32Call(path, 1), WidenPath(path, full, 1));
#endif
  }
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace orlenta::platform
