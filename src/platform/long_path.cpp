#include "platform/long_path.h"

namespace orlenta::platform {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

char16_t UpperAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool HasDrive(std::u16string_view path) {
  return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':';
}

bool IsUnc(std::u16string_view path) {
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

/// The length of the root of a drive-absolute or UNC path: "C:\", or
/// \\server\share with the separators that follow it.
std::size_t RootLength(std::u16string_view path) {
  if (!IsUnc(path)) return path.size() < 3 ? path.size() : 3;
  std::size_t at = 2;
  for (int part = 0; part < 2; ++part) {  // the server, then the share
    while (at < path.size() && !IsSeparator(path[at])) ++at;
    while (at < path.size() && IsSeparator(path[at])) ++at;
  }
  return at;
}

/// A drive-absolute or UNC path with every separator a backslash and its
/// doubled separators, "." and ".." resolved below its root.
std::u16string Collapse(std::u16string_view path) {
  const std::size_t root = RootLength(path);
  std::u16string out(path.substr(0, root));
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
  }
  std::size_t at = root;
  while (at < path.size()) {
    std::size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::u16string_view name = path.substr(at, end - at);
    if (name == u"..") {
      if (out.size() > root) {
        const std::size_t cut = out.find_last_of(u'\\');
        out.resize(cut != std::u16string::npos && cut > root ? cut : root);
      }
    } else if (!name.empty() && name != u".") {
      if (out.back() != u'\\') out.push_back(u'\\');
      out.append(name);
    }
    at = end + 1;
  }
  if (out.size() > root && IsSeparator(path.back())) out.push_back(u'\\');
  return out;
}

std::u16string Concat(std::u16string_view a, std::u16string_view b, std::u16string_view c = {}) {
  std::u16string out;
  out.reserve(a.size() + b.size() + c.size());
  out.append(a).append(b).append(c);
  return out;
}

}  // namespace

bool IsNamespacePath(std::u16string_view path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3]);
}

std::u16string WidenPath(std::u16string_view path, std::u16string_view full, std::size_t limit) {
  if (full.size() < limit || IsNamespacePath(path)) return std::u16string(path);
  if (IsUnc(full)) return Concat(u"\\\\?\\UNC\\", full.substr(2));
  return Concat(u"\\\\?\\", full);
}

std::u16string ResolveFullPath(std::u16string_view path, std::u16string_view current_folder) {
  if (path.empty() || IsNamespacePath(path)) return std::u16string(path);
  if (IsUnc(path)) return Collapse(path);
  if (HasDrive(path)) {
    if (path.size() > 2 && IsSeparator(path[2])) return Collapse(path);
    const bool on_current_drive =
        HasDrive(current_folder) && UpperAscii(current_folder[0]) == UpperAscii(path[0]);
    return Collapse(
        Concat(on_current_drive ? current_folder : path.substr(0, 2), u"\\", path.substr(2)));
  }
  if (IsSeparator(path[0])) {
    // The current drive, or the current share without its separator.
    std::size_t root = HasDrive(current_folder) ? 2 : RootLength(current_folder);
    while (root > 0 && IsSeparator(current_folder[root - 1])) --root;
    return Collapse(Concat(current_folder.substr(0, root), path));
  }
  return Collapse(Concat(current_folder, u"\\", path));
}

}  // namespace orlenta::platform
