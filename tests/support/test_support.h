// Helpers for tests: real files in a fresh temporary folder, and the case tables
// beside the tests (NAME_cases.txt, included as raw strings), with one reader
// and one expansion of placeholders for all of them.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta::testing {

/// A new empty folder under the system's temporary folder, removed with
/// everything in it when the object leaves scope.
class TempFolder {
 public:
  TempFolder() {
    for (std::random_device entropy; fs_path_.empty();) {
      const auto candidate = std::filesystem::temp_directory_path() / ("orlenta-test-" + std::to_string(entropy()));
      if (std::filesystem::create_directory(candidate)) fs_path_ = std::filesystem::canonical(candidate);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;  // a folder left behind is no failure of the test
    std::filesystem::remove_all(fs_path_, ignored);
  }
  const std::filesystem::path& fs_path() const { return fs_path_; }
  /// The folder, and `name` joined to it, as the program spells paths.
  std::u16string path() const { return fs_path_.u16string(); }
  std::u16string Join(std::u16string_view name) const { return (fs_path_ / name).u16string(); }

 private:
  std::filesystem::path fs_path_;
};

/// Creates or replaces the file at `path` with exactly `bytes`.
inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  if (!std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())))
    throw std::runtime_error("cannot write " + path.string());
}

/// The whole file at `path`; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

/// Minimal valid headers of the three accepted formats.
inline constexpr std::string_view kPngBytes{"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16};
inline constexpr std::string_view kJpegBytes{"\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11};
inline constexpr std::string_view kTiffBytes{"II*\0\x08\0\0\0", 8};

/// A line of a table less a trailing " # comment", its words, and `more`:
/// what the "| TEXT" (TEXT and CR LF) and ": TEXT" (TEXT) lines below it add.
struct TableLine {
  std::string line, more;
  std::vector<std::string> words;
};

/// A case: the name after "== " and its lines; the lines before the first
/// such name, if any, make a case of their own with no name.
struct TableCase {
  std::string name;
  std::vector<TableLine> lines;
};
inline void PrintTo(const TableCase& c, std::ostream* out) { *out << c.name; }

/// The cases of `table`, less empty lines and lines that start with '#'.
inline std::vector<TableCase> ReadTable(std::string_view table) {
  std::vector<TableCase> cases(1);
  std::istringstream in{std::string(table)};
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("== ")) {
      cases.push_back({line.substr(3), {}});
    } else if (line.starts_with("|") || line.starts_with(":")) {
      cases.back().lines.back().more += line.substr(std::min<std::size_t>(2, line.size())) + (line[0] == '|' ? "\r\n" : "");
    } else if (!line.empty() && line[0] != '#') {
      TableLine& row = cases.back().lines.emplace_back();
      std::istringstream words(row.line = line.substr(0, line.find(" # ")));
      for (std::string word; words >> word;) row.words.push_back(word);
    }
  }
  if (cases[0].lines.empty()) cases.erase(cases.begin());
  return cases;
}

/// `text` with its placeholders replaced: $ by `folder`, {xHH} by the byte
/// HH, {BOM} {LF} {JPEG} {PNG} {TIF} by those bytes, {N*TEXT} by TEXT
/// (expanded) N times, {N?} by N random bytes, the same each time; "" alone
/// stands for the empty text.
inline std::string Expand(std::string_view text, std::string_view folder = {}) {
  static const std::map<std::string_view, std::string_view> named = {
      {"BOM", "\xEF\xBB\xBF"}, {"LF", "\n"}, {"JPEG", kJpegBytes}, {"PNG", kPngBytes}, {"TIF", kTiffBytes}};
  std::string out;
  for (std::size_t at = 0; text != "\"\"" && at < text.size(); ++at) {
    if (text[at] != '{') {
      out += text[at] == '$' ? folder : text.substr(at, 1);
      continue;
    }
    std::size_t end = at + 1;  // past the matching brace: {N*TEXT} may hold placeholders
    for (int depth = 1; depth > 0; ++end) depth += text[end] == '{' ? 1 : text[end] == '}' ? -1 : 0;
    const std::string token(text.substr(at + 1, end - at - 2)), unit = Expand(token.substr(token.find('*') + 1), folder);
    std::mt19937 random(1);
    at = end - 1;
    if (named.contains(token)) out += named.at(token);
    else if (token[0] == 'x') out += static_cast<char>(std::stoi(token.substr(1), nullptr, 16));
    else for (unsigned long n = std::stoul(token); n > 0; --n) out += token.back() == '?' ? std::string(1, char(random())) : unit;
  }
  return out;
}

}  // namespace orlenta::testing
