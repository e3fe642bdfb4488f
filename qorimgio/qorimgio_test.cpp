#include "qorimgio.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace support = orlenta::testing;

short Probe(const std::string& path) {
  ImageProbeRecord record;
  InitImageProbe(&record);
  record.path = path.c_str();
  return ProbeImageFile(&record);
}

// What arbitrary contents cannot show: paths that are no readable file, and
// each accepted format read from disk through the C interface.
TEST(ProbeImageFile, TellsFilesAndNonFiles) {
  support::TempFolder folder;
  const struct { const char* name; std::optional<std::string_view> bytes; short code; } cases[] = {
      {"missing.png", std::nullopt, QORIMGIO_CANNOT_OPEN},
      {".", std::nullopt, QORIMGIO_CANNOT_OPEN},  // the folder itself
      {"cut.jpg", "\xFF\xD8", QORIMGIO_TOO_SHORT},
      {"a.tif", support::kTiffBytes, QORIMGIO_TIFF},
      {"a.jpg", support::kJpegBytes, QORIMGIO_JPEG},
      {"b.jpg", "\xFF\xD8\xFF", QORIMGIO_JPEG},  // no byte past the signature
      {"a.png", support::kPngBytes, QORIMGIO_PNG},
  };
  for (const auto& c : cases) {
    const std::string path = (folder.fs_path() / c.name).string();  // ASCII: the ANSI form
    if (c.bytes) support::WriteBytes(path, *c.bytes);
    EXPECT_EQ(Probe(path), c.code) << c.name;
  }
  ImageProbeRecord record;
  InitImageProbe(&record);
  EXPECT_EQ(ProbeImageFile(&record), QORIMGIO_BAD_ARGUMENT);  // no path set
  EXPECT_EQ(ProbeImageFile(nullptr), QORIMGIO_BAD_ARGUMENT);
}

#ifndef _WIN32
// A FIFO without a writer must not hold the probe: it reads as empty.
TEST(ProbeImageFile, FifoDoesNotBlock) {
  support::TempFolder folder;
  const std::string path = (folder.fs_path() / "pipe").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(Probe(path), QORIMGIO_TOO_SHORT);
}
#endif

}  // namespace
