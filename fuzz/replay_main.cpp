// Runs a fuzz target's entry point once on every file of the folders (or on
// the files) named on the command line, without libFuzzer, so that its checks
// also run in the ordinary, sanitizer and Windows builds.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "fuzz_check.h"

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code not_a_folder;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], not_a_folder))
      if (entry.is_regular_file()) files.push_back(entry.path());
    if (not_a_folder) files.emplace_back(argv[i]);
  }
  for (const auto& file : files) {
    // Named first, so that a failed check shows which input failed it.
    std::fprintf(stderr, "replaying %s\n", file.string().c_str());
    std::ifstream in(file, std::ios::binary);
    FUZZ_CHECK(in);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;  // a wrong or empty folder must not pass as a clean run
}
