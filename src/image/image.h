// Placing one image cell: copying the named image into its target folder and
// producing the copy's path relative to the CSV's folder.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"

namespace orlenta {

/// What each target folder has received in one run: destination (by
/// PathCompareKey) to the identity of the file copied there. Lets a run
/// refuse to overwrite an earlier copy of a different image.
class CopyLedger {
 public:
  /// The identity recorded for `destination_key`, or nullptr.
  const platform::FileIdentity* Find(const std::u16string& destination_key) const;
  void Record(std::u16string destination_key, platform::FileIdentity source);

 private:
  std::unordered_map<std::u16string, platform::FileIdentity> copies_;
};

/// Copies the image that `cell` names into `target_folder` and returns the
/// copy's path relative to `csv_folder` as UTF-8. An empty cell gives "".
/// Throws AppException with the complete message when the image cannot be
/// placed. With a ledger, records the copy and refuses to replace an earlier
/// copy of this run made from a different file with different bytes.
std::string PlaceImage(std::string_view cell, std::u16string_view target_folder,
                       std::u16string_view csv_folder, platform::FileSystem& fs,
                       CopyLedger* ledger = nullptr);

/// `path` relative to `base` when `base` is a leading folder of it (compared
/// case-insensitively), else `path` whole; '/' becomes '\' in the result.
std::u16string MakeRelativePath(std::u16string_view base, std::u16string_view path);

/// ".tif", ".jpg" or ".png" for the file at `path`, as the image-information
/// library reports it. Throws AppException otherwise.
std::string ProbeImageExtension(std::u16string_view path);

/// `text` in the system ANSI code page; throws AppException on failure.
std::string WideToAnsi(std::u16string_view text);

}  // namespace orlenta
