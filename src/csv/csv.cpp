// Representation: the table owns the parsed text, unescaped in place (which
// only ever shrinks it), and each field is an 8-byte reference into it: an
// offset from its row's start and a length. Fields that a caller sets, and
// the rare field too long for that encoding, live in a side store that the
// table owns. A parsed table thus costs its text plus 8 bytes per field
// plus 24 bytes per row, about 1.6 times the text for typical exports.
#include "csv/csv.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orlenta {

struct CsvTable::FieldRef {
  std::uint32_t offset;  // from the row's base, or the side-store index
  std::uint32_t length;  // kSide: the field lives in the side store
};

struct CsvTable::Row {
  std::uint64_t base;   // offset of the row's first byte in the text
  std::uint64_t first;  // index of its first FieldRef
  std::uint64_t count;  // fields in the row
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
// the reference arrays are allocated once, at their final size.
void CountBounds(const char* text, std::size_t size, std::size_t& fields, std::size_t& rows) {
  std::size_t commas = 0, ends = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; i + 16 <= size; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    unsigned c = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)));
    unsigned r = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
    unsigned l = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    commas += static_cast<std::size_t>(std::popcount(c));
    ends += static_cast<std::size_t>(std::popcount(r) + std::popcount(l));
  }
#endif
  for (; i < size; ++i) {
    commas += text[i] == ',';
    ends += text[i] == '\r' || text[i] == '\n';
  }
  rows = ends + 1;
  fields = commas + ends + 1;
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
  const FieldRef& f = fields_[r.first + index];
  if (f.length == kSide) return side_[f.offset];
  return std::string_view(text_.data() + r.base + f.offset, f.length);
}

void CsvTable::SetField(std::size_t row, std::size_t index, std::string_view bytes) {
  fields_[rows_[row].first + index] = StoreAside(bytes);
}

CsvTable::FieldRef CsvTable::StoreAside(std::string_view bytes) {
  if (bytes.empty()) return FieldRef{0, 0};
  side_.emplace_back(bytes);
  return FieldRef{static_cast<std::uint32_t>(side_.size() - 1), kSide};
}

void CsvTable::ExtendRow(std::size_t row, std::size_t count) {
  Row& r = rows_[row];
  if (r.count >= count) return;
  if (r.first + r.count != fields_.size()) {
    // Not the last row in the array: move its references to the end.
    std::size_t first = fields_.size();
    fields_.reserve(first + count);
    for (std::size_t i = 0; i < r.count; ++i) fields_.push_back(fields_[r.first + i]);
    r.first = first;
  }
  fields_.resize(r.first + count, FieldRef{0, 0});
  r.count = count;
}

