#include "text/text.h"

#include <gtest/gtest.h>

#include <optional>

namespace orlenta {
namespace {

using namespace std::string_literals;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(Utf8ToWide, ValidTextConvertsBothWaysExactly) {
  const struct { std::string utf8; std::u16string text; } cases[] = {
      {"", u""},
      {"a\0b\0"s, u"a\0b\0"s},
      {"\xEF\xBB\xBFid", u"\uFEFFid"},
      {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
      {"C:\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\\caf\xC3\xA9 \xF0\xA0\x80\x8B.jpg", u"C:\\データ\\café \U0002000B.jpg"},
      {"1234567\xC3\xA9" "12345678\xF0\x9F\x98\x80", u"1234567é12345678\U0001F600"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.utf8), c.text) << c.utf8;
    EXPECT_EQ(WideToUtf8(c.text), c.utf8) << c.utf8;
  }
}

// Each malformed sequence becomes U+FFFD and its neighbours survive. On
// Windows the system converter decides how many U+FFFD an invalid run gives.
TEST(Utf8ToWide, ReplacesMalformedInput) {
  struct Case {
    std::string utf8;
    std::u16string posix;
    std::optional<std::u16string> windows = std::nullopt;  // where it differs (as seen under Wine)
  };
  const Case cases[] = {
      {"a\x80" "b", u"a\uFFFDb"},
      {"12345678\x80" "12345678", u"12345678\uFFFD12345678"},
      {"a\xC0\xAF" "b", u"a\uFFFD\uFFFDb"},
      {"a\xE0\x80\xAF" "b", u"a\uFFFD\uFFFD\uFFFDb", u"a\uFFFD\uFFFDb"},
      {"a\xED\xA0\x80" "b", u"a\uFFFD\uFFFD\uFFFDb", u"a\uFFFD\uFFFDb"},
      {"a\xF4\x90\x80\x80" "b", u"a\uFFFD\uFFFD\uFFFD\uFFFDb", u"a\uFFFD\uFFFD\uFFFDb"},
      {"a\xF5\xFE\xFF" "b", u"a\uFFFD\uFFFD\uFFFDb"},
      {"a\xC3" "b\xE3\x81" "c\xF0\x9F\x98" "d", u"a\uFFFDb\uFFFDc\uFFFDd"},
      {"a\xF0\x9F\x98\xE3\x81\x82", u"a\uFFFDあ"},
      {"xy\xC3", u"xy\uFFFD"},
      {"xy\xE3\x81", u"xy\uFFFD"},
      {"xy\xF0\x9F\x98", u"xy\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.utf8), kWindows && c.windows ? *c.windows : c.posix) << c.utf8;
  }
}

TEST(ParentFolder, TakesEverythingBeforeTheLastSeparator) {
  const struct { std::u16string_view path, parent; } cases[] = {
      {u"C:\\data\\list.csv", u"C:\\data"}, {u"C:\\list.csv", u"C:"}, {u"list.csv", u"."},
      {u"", u"."}, {u"C:/data/list.csv", u"C:/data"}, {u"a/b\\c", u"a/b"}, {u"a\\b/c", u"a\\b"},
      {u"data\\sub\\", u"data\\sub"}, {u"\\list.csv", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentFolder(c.path), c.parent) << std::string(c.path.begin(), c.path.end());
}

TEST(JoinPath, AddsOneBackslashOnlyWhenNeeded) {
  const struct { std::u16string_view folder, name, joined; } cases[] = {
      {u"", u"Fore", u"Fore"}, {u"C:", u"Fore", u"C:\\Fore"}, {u"C:\\", u"Fore", u"C:\\Fore"},
      {u"C:/data/", u"x", u"C:/data/x"}, {u".", u"Fore", u".\\Fore"}, {u"C:\\data", u"\\n", u"C:\\data\\\\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinPath(c.folder, c.name), c.joined);
}

}  // namespace
}  // namespace orlenta
