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

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
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

enum class CreateFolderResult { kCreated, kAlreadyExists, kFailed };

/// The result of a call that another process may hold up for a moment.
enum class Outcome {
  kDone,
  kBusy,    // sharing violation or access denied: may pass in a moment
  kFailed,  // anything else
};

/// Identity of a file on its volume; equal identities are one file,
/// whatever the spelling of the names.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

/// A key under which two spellings of one path compare equal as the file
/// system compares names: on Windows '/' becomes '\' and letters are folded
/// to upper case; on POSIX '\' becomes '/'. Nothing else is resolved.
std::u16string PathCompareKey(std::u16string_view path);

/// An open file, closed when it leaves scope.
class File {
 public:
  enum class Mode {
    kRead,            // existing file, read only; never a pipe or a device
    kWriteNew,        // a new empty file in place of any file of that name
                      // (whose readers never see what is written); only
                      // this user may open it until CarryPermissions
    kAppendShared,    // created when missing; every write goes to the end;
                      // other processes may read and write meanwhile
  };

  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  /// The file's size in bytes; nullopt when it cannot be queried.
  std::optional<std::uint64_t> Size() const;

  /// Closes the file and reports whether the close succeeded; the destructor
  /// closes without a report.
  bool Close();

 private:
  friend class FileSystem;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

/// The program's one door to files and folders. Every method is the
/// machine's own operation (implemented once per OS); a test derives and
/// overrides only the call it wants to fail. Nothing here throws on a
/// failure of the OS: each result says what happened.
///
/// Threads: QueryPath, CopyFileReplacing, QueryFileIdentity, WriteOut,
/// OpenFile for reading, Read and File's own calls may run on several
/// threads at once (each thread on its own File), as the job's copying
/// threads do; the others run on the job's thread only. A test's file system
/// that overrides the former must be as safe.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// What stands at `path`: kMissing also when it cannot be queried, and for
  /// a reserved device name on Windows.
  virtual PathKind QueryPath(std::u16string_view path);

  /// Creates the last component of `path` with default security.
  /// kAlreadyExists when something (file or folder) already has that name.
  virtual CreateFolderResult CreateFolder(std::u16string_view path);

  /// Copies `from` onto `to`, replacing a file of that name. The copy keeps
  /// the source's modification time (and on POSIX its permission bits).
  /// False on any failure, a copy onto the source itself included; whatever
  /// a failed copy left at `to` stays there. A copy that lands on another
  /// file system than `to`'s folder (through a link in its place) is synced
  /// before this returns; any other waits for MakeDurable.
  virtual bool CopyFileReplacing(std::u16string_view from, std::u16string_view to);

  /// The identity of the file at `path`; nullopt when it cannot be opened or
  /// queried (a missing file among them).
  virtual std::optional<FileIdentity> QueryFileIdentity(std::u16string_view path);

  /// Moves `from` onto `to` in one atomic step, replacing `to` when it exists
  /// (Windows: MoveFileExW with REPLACE_EXISTING | WRITE_THROUGH; POSIX:
  /// rename). On failure both names are left as they were.
  virtual Outcome ReplaceFileAtomically(std::u16string_view from, std::u16string_view to);

  /// Opens `path`; nullopt when it cannot (also when it names a folder).
  virtual std::optional<File> OpenFile(std::u16string_view path, File::Mode mode);

  /// The file that `path` names once the symbolic links that stand for the
  /// file itself are followed (as many as the OS follows); `path` itself,
  /// spelled as given, when it is no link or cannot be resolved.
  virtual std::u16string FinalPath(std::u16string_view path);

  /// Gives `file`, just opened with kWriteNew and still empty, who may use
  /// `original` (POSIX: its mode less setuid/setgid, narrowed so that no one
  /// it keeps out gets in; Windows: its DACL) and what else the process may
  /// carry over: owner and group, and on Windows the SACL, the attributes and
  /// the creation time. False only when the permissions cannot be read or set.
  virtual bool CarryPermissions(File& file, std::u16string_view original);

  /// Reads up to `size` bytes into `buffer`: the count read, 0 at the end of
  /// the file, -1 on a read error.
  virtual std::int64_t Read(File& file, char* buffer, std::size_t size);

