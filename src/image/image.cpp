#include "image/image.h"

#include <algorithm>
#include <cwctype>
#include <memory>

#include "qorimgio.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace orlenta {

namespace {

constexpr std::u16string_view kImageMissing = u"画像ファイルが存在しません: ";
constexpr std::u16string_view kCopyFailed = u"画像ファイルのコピーに失敗しました。\n\nコピー元:\n";
constexpr std::u16string_view kCopyFailedTo = u"\n\nコピー先:\n";
constexpr std::u16string_view kNameTaken = u"同名の別の画像ファイルが既にコピーされています: ";
constexpr std::u16string_view kUnsupportedFormat = u"対応外の画像形式です: ";
constexpr std::u16string_view kAnsiFailed = u"ワイド文字列のANSI変換に失敗しました。";

std::u16string Concat(std::u16string_view a, std::u16string_view b) {
  std::u16string s;
  s.reserve(a.size() + b.size());
  s.append(a).append(b);
  return s;
}

// What follows the last separator: the whole path when it has none.
std::u16string_view LastComponent(std::u16string_view path) {
  const std::size_t last = FindLastSeparator(path);
  return last == std::u16string_view::npos ? path : path.substr(last + 1);
}

// Whether two paths name one file; false when either cannot be queried.
bool SameFile(platform::FileSystem& fs, std::u16string_view a, std::u16string_view b) {
  const std::optional<platform::FileIdentity> ia = fs.QueryFileIdentity(a);
  if (!ia) return false;
  const std::optional<platform::FileIdentity> ib = fs.QueryFileIdentity(b);
  return ib && *ia == *ib;
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameContents(platform::FileSystem& fs, std::u16string_view a, std::u16string_view b) {
  std::optional<platform::File> fa = fs.OpenFile(a, platform::File::Mode::kRead);
  std::optional<platform::File> fb = fs.OpenFile(b, platform::File::Mode::kRead);
  if (!fa || !fb) return false;
  std::optional<std::uint64_t> sa = fa->Size(), sb = fb->Size();
  if (!sa || !sb || *sa != *sb) return false;
  constexpr std::size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> ba(new char[kChunk]), bb(new char[kChunk]);
  for (;;) {
    std::int64_t na = fs.Read(*fa, ba.get(), kChunk);
    if (na < 0) return false;
    std::int64_t got = 0;
    while (got < na) {  // read the same count from b, however it arrives
      std::int64_t nb = fs.Read(*fb, bb.get() + got, static_cast<std::size_t>(na - got));
      if (nb <= 0) return false;
      got += nb;
    }
    if (na == 0) return fs.Read(*fb, bb.get(), 1) == 0;
    if (std::char_traits<char>::compare(ba.get(), bb.get(), static_cast<std::size_t>(na)) != 0)
      return false;
  }
}

}  // namespace

const CopyLedger::Entry* CopyLedger::Find(const std::u16string& destination_key) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto it = slots_.find(destination_key);
  return it == slots_.end() ? nullptr : &it->second;
}

void CopyLedger::Record(std::u16string destination_key, Entry entry) {
  const std::lock_guard<std::mutex> lock(mutex_);
  slots_.try_emplace(std::move(destination_key), std::move(entry));
}

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  std::optional<std::string> ansi = platform::ConvertUtf16ToAnsi(text);
  if (!ansi || ansi->empty()) throw AppException(std::u16string(kAnsiFailed));
  return std::move(*ansi);
}

std::string ProbeImageExtension(std::u16string_view path) {
  ImageProbeRecord record;
  InitImageProbe(&record);
  std::string ansi = WideToAnsi(path);
  record.path = ansi.c_str();
  switch (ProbeImageFile(&record)) {
    case QORIMGIO_TIFF: return ".tif";
    case QORIMGIO_JPEG: return ".jpg";
    case QORIMGIO_PNG: return ".png";
    default: throw AppException(Concat(kUnsupportedFormat, path));
  }
}

std::u16string MakeRelativePath(std::u16string_view base, std::u16string_view path) {
  std::u16string b(base), p(path);
  for (char16_t& c : b) if (c == u'/') c = u'\\';
  for (char16_t& c : p) if (c == u'/') c = u'\\';
  if (!b.empty() && b.back() != u'\\') b.push_back(u'\\');
  if (p.size() < b.size()) return p;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(b[i])) != std::towlower(static_cast<wint_t>(p[i])))
      return p;
  }
  return p.substr(b.size());
}

