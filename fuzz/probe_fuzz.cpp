// Arbitrary file heads through the image-information library and the probe
// above it. The input is written to a file of its own; ProbeImageFile must
// return 7, 4 or 2 exactly when the file begins with the PNG, JPEG or TIFF
// signature, and ProbeImageExtension must give the matching extension or
// the unsupported-format message naming the path.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "image/image.h"
#include "qorimgio.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace {

#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

// One scratch folder per process (parallel fuzz jobs each get their own),
// removed when the process ends normally.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "probe_fuzz.XXXXXX").string();
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    folder_ = pattern;
    file_ = (folder_ / "head").string();
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& file() const { return file_; }
  std::string missing() const { return (folder_ / "absent").string(); }

 private:
  std::filesystem::path folder_;
  std::string file_;
};

bool Begins(std::string_view bytes, std::string_view signature) {
  return bytes.substr(0, signature.size()) == signature;
}

short Probe(const std::string& path) {
  ImageProbeRecord record;
  std::memset(&record, 0xA5, sizeof record);  // the library must set what it needs
  InitImageProbe(&record);
  record.path = path.c_str();
  return ProbeImageFile(&record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(scratch.file(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good());
  }

  const bool png = Begins(bytes, std::string_view("\x89PNG\r\n\x1a\n", 8));
  const bool jpeg = Begins(bytes, "\xFF\xD8\xFF");
  const bool tiff = Begins(bytes, std::string_view("II*\0", 4)) || Begins(bytes, std::string_view("MM\0*", 4));
  const short code = Probe(scratch.file());
  FUZZ_CHECK((code == 7) == png);
  FUZZ_CHECK((code == 4) == jpeg);
  FUZZ_CHECK((code == 2) == tiff);

  const std::u16string wide_path = orlenta::Utf8ToWide(scratch.file());
  const char* expected = png ? ".png" : jpeg ? ".jpg" : tiff ? ".tif" : nullptr;
  try {
    const std::string extension = orlenta::ProbeImageExtension(wide_path);
    FUZZ_CHECK(expected != nullptr && extension == expected);
  } catch (const orlenta::AppException& failure) {
    FUZZ_CHECK(expected == nullptr);
    FUZZ_CHECK(failure.message() == u"対応外の画像形式です: " + wide_path);
  }

  // A file that is not there is never an image, whatever came before.
  const short absent = Probe(scratch.missing());
  FUZZ_CHECK(absent != 2 && absent != 4 && absent != 7);
  return 0;
}
