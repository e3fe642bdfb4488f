// The POSIX implementation of platform.h. Paths reach the OS as UTF-8 with
// '\' mapped to '/', so paths written for Windows work unchanged.
#include "platform/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

namespace orlenta::platform {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

/// True when `c` is a UTF-8 continuation byte (10xxxxxx).
constexpr bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

/// UTF-8 bytes of a code point below 0x10000, appended at `out`; returns the end.
char* PutBmp(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

/// Lenient UTF-16 to UTF-8: unpaired surrogates become U+FFFD. Exact length.
std::string EncodeUtf8(std::u16string_view in) {
  // Measuring first keeps the result exact without a 3x scratch buffer.
  std::size_t bytes = 0;
  const std::size_t n = in.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = in[i];
    if (c < 0x80) {
      bytes += 1;
    } else if (c < 0x800) {
      bytes += 2;
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 &&
               in[i + 1] <= 0xDFFF) {
      bytes += 4;
      ++i;
    } else {
      bytes += 3;  // other BMP characters and unpaired surrogates (U+FFFD)
    }
  }
  std::string out(bytes, '\0');
  char* p = out.data();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = in[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0xD800 || c > 0xDFFF) {
      p = PutBmp(p, c);
    } else if (c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((char32_t{c} - 0xD800) << 10) + (char32_t{in[i + 1]} - 0xDC00);
      *p++ = static_cast<char>(0xF0 | (cp >> 18));
      *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (cp & 0x3F));
      ++i;
    } else {
      p = PutBmp(p, kReplacementCharacter);
    }
  }
  return out;
}

/// Lenient UTF-8 to UTF-16 after the "maximal subpart" practice: a truncated
/// but valid prefix gives one U+FFFD, every other invalid byte one. Exact length.
std::u16string DecodeUtf8(std::string_view in) {
  // No UTF-8 sequence yields more code units than it has bytes, so the input
  // length bounds the output and one allocation suffices.
  std::u16string out(in.size(), u'\0');
  char16_t* o = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const unsigned char* const end = p + in.size();
  while (p < end) {
    // ASCII runs dominate real data: take eight bytes per test.
    while (end - p >= 8) {
      std::uint64_t block;
      std::memcpy(&block, p, 8);
      if (block & 0x8080808080808080ULL) break;
      for (int k = 0; k < 8; ++k) o[k] = p[k];
      o += 8;
      p += 8;
    }
    if (p == end) break;
    const unsigned char lead = *p;
    if (lead < 0x80) {
      *o++ = lead;
      ++p;
      continue;
    }
    // Length and the allowed range of the second byte, which is where
    // overlongs, surrogates and code points above U+10FFFF are excluded.
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      *o++ = kReplacementCharacter;  // stray continuation, C0/C1, F5..FF
      ++p;
      continue;
    }
    int taken = 1;
    bool complete = true;
    for (; taken < length; ++taken) {
      if (p + taken == end) {
        complete = false;
        break;
      }
      const unsigned char c = p[taken];
      const bool in_range = taken == 1 ? (c >= low && c <= high) : IsContinuation(c);
      if (!in_range) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    p += taken;
    if (!complete) {
      *o++ = kReplacementCharacter;  // the valid prefix as one unit
    } else if (cp < 0x10000) {
      *o++ = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

/// `path` as the OS takes it: UTF-8, '\' as '/'. False when it holds a NUL,
/// which the OS would take for the end of the path.
bool ToNativePath(std::u16string_view path, std::string& native) {
  if (path.find(u'\0') != std::u16string_view::npos) return false;
  native = EncodeUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return true;
}

/// A file descriptor closed when it leaves scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  /// Closes now and reports whether the close succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) == 0;
  }

 private:
  int fd_;
};

/// Opens with retries on EINTR; -1 on failure.
int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/// Writes all of `size` bytes, resuming after partial writes and EINTR.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

/// Copies the rest of `in` to `out` with read/write, through one reused buffer.
bool CopyByReadWrite(int in, int out) {
  constexpr std::size_t kBufferSize = 1 << 20;
  // Copies run tens of thousands of times a run: allocate the buffer once.
  thread_local std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    const ssize_t got = ::read(in, buffer.get(), kBufferSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    if (!WriteAll(out, buffer.get(), static_cast<std::size_t>(got))) return false;
  }
}

/// Copies the rest of `in` to `out`, in the kernel where it can. `size` is
/// what fstat reported for `in`: once that much is copied the copy is done
/// without a further call to find the end. A size of 0 says nothing (files
/// of some kernel file systems report it and still have content), so then
/// the copy runs to the end.
bool CopyContents(int in, int out, off_t size) {
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  std::uint64_t left = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  for (;;) {
    const std::size_t ask = left > 0 && left < kChunk ? static_cast<std::size_t>(left) : kChunk;
    const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, ask, 0);
    if (copied > 0) {
      if (left > 0) {
        if (static_cast<std::uint64_t>(copied) >= left) return true;
        left -= static_cast<std::uint64_t>(copied);
      }
      continue;
    }
    if (copied == 0) return true;
    if (errno == EINTR) continue;
    // Both offsets have advanced by what was copied, so the plain loop can
    // take over from there.
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
      return CopyByReadWrite(in, out);
    }
    return false;
  }
}

