#include "job/update_job.h"

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "image/image.h"
#include "job/cell_pool.h"
#include "job/error_log.h"
#include "text/app_exception.h"
#include "text/text.h"

namespace orlenta {

namespace {

constexpr std::u16string_view kFrontFolderName = u"Fore";
constexpr std::u16string_view kBackFolderName = u"Back";
constexpr std::u16string_view kLogName = u"Orlenta_Error.log";
constexpr std::u16string_view kTempSuffix = u".tmp";
constexpr std::string_view kFrontColumn = "画像（表）";
constexpr std::string_view kBackColumn = "画像（裏）";

constexpr std::u16string_view kCannotCreateFolder = u"ディレクトリを作成できません: ";
constexpr std::u16string_view kCannotOpenCsv = u"CSVファイルを開けません: ";
constexpr std::u16string_view kCannotReadCsv = u"CSVファイルの読み込みに失敗しました: ";
constexpr std::u16string_view kCsvEmpty = u"CSVが空です: ";
constexpr std::u16string_view kHeaderMissing = u"CSVヘッダが見つかりません: ";
constexpr std::u16string_view kCannotOpenTemp = u"CSVファイルを書き込めません: ";
constexpr std::u16string_view kCannotWriteTemp = u"CSVファイルの書き込みに失敗しました: ";
constexpr std::u16string_view kCannotReplace = u"CSVの上書きに失敗しました: ";

// A scanner or an indexer may hold a fresh file for a moment.
constexpr int kBusyAttempts = 10;
constexpr unsigned kBusyPauseMs = 100;

constexpr std::size_t kReadChunk = std::size_t{16} << 20;

// Copies overlap their waits (round trips to a share, a scanner's look at
// each new file) on this many threads, once a CSV names enough images to be
// worth starting them; the count and the threshold are measured (README,
// Performance).
#ifndef ORLENTA_COPY_THREADS
#define ORLENTA_COPY_THREADS 8
#endif
constexpr unsigned kCopyThreads = ORLENTA_COPY_THREADS;
constexpr std::size_t kPoolThreshold = 100;
constexpr std::size_t kCellsAheadPerThread = 16;

// Cells that may touch one file are placed in row order: they share a file
// name (a source that is another cell's destination has its name), folded
// as the file system compares names, less an extension that the probe may
// add, so that "scan" and "scan.png" meet. A group is a hash of that: two
// names that collide only wait for each other. An ASCII name is folded to
// upper case here, as Windows folds it (and as a POSIX file system does not:
// there "a" and "A" just share a group); any other goes through the
// platform's own key.
class CellGroups {
 public:
  CellGroups() {
    for (std::size_t i = 0; i < std::size(kProbedExtensions); ++i)
      probed_[i] = platform::PathCompareKey(kProbedExtensions[i]);
    log_ = Of(WideToUtf8(kLogName));
  }
  std::uint64_t Of(std::string_view cell) const {
    const std::string_view name = cell.substr(FindLastSeparator(cell) + 1);
    if (IsAscii(name)) {
      std::size_t end = name.size();
      for (const std::u16string_view extension : kProbedExtensions) {
        if (end >= 4 && std::equal(extension.begin(), extension.end(), name.end() - 4,
                                   [](char16_t e, char c) { return AsciiUpper(e) == AsciiUpper(c); })) {
          end -= 4;
          break;
        }
      }
      std::uint64_t hash = kOffset;
      for (std::size_t i = 0; i < end; ++i) hash = (hash ^ AsciiUpper(name[i])) * kPrime;
      return hash;
    }
    std::u16string key = platform::PathCompareKey(platform::ConvertUtf8ToUtf16(name).value_or(u""));
    for (const std::u16string& extension : probed_) {
      if (key.ends_with(extension)) {
        key.resize(key.size() - extension.size());
        break;
      }
    }
    return Hash(key);
  }
  /// The log is written as cells are settled: a cell that reads it waits for its turn.
  bool ReadsLog(std::uint64_t group) const { return group == log_; }

