// The operations Orlenta needs from the operating system. This header is the
// only door to the OS: platform_win32.cpp and platform_posix.cpp implement
// it, and CMake picks one. Paths and texts are UTF-16 (std::u16string);
// wchar_t exists only inside the Win32 implementation.
//
// On POSIX both '\' and '/' separate path components: every path is handed
// to the OS with '\' mapped to '/', while the texts the program builds keep
// what it wrote.
//
// Nothing here throws on a failure of the OS: each operation says in its
// result what happened. Only allocation failures (std::bad_alloc) escape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta::platform {

// ---------------------------------------------------------------------------
// Text conversion

/// UTF-8 bytes to UTF-16, leniently: every malformed sequence becomes U+FFFD,
/// NUL is content, the length is exact. nullopt only when the converter
/// itself reports failure (never for content); an empty input gives "".
std::optional<std::u16string> ConvertUtf8ToUtf16(std::string_view utf8);

/// UTF-16 to UTF-8 bytes, leniently: an unpaired surrogate becomes EF BF BD.
/// nullopt only when the converter itself fails; an empty input gives "".
std::optional<std::string> ConvertUtf16ToUtf8(std::u16string_view utf16);

/// UTF-16 to the system ANSI code page (Windows: CP_ACP, characters it lacks
/// are replaced by the code page's default; POSIX: UTF-8, lenient, with '\'
/// mapped to '/' as for every path handed to the OS). nullopt
/// when the converter reports failure; an empty input gives "".
std::optional<std::string> ConvertUtf16ToAnsi(std::u16string_view utf16);

// ---------------------------------------------------------------------------
// File system

enum class PathKind { kMissing, kFile, kFolder };

/// What stands at `path`: kMissing also when it cannot be queried
/// (Windows: GetFileAttributesW gave INVALID_FILE_ATTRIBUTES).
PathKind QueryPath(std::u16string_view path);

enum class CreateFolderResult { kCreated, kAlreadyExists, kFailed };

/// Creates the last component of `path` with default security.
/// kAlreadyExists when something (file or folder) already has that name.
CreateFolderResult CreateFolder(std::u16string_view path);

/// Copies `from` onto `to`, replacing a file of that name. The copy keeps the
/// source's modification time (and on POSIX its permission bits). False on
/// any failure; whatever a failed copy left at `to` stays there.
bool CopyFileReplacing(std::u16string_view from, std::u16string_view to);

/// Identity of a file on its volume; equal identities are one file,
/// whatever the spelling of the names.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

/// The identity of the file at `path`; nullopt when it cannot be opened or
/// queried (a missing file among them).
std::optional<FileIdentity> QueryFileIdentity(std::u16string_view path);

/// Deletes the file at `path`. False when it could not.
bool DeleteFileAt(std::u16string_view path);

enum class ReplaceResult {
  kDone,
  kBusy,    // sharing violation or access denied: may pass in a moment
  kFailed,  // anything else
};

/// Moves `from` onto `to` in one atomic step, replacing `to` when it exists
/// (Windows: MoveFileExW with REPLACE_EXISTING | WRITE_THROUGH; POSIX:
/// rename). On failure both names are left as they were.
ReplaceResult ReplaceFileAtomically(std::u16string_view from, std::u16string_view to);

/// A key under which two spellings of one path compare equal as the file
/// system compares names: on Windows '/' becomes '\' and letters are folded
/// to upper case; on POSIX '\' becomes '/'. Nothing else is resolved.
std::u16string PathCompareKey(std::u16string_view path);

/// An open file, closed when it leaves scope. Reads and writes are whole:
/// a partial result counts as failure.
class File {
 public:
  enum class Mode {
    kRead,            // existing file, read only
    kWriteTruncate,   // created, or truncated to length 0
    kAppendShared,    // created when missing; every write goes to the end;
                      // other processes may read and write meanwhile
  };