/// The process's file-creation mask. It can only be read by setting it, so
/// it is read before main, while no other thread can create a file under a
/// mask of 0 meanwhile, and set back at once.
const mode_t kProcessUmask = [] {
  const mode_t current = ::umask(0);
  ::umask(current);
  return current;
}();

/// The folder holding `native`, for fsync after a rename.
std::string NativeParent(const std::string& native) {
  const std::size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return native.substr(0, slash);
}

}  // namespace

// ---------------------------------------------------------------------------
// Text conversion

std::optional<std::u16string> ConvertUtf8ToUtf16(std::string_view utf8) {
  return DecodeUtf8(utf8);
}

std::optional<std::string> ConvertUtf16ToUtf8(std::u16string_view utf16) {
  return EncodeUtf8(utf16);
}

// The ANSI form only ever carries a path to the image library, which hands
// it to the OS as it is: it gets the OS's separators here.
std::optional<std::string> ConvertUtf16ToAnsi(std::u16string_view utf16) {
  std::optional<std::string> bytes = EncodeUtf8(utf16);
  if (bytes)
    for (char& c : *bytes)
      if (c == '\\') c = '/';
  return bytes;
}

// ---------------------------------------------------------------------------
// File system

PathKind FileSystem::QueryPath(std::u16string_view path) {
  std::string native;
  struct stat info;
  if (!ToNativePath(path, native) || ::stat(native.c_str(), &info) != 0) return PathKind::kMissing;
  return S_ISDIR(info.st_mode) ? PathKind::kFolder : PathKind::kFile;
}

CreateFolderResult FileSystem::CreateFolder(std::u16string_view path) {
  std::string native;
  if (!ToNativePath(path, native)) return CreateFolderResult::kFailed;
  if (::mkdir(native.c_str(), 0777) == 0) return CreateFolderResult::kCreated;
  return errno == EEXIST ? CreateFolderResult::kAlreadyExists : CreateFolderResult::kFailed;
}

