// Helpers for tests that work on real files in a fresh temporary folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "text/app_exception.h"

namespace orlenta::testing {

/// A new empty folder under the system's temporary folder, removed with
/// everything in it when the object leaves scope.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  /// The folder as the program spells paths (UTF-16, native separators).
  const std::u16string& path() const { return path_; }
  /// `name` joined to the folder with the native separator.
  std::u16string Join(std::u16string_view name) const { return (fs_path_ / name).u16string(); }
  const std::filesystem::path& fs_path() const { return fs_path_; }

 private:
  std::filesystem::path fs_path_;
  std::u16string path_;
};

inline std::filesystem::path ToFsPath(std::u16string_view path) { return path; }
inline std::u16string FromFsPath(const std::filesystem::path& path) { return path.u16string(); }

/// Creates or replaces the file at `path` with exactly `bytes`.
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
/// The whole file at `path`; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);

/// The message of the AppException that `action` throws, or "(no exception)".
std::u16string MessageOf(auto&& action) {
  try {
    action();
  } catch (const AppException& e) {
    return e.message();
  }
  return u"(no exception)";
}

/// An error log with the timestamp of each entry replaced by "T".
std::string MaskTimestamps(std::string log);

/// Minimal valid headers of the three accepted formats and of two others.
inline constexpr std::string_view kPngBytes{"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16};
inline constexpr std::string_view kJpegBytes{"\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11};
inline constexpr std::string_view kTiffBytes{"II*\0\x08\0\0\0", 8};
inline constexpr std::string_view kGifBytes{"GIF89a\x01\0\x01\0", 10};
inline constexpr std::string_view kBmpBytes{"BM\x3a\0\0\0\0\0\0\0", 10};

}  // namespace orlenta::testing
