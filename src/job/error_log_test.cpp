#include "job/error_log.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/test_support.h"

namespace orlenta {
namespace {

// A new log gets a byte order mark, then the entry stamped with the local
// time of the call. The job's cases append to logs that exist.
TEST(AppendErrorLog, StartsALogWithOneEntryStampedWithTheLocalTime) {
  const auto now = [] {
    const platform::LocalTime t = platform::GetLocalTimeNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return std::string(text);
  };
  testing::TempFolder folder;
  const std::u16string log = folder.Join(u"Orlenta_Error.log");
  std::string stamp;
  do {  // again when the second turned meanwhile
    std::filesystem::remove(log);
    stamp = now();
    platform::FileSystem fs;
    AppendErrorLog(fs, log, u"画像ファイルが存在しません: C:\\images\\0001.jpg", {"17", "C:\\images\\0001.jpg", ""});
  } while (stamp != now());
  EXPECT_EQ(testing::ReadBytes(log), "\xEF\xBB\xBF[" + stamp + "] 内容=画像ファイルが存在しません: C:\\images\\0001.jpg\r\n"
                                     "\"17\",\"C:\\images\\0001.jpg\",\"\"\r\n");
}

}  // namespace
}  // namespace orlenta
