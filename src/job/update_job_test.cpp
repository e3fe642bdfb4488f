#include "job/update_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <stdexcept>

#include "support/forwarding_file_system.h"
#include "support/test_support.h"
#include "text/app_exception.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace orlenta {
namespace {

namespace fs = std::filesystem;
using testing::MessageOf;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

using FaultyFileSystem = testing::ForwardingFileSystem;

class UpdateJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_.fs_path() / "img");
    fs::create_directories(folder_.fs_path() / "data");
    csv_ = Path(u"data/list.csv");
  }
  // `relative` with '/' written in the folder's own separator.
  std::u16string Path(std::u16string_view relative) const {
    const char16_t separator = folder_.path().find(u'\\') != std::u16string::npos ? u'\\' : u'/';
    std::u16string p = folder_.path() + u"/" + std::u16string(relative);
    for (std::size_t i = folder_.path().size(); i < p.size(); ++i)
      if (p[i] == u'/') p[i] = separator;
    return p;
  }
  fs::path FsPath(std::u16string_view relative) const { return testing::ToFsPath(Path(relative)); }
  std::string Img(std::u16string_view name) const { return WideToUtf8(Path(u"img/" + std::u16string(name))); }
  void WriteCsv(std::string_view bytes) const { WriteBytes(FsPath(u"data/list.csv"), bytes); }
  std::string Csv() const { return ReadBytes(FsPath(u"data/list.csv")); }
  std::string Log() const { return ReadBytes(FsPath(u"data/Orlenta_Error.log")); }

  TempFolder folder_;
  std::u16string csv_;
};

TEST_F(UpdateJobTest, WorkedExample) {
  WriteBytes(FsPath(u"img/a.jpg"), testing::kJpegBytes);
  WriteBytes(FsPath(u"img/b.png"), testing::kPngBytes);
  WriteBytes(FsPath(u"img/c.tif"), testing::kTiffBytes);
  WriteBytes(FsPath(u"img/d.jpg"), testing::kJpegBytes);
  WriteCsv(std::string(kBom) + "ID,画像（表）,画像（裏）\r\n" + "1," + Img(u"a.jpg") + "," + Img(u"b.png") + "\r\n" +
           "2," + Img(u"missing.jpg") + "\r\n" + "3,,\"" + Img(u"c.tif") + "\"\r\n" + "4," + Img(u"d.jpg") + "," +
           Img(u"gone.png") + "\r\n");

  EXPECT_EQ(RunUpdateJob(csv_), 2u);

  EXPECT_EQ(Csv(), std::string(kBom) +
                       "\"ID\",\"画像（表）\",\"画像（裏）\"\r\n"
                       "\"1\",\"Fore\\a.jpg\",\"Back\\b.png\"\r\n"
                       "\"2\",\"\",\"\"\r\n"
                       "\"3\",\"\",\"Back\\c.tif\"\r\n"
                       "\"4\",\"Fore\\d.jpg\",\"\"\r\n");
  EXPECT_EQ(ReadBytes(FsPath(u"data/Fore/a.jpg")), testing::kJpegBytes);
  EXPECT_EQ(ReadBytes(FsPath(u"data/Fore/d.jpg")), testing::kJpegBytes);
  EXPECT_EQ(ReadBytes(FsPath(u"data/Back/b.png")), testing::kPngBytes);
  EXPECT_EQ(ReadBytes(FsPath(u"data/Back/c.tif")), testing::kTiffBytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(FsPath(u"data/Fore")), fs::directory_iterator()), 2);
  EXPECT_FALSE(fs::exists(FsPath(u"data/list.csv.tmp")));

  // The log with its timestamps' digits masked.
  const std::regex stamp("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ");
  const std::string masked = std::regex_replace(Log(), stamp, "[T] ");
  EXPECT_EQ(masked, std::string(kBom) + "[T] 内容=画像ファイルが存在しません: " + Img(u"missing.jpg") + "\r\n" +
                        "\"2\",\"" + Img(u"missing.jpg") + "\",\"\"\r\n" +
                        "[T] 内容=画像ファイルが存在しません: " + Img(u"gone.png") + "\r\n" +
                        "\"4\",\"Fore\\d.jpg\",\"" + Img(u"gone.png") + "\"\r\n");
}

