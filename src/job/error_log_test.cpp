#include "job/error_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/test_support.h"

namespace orlenta {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

const std::regex kStamp("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ");

std::string Masked(const std::string& log) { return std::regex_replace(log, kStamp, "[T] "); }

TEST(AppendErrorLog, CreatesTheLogWithAMarkThenAppends) {
  TempFolder folder;
  const std::u16string log = folder.Join(u"Orlenta_Error.log");
  AppendErrorLog(log, u"画像ファイルが存在しません: C:\\images\\0001.jpg", {"17", "C:\\images\\0001.jpg", ""});
  AppendErrorLog(log, u"画像ファイルのコピーに失敗しました。\n\nコピー元:\na\n\nコピー先:\nb", {"q\"q", "a"});
  EXPECT_EQ(Masked(ReadBytes(testing::ToFsPath(log))),
            "\xEF\xBB\xBF[T] 内容=画像ファイルが存在しません: C:\\images\\0001.jpg\r\n"
            "\"17\",\"C:\\images\\0001.jpg\",\"\"\r\n"
            "[T] 内容=画像ファイルのコピーに失敗しました。\n\nコピー元:\na\n\nコピー先:\nb\r\n"
            "\"q\"\"q\",\"a\"\r\n");
}

TEST(AppendErrorLog, ExistingLogsGetNoSecondMark) {
  TempFolder folder;
  const std::u16string log = folder.Join(u"Orlenta_Error.log");
  for (std::string earlier : {std::string(), std::string("earlier run\r\n")}) {
    WriteBytes(testing::ToFsPath(log), earlier);
    AppendErrorLog(log, u"m", {"x"});
    EXPECT_EQ(Masked(ReadBytes(testing::ToFsPath(log))), earlier + "[T] 内容=m\r\n\"x\"\r\n");
  }
}

TEST(AppendErrorLog, TimestampHasTheFixedForm) {
  TempFolder folder;
  const std::u16string log = folder.Join(u"log");
  AppendErrorLog(log, u"m", {});
  std::string bytes = ReadBytes(testing::ToFsPath(log));
  EXPECT_TRUE(std::regex_match(bytes, std::regex("\xEF\xBB\xBF\\[\\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12]\\d|3[01]) "
                                                 "([01]\\d|2[0-3]):[0-5]\\d:[0-6]\\d\\] 内容=m\r\n\r\n")))
      << bytes;
}

TEST(AppendErrorLog, UnopenableLogIsSkippedSilently) {
  TempFolder folder;
  const std::u16string log = folder.Join(u"Orlenta_Error.log");
  std::filesystem::create_directory(testing::ToFsPath(log));
  AppendErrorLog(log, u"m", {"x"});
  EXPECT_TRUE(std::filesystem::is_directory(testing::ToFsPath(log)));
}

}  // namespace
}  // namespace orlenta
