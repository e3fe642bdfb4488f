#include "qorimgio.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace {

namespace support = orlenta::testing;

short Probe(const std::string& path) {
  ImageProbeRecord record;
  InitImageProbe(&record);
  record.path = path.c_str();
  return ProbeImageFile(&record);
}

// What arbitrary contents (the probe's fuzz target) cannot show: paths that
// are no readable file, and no path at all.
TEST(ProbeImageFile, TellsFilesAndNonFiles) {
  support::TempFolder folder;
  EXPECT_EQ(Probe((folder.fs_path() / "missing.png").string()), QORIMGIO_CANNOT_OPEN);
  EXPECT_EQ(Probe(folder.fs_path().string()), QORIMGIO_CANNOT_OPEN);  // a folder
  ImageProbeRecord record;
  InitImageProbe(&record);
  EXPECT_EQ(ProbeImageFile(&record), QORIMGIO_BAD_ARGUMENT);
  EXPECT_EQ(ProbeImageFile(nullptr), QORIMGIO_BAD_ARGUMENT);
}

}  // namespace
