// Arbitrary file contents through the image-information library: it names the
// format whose signature the file begins with, else calls it too short (under
// 8 bytes) or unknown; a file cut inside a signature must not pass, so the
// library must not look past its bytes. The program accepts exactly PNG, JPEG
// and TIFF, with their extensions, and refuses the rest naming the file. The
// file gone, a folder in its place, no path and no record are told apart.
#include <filesystem>
#include <fstream>
#include <random>

#include "fuzz_check.h"
#include "image/image.h"
#include "qorimgio.h"
#include "text/app_exception.h"

using namespace std::string_view_literals;

constexpr struct { std::string_view signature; short code; const char* extension; } kKnown[] = {
    {"\x89PNG\r\n\x1a\n"sv, QORIMGIO_PNG, ".png"}, {"\xFF\xD8\xFF"sv, QORIMGIO_JPEG, ".jpg"},
    {"II*\0"sv, QORIMGIO_TIFF, ".tif"}, {"MM\0*"sv, QORIMGIO_TIFF, ".tif"},
    {"II+\0\x08\0\0\0"sv, QORIMGIO_TIFF, ".tif"}, {"MM\0+\0\x08\0\0"sv, QORIMGIO_TIFF, ".tif"},
    {"GIF87a"sv, QORIMGIO_GIF, nullptr}, {"GIF89a"sv, QORIMGIO_GIF, nullptr}, {"BM"sv, QORIMGIO_BMP, nullptr}};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A random name, so that parallel fuzz jobs each probe their own file.
  static const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("probe_fuzz." + std::to_string(std::random_device()()));
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(std::ofstream(scratch, std::ios::binary).write(bytes.data(), std::streamsize(size)).flush());
  short code = size < 8 ? QORIMGIO_TOO_SHORT : QORIMGIO_UNKNOWN;
  const char* expected = nullptr;
  for (const auto& known : kKnown)
    if (bytes.starts_with(known.signature)) code = known.code, expected = known.extension;
  const std::string ansi = scratch.string();  // ASCII: its own ANSI form
  ImageProbeRecord record;
  InitImageProbe(&record);
  record.path = ansi.c_str();
  FUZZ_CHECK(ProbeImageFile(&record) == code);
  const std::u16string path = scratch.u16string();
  try {
    const std::string extension = orlenta::ProbeImageExtension(path);  // refusals throw
    FUZZ_CHECK(expected != nullptr && extension == expected);
  } catch (const orlenta::AppException& refusal) {
    FUZZ_CHECK(expected == nullptr && refusal.message().find(path) != std::u16string::npos);
  }
  std::filesystem::remove(scratch);
  FUZZ_CHECK(ProbeImageFile(&record) == QORIMGIO_CANNOT_OPEN);
  const std::string folder = scratch.parent_path().string();
  record.path = folder.c_str();
  FUZZ_CHECK(ProbeImageFile(&record) == QORIMGIO_CANNOT_OPEN);
  InitImageProbe(&record);  // no path
  FUZZ_CHECK(ProbeImageFile(&record) == QORIMGIO_BAD_ARGUMENT && ProbeImageFile(nullptr) == QORIMGIO_BAD_ARGUMENT);
  return 0;
}