 private:
  // FNV-1a over code units, the same for an ASCII name of either form.
  static constexpr std::uint64_t kOffset = 14695981039346656037ull, kPrime = 1099511628211ull;
  static std::uint64_t Hash(std::u16string_view key) {
    std::uint64_t hash = kOffset;
    for (const char16_t unit : key) hash = (hash ^ unit) * kPrime;
    return hash;
  }
  std::u16string probed_[std::size(kProbedExtensions)];
  std::uint64_t log_;
};

[[noreturn]] void Fail(std::u16string_view prefix, std::u16string_view subject) {
  std::u16string message;
  message.reserve(prefix.size() + subject.size());
  message.append(prefix).append(subject);
  throw AppException(std::move(message));
}

// Calls `attempt` until it is done, pausing while it is busy; false when it
// fails, or is still busy after the last attempt.
template <typename Attempt>
bool RetryWhileBusy(platform::FileSystem& fs, Attempt attempt) {
  for (int count = 1;; ++count) {
    const platform::Outcome outcome = attempt();
    if (outcome == platform::Outcome::kDone) return true;
    if (outcome == platform::Outcome::kFailed || count == kBusyAttempts) return false;
    fs.SleepFor(kBusyPauseMs);
  }
}

// Writes the whole table into `path`, with the permissions of `original`,
// and brings it to stable storage together with `named`, the files this run
// wrote that the table's cells name or that alone hold what it blanked (the
// first `written_out` of them already written out): the CSV may take the
// new text only once nothing it relies on can still be lost.
void WriteTemporaryFile(const std::u16string& path, const std::u16string& original,
                        const CsvTable& table, bool with_bom,
                        std::span<const std::u16string> named, std::size_t written_out,
                        platform::FileSystem& fs) {
  std::optional<platform::File> file = fs.OpenFile(path, platform::File::Mode::kWriteNew);
  if (!file) Fail(kCannotOpenTemp, path);
  // The new CSV is readable by no one the old one kept out.
  if (!fs.CarryPermissions(*file, original)) Fail(kCannotWriteTemp, path);
  bool written = true;
  SerializeCsv(table, with_bom, [&](std::string_view chunk) {
    if (written) written = fs.Write(*file, chunk);
  });
  std::size_t done = written_out;
  if (!written || !RetryWhileBusy(fs, [&] { return fs.MakeDurable(*file, named, done); }) ||
      !file->Close())
    Fail(kCannotWriteTemp, path);
}

}  // namespace

void EnsureFolder(const std::u16string& path, platform::FileSystem& fs) {
  if (fs.QueryPath(path) == platform::PathKind::kFolder) return;
  platform::CreateFolderResult result = fs.CreateFolder(path);
  if (result == platform::CreateFolderResult::kCreated) return;
  if (result == platform::CreateFolderResult::kAlreadyExists &&
      fs.QueryPath(path) == platform::PathKind::kFolder)
    return;
  Fail(kCannotCreateFolder, path);
}

std::string ReadWholeFile(const std::u16string& path, platform::FileSystem& fs,
                          JobProgress* progress) {
  std::optional<platform::File> file = fs.OpenFile(path, platform::File::Mode::kRead);
  if (!file) Fail(kCannotOpenCsv, path);
  std::optional<std::uint64_t> size = file->Size();
  if (!size) Fail(kCannotReadCsv, path);
  std::string bytes;
  bytes.resize(static_cast<std::size_t>(*size));
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      // The expected end: make sure nothing follows (a file that grew).
      char probe;
      std::int64_t extra = fs.Read(*file, &probe, 1);
      if (extra == 0) break;
      if (extra < 0) Fail(kCannotReadCsv, path);
      bytes.push_back(probe);
      bytes.resize(bytes.size() + kReadChunk);
      ++filled;
    } else {
      std::size_t want = std::min(kReadChunk, bytes.size() - filled);
      std::int64_t got = fs.Read(*file, bytes.data() + filled, want);
      if (got < 0) Fail(kCannotReadCsv, path);
      if (got == 0) {
        // Shorter than its size said: only a file that shrank meanwhile ends
        // here, and its bytes are not the file we measured.
        if (filled < static_cast<std::size_t>(*size)) Fail(kCannotReadCsv, path);
        bytes.resize(filled);
        break;
      }
      filled += static_cast<std::size_t>(got);
    }
    if (progress != nullptr) progress->BytesRead(filled, *size);
  }
  return bytes;
}

std::size_t FindColumn(const CsvTable& table, std::string_view name) {
  for (std::size_t i = 0; i < table.field_count(0); ++i)
    if (table.field(0, i) == name) return i;
  Fail(kHeaderMissing, Utf8ToWide(name));
}

