// Arbitrary bytes through both text conversions, read once as UTF-8 and once
// as UTF-16 code units. Neither conversion may fail on content; valid UTF-8
// must decode exactly as the standard says and come back byte for byte;
// malformed input must leave the text before its first fault intact, mark
// the fault with U+FFFD and yield well-formed UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "text/app_exception.h"
#include "text/text.h"

namespace {

#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

constexpr char16_t kReplacement = 0xFFFD;

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes the well-formed UTF-8 at the start of `bytes` (RFC 3629: shortest
// forms only, no surrogates, nothing above U+10FFFF) into `out`; returns how
// many bytes that took.
std::size_t DecodeValidPrefix(std::string_view bytes, std::u16string& out) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
    std::size_t length;
    char32_t cp;
    char32_t min;
    if (b0 < 0x80) {
      length = 1, cp = b0, min = 0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
      return i;
    }
    if (i + length > bytes.size()) return i;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    AppendCodePoint(out, cp);
    i += length;
  }
  return i;
}

// UTF-8 of `text` with each unpaired surrogate written as U+FFFD.
std::string ReferenceEncode(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHigh(text[i]) || IsLow(text[i])) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool IsWellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i])) {
      if (i + 1 >= text.size() || !IsLow(text[i + 1])) return false;
      ++i;
    } else if (IsLow(text[i])) {
      return false;
    }
  }
  return true;
}

// The conversions, with a thrown AppException turned into a fuzz failure:
// content must never make them fail.
std::u16string ToWide(std::string_view bytes) {
  try {
    return orlenta::Utf8ToWide(bytes);
  } catch (const orlenta::AppException&) {
    std::fprintf(stderr, "Utf8ToWide threw on %zu bytes\n", bytes.size());
    std::abort();
  }
}

std::string ToUtf8(std::u16string_view text) {
  try {
    return orlenta::WideToUtf8(text);
  } catch (const orlenta::AppException&) {
    std::fprintf(stderr, "WideToUtf8 threw on %zu units\n", text.size());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // As UTF-8.
  const std::u16string wide = ToWide(bytes);
  std::u16string prefix;
  const std::size_t valid = DecodeValidPrefix(bytes, prefix);
  FUZZ_CHECK(wide.size() <= bytes.size());
  FUZZ_CHECK(IsWellFormed(wide));
  if (valid == bytes.size()) {
    FUZZ_CHECK(wide == prefix);
    FUZZ_CHECK(ToUtf8(wide) == bytes);
  } else {
    FUZZ_CHECK(wide.compare(0, prefix.size(), prefix) == 0);
    FUZZ_CHECK(wide.size() > prefix.size() && wide[prefix.size()] == kReplacement);
    // What comes out is well-formed, so it survives a second round exactly.
    FUZZ_CHECK(ToWide(ToUtf8(wide)) == wide);
  }

  // As UTF-16 code units, little-endian; an odd last byte is left out.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const std::string utf8 = ToUtf8(units);
  FUZZ_CHECK(utf8.size() <= 3 * units.size());
  FUZZ_CHECK(utf8 == ReferenceEncode(units));
  std::u16string decoded;
  FUZZ_CHECK(DecodeValidPrefix(utf8, decoded) == utf8.size());
  if (IsWellFormed(units)) FUZZ_CHECK(ToWide(utf8) == units);
  return 0;
}
