// MakeRelativePath on arbitrary pairs of texts (the input as UTF-8, a NUL
// between a folder and a path). A path or nothing joined to the folder,
// whatever the case of the folder's letters, comes back as that path with
// slashes made backslashes. Any result is the end of the path so spelled,
// and what it leaves out, joined to the folder, is the path but for case.
#include <algorithm>
#include <cwctype>

#include "fuzz_check.h"
#include "image/image.h"
#include "text/text.h"

namespace {

// `text` with slashes made backslashes and, when `fold`, every letter lower case.
std::u16string Spelled(std::u16string text, bool fold = false) {
  for (char16_t& c : text) c = c == u'/' ? u'\\' : fold ? static_cast<char16_t>(std::towlower(c)) : c;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = orlenta::Utf8ToWide({reinterpret_cast<const char*>(data), size});
  const std::size_t split = std::min(units.find(u'\0'), units.size());
  const std::u16string folder = units.substr(0, split), path = units.substr(std::min(split + 1, units.size()));
  std::u16string upper = folder;
  for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c;
  for (const std::u16string& name : {path, std::u16string()})
    FUZZ_CHECK(orlenta::MakeRelativePath(folder, orlenta::JoinPath(upper, name)) == Spelled(name));
  const std::u16string result = orlenta::MakeRelativePath(folder, path);
  FUZZ_CHECK(Spelled(path).ends_with(result) &&
             (result == Spelled(path) || Spelled(orlenta::JoinPath(folder, result), true) == Spelled(path, true)));
  return 0;
}
