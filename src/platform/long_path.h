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

/// Windows only (defined by the Win32 layer): `path` as the file calls there
/// hand it over, by WidenPath on GetFullPathNameW's full form against the
/// process's current folder.
std::u16string WidenForWin32Call(std::u16string_view path, std::size_t limit);

}  // namespace orlenta::platform
