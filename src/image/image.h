// Placing one image cell: copying the named image into its target folder and
// producing the copy's path relative to the CSV's folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace orlenta {

/// What each target folder holds for this run: for each destination (by
/// PathCompareKey), the source placed there first, by its compare key and by
/// its path; and every destination this run wrote or found in place, which
/// must reach stable storage before a CSV names it. Recording costs no
/// file-system call; the files are looked at only when a destination comes
/// up again.
class CopyLedger {
 public:
  struct Entry {
    std::u16string source_key;
    std::u16string source;
  };
  /// The entry recorded for `destination_key`, or nullptr.
  const Entry* Find(const std::u16string& destination_key) const;
  /// Records `entry` for a destination that has none yet; `written` is its
  /// path when this run wrote it or found it in place, empty when the file
  /// was there before and the CSV named it already.
  void Record(std::u16string destination_key, Entry entry, std::u16string_view written);
  /// The destinations written this run, each once; the ledger forgets them.
  std::vector<std::u16string> TakeWritten() { return std::move(written_); }

 private:
  std::unordered_map<std::u16string, Entry> slots_;
  std::vector<std::u16string> written_;
};

/// The file that an image cell's `path` names: `path` itself from the
/// current folder, else, for a relative path, the same path from
/// `csv_folder`; nullopt when neither is a file.
std::optional<std::u16string> ResolveSource(const std::u16string& path,
                                            std::u16string_view csv_folder,
                                            platform::FileSystem& fs);

/// Before the pass: when `cell` names its own copy in `target_folder` (a CSV
/// processed before), records that destination as placed, so that no other
/// image replaces a copy the CSV names, in any row. Never throws.
void ClaimOwnCopy(std::string_view cell, std::u16string_view target_folder,
                  std::u16string_view csv_folder, platform::FileSystem& fs, CopyLedger& ledger);

/// Copies the image that `cell` names into `target_folder` and returns the
/// copy's path relative to `csv_folder` as UTF-8. An empty cell gives "".
/// Throws AppException with the complete message (naming the cell's own
/// text) when the image cannot be placed. An image lands once: a destination
/// in `ledger` takes only the same file or the same bytes, without a copy;
/// a refused copy onto a file of the same bytes (a read-only earlier copy)
/// places the cell. When nothing collides, the only file-system calls are
/// the source's QueryPath and the copy.
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
