#include "csv/csv.h"

#include <gtest/gtest.h>

namespace orlenta {
namespace {

using Rows = std::vector<CsvRow>;

Rows RowsOf(const CsvTable& table) {
  Rows rows;
  for (std::size_t r = 0; r < table.row_count(); ++r) rows.push_back(table.CopyRow(r));
  return rows;
}

// The scanner reads 64-byte blocks: a stray quote, a doubled quote, a CR LF
// and a comma must each come out right at every offset, also across blocks.
TEST(ParseCsv, RunsAcrossBlockBoundaries) {
  for (std::size_t n = 0; n < 140; ++n) {
    const std::string x(n, 'x');
    CsvTable table = ParseCsv("y" + x + "\",\"a\"\"b\r\nc\"" + x + ",\r\n" + x + "\r" + x + "z");
    EXPECT_EQ(RowsOf(table), (Rows{{"y" + x + "\"", "a\"b\r\nc" + x, ""}, {x}, {x + "z"}})) << n;
    EXPECT_EQ(SerializeCsv(table, false), "\"y" + x + "\"\"\",\"a\"\"b\r\nc" + x + "\",\"\"\r\n\"" + x +
                                              "\"\r\n\"" + x + "z\"\r\n") << n;
  }
}

}  // namespace
}  // namespace orlenta
