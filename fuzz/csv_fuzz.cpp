// Arbitrary bytes through the CSV reader and writer: the table must equal a
// plain byte-at-a-time reading of the rules, what is written must read back
// as the same table, and both must hold through the job's edits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv.h"
#include "fuzz_check.h"

namespace {

using Table = std::vector<std::vector<std::string>>;

// The reading rules one byte per step: too slow for real files, easy to trust.
Table ReferenceParse(std::string_view text) {
  Table table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      field.push_back('"');
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (quoted || (c != ',' && c != '\r' && c != '\n')) {
      field.push_back(c);
    } else {
      row.push_back(std::move(field));
      field.clear();
      if (c == ',') continue;
      table.push_back(std::move(row));
      row.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
  }
  if (!field.empty() || !row.empty()) {
    row.push_back(std::move(field));
    table.push_back(std::move(row));
  }
  return table;
}

void CheckSame(const orlenta::CsvTable& table, const Table& expected) {
  FUZZ_CHECK(table.row_count() == expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) FUZZ_CHECK(table.CopyRow(r) == expected[r]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Table expected = ReferenceParse(input);
  // The job parses past a byte-order mark left in the buffer it read.
  orlenta::CsvTable table = orlenta::ParseCsv("\xEF\xBB\xBF" + std::string(input), 3);
  CheckSame(table, expected);
  CheckSame(orlenta::ParseCsv(std::string(input)), expected);

  // The job's edits: rows extended to reach the image columns, cells set to
  // texts of any bytes (slices of the input, holding quotes and line ends),
  // a cell set from the table's own bytes, which must be copied before the
  // old field goes, and rows appended.
  for (std::size_t r = 0; r < expected.size(); ++r) {
    const std::size_t reach = 1 + (r + size) % 4;
    table.ExtendRow(r, reach);
    if (expected[r].size() < reach) expected[r].resize(reach);
    const std::size_t at = (r * 7 + size) % expected[r].size();
    const std::string_view slice = input.substr((r * 13) % (size + 1), r % 9);
    table.SetField(r, at, slice);
    expected[r][at] = slice;
    const std::size_t other = (at + 1) % expected[r].size();
    table.SetField(r, other, table.field(r, at));
    expected[r][other] = expected[r][at];
  }
  const orlenta::CsvRow appended = {std::string(input.substr(0, size / 2)), "", "\"\r\n,"};
  table.AppendRow(appended);
  expected.push_back(appended);
  CheckSame(table, expected);
  // Every field quoted and quotes doubled, so the written text reads back
  // as the same table (the job writes no row without fields, which would not).
  CheckSame(orlenta::ParseCsv(orlenta::SerializeCsv(table, true), 3), expected);
  return 0;
}