TEST_F(UpdateJobTest, JobLevelFailuresLeaveTheCsvUntouched) {
  struct Case {
    std::string csv;
    std::u16string message;
  };
  const Case cases[] = {
      {"", u"CSVが空です: " + csv_},
      {std::string(kBom), u"CSVが空です: " + csv_},
      {"\r\n", u"CSVヘッダが見つかりません: 画像（表）"},
      {"ID,画像（表）\r\n", u"CSVヘッダが見つかりません: 画像（裏）"},
      {"ID,画像（裏）\r\n", u"CSVヘッダが見つかりません: 画像（表）"},
      {"ID,画像(表),画像(裏)\r\n", u"CSVヘッダが見つかりません: 画像（表）"},
      {"ID, 画像（表）,画像（裏）\r\n", u"CSVヘッダが見つかりません: 画像（表）"},
  };
  for (const Case& c : cases) {
    WriteCsv(c.csv);
    EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_); }), c.message);
    EXPECT_EQ(Csv(), c.csv);
    EXPECT_TRUE(fs::is_directory(FsPath(u"data/Fore")));
    EXPECT_TRUE(fs::is_directory(FsPath(u"data/Back")));
  }
  EXPECT_EQ(MessageOf([&] { RunUpdateJob(Path(u"data/none.csv")); }), u"CSVファイルを開けません: " + Path(u"data/none.csv"));
}

TEST_F(UpdateJobTest, FileNamedForeStopsBeforeReading) {
  WriteBytes(FsPath(u"data/Fore"), "not a folder");
  WriteCsv("ID,画像（表）,画像（裏）\r\n");
  EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_); }), u"ディレクトリを作成できません: " + ParentFolder(csv_) + u"\\Fore");
  EXPECT_FALSE(fs::exists(FsPath(u"data/Back")));
  EXPECT_EQ(Csv(), "ID,画像（表）,画像（裏）\r\n");
}

TEST_F(UpdateJobTest, RowsAreExtendedAndEveryFieldQuoted) {
  WriteCsv("a,画像（表）,b,画像（裏）,画像（表）\r\nshort\r\n\r\n1,,2,,C:\\kept\r\nx,y,\"z\"\"\",w,v,extra");
  EXPECT_EQ(RunUpdateJob(csv_), 2u);  // y and w name no images
  EXPECT_EQ(Csv(), "\"a\",\"画像（表）\",\"b\",\"画像（裏）\",\"画像（表）\"\r\n"
                   "\"short\",\"\",\"\",\"\"\r\n"
                   "\"\",\"\",\"\",\"\"\r\n"
                   "\"1\",\"\",\"2\",\"\",\"C:\\kept\"\r\n"
                   "\"x\",\"\",\"z\"\"\",\"\",\"v\",\"extra\"\r\n");
}

TEST_F(UpdateJobTest, BothCellsFailingLogTwiceFrontFirst) {
  WriteCsv("画像（表）,画像（裏）\r\n" + Img(u"no1") + "," + Img(u"no2") + "\r\n");
  EXPECT_EQ(RunUpdateJob(csv_), 2u);
  std::string log = Log();
  std::size_t first = log.find("\"" + Img(u"no1") + "\",\"" + Img(u"no2") + "\"\r\n");
  std::size_t second = log.find("\"\",\"" + Img(u"no2") + "\"\r\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(Csv(), "\"画像（表）\",\"画像（裏）\"\r\n\"\",\"\"\r\n");
}

