#include "qorimgio.h"

#include <cstddef>
#include <cstring>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#  include <cerrno>
#endif

static_assert(sizeof(ImageProbeRecord) == 56, "the record is 56 bytes of caller storage");

namespace {

constexpr std::size_t kHeaderSize = 16;

// Reads up to kHeaderSize bytes; returns the count, or -1 when the file
// cannot be opened (a folder counts as not openable).
int ReadHeader(const char* path, unsigned char* header) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD total = 0;
  while (total < kHeaderSize) {
    DWORD got = 0;
    if (!ReadFile(file, header + total, static_cast<DWORD>(kHeaderSize - total), &got, nullptr) ||
        got == 0)
      break;
    total += got;
  }
  CloseHandle(file);
  return static_cast<int>(total);
#else
  // O_NONBLOCK: a FIFO without a writer reads as empty instead of blocking.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return -1;
  }
  std::size_t total = 0;
  while (total < kHeaderSize) {
    ssize_t got = read(fd, header + total, kHeaderSize - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  close(fd);
  return static_cast<int>(total);
#endif
}

bool StartsWith(const unsigned char* header, int size, const char* signature, int length) {
  return size >= length && std::memcmp(header, signature, static_cast<std::size_t>(length)) == 0;
}

}  // namespace

extern "C" {

QORIMGIO_API void QORIMGIO_CALL InitImageProbe(ImageProbeRecord* record) {
  if (record == nullptr) return;
  std::memset(record, 0, sizeof *record);
}

QORIMGIO_API short QORIMGIO_CALL ProbeImageFile(ImageProbeRecord* record) {
  if (record == nullptr || record->path == nullptr) return QORIMGIO_BAD_ARGUMENT;
  unsigned char header[kHeaderSize] = {};
  int size = ReadHeader(record->path, header);
  if (size < 0) return QORIMGIO_CANNOT_OPEN;

  if (StartsWith(header, size, "\x89PNG\r\n\x1a\n", 8)) return QORIMGIO_PNG;
  if (StartsWith(header, size, "\xFF\xD8\xFF", 3)) return QORIMGIO_JPEG;
  if (StartsWith(header, size, "II*\0", 4) || StartsWith(header, size, "MM\0*", 4))
    return QORIMGIO_TIFF;
  if (StartsWith(header, size, "GIF87a", 6) || StartsWith(header, size, "GIF89a", 6))
    return QORIMGIO_GIF;
  if (StartsWith(header, size, "BM", 2)) return QORIMGIO_BMP;
  // Shorter than the longest signature and matching none: we cannot tell.
  return size < 8 ? QORIMGIO_TOO_SHORT : QORIMGIO_UNKNOWN;
}

}  // extern "C"
