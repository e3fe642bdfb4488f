#include "image/image.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "text/text.h"

namespace orlenta {
namespace {

TEST(MakeRelativePath, WorkedExamples) {
  const struct { std::u16string_view base, path, expected; } cases[] = {
      {u"D:\\export", u"D:\\export\\Fore\\0001.jpg", u"Fore\\0001.jpg"}, {u"", u"Fore/x.jpg", u"Fore\\x.jpg"},
      {u"d:/EXPORT/", u"D:\\export\\Back\\x.png", u"Back\\x.png"}, {u".", u".\\Fore\\x.jpg", u"Fore\\x.jpg"},
      {u"D:\\exp", u"D:\\export\\x.png", u"D:\\export\\x.png"},
      {u"E:\\other", u"D:/export/x.png", u"D:\\export\\x.png"},
      {u"D:\\export", u"D:\\export", u"D:\\export"}, {u"D:\\export", u"D:\\export\\", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WideToUtf8(MakeRelativePath(c.base, c.path)), WideToUtf8(c.expected)) << WideToUtf8(c.path);
}

// The job always keeps a ledger (its cases place images through it); a
// single placement needs none.
TEST(PlaceImage, WithoutALedger) {
  testing::TempFolder root;
  testing::WriteBytes(root.fs_path() / "scan0002", testing::kPngBytes);
  std::filesystem::create_directory(root.fs_path() / "Fore");
  platform::FileSystem fs;
  EXPECT_EQ(PlaceImage(WideToUtf8(root.Join(u"scan0002")), root.Join(u"Fore"), root.path(), fs), "Fore\\scan0002.png");
  EXPECT_EQ(testing::ReadBytes(root.fs_path() / "Fore" / "scan0002.png"), testing::kPngBytes);
}

}  // namespace
}  // namespace orlenta