TEST_F(UpdateJobTest, UnopenableLogStillEmptiesAndCounts) {
  fs::create_directories(FsPath(u"data/Orlenta_Error.log"));
  WriteCsv("画像（表）,画像（裏）\r\n" + Img(u"absent.jpg") + ",\r\n");
  EXPECT_EQ(RunUpdateJob(csv_), 1u);
  EXPECT_EQ(Csv(), "\"画像（表）\",\"画像（裏）\"\r\n\"\",\"\"\r\n");
}

TEST_F(UpdateJobTest, OtherExceptionsAreLoggedAsUnexpected) {
  class Throwing : public FaultyFileSystem {
    bool CopyFileReplacing(std::u16string_view, std::u16string_view) override { throw std::runtime_error("boom"); }
  } faulty;
  WriteBytes(FsPath(u"img/a.jpg"), testing::kJpegBytes);
  WriteCsv("画像（表）,画像（裏）\r\n" + Img(u"a.jpg") + ",\r\n");
  EXPECT_EQ(RunUpdateJob(csv_, faulty), 1u);
  EXPECT_NE(Log().find("] 内容=予期しないエラーが発生しました。\r\n"), std::string::npos);
}

TEST_F(UpdateJobTest, TemporaryFileProblems) {
  WriteCsv("画像（表）,画像（裏）\r\n");
  WriteBytes(FsPath(u"data/list.csv.tmp"), std::string(1000, 'z'));  // stale, longer
  EXPECT_EQ(RunUpdateJob(csv_), 0u);
  EXPECT_EQ(Csv(), "\"画像（表）\",\"画像（裏）\"\r\n");
  EXPECT_FALSE(fs::exists(FsPath(u"data/list.csv.tmp")));

  WriteCsv("画像（表）,画像（裏）\r\n");
  fs::create_directories(FsPath(u"data/list.csv.tmp"));
  EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_); }), u"CSVファイルを書き込めません: " + csv_ + u".tmp");
  EXPECT_EQ(Csv(), "画像（表）,画像（裏）\r\n");
}

TEST_F(UpdateJobTest, ShortReadNeverReachesTheCsv) {
  for (std::int64_t fault : {-1, 0}) {
    class ShortRead : public FaultyFileSystem {
     public:
      explicit ShortRead(std::int64_t r) : result(r) {}
      std::int64_t result;
      std::int64_t Read(platform::File& file, char* buffer, std::size_t size) override {
        if (delivered > 0) return result;  // the file breaks off after its first bytes
        std::int64_t got = file.Read(buffer, std::min<std::size_t>(size, 10));
        delivered += got;
        return got;
      }
      std::int64_t delivered = 0;
    } faulty(fault);
    const std::string original = "画像（表）,画像（裏）\r\n1,2\r\n3,4\r\n";
    WriteCsv(original);
    EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_, faulty); }), u"CSVファイルの読み込みに失敗しました: " + csv_);
    EXPECT_EQ(Csv(), original);
    EXPECT_FALSE(fs::exists(FsPath(u"data/list.csv.tmp")));
  }
}

TEST_F(UpdateJobTest, FullDiskLeavesTheCsvUntouched) {
  class FullDisk : public FaultyFileSystem {
    bool Write(platform::File& file, std::string_view data) override {
      file.Write(data.substr(0, data.size() / 2));
      return false;
    }
  } faulty;
  const std::string original = "画像（表）,画像（裏）\r\n";
  WriteCsv(original);
  EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_, faulty); }), u"CSVファイルの書き込みに失敗しました: " + csv_ + u".tmp");
  EXPECT_EQ(Csv(), original);
}

