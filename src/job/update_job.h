// The update of one CSV file from start to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "csv/csv.h"
#include "platform/platform.h"

namespace orlenta {

/// Told how far the job has come, phase by phase, on the job's own thread.
class JobProgress {
 public:
  /// After each read of the CSV that brought bytes: `done` bytes read so far
  /// of the `total` the file measured when it was opened (`done` passes
  /// `total` when the file grew meanwhile).
  virtual void BytesRead(std::uint64_t done, std::uint64_t total) = 0;

  /// With 0 done before the first data row and again after every row, `done`
  /// never decreasing and reaching `total` (the data rows) on the last call;
  /// never when the table has no data rows. Called once per row: keep it cheap.
  virtual void RowsDone(std::size_t done, std::size_t total) = 0;

  /// Once, just before the temporary file is written; what follows (write,
  /// sync, move) has no measure.
  virtual void Saving() = 0;

 protected:
  ~JobProgress() = default;
};

/// Places every image of the CSV at `csv_path`, rewrites the CSV fully
/// quoted through "<csv_path>.tmp" and returns the number of image cells
/// that failed. Throws AppException when the job as a whole fails. Reports
/// its phases to `progress` when there is one. Copies on `threads` threads
/// besides its own (by default none for a CSV of few images, else the
/// measured count); what a run leaves does not depend on the count.
std::uint32_t RunUpdateJob(const std::u16string& csv_path, platform::FileSystem& fs,
                           JobProgress* progress = nullptr,
                           std::optional<unsigned> threads = std::nullopt);

/// Returns when `path` names a folder afterwards; throws AppException otherwise.
void EnsureFolder(const std::u16string& path, platform::FileSystem& fs);

/// The whole file; throws AppException when it cannot be opened or read whole.
/// Reports each read to `progress` when there is one.
std::string ReadWholeFile(const std::u16string& path, platform::FileSystem& fs,
                          JobProgress* progress = nullptr);

/// Index of the first header field equal to `name`; throws AppException.
std::size_t FindColumn(const CsvTable& table, std::string_view name);  // in row 0

}  // namespace orlenta
