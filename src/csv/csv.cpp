// Representation: the table owns the text it parsed, and each field is an
// 8-byte reference into it: an offset from its row's start and a length.
// Fields that a caller sets, and the rare field too long for that encoding,
// live in a side store that the table owns. A parsed table thus costs its
// text plus 8 bytes per field plus 24 bytes per row, about 1.6 times the
// text for typical exports.
#include "csv/csv.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/text.h"

namespace orlenta {

struct CsvTable::FieldRef {
  std::uint32_t offset;  // from the row's base, or the side-store index
  std::uint32_t length;  // kSide: the field lives in the side store
};

// A row's fields past `stored` are empty and have no reference: padding a
// short row costs nothing until one of those fields is set.
struct CsvTable::Row {
  std::uint64_t base;    // offset of the row's first byte in the text
  std::uint64_t first;   // index of its first FieldRef
  std::uint32_t stored;  // fields with a reference
  std::uint32_t count;   // fields in the row
};

namespace {

constexpr std::uint32_t kSide = std::numeric_limits<std::uint32_t>::max();

// Bit i set when block[i] is '"', ',', CR or LF; 64 bytes at a time.
inline std::uint64_t SpecialMask(const char* block) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), comma = _mm_set1_epi8(','),
                cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, comma)),
                               _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(hit))) << (16 * k);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) {
    char c = block[i];
    if (c == '"' || c == ',' || c == '\r' || c == '\n') mask |= std::uint64_t{1} << i;
  }
  return mask;
#endif
}

// Upper bounds of the fields and rows that `text` can parse into, so that
// the reference arrays are allocated once, at their final size: every row
// end (CR, LF, or CR LF as one) may end a row, and every comma or row end a
// field. Bytes are counted in vector lanes, as baseline x86-64 has no
// popcount instruction.
void CountBounds(const char* text, std::size_t size, std::size_t& fields, std::size_t& rows) {
  std::size_t separators = 0, ends = 0;  // commas and row ends; row ends
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  while (i + 17 <= size) {
    // Byte lanes count to at most 255 before they are summed.
    __m128i sep_lanes = zero, end_lanes = zero;
    for (int k = 0; k < 255 && i + 17 <= size; ++k, i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 1));
      __m128i is_cr = _mm_cmpeq_epi8(v, cr);
      // A CR followed by LF ends one row, counted at its LF.
      __m128i end = _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(next, lf), is_cr), _mm_cmpeq_epi8(v, lf));
      end_lanes = _mm_sub_epi8(end_lanes, end);
      sep_lanes = _mm_sub_epi8(sep_lanes, _mm_or_si128(end, _mm_cmpeq_epi8(v, comma)));
    }
    auto sum = [&](__m128i lanes) {
      __m128i s = _mm_sad_epu8(lanes, zero);
      return static_cast<std::size_t>(_mm_cvtsi128_si32(s)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(s, s)));
    };
    separators += sum(sep_lanes);
    ends += sum(end_lanes);
  }
#endif
  for (; i < size; ++i) {
    bool end = text[i] == '\n' || (text[i] == '\r' && (i + 1 == size || text[i + 1] != '\n'));
    ends += end;
    separators += end || text[i] == ',';
  }
  rows = ends + 1;
  fields = separators + 1;
}

}  // namespace

CsvTable::CsvTable() = default;
CsvTable::CsvTable(CsvTable&&) noexcept = default;
CsvTable& CsvTable::operator=(CsvTable&&) noexcept = default;
CsvTable::~CsvTable() = default;

std::size_t CsvTable::row_count() const { return rows_.size(); }

std::size_t CsvTable::field_count(std::size_t row) const { return rows_[row].count; }

std::string_view CsvTable::field(std::size_t row, std::size_t index) const {
  const Row& r = rows_[row];
  if (index >= r.stored) return {};
  const FieldRef& f = fields_[r.first + index];
  if (f.length == kSide) return side_[f.offset];
  return std::string_view(text_.data() + r.base + f.offset, f.length);
}

void CsvTable::SetField(std::size_t row, std::size_t index, std::string_view bytes) {
  Row& r = rows_[row];
  if (index >= r.stored) {
    if (bytes.empty()) return;  // already empty
    // Give the padding references: the row's references move to the end
    // unless they are already there.
    if (r.first + r.stored != fields_.size()) {
      std::size_t first = fields_.size();
      for (std::size_t i = 0; i < r.stored; ++i) {
        FieldRef f = fields_[r.first + i];
        fields_.push_back(f);
      }
      r.first = first;
    }
    fields_.resize(r.first + r.count, FieldRef{0, 0});
    r.stored = r.count;
  }
  fields_[r.first + index] = StoreAside(bytes);
}

