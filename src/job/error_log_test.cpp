#include "job/error_log.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/test_support.h"

namespace orlenta {
namespace {

// A new log gets a byte order mark, then the entry: [T] stands for the local
// time of the call. The job's cases append to logs that exist.
TEST(AppendErrorLog, StartsALogWithOneEntryStampedWithTheLocalTime) {
  const struct { std::u16string_view message; CsvRow row; std::string log; } cases[] = {
      {u"画像ファイルが存在しません: C:\\images\\0001.jpg", {"17", "C:\\images\\0001.jpg", ""},
       "\xEF\xBB\xBF[T] 内容=画像ファイルが存在しません: C:\\images\\0001.jpg\r\n\"17\",\"C:\\images\\0001.jpg\",\"\"\r\n"},
      {u"コピー元:\na\n\nコピー先:\nb", {}, "\xEF\xBB\xBF[T] 内容=コピー元:\na\n\nコピー先:\nb\r\n\r\n"},
  };
  const auto now = [] {
    const platform::LocalTime t = platform::GetLocalTimeNow();
    char text[32];
    std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d]", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return std::string(text);
  };
  for (const auto& c : cases) {
    testing::TempFolder folder;
    const std::u16string log = folder.Join(u"Orlenta_Error.log");
    std::string stamp, expected = c.log;
    do {  // again when the second turned meanwhile
      std::filesystem::remove(log);
      stamp = now();
      platform::FileSystem fs;
      AppendErrorLog(fs, log, c.message, c.row);
    } while (stamp != now());
    EXPECT_EQ(testing::ReadBytes(log), expected.replace(expected.find("[T]"), 3, stamp));
  }
}

}  // namespace
}  // namespace orlenta
