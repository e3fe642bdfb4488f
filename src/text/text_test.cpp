#include "text/text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace orlenta {
namespace {

using namespace std::string_literals;

// On Windows the conversions are the system's; it replaces malformed input as
// well, but may count the replacement characters of one run differently.
#ifdef _WIN32
constexpr bool kOwnConverter = false;
#else
constexpr bool kOwnConverter = true;
#endif

constexpr char16_t kReplacement = 0xFFFD;

/// True under Wine, whose UTF-8 decoder drops the byte after a cut-off
/// three- or four-byte sequence.
bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

TEST(Utf8ToWideTest, EmptyInputsGiveEmptyResults) {
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(WideToUtf8(u""), "");
  EXPECT_EQ(Utf8ToWide(std::string_view()), u"");
  EXPECT_EQ(WideToUtf8(std::u16string_view()), "");
}

struct MalformedCase {
  const char* name;
  std::string bytes;           // placed between "a" and "b"
  std::size_t replacements;    // U+FFFD count of the maximal-subpart practice
};

class MalformedUtf8Test : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedUtf8Test, BecomesReplacementWithNeighboursIntact) {
  const MalformedCase& c = GetParam();
  std::u16string text;
  ASSERT_NO_THROW(text = Utf8ToWide("a" + c.bytes + "b"));
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.front(), u'a');
  EXPECT_EQ(text.back(), u'b');
  const std::u16string middle = text.substr(1, text.size() - 2);
  EXPECT_EQ(middle.find_first_not_of(kReplacement), std::u16string::npos)
      << "something other than U+FFFD decoded from malformed input";
  if (kOwnConverter) {
    EXPECT_EQ(middle, std::u16string(c.replacements, kReplacement));
  }
}