TEST_F(UpdateJobTest, BusyReplacementIsRetriedThenReported) {
  class Busy : public FaultyFileSystem {
   public:
    int busy_answers = 0;
    int attempts = 0;
    platform::ReplaceResult ReplaceFileAtomically(std::u16string_view f, std::u16string_view t) override {
      if (++attempts <= busy_answers) return platform::ReplaceResult::kBusy;
      return real.ReplaceFileAtomically(f, t);
    }
  };
  const std::string original = "画像（表）,画像（裏）\r\n";
  const std::string rewritten = "\"画像（表）\",\"画像（裏）\"\r\n";
  Busy twice;
  twice.busy_answers = 2;
  WriteCsv(original);
  EXPECT_EQ(RunUpdateJob(csv_, twice), 0u);
  EXPECT_EQ(Csv(), rewritten);
  EXPECT_EQ(twice.sleeps, 2);

  Busy always;
  always.busy_answers = 1000;
  WriteCsv(original);
  EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_, always); }), u"CSVの上書きに失敗しました: " + csv_);
  EXPECT_EQ(Csv(), original);
  EXPECT_EQ(ReadBytes(FsPath(u"data/list.csv.tmp")), rewritten);
  EXPECT_GT(always.attempts, 3);
}

#ifdef _WIN32
// Read-only files do not resist Wine running as root; a handle without
// delete sharing does, on Wine and Windows alike.
TEST_F(UpdateJobTest, CsvHeldOpenElsewhereIsNotReplaced) {
  const std::string original = "画像（表）,画像（裏）\r\n";
  WriteCsv(original);
  std::wstring path(csv_.begin(), csv_.end());
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(MessageOf([&] { RunUpdateJob(csv_); }), u"CSVの上書きに失敗しました: " + csv_);
  CloseHandle(h);
  EXPECT_EQ(Csv(), original);
  EXPECT_EQ(ReadBytes(FsPath(u"data/list.csv.tmp")), "\"画像（表）\",\"画像（裏）\"\r\n");
}
#endif

TEST_F(UpdateJobTest, DifferentImagesOfOneNameDoNotShareACopy) {
  fs::create_directories(FsPath(u"img/a"));
  fs::create_directories(FsPath(u"img/b"));
  fs::create_directories(FsPath(u"img/c"));
  WriteBytes(FsPath(u"img/a/0001.jpg"), "first");
  WriteBytes(FsPath(u"img/b/0001.jpg"), "second");
  WriteBytes(FsPath(u"img/c/0001.jpg"), "first");
  WriteCsv("画像（表）,画像（裏）\r\n" + Img(u"a/0001.jpg") + ",\r\n" + Img(u"b/0001.jpg") + ",\r\n" +
           Img(u"c/0001.jpg") + ",\r\n");
  EXPECT_EQ(RunUpdateJob(csv_), 1u);
  EXPECT_EQ(ReadBytes(FsPath(u"data/Fore/0001.jpg")), "first");
  EXPECT_EQ(Csv(), "\"画像（表）\",\"画像（裏）\"\r\n\"Fore\\0001.jpg\",\"\"\r\n\"\",\"\"\r\n\"Fore\\0001.jpg\",\"\"\r\n");
  EXPECT_NE(Log().find("] 内容=同名の別の画像ファイルが既にコピーされています: " + Img(u"b/0001.jpg") + "\r\n"),
            std::string::npos);
}

TEST_F(UpdateJobTest, ProcessedCsvRunAgainKeepsItsReferences) {
  WriteBytes(FsPath(u"img/a.jpg"), testing::kJpegBytes);
  WriteCsv("画像（表）,画像（裏）\r\n" + Img(u"a.jpg") + ",\r\n");
  ASSERT_EQ(RunUpdateJob(csv_), 0u);
  const std::string once = Csv();
  fs::path previous = fs::current_path();
  fs::current_path(FsPath(u"data"));
  std::uint32_t failures = RunUpdateJob(u"list.csv");
  fs::current_path(previous);
  EXPECT_EQ(failures, 0u);
  EXPECT_EQ(Csv(), once);
  EXPECT_EQ(ReadBytes(FsPath(u"data/Fore/a.jpg")), testing::kJpegBytes);
}

}  // namespace
}  // namespace orlenta
