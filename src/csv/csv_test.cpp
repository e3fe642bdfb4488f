#include "csv/csv.h"

#include <gtest/gtest.h>

namespace orlenta {
namespace {

using namespace std::string_literals;
using Rows = std::vector<CsvRow>;

Rows RowsOf(const CsvTable& table) {
  Rows rows;
  for (std::size_t r = 0; r < table.row_count(); ++r) rows.push_back(table.CopyRow(r));
  return rows;
}

CsvTable TableOf(const Rows& rows) {
  CsvTable table;
  for (const CsvRow& row : rows) table.AppendRow(row);
  return table;
}

std::string Streamed(const CsvTable& table, bool bom, int* chunks = nullptr) {
  std::string text;
  int count = 0;
  SerializeCsv(table, bom, [&](std::string_view chunk) { text.append(chunk), ++count; });
  if (chunks) *chunks = count;
  return text;
}

// The scanner reads 64-byte blocks: a doubled quote, a CR LF and a comma must
// each come out right at every offset, also when they straddle two blocks.
TEST(ParseCsv, RunsAcrossBlockBoundaries) {
  for (std::size_t n = 0; n < 140; ++n) {
    const std::string x(n, 'x');
    CsvTable table = ParseCsv(x + "\"a\"\"b\r\nc\"" + x + ",\r\n" + x + "\r" + x + "z");
    EXPECT_EQ(RowsOf(table), (Rows{{x + "a\"b\r\nc" + x, ""}, {x}, {x + "z"}})) << n;
    EXPECT_EQ(SerializeCsv(table, false),
              "\"" + x + "a\"\"b\r\nc" + x + "\",\"\"\r\n\"" + x + "\"\r\n\"" + x + "z\"\r\n") << n;
  }
}

TEST(SerializeCsv, FollowsTheWritingRules) {
  const std::string q16 = "0123456789abcde\"", q32 = "0123456789abcdef0123\"56789abcdef";
  const struct { Rows rows; bool bom; std::string text; } cases[] = {
      {{{"a", ""}, {"x\"y"}}, true, "\xEF\xBB\xBF\"a\",\"\"\r\n\"x\"\"y\"\r\n"},
      {{{""}}, false, "\"\"\r\n"},
      {{{}}, false, "\r\n"},
      {{}, true, "\xEF\xBB\xBF"},
      {{}, false, ""},
      {{{"a", "", "q\"q"}}, false, "\"a\",\"\",\"q\"\"q\"\r\n"},
      {{{"a,b\r\nc", "\0\x80"s}}, false, "\"a,b\r\nc\",\"\0\x80\"\r\n"s},
      {{{q16, q32}}, false, "\"0123456789abcde\"\"\",\"0123456789abcdef0123\"\"56789abcdef\"\r\n"},
  };
  for (const auto& c : cases) {
    const CsvTable table = TableOf(c.rows);
    EXPECT_EQ(SerializeCsv(table, c.bom), c.text);
    EXPECT_EQ(Streamed(table, c.bom), c.text);
    if (c.rows.size() == 1) {
      EXPECT_EQ(FormatCsvRow(c.rows[0]) + "\r\n", c.text);
    }
  }
}

TEST(SerializeCsv, StreamsLargeTablesInChunks) {
  std::string text;
  for (int r = 0; r < 100000; ++r) text += "\"" + std::to_string(r) + "\",C:\\img\\" + std::to_string(r) + ".jpg,\"a\"\"b\"\r\n";
  const CsvTable table = ParseCsv(text);
  int chunks = 0;
  EXPECT_EQ(Streamed(table, true, &chunks), SerializeCsv(table, true));
  EXPECT_GT(chunks, 1);
}

}  // namespace
}  // namespace orlenta
