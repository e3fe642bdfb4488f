// Placing one image cell: copying the named image into its target folder and
// producing the copy's path relative to the CSV's folder.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"

namespace orlenta {

/// What each target folder holds for this run: for each destination (by
/// PathCompareKey), the source placed there first, by its compare key and by
/// its path. Recording costs no file-system call; the files are looked at
/// only when a destination comes up again. Safe to use from several threads
/// at once, as long as the cells of one destination are placed one after
/// another: an entry never changes once recorded.
class CopyLedger {
 public:
  struct Entry {
    std::u16string source_key;
    std::u16string source;
  };
  /// The entry recorded for `destination_key`, or nullptr; it stays valid
  /// for the ledger's life.
  const Entry* Find(const std::u16string& destination_key) const;
  /// Records `entry` for a destination that has none yet.
  void Record(std::u16string destination_key, Entry entry);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::u16string, Entry> slots_;  // nodes: entries never move
};

/// A placed image cell: its new text, and the destination when this cell
/// wrote it or found it in place (which must reach stable storage before a
/// CSV names it), else empty; `written_out` is the caller's, for whether
/// that destination is already on its way there.
struct Placement {
  std::string cell;
  std::u16string written;
  bool written_out = false;
};

/// The file that an image cell's `path` names: `path` itself from the
/// current folder, else, for a relative path, the same path from
/// `csv_folder`; nullopt when neither is a file.
std::optional<std::u16string> ResolveSource(const std::u16string& path,
                                            std::u16string_view csv_folder,
                                            platform::FileSystem& fs);

/// The path of an image cell that may name its own copy in `target_folder`
/// (...\Fore\name, the name with a '.'), found without a file-system call;
/// nullopt for every other cell. Never throws.
std::optional<std::u16string> OwnCopyCandidate(std::string_view cell,
                                               std::u16string_view target_folder);

/// Before the pass: when the cell whose `path` OwnCopyCandidate gave names
/// its own copy (a CSV processed before), records that destination as
/// placed, so that no other image replaces a copy the CSV names, in any row.
/// Candidates of different file names may be claimed on several threads.
void ClaimOwnCopy(const std::u16string& path, std::u16string_view target_folder,
                  std::u16string_view csv_folder, platform::FileSystem& fs, CopyLedger& ledger);

/// Copies the image that `cell` names into `target_folder` and returns the
/// copy's path relative to `csv_folder` as UTF-8. An empty cell gives "".
/// Cells of different file names may be placed on several threads at once.
/// Throws AppException with the complete message (naming the cell's own
/// text) when the image cannot be placed. An image lands once: a destination
/// in `ledger` takes only the same file or the same bytes, without a copy;
/// a refused copy onto a file of the same bytes (a read-only earlier copy)
/// places the cell. When nothing collides, the only file-system calls are
/// the source's QueryPath and the copy.
Placement PlaceImage(std::string_view cell, std::u16string_view target_folder,
                     std::u16string_view csv_folder, platform::FileSystem& fs, CopyLedger& ledger);

/// `path` relative to `base` when `base` is a leading folder of it (compared
/// case-insensitively), else `path` whole; '/' becomes '\' in the result.
std::u16string MakeRelativePath(std::u16string_view base, std::u16string_view path);

/// ".tif", ".jpg" or ".png" for the file at `path`, as the image-information
/// library reports it. Throws AppException otherwise.
std::string ProbeImageExtension(std::u16string_view path);

/// Every extension that ProbeImageExtension gives.
inline constexpr std::u16string_view kProbedExtensions[] = {u".tif", u".jpg", u".png"};

/// `text` in the system ANSI code page; throws AppException on failure.
std::string WideToAnsi(std::u16string_view text);

}  // namespace orlenta
