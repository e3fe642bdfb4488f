#include "image/image.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/forwarding_file_system.h"
#include "support/test_support.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace orlenta {
namespace {

namespace fs = std::filesystem;
using testing::MessageOf;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::string Utf8(std::u16string_view s) { return WideToUtf8(s); }

// Whether this platform compares file names without regard to case.
bool PlatformFoldsCase() { return platform::PathCompareKey(u"a") == platform::PathCompareKey(u"A"); }

struct RelativeCase {
  std::u16string_view base, path, expected;
};

TEST(MakeRelativePath, WorkedExamples) {
  const RelativeCase cases[] = {
      {u"D:\\export", u"D:\\export\\Fore\\0001.jpg", u"Fore\\0001.jpg"},
      {u"d:/EXPORT/", u"D:\\export\\Back\\x.png", u"Back\\x.png"},
      {u"D:\\exp", u"D:\\export\\x.png", u"D:\\export\\x.png"},
      {u"E:\\other", u"D:/export/x.png", u"D:\\export\\x.png"},
      {u".", u".\\Fore\\x.jpg", u"Fore\\x.jpg"},
      {u"", u"Fore/x.jpg", u"Fore\\x.jpg"},
      {u"D:\\export", u"D:\\export", u"D:\\export"},
      {u"D:\\export", u"D:\\export\\", u""},
  };
  for (const RelativeCase& c : cases)
    EXPECT_EQ(MakeRelativePath(c.base, c.path), c.expected) << Utf8(c.base) << " | " << Utf8(c.path);
}

// The worked examples of placement, rebuilt inside a temporary folder: the
// drive D:\export becomes <temp>\export and C:\images <temp>\images.
class PlaceImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.path();
    fs::create_directories(folder_.fs_path() / "export" / "Fore");
    fs::create_directories(folder_.fs_path() / "export" / "Back");
    fs::create_directories(folder_.fs_path() / "images");
    fs::create_directories(folder_.fs_path() / "img.old");
  }
  std::u16string At(std::u16string_view relative) const { return root_ + u"\\" + std::u16string(relative); }
  void Put(std::u16string_view relative, std::string_view bytes) const {
    std::u16string native(relative);
    for (char16_t& c : native) if (c == u'\\') c = u'/';
    WriteBytes(folder_.fs_path() / testing::ToFsPath(native), bytes);
  }
  std::string Read(std::u16string_view relative) const {
    std::u16string native(relative);
    for (char16_t& c : native) if (c == u'\\') c = u'/';
    return ReadBytes(folder_.fs_path() / testing::ToFsPath(native));
  }

  TempFolder folder_;
  std::u16string root_;
};

TEST_F(PlaceImageTest, WorkedExamples) {
  struct Case {
    std::u16string_view source;  // under the temp root
    std::string_view bytes;
    std::u16string_view target;  // appended to the temp root
    std::u16string_view csv;     // appended to the temp root
    std::u16string_view copy;    // under the temp root
    std::string_view cell;
  };
  const Case cases[] = {
      {u"images\\0001.jpg", testing::kJpegBytes, u"\\export\\Fore", u"\\export", u"export\\Fore\\0001.jpg", "Fore\\0001.jpg"},
      {u"images/scan0002", testing::kPngBytes, u"\\export\\Back", u"\\export", u"export\\Back\\scan0002.png", "Back\\scan0002.png"},
      {u"img.old\\front", testing::kJpegBytes, u"\\export\\Fore", u"\\export", u"export\\Fore\\front.jpg", "Fore\\front.jpg"},
      {u"images\\IMG.0001", "not an image at all", u"\\export\\Fore", u"\\export", u"export\\Fore\\IMG.0001", "Fore\\IMG.0001"},
      {u"images\\a.png", testing::kPngBytes, u"/export\\Fore", u"/export", u"export\\Fore\\a.png", "Fore\\a.png"},
  };
  for (const Case& c : cases) {
    Put(c.source, c.bytes);
    const std::u16string target = root_ + std::u16string(c.target);
    const std::u16string csv = root_ + std::u16string(c.csv);
    std::string cell = Utf8(At(c.source));
    std::string placed;
    EXPECT_EQ(MessageOf([&] { placed = PlaceImage(cell, target, csv); }), u"(no exception)") << cell;
    EXPECT_EQ(placed, c.cell);
    EXPECT_EQ(Read(c.copy), c.bytes);
  }
  EXPECT_EQ(PlaceImage("", u"any", u"any"), "");
}

TEST_F(PlaceImageTest, BareCsvNameGivesTheSameRelativeForm) {
  Put(u"images\\0003.TIF", testing::kTiffBytes);
  fs::path previous = fs::current_path();
  fs::current_path(folder_.fs_path() / "export");
  std::string cell = Utf8(At(u"images\\0003.TIF"));
  std::string result = PlaceImage(cell, u".\\Fore", u".");
  fs::current_path(previous);
  EXPECT_EQ(result, "Fore\\0003.TIF");
  EXPECT_EQ(Read(u"export\\Fore\\0003.TIF"), testing::kTiffBytes);
}

