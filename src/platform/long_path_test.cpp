#include "platform/long_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

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

// A path as the table writes it: "" for empty, {200n} for 200 times 'n'.
std::u16string Expand(const std::string& text) {
  std::u16string path;
  if (text == "\"\"") return path;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '{') {
      path += static_cast<char16_t>(text[at]);
      continue;
    }
    const std::size_t end = text.find('}', at);
    path.append(std::stoul(text.substr(at + 1)), static_cast<char16_t>(text[end - 1]));
    at = end;
  }
  return path;
}

std::vector<Row> Rows() {
  std::vector<Row> rows;
  std::istringstream lines(kCases);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream cells(line.substr(0, line.find('#')));
    std::string path, full, handed, limit, current = "C:\\work";
    cells >> path >> full >> handed >> limit >> current;
    rows.push_back({line, Expand(path), Expand(full), Expand(handed), Expand(current),
                    limit == "folder" ? kMaxFolderPathLength : kMaxPathLength});
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
