// CSV reading and writing on bytes. Only '"', ',', CR and LF mean anything,
// and '"' only inside quotes or as a field's first byte, where it opens
// quoting: a quote inside an unquoted field (an inch mark) is content, as
// spreadsheets read it. Every other byte (NUL and 0x80-0xFF included) is
// field content. The reader accepts any bytes; the writer quotes every field,
// doubles its quotes and ends every record with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

/// One record as standalone byte strings.
using CsvRow = std::vector<std::string>;

/// A whole parsed file, row 0 being the header. Rows may differ in length.
/// It owns the parsed text; fields are compact references into it.
class CsvTable {
 public:
  CsvTable();
  CsvTable(CsvTable&&) noexcept;
  CsvTable& operator=(CsvTable&&) noexcept;
  ~CsvTable();

  std::size_t row_count() const;
  std::size_t field_count(std::size_t row) const;
  /// The bytes of one field; valid until the table changes.
  std::string_view field(std::size_t row, std::size_t index) const;

  /// Replaces field `index` of `row` by a copy of `bytes`.
  void SetField(std::size_t row, std::size_t index, std::string_view bytes);
  /// Appends empty fields to `row` until it holds at least `count` fields.
  void ExtendRow(std::size_t row, std::size_t count);
  /// Appends a row holding copies of `fields` (which may be empty).
  void AppendRow(const CsvRow& fields);
  /// Row `row` as standalone byte strings.
  CsvRow CopyRow(std::size_t row) const;

  /// Bytes of memory the table holds, its text included.
  std::size_t MemoryUsage() const;

 private:
  struct FieldRef;
  struct Row;
  using FieldWriterRef = void*;

  FieldRef StoreAside(std::string_view bytes);
  static std::uint32_t CheckedCount(std::size_t count);
  std::size_t SerializedSize(bool with_bom) const;
  void WriteTo(FieldWriterRef out, bool with_bom) const;

  friend CsvTable ParseCsv(std::string text, std::size_t from);
  friend std::string SerializeCsv(const CsvTable& table, bool with_bom);
  friend void SerializeCsv(const CsvTable& table, bool with_bom,
                           const std::function<void(std::string_view)>& sink);

  std::string text_;              // the parsed text; fields unescaped in place
  std::vector<FieldRef> fields_;  // every row's field references, row after row
  std::vector<Row> rows_;
  std::vector<std::string> side_;  // fields set by callers, and overlong ones
};

/// Parses `text` (without a byte-order mark). Takes the text: its buffer
/// becomes the table's storage. An empty text gives a table without rows.
CsvTable ParseCsv(std::string text);

/// Parses text[from, end): the bytes before `from` (a byte-order mark) stay
/// in the buffer unread, which spares moving the whole text to drop them.
CsvTable ParseCsv(std::string text, std::size_t from);

/// The whole CSV text: EF BB BF when `with_bom`, then each row's quoted
/// fields joined by commas, each row followed by CR LF.
std::string SerializeCsv(const CsvTable& table, bool with_bom);

/// The same bytes as SerializeCsv, handed to `sink` in order in large chunks,
/// so that a caller can stream them into a file.
void SerializeCsv(const CsvTable& table, bool with_bom,
                  const std::function<void(std::string_view)>& sink);

/// One row as one CSV line without a line end.
std::string FormatCsvRow(const CsvRow& row);

}  // namespace orlenta
