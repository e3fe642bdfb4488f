// Paths past MAX_PATH on Windows. A Win32 file call refuses a path whose full
// form reaches MAX_PATH unless the machine's long-path policy is on (it is off
// by default); written as \\?\ + that full form it takes up to 32767
// characters. The \\?\ form is handed to the file system as written, so it
// must be the full path with backslashes only and no "." or ".." left.
//
// The rule lives here, pure, so that it is the same on every system and can be
// tested anywhere; the Win32 layer applies it to what GetFullPathNameW gives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orlenta::platform {

/// MAX_PATH: the terminating NUL included, so 259 characters pass as written.
inline constexpr std::size_t kMaxPathLength = 260;

/// CreateDirectoryW keeps room for an 8.3 name below MAX_PATH.
inline constexpr std::size_t kMaxFolderPathLength = kMaxPathLength - 12;

/// Whether `path` already names something in a Win32 namespace (\\?\... or
/// \\.\..., either separator): such a path is handed over as written.
bool IsNamespacePath(std::u16string_view path);

/// What a Win32 file call whose limit is `limit` is handed for `path`, given
/// `full`, the full form of `path` as GetFullPathNameW returns it: `path`
/// unchanged while `full` is shorter than `limit`, when `path` is a namespace
/// path, and when `full` is empty (the call failed); otherwise \\?\ + `full`,
/// or \\?\UNC\server\share\... when `full` is a UNC path.
std::u16string WidenPath(std::u16string_view path, std::u16string_view full, std::size_t limit);

/// The full form of `path` as GetFullPathNameW computes it, resolved against
/// `current_folder` (a full path: C:\work or \\server\share\work): both
/// separators become '\', doubled separators one, "." and ".." components are
/// resolved (".." never above the drive or the share), and a trailing
/// separator stays. A rooted path (\x) takes the current drive or share; a
/// drive-relative one (D:x) the current folder when it is on that drive, else
/// the drive's root. Not modelled: the dots and spaces Windows strips from the
/// end of a name, device names, and namespace paths (returned as written).
/// Empty for an empty path, for which the call fails.
std::u16string ResolveFullPath(std::u16string_view path, std::u16string_view current_folder);

/// Windows only (defined by the Win32 layer): `path` as the file calls there
/// hand it over, by WidenPath on GetFullPathNameW's full form against the
/// process's current folder.
std::u16string WidenForWin32Call(std::u16string_view path, std::size_t limit);

}  // namespace orlenta::platform