  /// Opens `path`; nullopt when it cannot (also when it names a folder).
  static std::optional<File> Open(std::u16string_view path, Mode mode);

  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  /// The file's size in bytes; nullopt when it cannot be queried.
  std::optional<std::uint64_t> Size() const;

  /// Reads up to `size` bytes into `buffer`. Returns the count read, 0 at the
  /// end of the file, or -1 on a read error.
  std::int64_t Read(char* buffer, std::size_t size);

  /// Writes all of `data`. False when not every byte was written.
  bool Write(std::string_view data);

  /// Pushes written data to stable storage (FlushFileBuffers / fsync).
  bool Sync();

  /// Closes the file and reports whether the close succeeded; the destructor
  /// closes without a report.
  bool Close();

 private:
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

/// Waits for about `milliseconds`.
void SleepFor(unsigned milliseconds);

// ---------------------------------------------------------------------------
// Clock

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

/// The local date and time to the second (GetLocalTime / localtime_r).
LocalTime GetLocalTimeNow();

// ---------------------------------------------------------------------------
// Faults on demand. The job and image placement reach the file system through
// this interface, so that tests can hand in a fake that fails where the OS
// will not fail on request (a short read, a full disk, a busy target).
// RealFileSystem() forwards every call to the free functions above.

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual PathKind QueryPath(std::u16string_view path) = 0;
  virtual CreateFolderResult CreateFolder(std::u16string_view path) = 0;
  virtual bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) = 0;
  virtual std::optional<FileIdentity> QueryFileIdentity(std::u16string_view path) = 0;
  virtual bool DeleteFileAt(std::u16string_view path) = 0;
  virtual ReplaceResult ReplaceFileAtomically(std::u16string_view from,
                                              std::u16string_view to) = 0;
  virtual std::optional<File> OpenFile(std::u16string_view path, File::Mode mode) = 0;
  virtual void SleepFor(unsigned milliseconds) = 0;

  // Reads and writes on a file that OpenFile returned; a fake may cut them short.
  virtual std::int64_t Read(File& file, char* buffer, std::size_t size) { return file.Read(buffer, size); }
  virtual bool Write(File& file, std::string_view data) { return file.Write(data); }
};

/// The file system of the machine.
FileSystem& RealFileSystem();

// ---------------------------------------------------------------------------
// Command line, window and message boxes

/// The process's command line split into arguments, element 0 the program.
/// Owns the split block (Windows: CommandLineToArgvW's, freed once by
/// Release() or the destructor, whichever comes first).
class CommandLine {
 public:
  /// Splits the command line of this process. When the split fails the
  /// count is 0.
  CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;
  ~CommandLine();

  int count() const { return count_; }
  /// Argument `i` (0 <= i < count()).
  std::u16string argument(int i) const;
  /// Frees the block; later calls do nothing.
  void Release();

 private:
  int count_ = 0;
  void* block_ = nullptr;
};

/// The POSIX entry hands its argv here before anything reads a CommandLine;
/// Windows ignores it and asks the OS.
void SetProcessArguments(int argc, char** argv);

/// A handle of the processing window; empty (0) when there is none.
using WindowHandle = std::intptr_t;

/// Registers the window class, creates the topmost processing window with its
/// one line of text, shows it and paints it once. 0 when it could not be
/// created (then nothing is shown). POSIX: prints `text` to standard error
/// when standard error is a terminal, and returns 0.
WindowHandle ShowProcessingWindow(std::u16string_view title, std::u16string_view text);

/// Destroys a window that ShowProcessingWindow returned (not 0).
void DestroyProcessingWindow(WindowHandle window);

enum class MessageIcon { kError, kInformation };

/// A modal box with no owner and only an OK button; returns once dismissed.
/// POSIX: the text and one line feed on standard error (kError) or standard
/// output (kInformation).
void ShowMessageBox(std::u16string_view text, std::u16string_view title, MessageIcon icon);

}  // namespace orlenta::platform
