#include "text/text.h"

#include <gtest/gtest.h>

namespace orlenta {
namespace {

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
