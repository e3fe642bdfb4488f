#include "job/update_job.h"

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "image/image.h"
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
// wrote that the table's cells name or that alone hold what it blanked: the
// CSV may take the new text only once nothing it relies on can still be lost.
void WriteTemporaryFile(const std::u16string& path, const std::u16string& original,
                        const CsvTable& table, bool with_bom,
                        std::span<const std::u16string> named, platform::FileSystem& fs) {
  std::optional<platform::File> file = fs.OpenFile(path, platform::File::Mode::kWriteNew);
  if (!file) Fail(kCannotOpenTemp, path);
  // The new CSV is readable by no one the old one kept out.
  if (!fs.CarryPermissions(*file, original)) Fail(kCannotWriteTemp, path);
  bool written = true;
  SerializeCsv(table, with_bom, [&](std::string_view chunk) {
    if (written) written = fs.Write(*file, chunk);
  });
  std::size_t done = 0;
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
                           JobProgress* progress) {
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

  CopyLedger ledger;
  bool logged = false;  // the log holds an entry of this run
  auto place = [&](std::size_t row, std::size_t column, const std::u16string& folder) {
    if (table.field(row, column).empty()) return;
    std::u16string failure;
    try {
      std::string cell = PlaceImage(table.field(row, column), folder, csv_folder, fs, ledger);
      table.SetField(row, column, cell);
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
    place(row, front, front_folder);
    place(row, back, back_folder);
    if (progress != nullptr) progress->RowsDone(row, data_rows);
  }

  // A CSV reached through a link is replaced where it lies, the link kept.
  const std::u16string target = fs.FinalPath(csv_path);
  std::u16string temp_path = target;
  temp_path.append(kTempSuffix);
  if (progress != nullptr) progress->Saving();
  std::vector<std::u16string> named = ledger.TakeWritten();
  if (logged) named.push_back(log_path);
  WriteTemporaryFile(temp_path, target, table, with_bom, named, fs);
  if (!RetryWhileBusy(fs, [&] { return fs.ReplaceFileAtomically(temp_path, target); }))
    Fail(kCannotReplace, csv_path);
  return failures;
}

}  // namespace orlenta