void CsvTable::AppendRow(const CsvRow& fields) {
  Row r{0, fields_.size(), fields.size()};
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

bool operator==(const CsvTable& a, const CsvTable& b) {
  if (a.row_count() != b.row_count()) return false;
  for (std::size_t r = 0; r < a.row_count(); ++r) {
    if (a.field_count(r) != b.field_count(r)) return false;
    for (std::size_t i = 0; i < a.field_count(r); ++i)
      if (a.field(r, i) != b.field(r, i)) return false;
  }
  return true;
}

// The parser unescapes in place: `w` (write) never passes `r` (read), so
// the bytes not yet read are never overwritten.
CsvTable ParseCsv(std::string text) {
  CsvTable table;
  const std::size_t n = text.size();
  if (n == 0) return table;
  std::size_t field_bound = 0, row_bound = 0;
  CountBounds(text.data(), n, field_bound, row_bound);
  table.fields_.reserve(field_bound);
  table.rows_.reserve(row_bound);

  char* t = text.data();
  std::size_t r = 0, w = 0;      // read and write positions
  std::size_t field_start = 0;   // write position where the current field began
  std::size_t row_base = 0;      // write position where the current row began
  std::size_t row_first = 0;     // index of the current row's first FieldRef
  bool quoted = false;

  auto move_run = [&](std::size_t end) {  // the content bytes [r, end)
    std::size_t len = end - r;
    if (w != r) {
      // Short runs far enough behind: one 16-byte move that cannot reach
      // unread bytes.
      if (len <= 16 && r - w + len >= 16 && r + 16 <= n) {
        char chunk[16];
        std::memcpy(chunk, t + r, 16);
        std::memcpy(t + w, chunk, 16);
      } else {
        std::memmove(t + w, t + r, len);
      }
    }
    w += len;
  };
  auto end_field = [&] {
    std::size_t offset = field_start - row_base, length = w - field_start;
    if (offset < kSide && length < kSide) {
      table.fields_.push_back(CsvTable::FieldRef{static_cast<std::uint32_t>(offset),
                                                 static_cast<std::uint32_t>(length)});
    } else {
      table.fields_.push_back(table.StoreAside(std::string_view(t + field_start, length)));
    }
    field_start = w;
  };
  auto end_row = [&] {
    table.rows_.push_back(CsvTable::Row{row_base, row_first, table.fields_.size() - row_first});
    row_base = w;
    row_first = table.fields_.size();
    field_start = w;
  };
  auto handle = [&](std::size_t p) {
    if (p < r) return;  // the LF of a CR LF, or the second quote of a pair
    char c = t[p];
    if (quoted) {
      if (c != '"') return;
      if (p + 1 < n && t[p + 1] == '"') {
        move_run(p + 1);  // keeps one quote
        r = p + 2;
      } else {
        move_run(p);
        r = p + 1;
        quoted = false;
      }
      return;
    }
    move_run(p);
    switch (c) {
      case '"':
        quoted = true;
        r = p + 1;
        break;
      case ',':
        end_field();
        r = p + 1;
        break;
      default:  // CR or LF
        end_field();
        end_row();
        r = (c == '\r' && p + 1 < n && t[p + 1] == '\n') ? p + 2 : p + 1;
        break;
    }
  };

  std::size_t block = 0;
  for (; block + 64 <= n; block += 64) {
    for (std::uint64_t mask = SpecialMask(t + block); mask != 0; mask &= mask - 1)
      handle(block + static_cast<std::size_t>(std::countr_zero(mask)));
  }
  if (block < n) {
    char tail[64] = {};
    std::memcpy(tail, t + block, n - block);
    for (std::uint64_t mask = SpecialMask(tail); mask != 0; mask &= mask - 1) {
      std::size_t p = block + static_cast<std::size_t>(std::countr_zero(mask));
      if (p < n) handle(p);
    }
  }
  if (r < n) move_run(n);
  if (w > field_start || table.fields_.size() > row_first) {
    end_field();
    end_row();
  }
  text.resize(w);
  table.text_ = std::move(text);
  return table;
}

namespace {

// Writes quoted fields into a buffer that is either the whole result (never
// flushed) or a reusable chunk handed to a sink when full. The buffer keeps
// 16 spare bytes past `end_` for the short-field fast path.
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

  // `field` in quotes, inner quotes doubled; `safe_16` says 16 bytes may be
  // read from field.data().
  void PutQuoted(std::string_view field, bool safe_16) {
#if defined(__SSE2__)
    if (safe_16 && field.size() <= 16 && end_ - cursor_ >= 18) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field.data()));
      unsigned quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
      if ((quotes & ((1u << field.size()) - 1u)) == 0) {
        cursor_[0] = '"';
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cursor_ + 1), v);  // spare bytes absorb the rest
        cursor_[1 + field.size()] = '"';
        cursor_ += field.size() + 2;
        return;
      }
    }
#else
    (void)safe_16;
#endif
    Put('"');
    const char* p = field.data();
    const char* end = p + field.size();
    while (const char* q = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)))) {
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

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kSpare = 16;

}  // namespace

void CsvTable::WriteTo(FieldWriterRef out_ref, bool with_bom) const {
  FieldWriter& out = *static_cast<FieldWriter*>(out_ref);
  if (with_bom) out.Put(kBom.data(), kBom.size());
  const char* text_end = text_.data() + text_.size();
  for (const Row& row : rows_) {
    for (std::size_t i = 0; i < row.count; ++i) {
      if (i != 0) out.Put(',');
      const FieldRef& f = fields_[row.first + i];
      if (f.length == kSide) {
        out.PutQuoted(side_[f.offset], false);
      } else {
        const char* data = text_.data() + row.base + f.offset;
        out.PutQuoted(std::string_view(data, f.length), data + 16 <= text_end);
      }
    }
    out.Put("\r\n", 2);
  }
}

std::size_t CsvTable::SerializedSize(bool with_bom) const {
  std::size_t size = with_bom ? kBom.size() : 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const std::size_t count = rows_[r].count;
    size += 2 + (count > 0 ? count - 1 : 0);
    for (std::size_t i = 0; i < count; ++i) {
      std::string_view f = field(r, i);
      size += f.size() + 2;
      for (const char* p = f.data(), *end = p + f.size();
           (p = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)))) != nullptr; ++p)
        ++size;
    }
  }
  return size;
}

std::string QuoteCsvField(std::string_view field) {
  std::string quoted(field.size() + 2 + static_cast<std::size_t>(std::count(field.begin(), field.end(), '"')) + kSpare, '\0');
  FieldWriter out(quoted.data(), quoted.data() + quoted.size() - kSpare, nullptr);
  out.PutQuoted(field, false);
  quoted.resize(out.written());
  return quoted;
}

std::string SerializeCsv(const CsvTable& table, bool with_bom) {
  std::size_t size = table.SerializedSize(with_bom);
  std::string text(size + kSpare, '\0');
  FieldWriter out(text.data(), text.data() + size, nullptr);
  table.WriteTo(&out, with_bom);
  text.resize(out.written());
  return text;
}

void SerializeCsv(const CsvTable& table, bool with_bom,
                  const std::function<void(std::string_view)>& sink) {
  constexpr std::size_t kChunk = std::size_t{1} << 21;
  std::unique_ptr<char[]> buffer(new char[kChunk + kSpare]);
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
