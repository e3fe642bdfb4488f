// MakeRelativePath on arbitrary pairs of texts (the input as UTF-8, a NUL
// ending the base): the result is the path with slashes made backslashes,
// less exactly the base closed by one separator when that base leads it
// regardless of case, else the whole path.
#include <algorithm>
#include <cwctype>

#include "fuzz_check.h"
#include "image/image.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = orlenta::Utf8ToWide({reinterpret_cast<const char*>(data), size});
  const std::size_t split = units.find(u'\0');
  const std::u16string base = units.substr(0, split);
  const std::u16string path = split == std::u16string::npos ? u"" : units.substr(split + 1);
  const std::u16string result = orlenta::MakeRelativePath(base, path);

  std::u16string whole = path, lead = base;
  std::replace(whole.begin(), whole.end(), u'/', u'\\');
  std::replace(lead.begin(), lead.end(), u'/', u'\\');
  if (!lead.empty() && lead.back() != u'\\') lead.push_back(u'\\');
  bool leads = whole.size() >= lead.size();
  for (std::size_t i = 0; leads && i < lead.size(); ++i)
    leads = std::towlower(whole[i]) == std::towlower(lead[i]);
  FUZZ_CHECK(result == (leads ? whole.substr(lead.size()) : whole));
  return 0;
}
