// MakeRelativePath on arbitrary pairs of UTF-16 texts. Whatever the input,
// the result holds no '/', is a suffix of the path with its slashes turned
// into backslashes, is that path less exactly the base (closed with one
// separator) when the base leads it, and is the whole path otherwise.
//
// Input: the first byte chooses how the rest reads. Even: UTF-16 code units,
// little-endian, unit 0 ending the base. Odd: bytes widened one to one (so
// the fuzzer finds ASCII paths quickly), byte 0 ending the base.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <string_view>

#include "image/image.h"

namespace {

#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

std::u16string Backslashed(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
  }
  return out;
}

bool SameIgnoringCase(char16_t a, char16_t b) {
  return std::towlower(static_cast<std::wint_t>(a)) == std::towlower(static_cast<std::wint_t>(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::u16string units;
  if (data[0] % 2 == 0) {
    for (std::size_t i = 1; i + 1 < size; i += 2) {
      units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    units.assign(data + 1, data + size);
  }
  const std::size_t split = units.find(u'\0');
  const std::u16string base = units.substr(0, split);
  const std::u16string path = split == std::u16string::npos ? u"" : units.substr(split + 1);

  const std::u16string result = orlenta::MakeRelativePath(base, path);
  const std::u16string whole = Backslashed(path);
  FUZZ_CHECK(result.find(u'/') == std::u16string::npos);
  FUZZ_CHECK(result.size() <= whole.size());
  FUZZ_CHECK(whole.compare(whole.size() - result.size(), result.size(), result) == 0);

  std::u16string lead = Backslashed(base);
  if (!lead.empty() && lead.back() != u'\\') lead.push_back(u'\\');
  bool leads = whole.size() >= lead.size();
  for (std::size_t i = 0; leads && i < lead.size(); ++i) leads = SameIgnoringCase(whole[i], lead[i]);
  FUZZ_CHECK(result == (leads ? whole.substr(lead.size()) : whole));
  return 0;
}