std::uint32_t RunUpdateJob(const std::u16string& csv_path, platform::FileSystem& fs,
                           JobProgress* progress, std::optional<unsigned> threads) {
  const std::u16string csv_folder = ParentFolder(csv_path);
  const std::u16string front_folder = JoinPath(csv_folder, kFrontFolderName);
  const std::u16string back_folder = JoinPath(csv_folder, kBackFolderName);
  const std::u16string log_path = JoinPath(csv_folder, kLogName);
  std::uint32_t failures = 0;

  EnsureFolder(front_folder, fs);
  EnsureFolder(back_folder, fs);

  std::string text = ReadWholeFile(csv_path, fs, progress);
  const bool with_bom = text.starts_with(kByteOrderMark);
  CsvTable table = ParseCsv(std::move(text), with_bom ? kByteOrderMark.size() : 0);
  if (table.row_count() == 0) Fail(kCsvEmpty, csv_path);

  const std::size_t front = FindColumn(table, kFrontColumn);
  const std::size_t back = FindColumn(table, kBackColumn);
  const std::size_t width = std::max(front, back) + 1;

  // One look at every image cell before the pass (a table of millions of
  // rows is read once here): how many there are, and which name their own
  // copies, by row * 2, plus 1 for the back.
  std::size_t images = 0;
  std::vector<std::size_t> own_copies;
  for (std::size_t row = 1; row < table.row_count(); ++row) {
    for (std::size_t side = 0; side < 2; ++side) {
      const std::string_view cell = table.field(row, side == 0 ? front : back);
      if (cell.empty()) continue;
      ++images;
      if (OwnCopyCandidate(cell, side == 0 ? front_folder : back_folder)) own_copies.push_back(row * 2 + side);
    }
  }
  if (!threads) threads = images >= kPoolThreshold ? kCopyThreads : 0;
  const std::size_t window = *threads == 0 ? 1 : kCellsAheadPerThread * *threads;
  const CellGroups groups;
  CopyLedger ledger;
  CellPool pool(*threads);
  std::deque<std::future<Placement>> pending;

  // A copy that the CSV names keeps its image against any other image of
  // that name, whichever row comes first: the cells that name their own
  // copies claim them before the pass (reading only, on the pool too).
  for (const std::size_t cell_at : own_copies) {
    const std::string_view cell = table.field(cell_at / 2, cell_at % 2 == 0 ? front : back);
    const std::u16string* folder = cell_at % 2 == 0 ? &front_folder : &back_folder;
    if (pending.size() == window) pending.front().get(), pending.pop_front();
    pending.push_back(pool.Submit(groups.Of(cell),
                                  CellPool::Task([&fs, &ledger, &csv_folder, folder, path = *OwnCopyCandidate(cell, *folder)] {
                                    ClaimOwnCopy(path, *folder, csv_folder, fs, ledger);
                                    return Placement{};
                                  })));
  }
  for (; !pending.empty(); pending.pop_front()) pending.front().get();

  // The image cells are placed ahead on the pool, at most `window` cells
  // beyond the one being settled, and settled here in row order: the cell's
  // text, the log entry with its row as it stands then, the count.
  std::vector<std::u16string> named, later;  // what the new CSV relies on, written out or not yet
  bool logged = false;                // the log holds an entry of this run
  std::size_t next = 2;  // the next cell to hand out: row * 2, plus 1 for the back
  const auto hand_out = [&] {
    for (; next < table.row_count() * 2 && pending.size() < window; ++next) {
      const std::size_t row = next / 2, column = next % 2 == 0 ? front : back;
      if (column >= table.field_count(row) || table.field(row, column).empty()) continue;
      std::string cell(table.field(row, column));
      const std::uint64_t group = groups.Of(cell);
      if (groups.ReadsLog(group) && !pending.empty()) return;  // only at its turn
      const std::u16string* folder = next % 2 == 0 ? &front_folder : &back_folder;
      pending.push_back(pool.Submit(group, CellPool::Task([&fs, &ledger, &csv_folder, folder, cell = std::move(cell)] {
        Placement placed = PlaceImage(cell, *folder, csv_folder, fs, ledger);
        // A new copy goes out to the disk at once, beside the other copies.
        placed.written_out = !placed.written.empty() && fs.WriteOut(placed.written) == platform::Outcome::kDone;
        return placed;
      })));
    }
  };
  const auto settle = [&](std::size_t row, std::size_t column) {
    hand_out();
    std::future<Placement> placement = std::move(pending.front());
    pending.pop_front();
    std::u16string failure;
    try {
      pool.Await(placement);
      Placement placed = placement.get();  // rethrows what the placement threw
      table.SetField(row, column, placed.cell);
      if (!placed.written.empty()) (placed.written_out ? named : later).push_back(std::move(placed.written));
      return;
    } catch (const AppException& e) {
      failure = e.message();
    } catch (...) {
      failure = kUnexpectedErrorText;
    }
    logged |= AppendErrorLog(fs, log_path, failure, table.CopyRow(row));
    table.SetField(row, column, {});
    ++failures;
  };
  const std::size_t data_rows = table.row_count() - 1;
  if (progress != nullptr && data_rows != 0) progress->RowsDone(0, data_rows);
  for (std::size_t row = 1; row < table.row_count(); ++row) {
    table.ExtendRow(row, width);
    for (const std::size_t column : {front, back})
      if (!table.field(row, column).empty()) settle(row, column);
    if (progress != nullptr) progress->RowsDone(row, data_rows);
  }

  // A CSV reached through a link is replaced where it lies, the link kept.
  const std::u16string target = fs.FinalPath(csv_path);
  std::u16string temp_path = target;
  temp_path.append(kTempSuffix);
  if (progress != nullptr) progress->Saving();
  const std::size_t written_out = named.size();
  named.insert(named.end(), later.begin(), later.end());
  if (logged) named.push_back(log_path);
  WriteTemporaryFile(temp_path, target, table, with_bom, named, written_out, fs);
  if (!RetryWhileBusy(fs, [&] { return fs.ReplaceFileAtomically(temp_path, target); }))
    Fail(kCannotReplace, csv_path);
  return failures;
}

}  // namespace orlenta
