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

TEST(ParseCsv, FollowsTheReadingRules) {
  const struct { std::string text; std::size_t from; Rows rows; } cases[] = {
      {"", 0, {}},
      {"a,b\r\nc,d\r\n", 0, {{"a", "b"}, {"c", "d"}}},
      {"a,b\nc,d", 0, {{"a", "b"}, {"c", "d"}}},
      {"a\r\n\r\n", 0, {{"a"}, {""}}},
      {"a\n\rb", 0, {{"a"}, {""}, {"b"}}},
      {"a\rb\r", 0, {{"a"}, {"b"}}},
      {"a\r\r\n", 0, {{"a"}, {""}}},
      {",", 0, {{"", ""}}},
      {"\"\"", 0, {}},
      {"\"\",\"\"", 0, {{"", ""}}},
      {"ab\"c,d\"e,f", 0, {{"abc,de", "f"}}},
      {"a\"\"b", 0, {{"ab"}}},
      {"\"a\"\"b\",c", 0, {{"a\"b", "c"}}},
      {"\"a\"\"", 0, {{"a\""}}},
      {"\"a\"b\"c\"", 0, {{"abc"}}},
      {"\"a\r\nb\",c\r\n", 0, {{"a\r\nb", "c"}}},
      {"x,\"open, to\r\nthe end", 0, {{"x", "open, to\r\nthe end"}}},
      {"\0,\x80\xFF\r\n\"\0\"\r\n"s, 0, {{"\0"s, "\x80\xFF"}, {"\0"s}}},
      {"\xEF\xBB\xBFid", 0, {{"\xEF\xBB\xBFid"}}},
      {"\xEF\xBB\xBF\"i\"\"d\",x", 3, {{"i\"d", "x"}}},
      {"\xEF\xBB\xBF", 3, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(RowsOf(ParseCsv(c.text, c.from)), c.rows) << c.text;
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

// The job pads short rows (counted, no field stored) and sets cells; a padded
// row that gets a value moves its references, which must not disturb others.
TEST(CsvTable, EditsKeepEveryOtherField) {
  struct Edit { std::size_t row, extend, index; std::string value; };
  const struct { std::string text; std::vector<Edit> edits; Rows rows; } cases[] = {
      {"a,b\r\nc\r\nd,e", {{1, 3, 2, "x"}}, {{"a", "b"}, {"c", "", "x"}, {"d", "e"}}},
      {"a,b\r\nc", {{1, 3, 1, "x"}}, {{"a", "b"}, {"c", "x", ""}}},
      {"a\r\nb", {{0, 3, 2, ""}, {0, 2, 0, "\"z\""}}, {{"\"z\"", "", ""}, {"b"}}},
      {"\"q\"\"\",y\r\nz", {{0, 1, 1, "new"}}, {{"q\"", "new"}, {"z"}}},
      {"a\r\nb\r\nc", {{0, 2, 1, "x"}, {1, 3, 2, "y"}, {0, 4, 3, "w"}, {2, 2, 0, ""}},
       {{"a", "x", "", "w"}, {"b", "", "y"}, {"", ""}}},
  };
  for (const auto& c : cases) {
    CsvTable table = ParseCsv(c.text);
    for (const Edit& e : c.edits) {
      table.ExtendRow(e.row, e.extend);
      table.SetField(e.row, e.index, e.value);
    }
    EXPECT_EQ(RowsOf(table), c.rows) << c.text;
    EXPECT_EQ(SerializeCsv(table, false), SerializeCsv(TableOf(c.rows), false)) << c.text;
  }
}

}  // namespace
}  // namespace orlenta
