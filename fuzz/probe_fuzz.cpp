// Arbitrary file contents through the image-information library: a file is
// accepted, with its format's extension, exactly when it begins with the PNG,
// JPEG or TIFF signature, else refused with a message naming it. A file cut
// inside a signature must not pass: the library must not look past its bytes.
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

#include "fuzz_check.h"
#include "image/image.h"
#include "text/app_exception.h"

using namespace std::string_view_literals;

constexpr std::pair<std::string_view, const char*> kAccepted[] = {
    {"\x89PNG\r\n\x1a\n"sv, ".png"}, {"\xFF\xD8\xFF"sv, ".jpg"}, {"II*\0"sv, ".tif"}, {"MM\0*"sv, ".tif"}};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A random name, so that parallel fuzz jobs each probe their own file.
  static const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("probe_fuzz." + std::to_string(std::random_device()()));
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(std::ofstream(scratch, std::ios::binary).write(bytes.data(), std::streamsize(size)).flush());
  const char* expected = nullptr;
  for (const auto& [signature, extension] : kAccepted)
    if (bytes.starts_with(signature)) expected = extension;
  const std::u16string path = scratch.u16string();
  try {
    const std::string extension = orlenta::ProbeImageExtension(path);  // refusals throw
    FUZZ_CHECK(expected != nullptr && extension == expected);
  } catch (const orlenta::AppException& refusal) {
    FUZZ_CHECK(expected == nullptr && refusal.message().find(path) != std::u16string::npos);
  }
  std::filesystem::remove(scratch);
  return 0;
}
