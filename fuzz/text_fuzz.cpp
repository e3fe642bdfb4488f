// Arbitrary bytes through the text functions. Both conversions, the bytes
// read once as UTF-8 and once as UTF-16 code units: no content may make a
// conversion fail (an exception escapes and fails the run); valid UTF-8 comes
// back byte for byte, malformed UTF-8 still gives text that does, and the
// lengths are exact. Then MakeRelativePath on the text read as a folder, a
// NUL, and a path: a path or nothing joined to the folder, whatever the case
// of the folder's letters, comes back as that path with slashes made
// backslashes. Any result is the end of the path so spelled, and what it
// leaves out, joined to the folder, is the path but for case.
#include <algorithm>
#include <cwctype>

#include "fuzz_check.h"
#include "image/image.h"
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

// `text` with slashes made backslashes and, when `fold`, every letter lower case.
std::u16string Spelled(std::u16string text, bool fold = false) {
  for (char16_t& c : text) c = c == u'/' ? u'\\' : fold ? static_cast<char16_t>(std::towlower(c)) : c;
  return text;
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

  // The text as a folder, a NUL and a path.
  const std::size_t split = std::min(wide.find(u'\0'), wide.size());
  const std::u16string folder = wide.substr(0, split), path = wide.substr(std::min(split + 1, wide.size()));
  std::u16string upper = folder;
  for (char16_t& c : upper) c = orlenta::AsciiUpper(c);
  for (const std::u16string& name : {path, std::u16string()})
    FUZZ_CHECK(orlenta::MakeRelativePath(folder, orlenta::JoinPath(upper, name)) == Spelled(name));
  const std::u16string result = orlenta::MakeRelativePath(folder, path);
  FUZZ_CHECK(Spelled(path).ends_with(result) &&
             (result == Spelled(path) || Spelled(orlenta::JoinPath(folder, result), true) == Spelled(path, true)));
  return 0;
}
