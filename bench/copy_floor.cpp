// The floor of the images case on Windows: CopyFileW(source, destination,
// FALSE) for every pair of a list, and nothing else, so that the program's
// time can be set against the bare cost of its copies on the same files.
//
//   copy_floor.exe [--flush] PAIRS
//
// With --flush each copy is also opened for writing and brought to stable
// storage with FlushFileBuffers: the durable floor, for a program that must
// not name a copy that a power cut can still lose.
//
// PAIRS is UTF-8 text with one "source<TAB>destination" per line (CR LF or
// LF), as bench/gen_data.py pairs writes it. The whole list is read before
// the first copy. Prints the number of failed copies; exit code 1 when any
// copy failed, 2 when the list cannot be read.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReadWhole(const wchar_t* path, std::string& bytes) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 30);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes.empty() ||
         (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
          got == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = static_cast<int>(utf8.size());
  const int measured = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(measured > 0 ? measured : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), measured);
  return wide;
}

bool Flush(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(file);
  CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool flush = argc == 3 && std::wstring(argv[1]) == L"--flush";
  std::string bytes;
  if (argc != 2 + flush || !ReadWhole(argv[argc - 1], bytes)) {
    std::fputs("usage: copy_floor [--flush] PAIRS (a readable list of source<TAB>destination lines)\n",
               stderr);
    return 2;
  }
  const std::wstring text = Widen(bytes);
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const std::size_t tab = line.find(L'\t');
    if (tab == std::wstring::npos) continue;
    pairs.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }

  unsigned long failed = 0;
  for (const auto& [source, destination] : pairs) {
    if (!CopyFileW(source.c_str(), destination.c_str(), FALSE) || (flush && !Flush(destination))) {
      ++failed;
    }
  }
  std::printf("%lu of %zu copies failed\n", failed, pairs.size());
  return failed == 0 ? 0 : 1;
}
