#include "support/test_support.h"

#include <random>

namespace orlenta::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device entropy;
  while (fs_path_.empty()) {
    const fs::path candidate = fs::temp_directory_path() / ("orlenta-test-" + std::to_string(entropy()));
    if (fs::create_directory(candidate)) fs_path_ = fs::canonical(candidate);
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;  // a folder left behind is no failure of the test
  fs::remove_all(fs_path_, ignored);
}

}  // namespace orlenta::testing
