// Helpers for tests that work on real files in a fresh temporary folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orlenta::testing {

/// A new empty folder under the system's temporary folder, removed with
/// everything in it when the object leaves scope.
class TempFolder {
 public:
  TempFolder() {
    for (std::random_device entropy; fs_path_.empty();) {
      const auto candidate = std::filesystem::temp_directory_path() / ("orlenta-test-" + std::to_string(entropy()));
      if (std::filesystem::create_directory(candidate)) fs_path_ = std::filesystem::canonical(candidate);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;  // a folder left behind is no failure of the test
    std::filesystem::remove_all(fs_path_, ignored);
  }
  const std::filesystem::path& fs_path() const { return fs_path_; }
  /// The folder, and `name` joined to it, as the program spells paths.
  std::u16string path() const { return fs_path_.u16string(); }
  std::u16string Join(std::u16string_view name) const { return (fs_path_ / name).u16string(); }

 private:
  std::filesystem::path fs_path_;
};

/// Creates or replaces the file at `path` with exactly `bytes`.
inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  if (!std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())))
    throw std::runtime_error("cannot write " + path.string());
}

/// The whole file at `path`; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

/// Minimal valid headers of the three accepted formats.
inline constexpr std::string_view kPngBytes{"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16};
inline constexpr std::string_view kJpegBytes{"\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11};
inline constexpr std::string_view kTiffBytes{"II*\0\x08\0\0\0", 8};

}  // namespace orlenta::testing
