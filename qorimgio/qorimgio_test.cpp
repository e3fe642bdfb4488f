#include "qorimgio.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using orlenta::testing::TempFolder;
using orlenta::testing::WriteBytes;

short Probe(const std::string& path) {
  ImageProbeRecord record;
  InitImageProbe(&record);
  record.path = path.c_str();
  return ProbeImageFile(&record);
}

std::string NarrowPath(const TempFolder& folder, const char* name) {
  // Test names are ASCII, so the ANSI form equals the generic string.
  return (folder.fs_path() / name).string();
}

struct Case {
  std::string_view bytes;
  short code;
};

TEST(ProbeImageFile, RecognisesEachSignature) {
  TempFolder folder;
  const Case cases[] = {
      {orlenta::testing::kPngBytes, QORIMGIO_PNG},
      {orlenta::testing::kJpegBytes, QORIMGIO_JPEG},
      {orlenta::testing::kTiffBytes, QORIMGIO_TIFF},
      {std::string_view("MM\0*\0\0\0\x08", 8), QORIMGIO_TIFF},
      {orlenta::testing::kGifBytes, QORIMGIO_GIF},
      {orlenta::testing::kBmpBytes, QORIMGIO_BMP},
      {"plain text, not an image", QORIMGIO_UNKNOWN},
      {"", QORIMGIO_TOO_SHORT},
      {std::string_view("\xFF\xD8\xFF", 3), QORIMGIO_JPEG},
  };
  for (const Case& c : cases) {
    std::string path = NarrowPath(folder, "image");
    WriteBytes(path, c.bytes);
    EXPECT_EQ(Probe(path), c.code) << "bytes: " << std::string(c.bytes).size();
  }
}

TEST(ProbeImageFile, TruncatedSignaturesAreNeverAccepted) {
  TempFolder folder;
  std::string path = NarrowPath(folder, "cut");
  for (std::string_view full : {std::string_view("\x89PNG\r\n\x1a\n", 8), std::string_view("\xFF\xD8\xFF", 3),
                                std::string_view("II*\0", 4), std::string_view("MM\0*", 4)}) {
    for (std::size_t n = 0; n < full.size(); ++n) {
      WriteBytes(path, full.substr(0, n));
      short code = Probe(path);
      EXPECT_TRUE(code != QORIMGIO_PNG && code != QORIMGIO_JPEG && code != QORIMGIO_TIFF)
          << "prefix of " << full.size() << " cut to " << n << " gave " << code;
    }
  }
}

TEST(ProbeImageFile, FailsCleanlyWithoutAReadableFile) {
  TempFolder folder;
  EXPECT_EQ(Probe(NarrowPath(folder, "missing.png")), QORIMGIO_CANNOT_OPEN);
  EXPECT_EQ(Probe(folder.fs_path().string()), QORIMGIO_CANNOT_OPEN);  // a folder
  EXPECT_EQ(ProbeImageFile(nullptr), QORIMGIO_BAD_ARGUMENT);
  ImageProbeRecord record;
  InitImageProbe(&record);
  EXPECT_EQ(record.path, nullptr);
  EXPECT_EQ(ProbeImageFile(&record), QORIMGIO_BAD_ARGUMENT);
  InitImageProbe(nullptr);  // must not crash
}

#ifndef _WIN32
// A FIFO without a writer must not hold the probe: it reads as empty.
TEST(ProbeImageFile, FifoIsNoImageAndDoesNotBlock) {
  TempFolder folder;
  std::string path = NarrowPath(folder, "pipe");
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  const short code = Probe(path);
  EXPECT_TRUE(code != QORIMGIO_PNG && code != QORIMGIO_JPEG && code != QORIMGIO_TIFF) << code;
}
#endif

TEST(ProbeImageFile, RandomDataIsAcceptedOnlyWithItsSignature) {
  TempFolder folder;
  std::string path = NarrowPath(folder, "random");
  std::mt19937 random(20261207);
  for (int i = 0; i < 300; ++i) {
    std::string bytes(random() % 20, '\0');
    for (char& b : bytes) b = static_cast<char>(random() % 4 == 0 ? "\x89\xFF\xD8IM*"[random() % 6] : random());
    WriteBytes(path, bytes);
    short code = Probe(path);
    std::string_view v(bytes);
    bool png = v.starts_with(std::string_view("\x89PNG\r\n\x1a\n", 8));
    bool jpeg = v.starts_with("\xFF\xD8\xFF");
    bool tiff = v.starts_with(std::string_view("II*\0", 4)) || v.starts_with(std::string_view("MM\0*", 4));
    EXPECT_EQ(code == QORIMGIO_PNG, png);
    EXPECT_EQ(code == QORIMGIO_JPEG, jpeg);
    EXPECT_EQ(code == QORIMGIO_TIFF, tiff);
  }
}

}  // namespace