std::optional<std::u16string> ResolveSource(const std::u16string& path,
                                            std::u16string_view csv_folder,
                                            platform::FileSystem& fs) {
  if (fs.QueryPath(path) == platform::PathKind::kFile) return path;
  // A processed CSV names its copies relative to its own folder; started
  // from another folder, they are found there (the current folder first).
  if (csv_folder == u"." || !IsRelativePath(path)) return std::nullopt;
  std::u16string beside = JoinPath(csv_folder, path);
  if (fs.QueryPath(beside) == platform::PathKind::kFile) return beside;
  return std::nullopt;
}

std::optional<std::u16string> OwnCopyCandidate(std::string_view cell,
                                               std::u16string_view target_folder) {
  // Only ...\Fore\name can name its own copy in Fore, and only when the name
  // has a '.' (a name without gets an extension). Most cells name images
  // elsewhere: an ASCII folder name other than Fore in any letter case tells
  // them apart on their bytes, without a conversion.
  const std::size_t name_at = FindLastSeparator(cell);
  if (name_at == std::string_view::npos || cell.find('.', name_at) == std::string_view::npos)
    return std::nullopt;
  const std::string_view up = cell.substr(0, name_at);
  const std::string_view parent = up.substr(FindLastSeparator(up) + 1);
  const std::u16string_view folder = LastComponent(target_folder);
  if (IsAscii(parent) && IsAscii(folder) &&
      !std::equal(parent.begin(), parent.end(), folder.begin(), folder.end(),
                  [](char a, char16_t b) { return AsciiUpper(static_cast<unsigned char>(a)) == AsciiUpper(b); }))
    return std::nullopt;
  // Never throws: a cell that cannot be read here is left to the pass.
  std::optional<std::u16string> path = platform::ConvertUtf8ToUtf16(cell);
  if (!path || platform::PathCompareKey(LastComponent(ParentFolder(*path))) !=
                   platform::PathCompareKey(folder))
    return std::nullopt;
  return path;
}

void ClaimOwnCopy(const std::u16string& path, std::u16string_view target_folder,
                  std::u16string_view csv_folder, platform::FileSystem& fs, CopyLedger& ledger) {
  const std::optional<std::u16string> source = ResolveSource(path, csv_folder, fs);
  if (!source) return;
  const std::u16string destination = JoinPath(target_folder, LastComponent(path));
  std::u16string source_key = platform::PathCompareKey(*source);
  std::u16string destination_key = platform::PathCompareKey(destination);
  if (source_key == destination_key || SameFile(fs, *source, destination))
    ledger.Record(std::move(destination_key), {std::move(source_key), *source});
}

Placement PlaceImage(std::string_view cell, std::u16string_view target_folder,
                     std::u16string_view csv_folder, platform::FileSystem& fs, CopyLedger& ledger) {
  if (cell.empty()) return {};
  const std::u16string path = Utf8ToWide(cell);
  const std::optional<std::u16string> found = ResolveSource(path, csv_folder, fs);
  if (!found) throw AppException(Concat(kImageMissing, path));
  const std::u16string& source = *found;

  std::u16string name(LastComponent(path));
  if (name.find(u'.') == std::u16string::npos) name += Utf8ToWide(ProbeImageExtension(source));
  const std::u16string destination = JoinPath(target_folder, name);
  const auto placed = [&](std::u16string written) {
    return Placement{WideToUtf8(MakeRelativePath(csv_folder, destination)), std::move(written)};
  };

  // An image lands once. A destination that this run placed, or that the CSV
  // names as its own copy, takes only that same image: the same file by any
  // spelling, or the same bytes, which then need no copy.
  std::u16string source_key = platform::PathCompareKey(source);
  std::u16string destination_key = platform::PathCompareKey(destination);
  if (const CopyLedger::Entry* earlier = ledger.Find(destination_key)) {
    if (earlier->source_key == source_key || SameFile(fs, earlier->source, source) ||
        SameContents(fs, source, destination))
      return placed({});
    throw AppException(Concat(kNameTaken, path));
  }

  // A refused copy may have nothing to do: the source is the copy itself
  // under another spelling, or the destination already holds its bytes (a
  // read-only copy of an earlier run). The latter is placed now, so it must
  // reach the disk with the copies.
  std::u16string written = destination;
  if (!fs.CopyFileReplacing(source, destination)) {
    if (SameFile(fs, source, destination)) written.clear();
    else if (!SameContents(fs, source, destination)) {
      std::u16string message(kCopyFailed);
      message.append(path).append(kCopyFailedTo).append(destination);
      throw AppException(std::move(message));
    }
  }
  ledger.Record(std::move(destination_key), {std::move(source_key), source});
  return placed(std::move(written));
}

}  // namespace orlenta
