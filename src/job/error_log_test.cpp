#include "job/error_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "support/test_support.h"

namespace orlenta {
namespace {

using testing::ReadBytes;

TEST(AppendErrorLog, WritesOneEntry) {
  const struct {
    std::optional<std::string> before;  // nullopt: no log yet
    std::u16string_view message;
    CsvRow row;
    std::string after;
  } cases[] = {
      {std::nullopt, u"画像ファイルが存在しません: C:\\images\\0001.jpg", {"17", "C:\\images\\0001.jpg", ""},
       "\xEF\xBB\xBF[T] 内容=画像ファイルが存在しません: C:\\images\\0001.jpg\r\n\"17\",\"C:\\images\\0001.jpg\",\"\"\r\n"},
      {"", u"m", {"x"}, "[T] 内容=m\r\n\"x\"\r\n"},
      {"\xEF\xBB\xBF" "earlier\r\n", u"n", {"q\"q"}, "\xEF\xBB\xBF" "earlier\r\n[T] 内容=n\r\n\"q\"\"q\"\r\n"},
      {std::nullopt, u"コピー元:\na\n\nコピー先:\nb", {}, "\xEF\xBB\xBF[T] 内容=コピー元:\na\n\nコピー先:\nb\r\n\r\n"},
  };
  for (const auto& c : cases) {
    testing::TempFolder folder;
    const std::u16string log = folder.Join(u"Orlenta_Error.log");
    if (c.before) testing::WriteBytes(log, *c.before);
    platform::FileSystem fs;
    AppendErrorLog(fs, log, c.message, c.row);
    EXPECT_EQ(testing::MaskTimestamps(ReadBytes(log)), c.after);
  }
}

TEST(AppendErrorLog, StampsTheLocalTime) {
  auto now = [] {
    const platform::LocalTime t = platform::GetLocalTimeNow();
    char text[32];
    std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d]", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return std::string(text);
  };
  testing::TempFolder folder;
  const std::u16string log = folder.Join(u"log");
  std::string before, after;
  do {  // again when the second turned meanwhile
    std::filesystem::remove(log);
    before = now();
    platform::FileSystem fs;
    AppendErrorLog(fs, log, u"m", {});
    after = now();
  } while (before != after);
  EXPECT_EQ(ReadBytes(log), "\xEF\xBB\xBF" + before + " 内容=m\r\n\r\n");
}

}  // namespace
}  // namespace orlenta