bool FileSystem::CopyFileReplacing(std::u16string_view from, std::u16string_view to) {
  std::string source_path, target_path;
  if (!ToNativePath(from, source_path) || !ToNativePath(to, target_path)) return false;

  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // forever; a regular file reads the same with it.
  Descriptor source(OpenRetrying(source_path.c_str(), O_RDONLY | O_NONBLOCK));
  struct stat source_info;
  if (source.get() < 0 || ::fstat(source.get(), &source_info) != 0 ||
      !S_ISREG(source_info.st_mode)) {
    return false;
  }
  const mode_t bits = source_info.st_mode & 07777;
  // A file this open creates is new, regular, empty and not the source, and
  // has the bits the umask lets through: nothing of it needs checking. (A
  // folder's default ACL, which stands in for the umask, is not looked at.)
  Descriptor target(OpenRetrying(target_path.c_str(), O_WRONLY | O_CREAT | O_EXCL, bits));
  bool bits_right = (bits & ~kProcessUmask) == bits && (bits & 07000) == 0;
  bool elsewhere = false;  // on another file system than its folder
  if (target.get() < 0) {
    if (errno != EEXIST) return false;
    // The name is taken. No O_TRUNC: the target may be the source under
    // another name, and must be checked before a single byte of it is lost.
    // O_NONBLOCK: a FIFO in its place must not wait for a reader.
    target = Descriptor(OpenRetrying(target_path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK, bits));
    struct stat target_info;
    if (target.get() < 0 || ::fstat(target.get(), &target_info) != 0) return false;
    if (target_info.st_dev == source_info.st_dev && target_info.st_ino == source_info.st_ino) {
      return false;
    }
    if (!S_ISREG(target_info.st_mode)) return false;
    if (target_info.st_size != 0 && ::ftruncate(target.get(), 0) != 0) return false;
    bits_right = (target_info.st_mode & 07777) == bits;
    // A link standing under the name may lead to another file system, which
    // MakeDurable, syncing the folders' file systems, would not reach.
    struct stat folder_info;
    elsewhere = ::stat(NativeParent(target_path).c_str(), &folder_info) != 0 ||
                folder_info.st_dev != target_info.st_dev;
  }
  if (!CopyContents(source.get(), target.get(), source_info.st_size)) return false;
  if (!bits_right && ::fchmod(target.get(), bits) != 0) return false;
  const struct timespec times[2] = {source_info.st_atim, source_info.st_mtim};
  if (::futimens(target.get(), times) != 0) return false;
  if (elsewhere && ::fsync(target.get()) != 0) return false;
  return target.Close();
}