  /// Writes all of `data`. False when not every byte was written.
  virtual bool Write(File& file, std::string_view data);

  /// Starts bringing the closed file at `path`, which this process wrote or
  /// placed, to stable storage ahead of MakeDurable (Windows: writes its data
  /// out now; POSIX: nothing, MakeDurable's one syncfs covers it). kBusy when
  /// another process holds it without sharing; MakeDurable then does it.
  virtual Outcome WriteOut(std::u16string_view path);

  /// Brings `file` (open for writing) and the closed files at `written`,
  /// which this process wrote or placed, to stable storage, their data and
  /// their names, with as few device flushes as the platform allows: a file
  /// that names others is put in place only after this. `done` counts the
  /// files of `written` already written out; a call starts at written[done]
  /// and moves `done` on. kBusy when another process holds one of them
  /// without sharing (Windows: an indexer or a scanner): call again later.
  virtual Outcome MakeDurable(File& file, std::span<const std::u16string> written,
                              std::size_t& done);

  /// Waits for about `milliseconds` before a retry.
  virtual void SleepFor(unsigned milliseconds);
};

// ---------------------------------------------------------------------------
// Clock

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

/// The local date and time to the second (GetLocalTime / localtime_r).
LocalTime GetLocalTimeNow();

// ---------------------------------------------------------------------------
// Command line, window and message boxes

/// The process's arguments, element 0 the program; empty when the command
/// line cannot be split. Windows splits its own command line
/// (CommandLineToArgvW, block freed at once) and ignores `argc`/`argv`;
/// POSIX converts `argv` leniently from UTF-8.
std::vector<std::u16string> CommandLineArguments(int argc, char** argv);

/// A handle of the processing window; empty (0) when there is none.
using WindowHandle = std::intptr_t;

/// Registers the window class, creates the topmost processing window with its
/// one line of text and an empty progress bar under it, shows it and paints
/// it once. The window ignores close requests. 0 when it could not be
/// created (then nothing is shown). POSIX: when standard error is a
/// terminal, writes `text` there as a line to be rewritten in place and
/// returns a handle to that line; otherwise writes nothing and returns 0.
WindowHandle ShowProcessingWindow(std::u16string_view title, std::u16string_view text);

/// How far a job on another thread has come: the job's thread stores, the
/// window's thread loads the phase (acquire) and then the counts, which are
/// at least as new as the phase (a row costs one plain store). A look that
/// falls on a change of phase may pair the old phase with the new counts.
struct JobStatus {
  enum Phase : int { kStarting, kReading, kRows, kSaving };
  std::atomic<int> phase{kStarting};
  std::atomic<std::uint64_t> done{0};
  std::atomic<std::uint64_t> total{0};

  void Set(Phase to, std::uint64_t done_now, std::uint64_t total_now) {
    done.store(done_now, std::memory_order_relaxed);
    total.store(total_now, std::memory_order_relaxed);
    phase.store(to, std::memory_order_release);
  }
};

/// Runs `job` (which must not throw) on one new thread while the calling
/// thread, which made `window` (not 0), does nothing but hand out its
/// messages and show `status` every 150 ms: reading, the bytes read of the
/// size; rows, the rows done of the rows; saving, a marquee bar (Windows,
/// and its taskbar button where the shell offers one; POSIX: the terminal
/// line, " P%", " done/total (P%)", then a turning | / - \). Returns once
/// `job` has returned, the window still up; false, with `job` not run,
/// when no thread could be started.
bool RunBesideWindow(WindowHandle window, const JobStatus& status,
                     const std::function<void()>& job);

/// Destroys a window that ShowProcessingWindow returned (not 0). POSIX:
/// clears the terminal line.
void DestroyProcessingWindow(WindowHandle window);

enum class MessageIcon { kError, kInformation };

/// A modal box with no owner and only an OK button; returns once dismissed.
/// POSIX: the text and one line feed on standard error (kError) or standard
/// output (kInformation).
void ShowMessageBox(std::u16string_view text, std::u16string_view title, MessageIcon icon);

}  // namespace orlenta::platform