std::uint32_t CsvTable::CheckedCount(std::size_t count) {
  // Out of reach in practice: the references alone would take 32 GiB.
  if (count > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("CSV row too long");
  return static_cast<std::uint32_t>(count);
}

CsvTable::FieldRef CsvTable::StoreAside(std::string_view bytes) {
  if (bytes.empty()) return FieldRef{0, 0};
  side_.emplace_back(bytes);
  return FieldRef{static_cast<std::uint32_t>(side_.size() - 1), kSide};
}

void CsvTable::ExtendRow(std::size_t row, std::size_t count) {
  Row& r = rows_[row];
  if (r.count < count) r.count = CheckedCount(count);
}

void CsvTable::AppendRow(const CsvRow& fields) {
  Row r{0, fields_.size(), CheckedCount(fields.size()), CheckedCount(fields.size())};
  for (const std::string& f : fields) fields_.push_back(StoreAside(f));
  rows_.push_back(r);
}

CsvRow CsvTable::CopyRow(std::size_t row) const {
  CsvRow copy;
  copy.reserve(field_count(row));
  for (std::size_t i = 0; i < field_count(row); ++i) copy.emplace_back(field(row, i));
  return copy;
}

std::size_t CsvTable::MemoryUsage() const {
  std::size_t bytes = text_.capacity() + fields_.capacity() * sizeof(FieldRef) +
                      rows_.capacity() * sizeof(Row) + side_.capacity() * sizeof(std::string);
  for (const std::string& s : side_)
    if (s.capacity() > 15) bytes += s.capacity() + 1;
  return bytes;
}

// Each field is referenced where it stands in the text, its quotes and
// commas left around it. A quote opens quoting only as a field's first byte;
// anywhere else outside quotes it is content and stays where it stands, so
// an unquoted field never moves. Only a quoted field that loses bytes to
// unescaping (a doubled quote, or bytes after its closing quote) is
// compacted, inside its own span: `w` (write) never passes `r` (read), and
// nothing outside the field moves. Typical rows therefore cost one scan and
// no copying.
CsvTable ParseCsv(std::string text) { return ParseCsv(std::move(text), 0); }

CsvTable ParseCsv(std::string text, std::size_t from) {
  CsvTable table;
  const std::size_t n = text.size();
  if (from >= n) return table;
  std::size_t field_bound = 0, row_bound = 0;
  CountBounds(text.data() + from, n - from, field_bound, row_bound);
  table.fields_.reserve(field_bound);
  table.rows_.reserve(row_bound);

  char* t = text.data();
  std::size_t r = from, w = from;  // read position; end of the current field's content so far
  std::size_t field_start = from;  // where the current field's content begins
  std::size_t row_base = from;     // where the current row begins
  std::size_t row_first = 0;     // index of the current row's first FieldRef
  bool quoted = false;
  std::vector<CsvTable::FieldRef>& fields = table.fields_;

  auto move_run = [&](std::size_t end) {  // appends the content bytes [r, end)
    if (w != r) std::memmove(t + w, t + r, end - r);
    w += end - r;
  };
  auto end_field = [&] {
    std::size_t offset = field_start - row_base, length = w - field_start;
    if ((offset | length) < kSide) [[likely]] {
      fields.push_back(CsvTable::FieldRef{static_cast<std::uint32_t>(offset),
                                          static_cast<std::uint32_t>(length)});
    } else {
      fields.push_back(table.StoreAside(std::string_view(t + field_start, length)));
    }
  };
  auto end_row = [&](std::size_t next) {
    const std::uint32_t count = CsvTable::CheckedCount(fields.size() - row_first);
    table.rows_.push_back(CsvTable::Row{row_base, row_first, count, count});
    row_first = fields.size();
    row_base = field_start = w = r = next;
  };
  for (std::size_t block = from; block < n; block += 64) {
    std::uint64_t mask;
    if (block + 64 <= n) [[likely]] {
      mask = SpecialMask(t + block);
    } else {
      char tail[64] = {};
      std::memcpy(tail, t + block, n - block);
      mask = SpecialMask(tail) & ((std::uint64_t{1} << (n - block)) - 1);
    }
    for (; mask != 0; mask &= mask - 1) {
      const std::size_t p = block + static_cast<std::size_t>(std::countr_zero(mask));
      if (p < r) continue;  // the LF of a CR LF, or the second quote of a pair
      const char c = t[p];
      if (quoted) {
        if (c != '"') continue;
        if (p + 1 < n && t[p + 1] == '"') {
          move_run(p + 1);  // keeps one quote
          r = p + 2;
        } else {
          move_run(p);
          r = p + 1;
          quoted = false;
        }
        continue;
      }
      if (c == '"') {
        // Only a field's first byte opens quoting (field_start moves past
        // an opening quote, so no later quote of the field is at it): the
        // field starts after the quote, and nothing has to move.
        if (p == field_start) {
          quoted = true;
          field_start = w = r = p + 1;
        }
        continue;
      }
      move_run(p);
      end_field();
      if (c == ',') {
        field_start = w = r = p + 1;
      } else {  // CR or LF
        end_row((c == '\r' && p + 1 < n && t[p + 1] == '\n') ? p + 2 : p + 1);
      }
    }
  }
  if (r < n) move_run(n);
  if (w > field_start || fields.size() > row_first) {
    end_field();
    end_row(n);
  }
  table.text_ = std::move(text);
  return table;
}

namespace {

// Writes quoted fields into a buffer that is either the whole result (never
// flushed) or a reusable chunk handed to a sink when full.
class FieldWriter {
 public:
  FieldWriter(char* begin, char* end, const std::function<void(std::string_view)>* sink)
      : begin_(begin), cursor_(begin), end_(end), sink_(sink) {}

  void Put(const char* data, std::size_t size) {
    while (size > 0) {
      if (cursor_ == end_) Flush();
      std::size_t n = std::min(size, static_cast<std::size_t>(end_ - cursor_));
      std::memcpy(cursor_, data, n);
      cursor_ += n;
      data += n;
      size -= n;
    }
  }
  void Put(char c) {
    if (cursor_ == end_) Flush();
    *cursor_++ = c;
  }

  // A comma first when `comma`, then `field` in quotes, inner quotes
  // doubled. `readable` bytes may be read from field.data(): when that
  // covers the field rounded up to 16 bytes and the buffer has room, a
  // field without quotes is checked and copied 16 bytes at a time, the
  // bytes past its end overwritten by what follows.
  void PutField(std::string_view field, std::size_t readable, bool comma) {
    const std::size_t size = field.size();
#if defined(__SSE2__)
    const std::size_t padded = (size + 15) & ~std::size_t{15};
    if (padded <= readable && padded + 3 <= static_cast<std::size_t>(end_ - cursor_)) {
      const __m128i quote = _mm_set1_epi8('"');
      char* c = cursor_;
      *c = ',';
      c += comma;
      c[0] = '"';
      std::size_t k = 0;
      for (; k < padded; k += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field.data() + k));
        unsigned quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)));
        if (size - k < 16) quotes &= (1u << (size - k)) - 1u;
        if (quotes != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(c + 1 + k), v);
      }
      if (k >= padded) {
        c[1 + size] = '"';
        cursor_ = c + size + 2;
        return;
      }
      // A quote to double: the bytes written so far are written again below.
    }