std::optional<FileIdentity> FileSystem::QueryFileIdentity(std::u16string_view path) {
  std::string native;
  struct stat info;
  if (!ToNativePath(path, native) || ::stat(native.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
}

Outcome FileSystem::ReplaceFileAtomically(std::u16string_view from,
                                                std::u16string_view to) {
  std::string source_path, target_path;
  if (!ToNativePath(from, source_path) || !ToNativePath(to, target_path)) {
    return Outcome::kFailed;
  }
  if (::rename(source_path.c_str(), target_path.c_str()) != 0) {
    return (errno == EBUSY || errno == ETXTBSY) ? Outcome::kBusy : Outcome::kFailed;
  }
  // The rename is durable only once the folder entry is; a failure here does
  // not undo the replacement, so it is not reported.
  Descriptor folder(OpenRetrying(NativeParent(target_path).c_str(), O_RDONLY | O_DIRECTORY));
  if (folder.get() >= 0) ::fsync(folder.get());
  return Outcome::kDone;
}

std::u16string PathCompareKey(std::u16string_view path) {
  std::u16string key(path);
  for (char16_t& c : key) {
    if (c == u'\\') c = u'/';
  }
  return key;
}

// ---------------------------------------------------------------------------
// File

std::optional<File> FileSystem::OpenFile(std::u16string_view path, File::Mode mode) {
  std::string native;
  if (!ToNativePath(path, native)) return std::nullopt;
  int flags = O_RDONLY;
  mode_t bits = 0666;
  switch (mode) {
    // O_NONBLOCK: a named pipe without a writer must not wait forever; it is
    // refused below, and a regular file reads the same with it.
    case File::Mode::kRead: flags = O_RDONLY | O_NONBLOCK; break;
    case File::Mode::kWriteNew:
      // A file already of that name may be open to a reader, or be a link:
      // it goes, and what is written lands in a file of the owner's alone.
      ::unlink(native.c_str());
      flags = O_WRONLY | O_CREAT | O_EXCL;
      bits = 0600;
      break;
    case File::Mode::kAppendShared: flags = O_WRONLY | O_APPEND | O_CREAT; break;
  }
  const int fd = OpenRetrying(native.c_str(), flags, bits);
  if (fd < 0) return std::nullopt;
  File file(fd);
  if (mode == File::Mode::kRead) {
    // open() of a folder, a pipe or a device for reading succeeds on POSIX;
    // none of them is a file here.
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  }
  return file;
}

std::u16string FileSystem::FinalPath(std::u16string_view path) {
  std::string native, target(PATH_MAX, '\0');
  if (!ToNativePath(path, native)) return std::u16string(path);
  std::string at = native;
  struct stat info;
  // As many links as the kernel follows in one lookup (MAXSYMLINKS).
  for (int hop = 0; hop < 40 && ::lstat(at.c_str(), &info) == 0 && S_ISLNK(info.st_mode); ++hop) {
    const ssize_t length = ::readlink(at.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) == target.size()) return std::u16string(path);
    // A relative target starts from the link's folder.
    at = (target[0] == '/' ? std::string() : at.substr(0, at.rfind('/') + 1)) +
         target.substr(0, static_cast<std::size_t>(length));
  }
  return at == native ? std::u16string(path) : DecodeUtf8(at);
}

bool FileSystem::CarryPermissions(File& file, std::u16string_view original) {
  std::string native;
  struct stat info;
  const int fd = static_cast<int>(file.handle_);
  if (fd < 0 || !ToNativePath(original, native) || ::stat(native.c_str(), &info) != 0) return false;
  mode_t bits = info.st_mode & 01777;
  // Only root may give a file away, and anyone else only to a group of
  // theirs. Where the CSV's group cannot follow, the group the file has
  // instead may hold other people: it gets no more than everyone else.
  if (::fchown(fd, info.st_uid, info.st_gid) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0)
    bits &= ~mode_t{070} | (bits & 07) << 3;
  return ::fchmod(fd, bits) == 0;
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

File::~File() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::optional<std::uint64_t> File::Size() const {
  struct stat info;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::int64_t FileSystem::Read(File& file, char* buffer, std::size_t size) {
  const int fd = static_cast<int>(file.handle_);
  if (fd < 0) return -1;
  // Keep each request well inside ssize_t and the kernel's per-call limit.
  constexpr std::size_t kMaxRequest = std::size_t{1} << 30;
  if (size > kMaxRequest) size = kMaxRequest;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool FileSystem::Write(File& file, std::string_view data) {
  return file.handle_ >= 0 && WriteAll(static_cast<int>(file.handle_), data.data(), data.size());
}

namespace {

// One syncfs covers the file and everything written to its file system
// before it, the copies and the log beside the CSV among them. A folder of
// `written` on another file system (a mount, or a link to another disk) gets
// a syncfs of its own, once.
bool SyncWithWritten(int fd, std::span<const std::u16string> written) {
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0) return false;
  if (written.empty()) return ::fsync(fd) == 0;  // nothing else to cover: the file alone
  if (::syncfs(fd) != 0) return false;
  std::vector<dev_t> synced = {info.st_dev};
  std::vector<std::string> folders;  // looked at already: the copies share a few
  std::string folder;
  for (const std::u16string& path : written) {
    if (!ToNativePath(path, folder)) return false;
    folder = NativeParent(folder);
    if (std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
    Descriptor opened(OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY));
    if (opened.get() < 0 || ::fstat(opened.get(), &info) != 0) return false;
    folders.push_back(std::move(folder));
    if (std::find(synced.begin(), synced.end(), info.st_dev) != synced.end()) continue;
    if (::syncfs(opened.get()) != 0) return false;
    synced.push_back(info.st_dev);
  }
  return true;
}

}  // namespace

Outcome FileSystem::WriteOut(std::u16string_view) { return Outcome::kDone; }

// Nothing holds a file up here, so no call ends busy and `done` is only set.
Outcome FileSystem::MakeDurable(File& file, std::span<const std::u16string> written,
                                std::size_t& done) {
  if (!SyncWithWritten(static_cast<int>(file.handle_), written)) return Outcome::kFailed;
  done = written.size();
  return Outcome::kDone;
}

bool File::Close() {
  const std::intptr_t handle = handle_;
  handle_ = -1;
  return handle >= 0 && ::close(static_cast<int>(handle)) == 0;
}

void FileSystem::SleepFor(unsigned milliseconds) {
  struct timespec remaining;
  remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

// ---------------------------------------------------------------------------
// Clock

LocalTime GetLocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  struct tm parts {};
  ::localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

// ---------------------------------------------------------------------------
// Command line, window and message boxes

std::vector<std::u16string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  if (argv == nullptr || argc <= 0) return arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(DecodeUtf8(argv[i] != nullptr ? argv[i] : ""));
  return arguments;
}

namespace {

/// Writes `bytes` to `stream` at once: the terminal line and the boxes' texts
/// must not wait in a buffer.
void WriteNow(std::FILE* stream, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

// The "window" of the native program: one line on the terminal, its text and
// what was last drawn there.
struct TerminalLine {
  std::string text, drawn;
  unsigned turns = 0;  // of the saving mark
};

// Integer percent without overflow, whatever the counts; 100 from `total` on.
std::uint64_t Percent(std::uint64_t done, std::uint64_t total) {
  if (done >= total) return 100;
  return done <= UINT64_MAX / 100 ? done * 100 / total : done / (total / 100);
}

// Rewrites the line for `status` when that changes what it says.
void DrawStatus(TerminalLine& line, const JobStatus& status) {
  const int phase = status.phase.load(std::memory_order_acquire);
  const std::uint64_t done = status.done.load(std::memory_order_relaxed);
  const std::uint64_t total = status.total.load(std::memory_order_relaxed);
  std::string shown = line.text;
  if (phase == JobStatus::kReading) {
    shown += " " + std::to_string(Percent(done, total)) + "%";
  } else if (phase == JobStatus::kRows) {
    shown += " " + std::to_string(done) + "/" + std::to_string(total) + " (" +
             std::to_string(Percent(done, total)) + "%)";
  } else if (phase == JobStatus::kSaving) {
    shown += std::string(" ") + "|/-\\"[line.turns++ % 4];
  }
  if (shown == line.drawn) return;
  line.drawn = shown;
  WriteNow(stderr, "\r" + shown + "\x1b[K");  // a shorter line leaves nothing behind
}

}  // namespace

WindowHandle ShowProcessingWindow(std::u16string_view /*title*/, std::u16string_view text) {
  if (!::isatty(STDERR_FILENO)) return 0;
  const std::string line = EncodeUtf8(text);
  WriteNow(stderr, "\r" + line);
  return reinterpret_cast<WindowHandle>(new TerminalLine{line, line});
}

bool RunBesideWindow(WindowHandle window, const JobStatus& status,
                     const std::function<void()>& job) {
  struct Worker {
    const std::function<void()>& job;
    std::mutex mutex{};
    std::condition_variable done{};
    bool ended = false;
  } worker{job};
  const auto run = [](void* context) -> void* {
    Worker& w = *static_cast<Worker*>(context);
    w.job();
    const std::lock_guard<std::mutex> lock(w.mutex);
    w.ended = true;
    w.done.notify_one();
    return nullptr;
  };
  pthread_t thread;
  if (::pthread_create(&thread, nullptr, run, &worker) != 0) return false;
  TerminalLine& line = *reinterpret_cast<TerminalLine*>(window);
  {
    std::unique_lock<std::mutex> lock(worker.mutex);
    while (!worker.done.wait_for(lock, std::chrono::milliseconds(150), [&] { return worker.ended; }))
      DrawStatus(line, status);
  }
  ::pthread_join(thread, nullptr);
  return true;
}

void DestroyProcessingWindow(WindowHandle window) {
  if (window == 0) return;
  std::unique_ptr<TerminalLine> line(reinterpret_cast<TerminalLine*>(window));
  WriteNow(stderr, "\r\x1b[K");
}

void ShowMessageBox(std::u16string_view text, std::u16string_view /*title*/, MessageIcon icon) {
  WriteNow(icon == MessageIcon::kError ? stderr : stdout, EncodeUtf8(text) + "\n");
}

}  // namespace orlenta::platform
