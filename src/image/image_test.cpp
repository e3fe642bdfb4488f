#include "image/image.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "text/text.h"

namespace orlenta {
namespace {

namespace fs = std::filesystem;
using testing::kJpegBytes;
using testing::kPngBytes;

TEST(MakeRelativePath, WorkedExamples) {
  const struct { std::u16string_view base, path, expected; } cases[] = {
      {u"D:\\export", u"D:\\export\\Fore\\0001.jpg", u"Fore\\0001.jpg"},
      {u"d:/EXPORT/", u"D:\\export\\Back\\x.png", u"Back\\x.png"},
      {u"D:\\exp", u"D:\\export\\x.png", u"D:\\export\\x.png"},
      {u"E:\\other", u"D:/export/x.png", u"D:\\export\\x.png"},
      {u".", u".\\Fore\\x.jpg", u"Fore\\x.jpg"},
      {u"", u"Fore/x.jpg", u"Fore\\x.jpg"},
      {u"D:\\export", u"D:\\export", u"D:\\export"},
      {u"D:\\export", u"D:\\export\\", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WideToUtf8(MakeRelativePath(c.base, c.path)), WideToUtf8(c.expected)) << WideToUtf8(c.path);
}

// The worked examples in a temporary folder $: C:\images becomes $\images,
// D:\export $\export, which is also the current folder.
class PlaceImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"export/Fore", "export/Back", "images", "img.old"})
      fs::create_directories(root_.fs_path() / folder);
    for (auto [name, bytes] : {std::pair{"images/0001.jpg", kJpegBytes}, {"images/scan0002", kPngBytes},
                               {"img.old/front", kJpegBytes}, {"images/IMG.0001", "no image"},
                               {"images/0003.TIF", testing::kTiffBytes}, {"images/a.png", kPngBytes},
                               {"images/anim", testing::kGifBytes}})
      testing::WriteBytes(root_.fs_path() / name, bytes);
    fs::current_path(root_.fs_path() / "export");
  }
  void TearDown() override { fs::current_path(previous_); }
  // `text` with each $ standing for the temporary folder.
  std::string At(std::u16string_view text) const {
    std::u16string out;
    for (char16_t c : text) out += c == u'$' ? root_.path() : std::u16string(1, c);
    return WideToUtf8(out);
  }
  std::string Place(std::u16string_view cell, std::u16string_view target, std::u16string_view csv) {
    return PlaceImage(At(cell), Utf8ToWide(At(target)), Utf8ToWide(At(csv)), fs_);
  }

  const fs::path previous_ = fs::current_path();
  testing::TempFolder root_;
  platform::FileSystem fs_;
};

TEST_F(PlaceImageTest, WorkedExamples) {
  const struct { std::u16string_view cell, target, csv; const char* copy; std::string_view bytes, placed; } cases[] = {
      {u"$\\images\\0001.jpg", u"$\\export\\Fore", u"$\\export", "Fore/0001.jpg", kJpegBytes, "Fore\\0001.jpg"},
      {u"$/images/scan0002", u"$\\export\\Back", u"$\\export", "Back/scan0002.png", kPngBytes, "Back\\scan0002.png"},
      {u"$\\img.old\\front", u"$\\export\\Fore", u"$\\export", "Fore/front.jpg", kJpegBytes, "Fore\\front.jpg"},
      {u"$\\images\\IMG.0001", u"$\\export\\Fore", u"$\\export", "Fore/IMG.0001", "no image", "Fore\\IMG.0001"},
      {u"$\\images\\0003.TIF", u".\\Fore", u".", "Fore/0003.TIF", testing::kTiffBytes, "Fore\\0003.TIF"},
      {u"$\\images\\a.png", u"$/export\\Fore", u"$/export", "Fore/a.png", kPngBytes, "Fore\\a.png"},
      {u"", u"$\\export\\Fore", u"$\\export", nullptr, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Place(c.cell, c.target, c.csv), c.placed);
    if (c.copy) {
      EXPECT_EQ(testing::ReadBytes(c.copy), c.bytes) << c.copy;
    }
  }
}

TEST_F(PlaceImageTest, FailuresNameTheirFiles) {
  fs::create_directory("Fore/0001.jpg");  // a folder where the copy would go
  const std::u16string_view cases[][2] = {
      {u"$\\images\\missing", u"画像ファイルが存在しません: $\\images\\missing"},
      {u"$\\images", u"画像ファイルが存在しません: $\\images"},
      {u"$\\images\\anim", u"対応外の画像形式です: $\\images\\anim"},
      {u"$\\images\\0001.jpg",
       u"画像ファイルのコピーに失敗しました。\n\nコピー元:\n$\\images\\0001.jpg\n\nコピー先:\n$\\export\\Fore\\0001.jpg"},
  };
  for (const auto& [cell, message] : cases) {
    const std::u16string thrown = testing::MessageOf([&] { Place(cell, u"$\\export\\Fore", u"$\\export"); });
    EXPECT_EQ(WideToUtf8(thrown), At(message));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("Fore"), {}), 1);  // nothing copied
}

}  // namespace
}  // namespace orlenta