TEST_P(MalformedUtf8Test, TruncatedAtTheEndStillReplaces) {
  const MalformedCase& c = GetParam();
  std::u16string text;
  ASSERT_NO_THROW(text = Utf8ToWide("xy" + c.bytes));
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(0, 2), u"xy");
  EXPECT_EQ(text.substr(2).find_first_not_of(kReplacement), std::u16string::npos);
  if (kOwnConverter) {
    EXPECT_EQ(text.substr(2), std::u16string(c.replacements, kReplacement));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedUtf8Test,
    ::testing::Values(
        MalformedCase{"LoneContinuation", "\x80", 1},
        MalformedCase{"TwoContinuations", "\x80\xBF", 2},
        MalformedCase{"OverlongSlashTwoBytes", "\xC0\xAF", 2},
        MalformedCase{"OverlongNulTwoBytes", "\xC1\x80", 2},
        MalformedCase{"OverlongThreeBytes", "\xE0\x80\xAF", 3},
        MalformedCase{"OverlongFourBytes", "\xF0\x80\x80\xAF", 4},
        MalformedCase{"EncodedHighSurrogate", "\xED\xA0\x80", 3},
        MalformedCase{"EncodedLowSurrogate", "\xED\xBF\xBF", 3},
        MalformedCase{"AboveMaximumCodePoint", "\xF4\x90\x80\x80", 4},
        MalformedCase{"LeadF5", "\xF5\x80\x80\x80", 4},
        MalformedCase{"BytesFEFF", "\xFE\xFF", 2},
        MalformedCase{"TruncatedTwoByte", "\xC3", 1},
        MalformedCase{"TruncatedThreeByte", "\xE3\x81", 1},
        MalformedCase{"TruncatedFourByte", "\xF0\x9F\x98", 1}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

TEST(Utf8ToWideTest, LeadFollowedByAsciiKeepsTheAscii) {
  // A cut-off sequence must not swallow the character after it.
  std::u16string text;
  ASSERT_NO_THROW(text = Utf8ToWide("a\xE3z\xF0\x9F" "b"));
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.front(), u'a');
  EXPECT_EQ(text[1], kReplacement);
  if (RunningUnderWine()) return;
  EXPECT_EQ(text.back(), u'b');
  EXPECT_NE(text.find(u'z'), std::u16string::npos);
  if (kOwnConverter) {
    EXPECT_EQ(text, u"a\uFFFDz\uFFFDb");
  }
}

TEST(WideToUtf8Test, UnpairedSurrogatesBecomeReplacementBytes) {
  struct Case {
    std::u16string text;
    std::string utf8;
  };
  const Case cases[] = {
      {u"a"s + char16_t(0xD800) + u"b", "a\xEF\xBF\xBD" "b"},
      {u"a"s + char16_t(0xDC00) + u"b", "a\xEF\xBF\xBD" "b"},
      {u"a"s + char16_t(0xDBFF), "a\xEF\xBF\xBD"},
      {std::u16string(1, char16_t(0xDFFF)), "\xEF\xBF\xBD"},
      // Low before high is two unpaired halves, not a pair.
      {u"x"s + char16_t(0xDC00) + char16_t(0xD800) + u"y", "x\xEF\xBF\xBD\xEF\xBF\xBDy"},
      // A high half followed by another high half and then a proper pair.
      {u""s + char16_t(0xD83D) + char16_t(0xD83D) + char16_t(0xDE00),
       "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    std::string utf8;
    ASSERT_NO_THROW(utf8 = WideToUtf8(c.text));
    EXPECT_EQ(utf8, c.utf8);
  }
}

TEST(Utf8ToWideTest, NulIsContentBothWays) {
  const std::string bytes("a\0b\0"s);
  const std::u16string text = Utf8ToWide(bytes);
  EXPECT_EQ(text, u"a\0b\0"s);
  EXPECT_EQ(text.size(), 4u);
  EXPECT_EQ(WideToUtf8(text), bytes);
  EXPECT_EQ(Utf8ToWide("\0"s), u"\0"s);
}

TEST(Utf8ToWideTest, ByteOrderMarkIsCarriedAsCharacter) {
  EXPECT_EQ(Utf8ToWide("\xEF\xBB\xBFid"), u"\uFEFFid");
  EXPECT_EQ(WideToUtf8(u"id"), "id");
  EXPECT_EQ(WideToUtf8(u"\uFEFFid"), "\xEF\xBB\xBFid");
}

TEST(Utf8ToWideTest, ValidTextRoundTripsExactly) {
  struct Case {
    std::string utf8;
    std::u16string text;
  };
  const Case cases[] = {
      {"plain ASCII, 0123456789", u"plain ASCII, 0123456789"},
      {"\x7F", u"\u007F"},
      {"\xC2\x80", u"\u0080"},
      {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xED\x9F\xBF", u"\uD7FF"},
      {"\xEE\x80\x80", u"\uE000"},
      {"\xEF\xBF\xBD", u"\uFFFD"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xE7\x94\xBB\xE5\x83\x8F\xEF\xBC\x88\xE8\xA1\xA8\xEF\xBC\x89", u"画像（表）"},
      {"C:\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\\caf\xC3\xA9 \xF0\xA0\x80\x8B.jpg",
       u"C:\\データ\\café \U0002000B.jpg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.utf8), c.text) << c.utf8;
    EXPECT_EQ(WideToUtf8(c.text), c.utf8) << c.utf8;
  }
}

TEST(Utf8ToWideTest, MultibyteCharacterAtEveryOffsetOfAsciiRuns) {
  // The decoder takes ASCII eight bytes at a time; a non-ASCII character or a
  // malformed byte at any offset around those blocks must land exactly.
  const std::string inserts[] = {"\xC3\xA9", "\xE3\x81\x82", "\xF0\x9F\x98\x80"};
  const std::u16string expected_inserts[] = {u"é", u"あ", u"\U0001F600"};
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t before = 0; before <= 17; ++before) {
      for (std::size_t after : {0u, 1u, 7u, 8u, 9u}) {
        const std::string bytes =
            std::string(before, 'x') + inserts[k] + std::string(after, 'y');
        const std::u16string text = std::u16string(before, u'x') + expected_inserts[k] +
                                    std::u16string(after, u'y');
        ASSERT_EQ(Utf8ToWide(bytes), text) << before << "/" << after;
        ASSERT_EQ(WideToUtf8(text), bytes) << before << "/" << after;
      }
    }
  }
  for (std::size_t before = 0; before <= 17; ++before) {
    const std::u16string text = Utf8ToWide(std::string(before, 'x') + "\x80" + "yyyyyyyyy");
    ASSERT_EQ(text, std::u16string(before, u'x') + kReplacement + u"yyyyyyyyy") << before;
  }
}

TEST(Utf8ToWideTest, LargeInputConvertsWhole) {
  std::string bytes;
  std::u16string text;
  for (int i = 0; i < 20000; ++i) {
    bytes += "row,\xE7\x94\xBB,\xF0\x9F\x98\x80\r\n";
    text += u"row,画,\U0001F600\r\n";
  }
  EXPECT_EQ(Utf8ToWide(bytes), text);
  EXPECT_EQ(WideToUtf8(text), bytes);
}

struct PathCase {
  std::u16string_view input;
  std::u16string_view expected;
};

TEST(ParentFolderTest, TakesEverythingBeforeTheLastSeparator) {
  const PathCase cases[] = {
      {u"C:\\data\\list.csv", u"C:\\data"},
      {u"C:\\list.csv", u"C:"},
      {u"list.csv", u"."},
      {u"", u"."},
      {u"C:/data/list.csv", u"C:/data"},
      {u"a/b\\c", u"a/b"},
      {u"a\\b/c", u"a\\b"},
      {u"data\\sub\\", u"data\\sub"},
      {u"\\list.csv", u""},
      {u"/", u""},
      {u"\\\\server\\share\\x.csv", u"\\\\server\\share"},
      {u"..\\x", u".."},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(ParentFolder(c.input), c.expected) << std::string(c.input.begin(), c.input.end());
  }
}

TEST(JoinPathTest, AddsOneBackslashOnlyWhenNeeded) {
  struct Case {
    std::u16string_view folder, name, expected;
  };
  const Case cases[] = {
      {u"", u"Fore", u"Fore"},
      {u"", u"\\x", u"\\x"},
      {u"C:", u"Fore", u"C:\\Fore"},
      {u"C:\\", u"Fore", u"C:\\Fore"},
      {u"C:/data/", u"x", u"C:/data/x"},
      {u".", u"Fore", u".\\Fore"},
      {u"C:\\data", u"\\name.jpg", u"C:\\data\\\\name.jpg"},
      {u"C:\\data", u"", u"C:\\data\\"},
      {u"dir", u"a/b", u"dir\\a/b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JoinPath(c.folder, c.name), c.expected);
  }
}

TEST(JoinPathTest, ParentOfJoinedIsTheFolder) {
  for (std::u16string_view folder : {u"C:\\data", u"rel/dir", u"."}) {
    EXPECT_EQ(ParentFolder(JoinPath(folder, u"list.csv")), folder);
  }
}

}  // namespace
}  // namespace orlenta
