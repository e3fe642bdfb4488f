// Conversions between UTF-8 bytes and UTF-16 text, and the two path helpers
// that split and join paths. Backslash and slash are both separators; these
// helpers never touch the file system.
#pragma once

#include <string>
#include <string_view>

namespace orlenta {

/// The UTF-8 byte-order mark, which the CSV and the log may begin with.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

inline constexpr std::u16string_view kUtf8ToWideFailed = u"UTF-8文字列の変換に失敗しました。";
inline constexpr std::u16string_view kWideToUtf8Failed = u"ワイド文字列のUTF-8変換に失敗しました。";

/// UTF-8 to UTF-16, lenient (malformed sequences become U+FFFD). Throws
/// AppException(kUtf8ToWideFailed) only when the converter itself fails.
std::u16string Utf8ToWide(std::string_view utf8);

/// UTF-16 to UTF-8, lenient (unpaired surrogates become EF BF BD). Throws
/// AppException(kWideToUtf8Failed) only when the converter itself fails.
std::string WideToUtf8(std::u16string_view text);

/// True for '\' and '/'.
constexpr bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

/// `c` with an ASCII letter upper-cased, as Windows folds names; any other unit as it is.
constexpr char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

/// Whether every unit of `text` (UTF-16 or UTF-8) is ASCII.
template <typename Char>
constexpr bool IsAscii(std::basic_string_view<Char> text) {
  for (const Char c : text)
    if ((c & ~0x7F) != 0) return false;
  return true;
}

/// The position of the last separator in `path` (UTF-16 or UTF-8), or npos.
/// One pass from the end: find_last_of would search its set at every unit.
template <typename Char>
constexpr std::size_t FindLastSeparator(std::basic_string_view<Char> path) {
  for (std::size_t at = path.size(); at-- > 0;)
    if (path[at] == Char('\\') || path[at] == Char('/')) return at;
  return std::basic_string_view<Char>::npos;
}

/// Whether `path` is relative to a current folder: it starts with no
/// separator and no drive ("C:"), on every system alike.
bool IsRelativePath(std::u16string_view path);

/// Everything before the last separator (possibly empty), or "." when the
/// path has none.
std::u16string ParentFolder(std::u16string_view path);

/// `folder` and `name` joined by exactly one added backslash, none when the
/// folder is empty or already ends in a separator. `name` is not examined.
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);

}  // namespace orlenta
