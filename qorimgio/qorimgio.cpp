#include "qorimgio.h"

#include <cstddef>
#include <cstdlib>
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

#ifdef _WIN32
// Plain C runtime memory below, freed by hand: no destructor, so no C++
// unwinding and no C++ library in this DLL.

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

HANDLE OpenToRead(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens `path`; when its full form reaches MAX_PATH, through \\?\ + the full
// form, or \\?\UNC\server\share\... for a share. A path already in a
// namespace (\\?\ or \\.\, either separator) goes as written. The program's
// own file calls widen their paths by the same rule.
HANDLE OpenWidened(const wchar_t* path) {
  const bool in_namespace = IsSeparator(path[0]) && IsSeparator(path[1]) &&
                            (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]);
  // The size that the full form needs, its terminator counted; 0 on failure.
  const DWORD needed = in_namespace ? 0 : GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed <= MAX_PATH) return OpenToRead(path);

  constexpr std::size_t kRoom = 8;  // for \\?\UNC\ in front of the full form
  auto* buffer = static_cast<wchar_t*>(std::calloc(kRoom + needed, sizeof(wchar_t)));
  if (buffer == nullptr) return INVALID_HANDLE_VALUE;
  wchar_t* full = buffer + kRoom;
  const DWORD length = GetFullPathNameW(path, needed, full, nullptr);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (length == 0 || length >= needed || length < MAX_PATH) {
    file = OpenToRead(path);
  } else if (full[0] == L'\\' && full[1] == L'\\') {  // \\server\share: \\?\UNC\server\share
    std::memcpy(full - 6, L"\\\\?\\UNC\\", 8 * sizeof(wchar_t));
    file = OpenToRead(full - 6);
  } else {
    std::memcpy(full - 4, L"\\\\?\\", 4 * sizeof(wchar_t));
    file = OpenToRead(full - 4);
  }
  std::free(buffer);
  return file;
}

// Opens the ANSI `path` as the ANSI open would, but through its wide form,
// which is not bound to MAX_PATH.
HANDLE OpenAnsiPath(const char* path) {
  const int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (units <= 0) return INVALID_HANDLE_VALUE;
  auto* wide = static_cast<wchar_t*>(std::calloc(static_cast<std::size_t>(units), sizeof(wchar_t)));
  if (wide == nullptr) return INVALID_HANDLE_VALUE;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, units) > 0) file = OpenWidened(wide);
  std::free(wide);
  return file;
}
#endif

// Reads up to kHeaderSize bytes; returns the count, or -1 when the file
// cannot be opened (a folder counts as not openable).
int ReadHeader(const char* path, unsigned char* header) {
#ifdef _WIN32
  HANDLE file = OpenAnsiPath(path);
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
  // BigTIFF: version 43, then the offset size 8 and two reserved zero bytes,
  // in the byte order that II or MM names.
  if (StartsWith(header, size, "II+\0\x08\0\0\0", 8) || StartsWith(header, size, "MM\0+\0\x08\0\0", 8))
    return QORIMGIO_TIFF;
  if (StartsWith(header, size, "GIF87a", 6) || StartsWith(header, size, "GIF89a", 6))
    return QORIMGIO_GIF;
  if (StartsWith(header, size, "BM", 2)) return QORIMGIO_BMP;
  // Shorter than the longest signature and matching none: we cannot tell.
  return size < 8 ? QORIMGIO_TOO_SHORT : QORIMGIO_UNKNOWN;
}

}  // extern "C"
