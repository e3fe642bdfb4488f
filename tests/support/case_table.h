// The case tables beside the tests (NAME_cases.txt, included as raw strings):
// one reader and one expansion of placeholders for all of them.
#pragma once

#include <map>
#include <ostream>
#include <random>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace orlenta::testing {

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
