#include "job/error_log.h"

#include <gtest/gtest.h>

#include <ctime>

#include "support/test_support.h"

namespace orlenta {
namespace {

// A new log gets a byte order mark, then the entry stamped with the local
// time of the call. The job's cases append to logs that exist.
TEST(AppendErrorLog, StartsALogWithOneEntryStampedWithTheLocalTime) {
  const auto now = [] {  // the C library's clock, not the one under test
    const std::time_t t = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
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
