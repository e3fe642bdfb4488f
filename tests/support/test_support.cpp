#include "support/test_support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace orlenta::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device entropy;
  std::error_code error;
  for (int attempt = 0; attempt < 100 && fs_path_.empty(); ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("orlenta-test-" + std::to_string(entropy()));
    if (fs::create_directory(candidate, error)) fs_path_ = fs::canonical(candidate);
  }
  if (fs_path_.empty()) throw std::runtime_error("cannot create a temporary folder");
  path_ = fs_path_.u16string();
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Read-only entries left by a test must not keep the folder alive.
  for (auto it = fs::recursive_directory_iterator(fs_path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(fs_path_, error);
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MaskTimestamps(std::string log) {
  // Line 1 of an entry begins "[YYYY-MM-DD hh:mm:ss] 内容=": 19 characters to mask.
  for (std::size_t at = log.find("] 内容="); at != std::string::npos && at >= 19;
       at = log.find("] 内容=", at - 17))
    log.replace(at - 19, 19, "T");
  return log;
}

}  // namespace orlenta::testing
