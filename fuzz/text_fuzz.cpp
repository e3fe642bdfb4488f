// Arbitrary bytes through both text conversions, read once as UTF-8 and once
// as UTF-16 code units. No content may make a conversion fail (an exception
// escapes and fails the run); valid UTF-8 comes back byte for byte, malformed
// UTF-8 still gives text that does, and the lengths are exact.
#include "fuzz_check.h"
#include "text/text.h"

namespace {

// The UTF-16 length of `bytes` if they are well-formed UTF-8 (shortest forms,
// no surrogates, nothing above U+10FFFF), else npos.
std::size_t Utf16LengthOfValid(std::string_view bytes) {
  std::size_t units = 0;
  for (std::size_t i = 0, length; i < bytes.size(); i += length) {
    const unsigned char b = bytes[i];
    length = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
    if (length == 0 || i + length > bytes.size()) return std::string::npos;
    char32_t cp = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return std::string::npos;
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::string::npos;
    units += length == 4 ? 2 : 1;
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = orlenta::Utf8ToWide(bytes);
  const std::size_t valid_length = Utf16LengthOfValid(bytes);
  FUZZ_CHECK(valid_length != std::string::npos
                 ? wide.size() == valid_length && orlenta::WideToUtf8(wide) == bytes
                 : wide.size() <= bytes.size() && wide.find(u'\xFFFD') != std::u16string::npos &&
                       orlenta::Utf8ToWide(orlenta::WideToUtf8(wide)) == wide);

  // As UTF-16 code units, little-endian (an odd last byte left out): what
  // comes back is the same text with each unpaired surrogate made U+FFFD.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = char16_t(data[2 * i] | data[2 * i + 1] << 8);
  std::u16string repaired = units;
  for (std::size_t i = 0; i < units.size(); ++i) {
    if ((units[i] & 0xFC00) == 0xD800 && i + 1 < units.size() && (units[i + 1] & 0xFC00) == 0xDC00)
      ++i;
    else if ((units[i] & 0xF800) == 0xD800)
      repaired[i] = u'\xFFFD';
  }
  const std::string utf8 = orlenta::WideToUtf8(units);
  FUZZ_CHECK(Utf16LengthOfValid(utf8) == units.size() && orlenta::Utf8ToWide(utf8) == repaired);
  return 0;
}