#else
    (void)readable;
#endif
    if (comma) Put(',');
    Put('"');
    const char* p = field.data();
    const char* end = p + field.size();
    // An empty field may have no data pointer at all: memchr must not see it.
    while (const char* q = p == end ? nullptr : static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)))) {
      Put(p, static_cast<std::size_t>(q - p + 1));
      Put('"');
      p = q + 1;
    }
    Put(p, static_cast<std::size_t>(end - p));
    Put('"');
  }

  void Flush() {
    if (sink_ && cursor_ != begin_) (*sink_)(std::string_view(begin_, static_cast<std::size_t>(cursor_ - begin_)));
    cursor_ = begin_;
  }
  std::size_t written() const { return static_cast<std::size_t>(cursor_ - begin_); }

 private:
  char* begin_;
  char* cursor_;
  char* end_;
  const std::function<void(std::string_view)>* sink_;
};

}  // namespace

void CsvTable::WriteTo(FieldWriterRef out_ref, bool with_bom) const {
  FieldWriter& out = *static_cast<FieldWriter*>(out_ref);
  if (with_bom) out.Put(kByteOrderMark.data(), kByteOrderMark.size());
  const char* text_end = text_.data() + text_.size();
  for (const Row& row : rows_) {
    for (std::size_t i = 0; i < row.count; ++i) {
      if (i >= row.stored) {
        out.PutField({}, 0, i != 0);
        continue;
      }
      const FieldRef& f = fields_[row.first + i];
      if (f.length == kSide) {
        out.PutField(side_[f.offset], side_[f.offset].size(), i != 0);
      } else {
        const char* data = text_.data() + row.base + f.offset;
        out.PutField(std::string_view(data, f.length), static_cast<std::size_t>(text_end - data), i != 0);
      }
    }
    out.Put("\r\n", 2);
  }
}

std::size_t CsvTable::SerializedSize(bool with_bom) const {
  std::size_t size = with_bom ? kByteOrderMark.size() : 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const std::size_t count = rows_[r].count;
    size += 2 + (count > 0 ? count - 1 : 0);
    for (std::size_t i = 0; i < count; ++i) {
      std::string_view f = field(r, i);
      size += f.size() + 2;
      for (const char* p = f.data(), *end = p + f.size();
           p != end && (p = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)))) != nullptr;
           ++p)
        ++size;
    }
  }
  return size;
}

std::string SerializeCsv(const CsvTable& table, bool with_bom) {
  std::size_t size = table.SerializedSize(with_bom);
  std::string text(size, '\0');
  FieldWriter out(text.data(), text.data() + size, nullptr);
  table.WriteTo(&out, with_bom);
  text.resize(out.written());
  return text;
}

void SerializeCsv(const CsvTable& table, bool with_bom,
                  const std::function<void(std::string_view)>& sink) {
  constexpr std::size_t kChunk = std::size_t{1} << 21;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  FieldWriter out(buffer.get(), buffer.get() + kChunk, &sink);
  table.WriteTo(&out, with_bom);
  out.Flush();
}

std::string FormatCsvRow(const CsvRow& row) {
  CsvTable single;
  single.AppendRow(row);
  std::string line = SerializeCsv(single, false);
  line.resize(line.size() - 2);  // without the CR LF
  return line;
}

}  // namespace orlenta
