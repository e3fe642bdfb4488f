#include "job/error_log.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "text/text.h"

namespace orlenta {

namespace {

constexpr std::u16string_view kEntryHead = u"] 内容=";

// "YYYY-MM-DD hh:mm:ss" of the local time, formatted within a bounded buffer.
std::u16string Timestamp() {
  platform::LocalTime now = platform::GetLocalTimeNow();
  char buffer[64] = {};
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month,
                now.day, now.hour, now.minute, now.second);
  return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

}  // namespace

bool AppendErrorLog(platform::FileSystem& fs, std::u16string_view log_path,
                    std::u16string_view message, const CsvRow& row) {
  const bool existed = fs.QueryPath(log_path) == platform::PathKind::kFile;
  std::optional<platform::File> log = fs.OpenFile(log_path, platform::File::Mode::kAppendShared);
  if (!log) return false;
  // Each write stands alone: a log that cannot take an entry never stops the run.
  if (!existed) fs.Write(*log, kByteOrderMark);

  std::u16string line = u"[";
  line.append(Timestamp()).append(kEntryHead).append(message).append(u"\r\n");
  fs.Write(*log, WideToUtf8(line));
  std::string formatted = FormatCsvRow(row);
  formatted.append("\r\n");
  fs.Write(*log, formatted);
  return true;
}

}  // namespace orlenta
