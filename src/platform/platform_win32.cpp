// The Win32 implementation of platform.h. UTF-16 text becomes wchar_t only
// at the call into Windows; nothing else in the program knows wchar_t.
#include "platform/platform.h"

#include "platform/long_path.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace orlenta::platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

const wchar_t* AsWide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

/// `path` as a Win32 file call with the limit `limit` takes it (see
/// WidenForWin32Call); nullopt when the path holds a NUL, which Windows would
/// take for its end and so name another file.
std::optional<std::u16string> ToWinPath(std::u16string_view path,
                                        std::size_t limit = kMaxPathLength) {
  if (path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  return WidenForWin32Call(path, limit);
}

/// A kernel handle closed when it leaves scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE ToHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// Creation attributes under which only the new file's owner may open it;
/// nullptr when they could not be made.
SECURITY_ATTRIBUTES* OwnerOnly() {
  static SECURITY_ATTRIBUTES attributes = [] {
    PSECURITY_DESCRIPTOR descriptor = nullptr;  // kept for the process's life
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1,
                                                         &descriptor, nullptr);
    return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  }();
  return attributes.lpSecurityDescriptor != nullptr ? &attributes : nullptr;
}

constexpr std::intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE as an integer

/// UTF-16 to bytes of `code_page`: measure, then convert into exactly that size.
std::optional<std::string> ConvertFromUtf16(UINT code_page, std::u16string_view utf16) {
  if (utf16.empty()) return std::string();
  if (utf16.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const auto* in = reinterpret_cast<const wchar_t*>(utf16.data());
  const int length = static_cast<int>(utf16.size());
  const int measured = WideCharToMultiByte(code_page, 0, in, length, nullptr, 0, nullptr, nullptr);
  if (measured <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(measured), '\0');
  if (WideCharToMultiByte(code_page, 0, in, length, out.data(), measured, nullptr, nullptr) <= 0) {
    return std::nullopt;
  }
  return out;
}

constexpr wchar_t kWindowClassName[] = L"OrlentaProcessingWindow";

// The processing window's bar, found again through this child id.
constexpr int kProgressBarId = 1;

// Alt+F4 or another program asking the window to close must not remove it
// mid-run: the window goes when the run ends, just before its final box.
LRESULT CALLBACK ProcessingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

// ---------------------------------------------------------------------------
// Text conversion

std::optional<std::u16string> ConvertUtf8ToUtf16(std::string_view utf8) {
  if (utf8.empty()) return std::u16string();
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int length = static_cast<int>(utf8.size());
  const int measured = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (measured <= 0) return std::nullopt;
  std::u16string out(static_cast<std::size_t>(measured), u'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                          measured) <= 0) {
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> ConvertUtf16ToUtf8(std::u16string_view utf16) {
  return ConvertFromUtf16(CP_UTF8, utf16);
}

std::optional<std::string> ConvertUtf16ToAnsi(std::u16string_view utf16) {
  return ConvertFromUtf16(CP_ACP, utf16);
}

// ---------------------------------------------------------------------------
// File system

namespace {

/// The full form of `path` as GetFullPathNameW gives it against the current
/// folder; empty when the call fails.
std::u16string FullPathOf(const std::u16string& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetFullPathNameW(AsWide(path), MAX_PATH, buffer, nullptr);
  if (length < MAX_PATH) return {reinterpret_cast<const char16_t*>(buffer), length};
  // Too long for the buffer: `length` counts the terminating NUL.
  std::u16string full(length, u'\0');
  const DWORD written =
      GetFullPathNameW(AsWide(path), length, reinterpret_cast<wchar_t*>(full.data()), nullptr);
  if (written == 0 || written >= length) return {};  // the current folder changed meanwhile
  full.resize(written);
  return full;
}

}  // namespace

std::u16string WidenForWin32Call(std::u16string_view path, std::size_t limit) {
  std::u16string text(path);
  return IsNamespacePath(text) ? text : WidenPath(text, FullPathOf(text), limit);
}

PathKind FileSystem::QueryPath(std::u16string_view path) {
  if (path.find(u'\0') != std::u16string_view::npos) return PathKind::kMissing;
  const std::u16string text(path);
  // A path already in a Win32 namespace is taken as written; any other whose
  // full form is \\.\NAME names a reserved device (CON, NUL.png, dir\COM1).
  const bool in_namespace = IsNamespacePath(text);
  const std::u16string full = in_namespace ? text : FullPathOf(text);
  const std::u16string win = in_namespace ? text : WidenPath(text, full, kMaxPathLength);
  const DWORD attributes = GetFileAttributesW(AsWide(win));
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  // A device is no file, and opening one (a serial port) can wait forever.
  return !in_namespace && full.starts_with(u"\\\\.\\") ? PathKind::kMissing : PathKind::kFile;
}

CreateFolderResult FileSystem::CreateFolder(std::u16string_view path) {
  const auto win = ToWinPath(path, kMaxFolderPathLength);
  if (!win) return CreateFolderResult::kFailed;
  if (CreateDirectoryW(AsWide(*win), nullptr)) return CreateFolderResult::kCreated;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateFolderResult::kAlreadyExists
                                                : CreateFolderResult::kFailed;
}

bool FileSystem::CopyFileReplacing(std::u16string_view from, std::u16string_view to) {
  const auto source = ToWinPath(from);
  const auto target = ToWinPath(to);
  if (!source || !target) return false;
  // A copy onto the source itself under another spelling or a hard link
  // fails here: CopyFileW holds the source open without write sharing.
  return CopyFileW(AsWide(*source), AsWide(*target), FALSE) != 0;
}

std::optional<FileIdentity> FileSystem::QueryFileIdentity(std::u16string_view path) {
  const auto win = ToWinPath(path);
  if (!win) return std::nullopt;
  ScopedHandle file(CreateFileW(AsWide(*win), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

Outcome FileSystem::ReplaceFileAtomically(std::u16string_view from,
                                                std::u16string_view to) {
  const auto source = ToWinPath(from);
  const auto target = ToWinPath(to);
  if (!source || !target) return Outcome::kFailed;
  if (MoveFileExW(AsWide(*source), AsWide(*target),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Outcome::kDone;
  }
  switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
      return Outcome::kBusy;
    default:
      return Outcome::kFailed;
  }
}

std::u16string PathCompareKey(std::u16string_view path) {
  std::u16string key(path);
  for (char16_t& c : key) {
    if (c == u'/') c = u'\\';
  }
  // Paths are far below 4 GiB, but fold in pieces that a DWORD can count.
  constexpr std::size_t kPiece = 1u << 30;
  for (std::size_t at = 0; at < key.size(); at += kPiece) {
    const std::size_t count = key.size() - at < kPiece ? key.size() - at : kPiece;
    CharUpperBuffW(reinterpret_cast<wchar_t*>(key.data() + at), static_cast<DWORD>(count));
  }
  return key;
}

// ---------------------------------------------------------------------------
// File

std::optional<File> FileSystem::OpenFile(std::u16string_view path, File::Mode mode) {
  const auto win = ToWinPath(path);
  if (!win) return std::nullopt;
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  DWORD disposition = OPEN_EXISTING;
  SECURITY_ATTRIBUTES* security = nullptr;
  switch (mode) {
    case File::Mode::kRead:
      break;
    case File::Mode::kWriteNew: {
      // A file already of that name may be open to a reader: it goes (a
      // read-only one too), and what is written lands in a file of the
      // owner's alone, which CarryPermissions then opens to others.
      const DWORD stale = GetFileAttributesW(AsWide(*win));
      if (stale != INVALID_FILE_ATTRIBUTES &&
          (stale & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(AsWide(*win), stale & ~FILE_ATTRIBUTE_READONLY);
      DeleteFileW(AsWide(*win));
      access = GENERIC_WRITE | WRITE_DAC | WRITE_OWNER;
      share = FILE_SHARE_READ;
      disposition = CREATE_NEW;
      security = OwnerOnly();
      if (security == nullptr) return std::nullopt;
      break;
    }
    case File::Mode::kAppendShared:
      // Append-only access makes every write land at the current end, also
      // when another process has written meanwhile.
      access = FILE_APPEND_DATA;
      disposition = OPEN_ALWAYS;
      break;
  }
  const HANDLE handle =
      CreateFileW(AsWide(*win), access, share, security, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  return File(reinterpret_cast<std::intptr_t>(handle));
}

namespace {

/// What GetFinalPathNameByHandleW names for the file or folder that `path`
/// opens, links followed; empty when that cannot be had.
std::u16string FinalPathOf(const std::u16string& path) {
  const auto win = ToWinPath(path);
  if (!win) return {};
  const ScopedHandle opened(CreateFileW(AsWide(*win), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened.valid()) return {};
  std::u16string final(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(
        opened.get(), reinterpret_cast<wchar_t*>(final.data()), static_cast<DWORD>(final.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    const bool fits = length < final.size();
    final.resize(length);  // when it did not fit, `length` counts the NUL
    if (fits) return final;
  }
}

/// The parts `parts` of the security descriptor of `file`; empty when they
/// cannot be read.
std::vector<BYTE> SecurityOf(HANDLE file, SECURITY_INFORMATION parts) {
  DWORD size = 0;
  GetKernelObjectSecurity(file, parts, nullptr, 0, &size);
  std::vector<BYTE> descriptor(size);
  if (size == 0 || !GetKernelObjectSecurity(file, parts, descriptor.data(), size, &size))
    descriptor.clear();
  return descriptor;
}

// An SACL is read and written only with SeSecurityPrivilege enabled, which a
// token that holds it (an elevated administrator's) keeps off until asked.
void EnableSecurityPrivilege() {
  [[maybe_unused]] static const bool asked = [] {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
    TOKEN_PRIVILEGES privileges = {1, {{{}, SE_PRIVILEGE_ENABLED}}};
    if (LookupPrivilegeValueW(nullptr, SE_SECURITY_NAME, &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
    return true;
  }();
}

}  // namespace

// A link is told from the file's own name by where the name leads: the file
// that `path` opens sits elsewhere, or under another name, than `path` in
// its folder says. Links in the folders above need nothing here.
std::u16string FileSystem::FinalPath(std::u16string_view path) {
  const std::u16string given(path);
  if (given.find(u'\0') != std::u16string::npos) return given;
  const std::u16string full = IsNamespacePath(given) ? given : FullPathOf(given);
  const std::size_t cut = full.find_last_of(u'\\');
  if (cut == std::u16string::npos) return given;
  const std::u16string file = FinalPathOf(given);
  std::u16string folder = FinalPathOf(full.substr(0, cut + 1));
  if (file.empty() || folder.empty()) return given;
  if (!folder.ends_with(u'\\')) folder += u'\\';
  return PathCompareKey(file) == PathCompareKey(folder + full.substr(cut + 1)) ? given : file;
}

// The descriptor is set as read, not recomputed from the folder as
// SetSecurityInfo would (Wine's SetSecurityInfo also widens a private file
// to everyone's), so the new CSV has exactly the old one's.
bool FileSystem::CarryPermissions(File& file, std::u16string_view original) {
  const auto win = ToWinPath(original);
  if (!win || file.handle_ == kClosed) return false;
  const HANDLE to = ToHandle(file.handle_);
  EnableSecurityPrivilege();
  SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                               DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
  const auto open = [&](DWORD access) {
    return CreateFileW(AsWide(*win), access | READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  };
  HANDLE handle = open(ACCESS_SYSTEM_SECURITY);
  if (handle == INVALID_HANDLE_VALUE) {
    parts &= ~SACL_SECURITY_INFORMATION;  // an SACL the process may not read is left out
    handle = open(0);
  }
  const ScopedHandle from(handle);
  if (!from.valid()) return false;
  // A file system that keeps no permissions (FAT) has no one to keep out.
  DWORD flags = 0;
  if (!GetVolumeInformationByHandleW(from.get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
      (flags & FILE_PERSISTENT_ACLS)) {
    std::vector<BYTE> descriptor = SecurityOf(from.get(), parts);
    if (descriptor.empty() || !SetKernelObjectSecurity(to, DACL_SECURITY_INFORMATION, descriptor.data()))
      return false;
    // An owner only an administrator may set stays the user's.
    SetKernelObjectSecurity(to, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                            descriptor.data());
    const ScopedHandle audit((parts & SACL_SECURITY_INFORMATION)
                                 ? ReOpenFile(to, ACCESS_SYSTEM_SECURITY, kShareAll, 0)
                                 : INVALID_HANDLE_VALUE);
    if (audit.valid()) SetKernelObjectSecurity(audit.get(), SACL_SECURITY_INFORMATION, descriptor.data());
  }
  // After the DACL: Wine maps both onto the file's mode, the read-only
  // attribute last.
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(from.get(), FileBasicInfo, &basic, sizeof basic)) {
    constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_TEMPORARY;
    FILE_BASIC_INFO carried = {};  // times of 0 are left as they are
    carried.CreationTime = basic.CreationTime;
    carried.FileAttributes = (basic.FileAttributes & kSettable) ? basic.FileAttributes & kSettable
                                                                : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(to, FileBasicInfo, &carried, sizeof carried);
  }
  return true;
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ != kClosed) CloseHandle(ToHandle(handle_));
    handle_ = other.handle_;
    other.handle_ = kClosed;
  }
  return *this;
}

File::~File() {
  if (handle_ != kClosed) CloseHandle(ToHandle(handle_));
}

std::optional<std::uint64_t> File::Size() const {
  LARGE_INTEGER size;
  if (handle_ == kClosed || !GetFileSizeEx(ToHandle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::int64_t FileSystem::Read(File& file, char* buffer, std::size_t size) {
  if (file.handle_ == kClosed) return -1;
  constexpr std::size_t kMaxRequest = std::size_t{1} << 30;  // a DWORD count, far below 4 GiB
  DWORD got = 0;
  const DWORD request = static_cast<DWORD>(size < kMaxRequest ? size : kMaxRequest);
  if (!ReadFile(ToHandle(file.handle_), buffer, request, &got, nullptr)) return -1;
  return got;
}

bool FileSystem::Write(File& file, std::string_view data) {
  if (file.handle_ == kClosed) return false;
  constexpr std::size_t kMaxRequest = std::size_t{1} << 30;
  const char* next = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const DWORD request = static_cast<DWORD>(left < kMaxRequest ? left : kMaxRequest);
    DWORD written = 0;
    if (!WriteFile(ToHandle(file.handle_), next, request, &written, nullptr) || written == 0) {
      return false;
    }
    next += written;
    left -= written;
  }
  return true;
}

namespace {

// NtFlushBuffersFileEx (Windows 10 and later) writes a file's data out to the
// device without the device flush of FlushFileBuffers; found at run time, as
// older systems (and Wine before 10) lack it.
using FlushBuffersFileEx = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, void*);
constexpr ULONG kFlushFileDataOnly = 0x1;  // FLUSH_FLAGS_FILE_DATA_ONLY

FlushBuffersFileEx FindFlushBuffersFileEx() {
  static const auto found = reinterpret_cast<FlushBuffersFileEx>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx")));
  return found;
}

std::optional<DWORD> VolumeOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return info.dwVolumeSerialNumber;
}

/// Writes out the data of the closed file at `path`, so that a full flush of
/// its volume makes it durable; a file on another volume than `volume`
/// (when given), or every file where the cheap call is missing, is flushed in
/// full instead. kBusy when another process holds it without write sharing.
Outcome WriteOutFile(const std::u16string& path, std::optional<DWORD> volume, bool any_volume) {
  const auto win = ToWinPath(path);
  if (!win) return Outcome::kFailed;
  const auto open = [&] {
    return CreateFileW(AsWide(*win), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE handle = open();
  const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return Outcome::kBusy;
  // A copy of a read-only image is read-only and opens for writing only once
  // the attribute is lifted; it is set again below.
  const DWORD attributes =
      error == ERROR_ACCESS_DENIED ? GetFileAttributesW(AsWide(*win)) : INVALID_FILE_ATTRIBUTES;
  const bool read_only =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      SetFileAttributesW(AsWide(*win), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (read_only) handle = open();
  bool done = false;
  {
    const ScopedHandle file(handle);
    if (file.valid()) {
      const FlushBuffersFileEx flush = FindFlushBuffersFileEx();
      struct { void* status; ULONG_PTR information; } io = {};  // IO_STATUS_BLOCK
      // A system that refuses the data-only flag still takes the full flush.
      done = (flush != nullptr && (any_volume || (volume && VolumeOf(file.get()) == volume)) &&
              flush(file.get(), kFlushFileDataOnly, nullptr, 0, &io) >= 0) ||
             FlushFileBuffers(file.get()) != 0;
    }
  }
  if (read_only && !SetFileAttributesW(AsWide(*win), attributes)) return Outcome::kFailed;
  return done ? Outcome::kDone : Outcome::kFailed;
}

/// The volume of `folder`; nullopt when it cannot be opened.
std::optional<DWORD> FolderVolumeOf(std::u16string_view folder) {
  const auto win = ToWinPath(folder);
  if (!win) return std::nullopt;
  const ScopedHandle opened(CreateFileW(AsWide(*win), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return opened.valid() ? VolumeOf(opened.get()) : std::nullopt;
}

}  // namespace

// Right after a copy, on the copying thread: the data goes out while other
// copies are made. Where the cheap call is missing, that is the full flush.
Outcome FileSystem::WriteOut(std::u16string_view path) {
  return WriteOutFile(std::u16string(path), std::nullopt, true);
}

// In a batch: each written file's data goes out to the device first, then one
// FlushFileBuffers of `file` commits the volume's log and flushes the
// device's cache, which covers them all. A file written out before this
// (WriteOut) in a folder on another volume gets a full flush of its own.
Outcome FileSystem::MakeDurable(File& file, std::span<const std::u16string> written,
                                std::size_t& done) {
  if (file.handle_ == kClosed) return Outcome::kFailed;
  const HANDLE handle = ToHandle(file.handle_);
  const std::optional<DWORD> volume =
      FindFlushBuffersFileEx() != nullptr ? VolumeOf(handle) : std::nullopt;
  if (volume) {
    std::vector<std::pair<std::u16string_view, bool>> folders;  // the copies share a few
    for (std::size_t i = 0; i < done; ++i) {
      const std::u16string_view path = written[i];
      const std::size_t slash = path.find_last_of(u"\\/");
      const std::u16string_view folder = path.substr(0, slash == std::u16string_view::npos ? 0 : slash);
      auto seen = std::find_if(folders.begin(), folders.end(), [&](auto& f) { return f.first == folder; });
      if (seen == folders.end())
        seen = folders.insert(folders.end(), {folder, FolderVolumeOf(folder) != volume});
      if (seen->second && WriteOutFile(written[i], std::nullopt, false) != Outcome::kDone)
        return Outcome::kFailed;
    }
  }
  for (; done < written.size(); ++done) {
    const Outcome outcome = WriteOutFile(written[done], volume, false);
    if (outcome != Outcome::kDone) return outcome;
  }
  return FlushFileBuffers(handle) != 0 ? Outcome::kDone : Outcome::kFailed;
}

bool File::Close() {
  const std::intptr_t handle = handle_;
  handle_ = kClosed;
  return handle != kClosed && CloseHandle(ToHandle(handle)) != 0;
}

void FileSystem::SleepFor(unsigned milliseconds) { Sleep(milliseconds); }

// ---------------------------------------------------------------------------
// Clock

LocalTime GetLocalTimeNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// ---------------------------------------------------------------------------
// Command line, window and message boxes

std::vector<std::u16string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  int count = 0;
  LPWSTR* block = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::u16string> arguments;
  if (block == nullptr) return arguments;
  // Copy out and free the block at once, so no path of the run owns it.
  struct Freed {
    LPWSTR* block;
    ~Freed() { LocalFree(block); }
  } freed{block};
  arguments.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
  for (int i = 0; i < count; ++i)
    arguments.emplace_back(reinterpret_cast<const char16_t*>(block[i]));
  return arguments;
}

WindowHandle ShowProcessingWindow(std::u16string_view title, std::u16string_view text) {
  const std::u16string title_text(title);
  const std::u16string label_text(text);
  const HINSTANCE instance = GetModuleHandleW(nullptr);

  WNDCLASSW window_class = {};
  window_class.style = 0;
  window_class.lpfnWndProc = ProcessingWindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_WAIT);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kWindowClassName;
  // A failed registration shows up as a failed creation just below.
  RegisterClassW(&window_class);

  const HWND window =
      CreateWindowExW(WS_EX_TOPMOST, kWindowClassName, AsWide(title_text), WS_CAPTION,
                      CW_USEDEFAULT, CW_USEDEFAULT, 360, 120, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 0;
  static_assert((WS_CHILD | WS_VISIBLE | SS_SIMPLE) == 0x5000000B);
  CreateWindowExW(0, L"STATIC", AsWide(label_text), WS_CHILD | WS_VISIBLE | SS_SIMPLE, 20, 20,
                  300, 20, window, nullptr, instance, nullptr);
  // Under the text, well inside the client area that a 120-pixel window
  // keeps under its caption. It starts empty: the table is not read yet.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 20, 48, 300, 16, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)), instance, nullptr);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return reinterpret_cast<WindowHandle>(window);
}

namespace {

// The worker's one message to the window: the job has ended.
constexpr UINT kJobEnded = WM_APP + 1;
constexpr UINT kStatusTickMs = 150;

// The taskbar button's copy of the bar, where the shell offers one. Every
// failure only leaves the button as it is; it shows no progress at the end.
class TaskbarButton {
 public:
  explicit TaskbarButton(HWND window) : window_(window) {
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (com_ && SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_ITaskbarList3, reinterpret_cast<void**>(&list_))) &&
        FAILED(list_->HrInit())) {
      list_->Release();
      list_ = nullptr;
    }
  }
  TaskbarButton(const TaskbarButton&) = delete;
  TaskbarButton& operator=(const TaskbarButton&) = delete;
  ~TaskbarButton() {
    if (list_ != nullptr) {
      list_->SetProgressState(window_, TBPF_NOPROGRESS);
      list_->Release();
    }
    if (com_) CoUninitialize();
  }
  void Show(ULONGLONG done, ULONGLONG total) {
    if (list_ != nullptr) list_->SetProgressValue(window_, done, total);
  }
  void ShowUnmeasured() {
    if (list_ != nullptr) list_->SetProgressState(window_, TBPF_INDETERMINATE);
  }

 private:
  HWND window_;
  bool com_ = false;
  ITaskbarList3* list_ = nullptr;
};

// The window's bar and button for the job's status, changed only when what
// they show changes.
class StatusView {
 public:
  explicit StatusView(HWND window)
      : bar_(GetDlgItem(window, kProgressBarId)), taskbar_(window) {}

  void Show(const JobStatus& status) {
    const int phase = status.phase.load(std::memory_order_acquire);
    std::uint64_t total = status.total.load(std::memory_order_relaxed);
    std::uint64_t done = std::min(status.done.load(std::memory_order_relaxed), total);
    if (phase == JobStatus::kSaving && shown_phase_ != phase) {
      // Writing, syncing and moving have no measure: the bar only moves.
      SetWindowLongPtrW(bar_, GWL_STYLE, GetWindowLongPtrW(bar_, GWL_STYLE) | PBS_MARQUEE);
      SendMessageW(bar_, PBM_SETMARQUEE, TRUE, 0);
      taskbar_.ShowUnmeasured();
    } else if ((phase == JobStatus::kReading || phase == JobStatus::kRows) &&
               (phase != shown_phase_ || done != shown_done_ || total != shown_total_)) {
      shown_done_ = done;
      shown_total_ = total;
      taskbar_.Show(done, total);
      // The bar counts in int: scale counts beyond its reach.
      while (total > static_cast<std::uint64_t>(INT_MAX)) {
        total /= 2;
        done /= 2;
      }
      SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
      SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(done), 0);
    }
    shown_phase_ = phase;
  }

 private:
  HWND bar_;
  TaskbarButton taskbar_;
  int shown_phase_ = JobStatus::kStarting;
  std::uint64_t shown_done_ = 0, shown_total_ = 0;
};

struct Worker {
  const std::function<void()>& job;
  HWND window;
  std::atomic<bool> ended{false};
};

DWORD WINAPI RunWorker(void* context) {
  Worker& worker = *static_cast<Worker*>(context);
  worker.job();
  worker.ended.store(true, std::memory_order_release);
  PostMessageW(worker.window, kJobEnded, 0, 0);
  return 0;
}

}  // namespace

bool RunBesideWindow(WindowHandle handle, const JobStatus& status,
                     const std::function<void()>& job) {
  const HWND window = reinterpret_cast<HWND>(handle);
  Worker worker{job, window};
  const HANDLE thread = CreateThread(nullptr, 0, RunWorker, &worker, 0, nullptr);
  if (thread == nullptr) return false;
  {
    StatusView view(window);
    // Windows takes a window whose thread leaves its messages waiting for
    // about 5 s for hung: this thread only waits for them. A modal loop of
    // the window's own (a drag of its caption) may take the worker's message;
    // the flag, looked at after every message, and the thread's own timer
    // end the wait all the same.
    const UINT_PTR timer = SetTimer(nullptr, 0, kStatusTickMs, nullptr);
    MSG message;
    while (!worker.ended.load(std::memory_order_acquire)) {
      if (GetMessageW(&message, nullptr, 0, 0) <= 0) continue;
      if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer) {
        view.Show(status);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    KillTimer(nullptr, timer);
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return true;
}

void DestroyProcessingWindow(WindowHandle window) {
  if (window != 0) DestroyWindow(reinterpret_cast<HWND>(window));
}

void ShowMessageBox(std::u16string_view text, std::u16string_view title, MessageIcon icon) {
  const std::u16string body(text);
  const std::u16string caption(title);
  MessageBoxW(nullptr, AsWide(body), AsWide(caption),
              MB_OK | (icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace orlenta::platform