TEST_F(PlaceImageTest, FailuresCarryTheirExactMessages) {
  const std::u16string fore = At(u"export\\Fore");
  const std::u16string csv = At(u"export");
  Put(u"images\\anim", testing::kGifBytes);
  Put(u"images\\x.jpg", testing::kJpegBytes);
  fs::create_directories(folder_.fs_path() / "export" / "Fore" / "x.jpg");  // a folder in the way

  const std::u16string missing = At(u"images\\missing");
  EXPECT_EQ(MessageOf([&] { PlaceImage(Utf8(missing), fore, csv); }),
            u"画像ファイルが存在しません: " + missing);
  const std::u16string folder = At(u"images");
  EXPECT_EQ(MessageOf([&] { PlaceImage(Utf8(folder), fore, csv); }),
            u"画像ファイルが存在しません: " + folder);
  const std::u16string gif = At(u"images\\anim");
  EXPECT_EQ(MessageOf([&] { PlaceImage(Utf8(gif), fore, csv); }), u"対応外の画像形式です: " + gif);
  const std::u16string jpg = At(u"images\\x.jpg");
  EXPECT_EQ(MessageOf([&] { PlaceImage(Utf8(jpg), fore, csv); }),
            u"画像ファイルのコピーに失敗しました。\n\nコピー元:\n" + jpg + u"\n\nコピー先:\n" + fore +
                u"\\x.jpg");
  EXPECT_FALSE(fs::exists(folder_.fs_path() / "export" / "Fore" / "anim.gif"));
}

TEST_F(PlaceImageTest, CellNamingItsOwnCopyKeepsItsReference) {
  Put(u"export\\Fore\\0001.jpg", testing::kJpegBytes);
  const std::u16string fore = At(u"export\\Fore");
  std::vector<std::u16string> spellings = {At(u"export\\Fore\\0001.jpg"), root_ + u"/export/Fore/0001.jpg"};
  if (PlatformFoldsCase()) spellings.push_back(At(u"EXPORT\\fore\\0001.jpg"));
  for (const std::u16string& cell : spellings) {
    EXPECT_EQ(PlaceImage(Utf8(cell), fore, At(u"export")), "Fore\\0001.jpg") << Utf8(cell);
    EXPECT_EQ(Read(u"export\\Fore\\0001.jpg"), testing::kJpegBytes);
  }
}

TEST_F(PlaceImageTest, LedgerRefusesToReplaceAnEarlierCopyOfAnotherImage) {
  fs::create_directories(folder_.fs_path() / "a");
  fs::create_directories(folder_.fs_path() / "b");
  fs::create_directories(folder_.fs_path() / "c");
  Put(u"a\\0001.jpg", "first image");
  Put(u"b\\0001.jpg", "second image");
  Put(u"c\\0001.jpg", "first image");
  Put(u"export\\Back\\0001.jpg", "left by an earlier run");
  const std::u16string fore = At(u"export\\Fore"), back = At(u"export\\Back"), csv = At(u"export");
  CopyLedger ledger;
  auto& real = platform::RealFileSystem();

  EXPECT_EQ(PlaceImage(Utf8(At(u"a\\0001.jpg")), fore, csv, real, &ledger), "Fore\\0001.jpg");
  EXPECT_EQ(PlaceImage(Utf8(At(u"a\\0001.jpg")), fore, csv, real, &ledger), "Fore\\0001.jpg");
  EXPECT_EQ(PlaceImage(Utf8(At(u"c\\0001.jpg")), fore, csv, real, &ledger), "Fore\\0001.jpg");
  const std::u16string second = At(u"b\\0001.jpg");
  EXPECT_EQ(MessageOf([&] { PlaceImage(Utf8(second), fore, csv, real, &ledger); }),
            u"同名の別の画像ファイルが既にコピーされています: " + second);
  EXPECT_EQ(Read(u"export\\Fore\\0001.jpg"), "first image");
  // The other folder is another name; a file from an earlier run is replaced.
  EXPECT_EQ(PlaceImage(Utf8(second), back, csv, real, &ledger), "Back\\0001.jpg");
  EXPECT_EQ(Read(u"export\\Back\\0001.jpg"), "second image");
}

// The image disappears between the attribute check and the copy.
class VanishingImage : public testing::ForwardingFileSystem {
 public:
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    real.DeleteFileAt(from);
    return real.CopyFileReplacing(from, to);
  }
};

TEST_F(PlaceImageTest, ImageVanishingBeforeTheCopyIsACopyFailure) {
  Put(u"images\\gone.png", testing::kPngBytes);
  VanishingImage fs;
  const std::u16string source = At(u"images\\gone.png");
  EXPECT_EQ(MessageOf([&] { PlaceImage(Utf8(source), At(u"export\\Fore"), At(u"export"), fs); }),
            u"画像ファイルのコピーに失敗しました。\n\nコピー元:\n" + source + u"\n\nコピー先:\n" +
                At(u"export\\Fore") + u"\\gone.png");
}

}  // namespace
}  // namespace orlenta
