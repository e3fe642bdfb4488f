// Arbitrary bytes through the CSV reader and writer. The table must equal
// what a plain byte-at-a-time reading of the rules gives, the written text
// must equal a plain writer's, writing and reading again must give the same
// table, and the table must stay right when fields are replaced and rows
// extended or appended the way the job does it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv.h"

namespace {

#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

using Table = std::vector<std::vector<std::string>>;

// The reading rules exactly as the mode table states them, one byte per
// step: too slow for real files, simple enough to trust.
Table ReferenceParse(std::string_view text) {
  Table table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    const bool next_is = i + 1 < text.size();
    if (!quoted) {
      if (c == '"') {
        quoted = true;
        i += 1;
      } else if (c == ',') {
        row.push_back(field);
        field.clear();
        i += 1;
      } else if (c == '\r' || c == '\n') {
        row.push_back(field);
        field.clear();
        table.push_back(row);
        row.clear();
        i += (c == '\r' && next_is && text[i + 1] == '\n') ? 2 : 1;
      } else {
        field.push_back(c);
        i += 1;
      }
    } else if (c == '"' && next_is && text[i + 1] == '"') {
      field.push_back('"');
      i += 2;
    } else if (c == '"') {
      quoted = false;
      i += 1;
    } else {
      field.push_back(c);
      i += 1;
    }
  }
  if (!field.empty() || !row.empty()) {
    row.push_back(field);
    table.push_back(row);
  }
  return table;
}

std::string ReferenceQuote(std::string_view field) {
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string ReferenceLine(const std::vector<std::string>& row) {
  std::string line;
  for (std::size_t f = 0; f < row.size(); ++f) {
    if (f > 0) line.push_back(',');
    line += ReferenceQuote(row[f]);
  }
  return line;
}

std::string ReferenceSerialize(const Table& table) {
  std::string text;
  for (const auto& row : table) text += ReferenceLine(row) + "\r\n";
  return text;
}

void CheckSame(const orlenta::CsvTable& table, const Table& expected) {
  FUZZ_CHECK(table.row_count() == expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) {
    FUZZ_CHECK(table.field_count(r) == expected[r].size());
    for (std::size_t f = 0; f < expected[r].size(); ++f) {
      FUZZ_CHECK(table.field(r, f) == expected[r][f]);
    }
    FUZZ_CHECK(table.CopyRow(r) == expected[r]);
  }
}

// Checks every way of writing `table` against the plain writer, and returns
// the text. The streamed form costs a large buffer per call, so it is
// checked only where `streamed_too` asks for it.
std::string CheckWriting(const orlenta::CsvTable& table, const Table& expected,
                         bool streamed_too) {
  const std::string text = orlenta::SerializeCsv(table, false);
  FUZZ_CHECK(text == ReferenceSerialize(expected));
  FUZZ_CHECK(orlenta::SerializeCsv(table, true) == "\xEF\xBB\xBF" + text);
  if (streamed_too) {
    std::string streamed;
    orlenta::SerializeCsv(table, true, [&](std::string_view chunk) { streamed.append(chunk); });
    FUZZ_CHECK(streamed == "\xEF\xBB\xBF" + text);
  }
  for (std::size_t r = 0; r < expected.size(); ++r) {
    FUZZ_CHECK(orlenta::FormatCsvRow(table.CopyRow(r)) == ReferenceLine(expected[r]));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Table expected = ReferenceParse(input);
  orlenta::CsvTable table = orlenta::ParseCsv(std::string(input));
  CheckSame(table, expected);
  // The job parses past a byte-order mark inside the buffer it read.
  CheckSame(orlenta::ParseCsv("\xEF\xBB\xBF" + std::string(input), 3), expected);
  for (const auto& row : expected) {
    for (const auto& field : row) FUZZ_CHECK(orlenta::QuoteCsvField(field) == ReferenceQuote(field));
  }

  // Every row holds a field, so what is written reads back as the same table.
  const std::string written = CheckWriting(table, expected, false);
  orlenta::CsvTable reread = orlenta::ParseCsv(written);
  FUZZ_CHECK(reread == table);
  CheckSame(reread, expected);

  // The job's changes: rows extended to reach the image columns, cells
  // replaced by texts of any length (here slices of the input, so they hold
  // quotes and line ends too), rows appended. A replacement taken from the
  // table's own bytes must be copied before the old field goes.
  for (std::size_t r = 0; r < expected.size(); ++r) {
    const std::size_t reach = 1 + (r + size) % 4;
    table.ExtendRow(r, reach);
    while (expected[r].size() < reach) expected[r].emplace_back();
    const std::size_t at = (r * 7 + size) % expected[r].size();
    const std::string_view slice = input.substr((r * 13) % (size + 1), r % 9);
    table.SetField(r, at, slice);
    expected[r][at] = std::string(slice);
    if (expected[r].size() > 1) {
      const std::size_t other = (at + 1) % expected[r].size();
      table.SetField(r, other, table.field(r, at));
      expected[r][other] = expected[r][at];
    }
  }
  const orlenta::CsvRow appended = {std::string(input.substr(0, size / 2)), "", "\"\r\n,"};
  table.AppendRow(appended);
  expected.push_back(appended);
  CheckSame(table, expected);
  reread = orlenta::ParseCsv(CheckWriting(table, expected, true));
  FUZZ_CHECK(reread == table);

  // A row that holds no fields is written as a bare line end.
  table.AppendRow({});
  expected.emplace_back();
  CheckSame(table, expected);
  CheckWriting(table, expected, false);
  return 0;
}
