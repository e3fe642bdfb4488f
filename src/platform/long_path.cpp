#include "platform/long_path.h"

namespace orlenta::platform {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string Concat(std::u16string_view a, std::u16string_view b) {
  std::u16string out;
  out.reserve(a.size() + b.size());
  out.append(a).append(b);
  return out;
}

}  // namespace

bool IsNamespacePath(std::u16string_view path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3]);
}

std::u16string WidenPath(std::u16string_view path, std::u16string_view full, std::size_t limit) {
  if (full.size() < limit || IsNamespacePath(path)) return std::u16string(path);
  // \\server\share\... becomes \\?\UNC\server\share\...
  if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1]))
    return Concat(u"\\\\?\\UNC\\", full.substr(2));
  return Concat(u"\\\\?\\", full);
}

}  // namespace orlenta::platform
