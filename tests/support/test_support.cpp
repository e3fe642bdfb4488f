#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace orlenta::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("orlenta-test-" + std::to_string(entropy()) + "-" +
                                 std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      fs_path_ = fs::canonical(candidate);
      path_ = FromFsPath(fs_path_);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Read-only entries left by a test must not keep the folder alive.
  for (auto it = fs::recursive_directory_iterator(fs_path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(fs_path_, error);
}

std::u16string TempFolder::Join(std::u16string_view name) const {
  return FromFsPath(fs_path_ / ToFsPath(name));
}

fs::path ToFsPath(std::u16string_view path) { return fs::path(std::u16string(path)); }

std::u16string FromFsPath(const fs::path& path) { return path.u16string(); }

void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orlenta::testing
