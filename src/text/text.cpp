#include "text/text.h"

#include "platform/platform.h"
#include "text/app_exception.h"

namespace orlenta {

std::u16string Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  std::optional<std::u16string> text = platform::ConvertUtf8ToUtf16(utf8);
  if (!text) throw AppException(std::u16string(kUtf8ToWideFailed));
  return std::move(*text);
}

std::string WideToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  std::optional<std::string> utf8 = platform::ConvertUtf16ToUtf8(text);
  if (!utf8) throw AppException(std::u16string(kWideToUtf8Failed));
  return std::move(*utf8);
}

bool IsRelativePath(std::u16string_view path) {
  if (!path.empty() && IsPathSeparator(path[0])) return false;
  const bool drive = path.size() >= 2 && path[1] == u':' &&
                     ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  return !drive;
}

std::u16string ParentFolder(std::u16string_view path) {
  const std::size_t last = FindLastSeparator(path);
  if (last == std::u16string_view::npos) return u".";
  return std::u16string(path.substr(0, last));
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined.append(folder);
  if (!folder.empty() && !IsPathSeparator(folder.back())) joined.push_back(u'\\');
  joined.append(name);
  return joined;
}

}  // namespace orlenta
