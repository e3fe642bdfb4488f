// The error log beside the CSV: two lines per failed image cell.
#pragma once

#include <string_view>

#include "csv/csv.h"
#include "platform/platform.h"

namespace orlenta {

/// Appends one timestamped entry for `message` and `row` to the log at
/// `log_path`, creating it (with a byte-order mark) when missing. A log that
/// cannot be opened is skipped silently: false then, true when the log was
/// opened for the entry. Throws AppException only when the entry cannot be
/// converted to UTF-8.
bool AppendErrorLog(platform::FileSystem& fs, std::u16string_view log_path,
                    std::u16string_view message, const CsvRow& row);

}  // namespace orlenta
