// Arbitrary bytes through the CSV reader and writer: the table must equal a
// plain byte-at-a-time reading of the rules, what is written must read back
// as the same table, and both must hold through the job's edits.
#include <algorithm>
#include <utility>
#include <vector>

#include "csv/csv.h"
#include "fuzz_check.h"

namespace {

using Table = std::vector<orlenta::CsvRow>;

// The reading rules one byte per step: too slow for real files, easy to trust.
Table ReferenceParse(std::string_view text) {
  Table table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0, start = 0; i < text.size(); ++i) {  // start: the field's first byte
    const char c = text[i];
    if (quoted && c == '"' && text.substr(i + 1, 1) == "\"") {
      field.push_back(text[++i]);
    } else if (c == '"' && (quoted || i == start)) {
      quoted = !quoted;
    } else if (quoted || (c != ',' && c != '\r' && c != '\n')) {
      field.push_back(c);
    } else {
      row.push_back(std::exchange(field, {}));
      if (c != ',') table.push_back(std::exchange(row, {}));
      if (c == '\r' && text.substr(i + 1, 1) == "\n") ++i;
      start = i + 1;
    }
  }
  if (!field.empty() || !row.empty()) {
    row.push_back(field);
    table.push_back(row);
  }
  return table;
}

Table Rows(const orlenta::CsvTable& table) {
  Table rows;
  for (std::size_t r = 0; r < table.row_count(); ++r) rows.push_back(table.CopyRow(r));
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Table expected = ReferenceParse(input);
  // The job parses past a byte-order mark left in the buffer it read.
  orlenta::CsvTable table = orlenta::ParseCsv("\xEF\xBB\xBF" + std::string(input), 3);
  const orlenta::CsvTable plain = orlenta::ParseCsv(std::string(input));
  FUZZ_CHECK(Rows(table) == expected && Rows(plain) == expected &&
             Rows(orlenta::ParseCsv(orlenta::SerializeCsv(plain, false))) == expected);

  // The job's edits: rows extended to reach the image columns, cells set to
  // texts of any bytes (slices of the input, holding quotes and line ends),
  // a cell set from the table's own bytes, which must be copied before the
  // old field goes, and rows appended.
  for (std::size_t r = 0; r < expected.size(); ++r) {
    orlenta::CsvRow& row = expected[r];
    table.ExtendRow(r, 1 + (r + size) % 4);
    row.resize(std::max(row.size(), 1 + (r + size) % 4));
    const std::size_t at = (r * 7 + size) % row.size(), other = (at + 1) % row.size();
    row[at] = input.substr((r * 13) % (size + 1), r % 9);
    table.SetField(r, at, row[at]);
    table.SetField(r, other, table.field(r, at));
    row[other] = row[at];
  }
  const orlenta::CsvRow appended = {std::string(input.substr(0, size / 2)), "", "\"\r\n,"};
  table.AppendRow(appended);
  expected.push_back(appended);
  // Every field quoted and quotes doubled, so the written text reads back
  // as the same table (the job writes no row without fields, which would not).
  FUZZ_CHECK(Rows(table) == expected &&
             Rows(orlenta::ParseCsv(orlenta::SerializeCsv(table, true), 3)) == expected);
  return 0;
}
