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
