// Placing one image cell: copying the named image into its target folder and
// producing the copy's path relative to the CSV's folder.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace orlenta {

/// What each target folder has received in one run: for each destination
/// (by PathCompareKey), the source copied there last, by its compare key and
/// by its path as written; and every destination this run wrote, which must
/// reach stable storage before a CSV names it. Recording costs no file-system
/// call; the files are looked at only when a destination comes up again from
/// another source.
class CopyLedger {
 public:
  struct Entry {
    std::u16string source_key;
    std::u16string source;
  };
  /// The entry recorded for `destination_key`, or nullptr.
  const Entry* Find(const std::u16string& destination_key) const;
  /// Records `entry` for the destination; `written` is its path when this
  /// placement copied the file there, empty when it made no copy.
  void Record(std::u16string destination_key, Entry entry, std::u16string_view written);
  /// The destinations written this run, each once; the ledger forgets them.
  std::vector<std::u16string> TakeWritten() { return std::move(written_); }

 private:
  struct Slot {
    Entry entry;
    bool written = false;
  };
  std::unordered_map<std::u16string, Slot> slots_;
  std::vector<std::u16string> written_;
};

/// Copies the image that `cell` names into `target_folder` and returns the
/// copy's path relative to `csv_folder` as UTF-8. An empty cell gives "".
/// Throws AppException with the complete message when the image cannot be
/// placed. A cell that names the copy itself keeps its reference. Records
/// the copy in `ledger` and refuses to replace an earlier copy of this run
/// made from a different file with different bytes. When nothing
/// collides, the only file-system calls are the source's QueryPath and the
/// copy.
std::string PlaceImage(std::string_view cell, std::u16string_view target_folder,
                       std::u16string_view csv_folder, platform::FileSystem& fs,
                       CopyLedger& ledger);

/// `path` relative to `base` when `base` is a leading folder of it (compared
/// case-insensitively), else `path` whole; '/' becomes '\' in the result.
std::u16string MakeRelativePath(std::u16string_view base, std::u16string_view path);

/// ".tif", ".jpg" or ".png" for the file at `path`, as the image-information
/// library reports it. Throws AppException otherwise.
std::string ProbeImageExtension(std::u16string_view path);

/// `text` in the system ANSI code page; throws AppException on failure.
std::string WideToAnsi(std::u16string_view text);

}  // namespace orlenta
