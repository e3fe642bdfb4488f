#include "csv/csv.h"

#include <gtest/gtest.h>

#include <random>

namespace orlenta {
namespace {

std::vector<CsvRow> Rows(const CsvTable& table) {
  std::vector<CsvRow> rows;
  for (std::size_t r = 0; r < table.row_count(); ++r) rows.push_back(table.CopyRow(r));
  return rows;
}

CsvTable Table(const std::vector<CsvRow>& rows) {
  CsvTable table;
  for (const CsvRow& row : rows) table.AppendRow(row);
  return table;
}

struct ParseCase {
  std::string text;
  std::vector<CsvRow> rows;
};

TEST(ParseCsv, FollowsTheReadingRules) {
  const ParseCase cases[] = {
      {"", {}},
      {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
      {"a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
      {"a\r\n\r\nb", {{"a"}, {""}, {"b"}}},
      {"a\r\n\r\n", {{"a"}, {""}}},
      {"\r\n", {{""}}},
      {"a\n\rb", {{"a"}, {""}, {"b"}}},
      {"a\rb\nc\r\n", {{"a"}, {"b"}, {"c"}}},
      {"a,", {{"a", ""}}},
      {",", {{"", ""}}},
      {"\"\"", {}},
      {"\"\",\"\"", {{"", ""}}},
      {"ab\"c,d\"e,f", {{"abc,de", "f"}}},
      {"a\"\"b", {{"ab"}}},
      {"\"a\"\"b\",c", {{"a\"b", "c"}}},
      {"\"\"\"a\"\"\"", {{"\"a\""}}},
      {"\"a\"b\"c\"", {{"abc"}}},
      {"\"a\r\nb\",c\r\n", {{"a\r\nb", "c"}}},
      {"x,\"abc", {{"x", "abc"}}},
      {"a\r\r\n", {{"a"}, {""}}},
      {std::string("\0,\x80\xFF\r\n\"\0\"", 9), {{std::string(1, '\0'), "\x80\xFF"}, {std::string(1, '\0')}}},
      {"\xEF\xBB\xBFid", {{"\xEF\xBB\xBFid"}}},
      {"\"open, to the end\r\nstill", {{"open, to the end\r\nstill"}}},
  };
  for (const ParseCase& c : cases) EXPECT_EQ(Rows(ParseCsv(c.text)), c.rows) << "text: " << c.text;
}

TEST(ParseCsv, LongRunsAcrossBlockBoundaries) {
  // Quoted pieces shift everything after them; runs of every length meet
  // the 64-byte scanning blocks at every offset.
  for (std::size_t length = 0; length < 140; length += 7) {
    std::string field(length, 'x');
    std::string text;
    std::vector<CsvRow> rows;
    for (int r = 0; r < 20; ++r) {
      text += "\"" + field + "\"\"q\"," + field + "\r\n";
      rows.push_back({field + "\"q", field});
    }
    EXPECT_EQ(Rows(ParseCsv(text)), rows) << length;
  }
}

TEST(SerializeCsv, WritesEveryFieldQuoted) {
  EXPECT_EQ(SerializeCsv(Table({{"a", ""}, {"x\"y"}}), true), "\xEF\xBB\xBF\"a\",\"\"\r\n\"x\"\"y\"\r\n");
  EXPECT_EQ(SerializeCsv(Table({{""}}), false), "\"\"\r\n");
  EXPECT_EQ(SerializeCsv(Table({{}}), false), "\r\n");
  EXPECT_EQ(SerializeCsv(Table({}), true), "\xEF\xBB\xBF");
  EXPECT_EQ(SerializeCsv(Table({}), false), "");
  EXPECT_EQ(FormatCsvRow({"a", "", "q\"q"}), "\"a\",\"\",\"q\"\"q\"");
  EXPECT_EQ(FormatCsvRow({}), "");
  EXPECT_EQ(QuoteCsvField(""), "\"\"");
  EXPECT_EQ(QuoteCsvField("\"\""), "\"\"\"\"\"\"");
  EXPECT_EQ(QuoteCsvField("plain"), "\"plain\"");
}

TEST(CsvTable, ChangesKeepOtherFields) {
  CsvTable table = ParseCsv("h1,h2,h3\r\nshort\r\n1,2,3\r\n");
  table.ExtendRow(1, 3);
  table.SetField(1, 2, "new value");
  table.SetField(2, 0, "");
  table.ExtendRow(2, 2);  // already long enough
  table.ExtendRow(2, 5);
  table.SetField(2, 4, "tail");
  std::string_view kept = table.field(1, 2);
  EXPECT_EQ(kept, "new value");
  EXPECT_EQ(Rows(table), (std::vector<CsvRow>{{"h1", "h2", "h3"}, {"short", "", "new value"}, {"", "2", "3", "", "tail"}}));
  EXPECT_EQ(SerializeCsv(table, false),
            "\"h1\",\"h2\",\"h3\"\r\n\"short\",\"\",\"new value\"\r\n\"\",\"2\",\"3\",\"\",\"tail\"\r\n");
}

std::vector<CsvRow> RandomRows(std::mt19937& random) {
  static const char kAlphabet[] = {'"', ',', '\r', '\n', '\0', 'a', 'b', ' ', '\x80', '\xE3', '\xFF'};
  std::vector<CsvRow> rows(random() % 6);
  for (CsvRow& row : rows) {
    row.resize(1 + random() % 5);
    for (std::string& field : row) {
      std::size_t length = random() % 4 == 0 ? random() % 200 : random() % 6;
      for (std::size_t i = 0; i < length; ++i) field.push_back(kAlphabet[random() % sizeof kAlphabet]);
    }
  }
  return rows;
}

TEST(SerializeCsv, RoundTripsThroughParseCsv) {
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::vector<CsvRow> rows = RandomRows(random);
    CsvTable table = Table(rows);
    bool bom = random() % 2;
    std::string text = SerializeCsv(table, bom);
    std::string streamed;
    SerializeCsv(table, bom, [&](std::string_view chunk) { streamed.append(chunk); });
    ASSERT_EQ(streamed, text);
    CsvTable parsed = ParseCsv(text.substr(bom ? 3 : 0));
    ASSERT_EQ(Rows(parsed), rows) << "table " << i;
    // Parsing past the mark inside the buffer reads the same rows.
    ASSERT_EQ(Rows(ParseCsv(text, bom ? 3 : 0)), rows) << "table " << i;
    // Serialising a parsed table writes its bytes back unchanged.
    ASSERT_EQ(SerializeCsv(parsed, bom), text);
  }
}

// Random padding and replacement, in any order over any rows, against plain
// rows of strings: padded fields read empty until set, and setting one never
// disturbs another row.
TEST(CsvTable, EditsAgreeWithPlainRows) {
  std::mt19937 random(11);
  for (int i = 0; i < 300; ++i) {
    std::vector<CsvRow> model = RandomRows(random);
    if (model.empty()) continue;
    CsvTable table = ParseCsv(SerializeCsv(Table(model), false));
    for (int step = 0; step < 40; ++step) {
      std::size_t row = random() % model.size();
      if (random() % 2) {
        std::size_t count = random() % 8;
        table.ExtendRow(row, count);
        if (model[row].size() < count) model[row].resize(count);
      } else if (!model[row].empty()) {
        std::size_t index = random() % model[row].size();
        std::string value = random() % 3 ? "v" + std::to_string(step) : "";
        table.SetField(row, index, value);
        model[row][index] = value;
      }
    }
    ASSERT_EQ(Rows(table), model) << "table " << i;
    ASSERT_EQ(SerializeCsv(table, false), SerializeCsv(Table(model), false)) << "table " << i;
  }
}

TEST(SerializeCsv, StreamsLargeTablesInChunks) {
  std::string text;
  for (int r = 0; r < 200000; ++r) text += "\"" + std::to_string(r) + "\",C:\\images\\" + std::to_string(r) + ".jpg,\"a\"\"b\"\r\n";
  CsvTable table = ParseCsv(text);
  std::string whole = SerializeCsv(table, false);
  std::string streamed;
  int chunks = 0;
  SerializeCsv(table, false, [&](std::string_view chunk) { streamed.append(chunk); ++chunks; });
  EXPECT_GT(chunks, 1);
  EXPECT_EQ(streamed, whole);
  EXPECT_EQ(Rows(ParseCsv(whole)), Rows(table));
}

}  // namespace
}  // namespace orlenta
