#include "job/update_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <ctime>
#include <map>
#include <mutex>
#include <numeric>
#include <random>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "support/test_support.h"
#include "text/app_exception.h"
#include "text/text.h"

#ifdef _WIN32
int mkfifo(const char*, int) { return -1; }  // no named pipes in the file system there
int seteuid(int) { return -1; }                // nor users to become
int setegid(int) { return -1; }
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orlenta {
namespace {

namespace fs = std::filesystem;
using platform::File;
using platform::Outcome;

// The cases; the table's head says what each directive means.
constexpr std::string_view kTable =
#include "job/update_job_cases.txt"
    ;

// A line of a case: VERB PATH ARG, and TEXT, all that follows the verb.
struct Directive {
  std::string verb, path, text, arg;
  explicit Directive(const testing::TableLine& l)
      : verb(l.words[0]), path(l.words.size() > 1 ? l.words[1] : ""),
        text(l.line.substr(std::min(l.line.size(), verb.size() + 1)) + l.more),
        arg(text.substr(std::min(text.size(), path.size() + 1))) {}
};

// Files by path relative to the case's folder; nullopt: no such file.
using Disk = std::map<std::string, std::optional<std::string>>;

// The machine's file system with the one fault a case names; pauses are
// counted, not waited. The fault by-name depends on the files named, not on
// the order of calls: a source f* fails to copy, m* is cut short, t* throws,
// a read-only target refuses; with `pauses`, calls take a random time, so that
// the pool finishes cells out of order. It counts the calls made on images, and it is also
// the job's progress observer, noting each call. It keeps what each file
// holds on stable storage and what only in the cache, and cuts the power
// after every change: the CSV must then hold its old bytes, or its new ones
// with the log as written and every file of `whole` holding its bytes. No
// one but its owner may read the temporary file while it is written (POSIX).
struct Faulty : platform::FileSystem, JobProgress {
  std::string root, fault, arg, phases, writing;  // writing: opened for writing last
  std::string csv = "data/list.csv";  // the file the CSV's path leads to
  fs::path doomed;
  int reads = 0, refusals = 0, sleeps = 0, new_cuts = 0;
  bool pauses = false;
  std::map<std::string, std::atomic<int>> calls;  // path, identity, open (reading) and copy, by kind
  Disk durable, cached, whole;  // whole: the new CSV and the files the case names
  std::optional<std::string> old_csv;
  std::mutex lock;  // copying threads cache files at once

  Faulty() {
    for (const char* kind : {"path", "identity", "open", "copy"}) calls.try_emplace(kind);
  }
  std::string At(std::u16string_view path) const {  // relative to the case's folder, with '/'
    std::string text = WideToUtf8(path), top = root + "/";
    for (std::string* t : {&text, &top}) std::replace(t->begin(), t->end(), '\\', '/');
    return text.starts_with(top) ? text.substr(top.size()) : text;
  }
  void Pause() {
    thread_local std::minstd_rand random(std::random_device{}());
    if (pauses && random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 100));
  }
  void Note(const char* kind, std::u16string_view path) {  // the job's own files left out
    static const std::set<std::string> own = {"data/Fore", "data/Back", "data/Orlenta_Error.log", "data/list.csv"};
    if (!own.contains(At(path))) ++calls.at(kind);
  }
  void Cached(const std::string& path) {
    const std::lock_guard<std::mutex> hold(lock);
    const fs::path file = fs::path(root) / path;
    cached[path] = fs::is_regular_file(file) ? std::optional(testing::ReadBytes(file)) : std::nullopt;
    Cut(path);
  }
  void Cut(const std::string& after) {
    if (durable[csv] == old_csv) return;
    ++new_cuts;
    for (const auto& [path, bytes] : whole) EXPECT_EQ(durable[path], bytes) << path << ", cut after " << after;
    EXPECT_EQ(durable["data/Orlenta_Error.log"], cached["data/Orlenta_Error.log"]) << "cut after " << after;
  }

  std::int64_t Read(File& f, char* b, std::size_t n) override {
    if ((fault == "read-fails" || fault == "read-ends") && calls.at("copy") > 0 && ++reads == std::stoi(arg))
      return fault == "read-fails" ? -1 : 0;
    if (fault == "grow") {  // `arg` follows the end, as far as a read asks
      const std::int64_t got = FileSystem::Read(f, b, n);
      const std::size_t more = got < 0 ? 0 : arg.copy(b + got, n - got, reads);
      return reads += more, got + more;
    }
    if (fault != "short-read") return FileSystem::Read(f, b, n);
    if (const int r = std::stoi(arg); r > 0) return FileSystem::Read(f, b, std::min<std::size_t>(n, r));
    return reads++ ? std::stoi(arg) : FileSystem::Read(f, b, std::min<std::size_t>(n, 10));
  }
  std::optional<File> OpenFile(std::u16string_view path, File::Mode mode) override {
    if (mode == File::Mode::kRead) Note("open", path);
    if (fault == "open-fails" && At(path) == arg) return std::nullopt;
    std::optional<File> file = FileSystem::OpenFile(path, mode);
    if (file && mode != File::Mode::kRead) Cached(writing = At(path));
    if (file && mode == File::Mode::kWriteNew && platform::PathCompareKey(u"/") == u"/") {
      EXPECT_EQ(fs::status(root + "/" + writing).permissions() & ~fs::perms::owner_all, fs::perms::none);
    }
    return file;
  }
  bool CarryPermissions(File& f, std::u16string_view original) override {
    return fault != "carry-fails" && FileSystem::CarryPermissions(f, original);
  }
  platform::PathKind QueryPath(std::u16string_view path) override {
    return Pause(), Note("path", path), FileSystem::QueryPath(path);
  }
  std::optional<platform::FileIdentity> QueryFileIdentity(std::u16string_view path) override {
    return Note("identity", path), FileSystem::QueryFileIdentity(path);
  }
  bool Write(File& f, std::string_view data) override {
    const bool whole = fault != "full-disk";
    const bool written = FileSystem::Write(f, whole ? data : data.substr(0, data.size() / 2)) && whole;
    return Cached(writing), written;
  }
  Outcome ReplaceFileAtomically(std::u16string_view from, std::u16string_view to) override {
    if (fault == "busy" && refusals++ < std::stoi(arg)) return Outcome::kBusy;
    if (fault == "replace-fails") return Outcome::kFailed;
    const Outcome result = FileSystem::ReplaceFileAtomically(from, to);
    if (result == Outcome::kDone)
      for (Disk* disk : {&cached, &durable}) (*disk)[At(to)] = std::exchange((*disk)[At(from)], std::nullopt);
    return Cut("replace"), result;
  }
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    Pause(), Note("copy", from);
    const std::string source = At(from);
    const char named = fault == "by-name" ? source[source.find_last_of('/') + 1] : '\0';
    if (fault == "throw" || named == 't') throw std::runtime_error("not the program's own");
    if (fault == "remove") fs::remove_all(doomed);
    if ((fault == "copy-fails" && At(to) == arg) || named == 'f') return false;
    const fs::path target = fs::path(root) / At(to);
    if ((fault == "read-only" || named) && fs::exists(target) &&  // refused as Windows refuses it, root or not
        (fs::status(target).permissions() & fs::perms::owner_write) == fs::perms::none)
      return false;
    if (fault == "cut-repeat" && fs::exists(target)) return fs::resize_file(target, 1), Cached(At(to)), false;
    const bool copied = FileSystem::CopyFileReplacing(from, to) && (named != 'm' || (fs::resize_file(target, 1), false));
    return Cached(At(to)), copied;
  }
  Outcome MakeDurable(File& f, std::span<const std::u16string> written, std::size_t& done) override {
    if (fault == "sync-fails") return Outcome::kFailed;
    if (fault == "sync-busy" && refusals++ < std::stoi(arg)) return Outcome::kBusy;
    durable[writing] = cached[writing];
    for (const std::u16string& path : written) durable[At(path)] = cached[At(path)];
    Cut("flush");
    if (fault == "by-name") return done = written.size(), Outcome::kDone;  // many runs: what reaches it counts, not the disk
    return FileSystem::MakeDurable(f, written, done);
  }
  void SleepFor(unsigned) override { ++sleeps; }
  void RowsDone(std::size_t done, std::size_t total) override {
    Add(phases, std::to_string(done) + "/" + std::to_string(total));
  }
  void BytesRead(std::uint64_t done, std::uint64_t total) override {
    Add(phases, "read " + std::to_string(done) + "/" + std::to_string(total));
  }
  void Saving() override { Add(phases, "save"); }
  static void Add(std::string& to, const std::string& call) { to += (to.empty() ? "" : " ") + call; }
};

class UpdateJob : public ::testing::TestWithParam<testing::TableCase> {};

TEST_P(UpdateJob, Runs) {
  const bool windows = platform::PathCompareKey(u"/") == u"\\";
  const std::vector<Directive> lines(GetParam().lines.begin(), GetParam().lines.end());
  if (GetParam().name.ends_with("]") && !GetParam().name.ends_with(windows ? "[windows]" : "[posix]"))
    GTEST_SKIP() << "not on this system";
  testing::TempFolder folder;
  Faulty file_system;
  const std::string root = file_system.root = WideToUtf8(folder.path());
  const auto key = [](std::string path) { return std::replace(path.begin(), path.end(), '\\', '/'), path; };
  const auto at = [&](const std::string& relative) { return folder.fs_path() / key(relative); };
  const auto expand = [&](std::string_view text) { return testing::Expand(text, root); };
  const fs::path previous = fs::current_path();
  std::map<std::string, std::string> expected = {{"error", "(no exception)"}, {"out", ""}, {"fails", "0"}, {"sleeps", "0"}};
  Disk& before = file_system.durable;  // the case's files, on stable storage when the run starts
  fs::create_directory(at("data"));
  for (const Directive& d : lines) {
    if (d.verb == "put" || d.verb == "fifo" || d.verb == "link") fs::create_directories(at(d.path).parent_path());
    if (d.verb == "link") {  // its target's folder too, for the CSV written through it
      fs::create_directories((at(d.path).parent_path() / key(expand(d.arg))).parent_path());
      fs::create_symlink(key(expand(d.arg)), at(d.path));
    }
    if (d.verb == "put") testing::WriteBytes(at(d.path), *(before[key(d.path)] = expand(d.arg)));
    if (d.verb == "has") file_system.whole[key(d.path)] = expand(d.arg);
    if (d.verb == "out") file_system.whole[file_system.csv] = expand(d.text);
    if (d.verb == "fifo" && mkfifo(at(d.path).string().c_str(), 0600) != 0) FAIL() << "no named pipe " << d.path;
    if (d.verb == "in") {  // written through the links to the file they lead to
      testing::WriteBytes(at("data/list.csv"), expected["out"] = expand(d.text));
      file_system.csv = fs::canonical(at("data/list.csv")).lexically_relative(folder.fs_path()).generic_string();
      before[file_system.csv] = expected["out"];
    }
    if (d.verb == "mode") fs::permissions(at(d.path), fs::perms(std::stoi(d.arg, nullptr, 8)));
    if (d.verb == "cwd") fs::current_path(at(d.path));
    if (d.verb == "readonly") fs::permissions(at(d.path), fs::perms::owner_read | fs::perms::group_read);
    if (d.verb == "fault") file_system.fault = d.path, file_system.arg = key(d.arg), file_system.doomed = at(d.arg);
  }
  file_system.cached = before;
  file_system.whole.try_emplace(file_system.csv, file_system.old_csv = before[file_system.csv]);
  const auto now = [] {  // the C library's local time, not the one under test
    char text[20];
    const std::time_t t = std::time(nullptr);
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&t)));
  };
  std::uint32_t failures = 0;
  const std::u16string csv = Utf8ToWide(root + "\\data\\list.csv");
  std::string message = "(no exception)";
  for (const Directive& d : lines)
    if (d.verb == "as" && (::setegid(std::stoi(d.path)) != 0 || ::seteuid(std::stoi(d.path)) != 0)) GTEST_SKIP() << "not root";
  const std::string started = now();
  try {
    failures = RunUpdateJob(csv, file_system, &file_system);
  } catch (const AppException& e) {
    message = WideToUtf8(e.message());
  }
  const std::string ended = now();
  ::seteuid(0), ::setegid(0);  // root again after an `as`
  fs::current_path(previous);

  for (const Directive& d : lines) {
    if (expected.contains(d.verb) || d.verb == "phases")
      expected[d.verb] = expand(d.text);
    else if (std::string_view(" put fifo link mode as in cwd fault log has ls readonly calls ").find(" " + d.verb + " ") == std::string::npos)
      ADD_FAILURE() << "unknown directive " << d.verb;
    std::istringstream counts(d.verb == "calls" ? d.text : "");
    for (std::pair<std::string, int> count; counts >> count.first >> count.second;)
      EXPECT_EQ(file_system.calls.at(count.first).load(), count.second) << count.first << " calls";
    if (d.verb == "log") {  // each entry's time, local and taken during the run, shown as [T]
      const std::string log = testing::ReadBytes(at("data/Orlenta_Error.log"));
      const std::regex stamp(R"(\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] )");
      for (std::sregex_iterator it(log.begin(), log.end(), stamp), end; it != end; ++it)
        EXPECT_TRUE(it->str(1) >= started && it->str(1) <= ended) << it->str(1) << " not in " << started << ".." << ended;
      EXPECT_EQ(std::regex_replace(log, stamp, "[T] "), expand(d.text));
    }
    if (d.verb == "link" && fs::exists(fs::symlink_status(at(d.path)))) {
      EXPECT_TRUE(fs::is_symlink(at(d.path)) && fs::read_symlink(at(d.path)) == key(expand(d.arg))) << d.path;
    }
    if (d.verb == "mode") {  // the mode after the run: the second number, else the first
      EXPECT_EQ(fs::status(at(d.path)).permissions(), fs::perms(std::stoi(d.arg.substr(d.arg.find(' ') + 1), nullptr, 8)));
    }
    if (d.verb == "has") {
      EXPECT_EQ(testing::ReadBytes(at(d.path)), expand(d.arg)) << d.path;
    }
    if (d.verb == "ls") {
      std::set<std::string> held;  // in byte order, as the case names them
      for (const auto& entry : fs::directory_iterator(at(d.path))) held.insert(" " + entry.path().filename().string());
      EXPECT_EQ(std::accumulate(held.begin(), held.end(), std::string()), d.text.substr(d.path.size())) << d.path;
    }
  }
  EXPECT_EQ(message, expected["error"]);
  EXPECT_EQ(testing::ReadBytes(at("data/list.csv")), expected["out"]);
  EXPECT_EQ(std::to_string(file_system.sleeps), expected["sleeps"]);
  if (expected.contains("phases")) {
    EXPECT_EQ(file_system.phases, expected["phases"]);
  }
  if (expected["error"] != "(no exception)") return;
  EXPECT_EQ(std::to_string(failures), expected["fails"]);
  EXPECT_FALSE(fs::exists(at(file_system.csv + ".tmp")));
  EXPECT_GT(file_system.new_cuts, 0);  // the new CSV was seen on stable storage, and checked
}

INSTANTIATE_TEST_SUITE_P(Table, UpdateJob, ::testing::ValuesIn(testing::ReadTable(kTable)), [](const auto& info) {
  std::string id;
  for (unsigned char c : info.param.name.substr(0, info.param.name.find(" ["))) id += std::isalnum(c) ? c : '_';
  return id;
});

// Everything a run of `files` leaves, with its folder written as $ and the log's times as T:
// its count, its rows done, the files on stable storage and every file with what it holds.
std::string RunAndDescribe(const std::map<std::string, std::string>& files, unsigned threads) {
  testing::TempFolder folder;
  Faulty run;
  run.root = WideToUtf8(folder.path()), run.fault = "by-name", run.pauses = threads > 0;
  for (const auto& [name, bytes] : files) {
    fs::create_directories((folder.fs_path() / name).parent_path());
    testing::WriteBytes(folder.fs_path() / name, std::regex_replace(bytes, std::regex(R"(\$)"), run.root));
    if (name.find("ro") != std::string::npos) fs::permissions(folder.fs_path() / name, fs::perms::owner_read);
  }
  const fs::path previous = std::filesystem::current_path();
  fs::current_path(folder.fs_path());
  std::string left = std::to_string(RunUpdateJob(Utf8ToWide(run.root + "/data/list.csv"), run, &run, threads)) + "\n";
  fs::current_path(previous);
  std::set<std::string> kept;  // by name, whichever was written first
  for (const auto& [path, bytes] : run.durable) kept.insert("durable " + path + "\n");
  for (const auto& entry : fs::recursive_directory_iterator(folder.fs_path() / "data"))
    if (entry.is_regular_file()) kept.insert(entry.path().string() + ":\n" + testing::ReadBytes(entry.path()) + "\n");
  left = std::accumulate(kept.begin(), kept.end(), left + std::regex_replace(run.phases, std::regex("read \\S+ "), "") + "\n");
  left = std::regex_replace(left, std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])"), "[T]");
  for (std::size_t at; (at = left.find(run.root)) != std::string::npos;) left.replace(at, run.root.size(), "$");
  return left;
}

// Seeded random lists, with the pool and one cell at a time: names that collide
// in and across columns, one image by two spellings, sources that are other cells'
// destinations or the log, processed, relative, missing, unprobeable, read-only images.
TEST(UpdateJobPool, LeavesWhatTheOneAtATimeRunLeaves) {
  const char* names[] = {"a.jpg", "a.png", "b.jpg", "f.jpg", "m.jpg", "t.jpg", "s", "ro.jpg", "x", "x.tif"};
  const std::string_view heads[] = {testing::kJpegBytes, testing::kPngBytes, testing::kTiffBytes};
  const char* places[] = {"$/img/", "$/img/./", "$\\img2\\", "img/", "Fore\\", "$/data/Fore/", "$/data/Back\\", "$/gone/"};
  const char* tables = std::getenv("ORLENTA_RANDOM_TABLES");  // fewer for slow builds (sanitizers, Wine)
  for (unsigned seed = 1, last = tables ? std::stoul(tables) : 2000; seed <= last; ++seed) {
    std::mt19937 random(seed);
    const auto pick = [&](auto& list) { return list[random() % std::size(list)]; };
    std::map<std::string, std::string> files = {{"data/Orlenta_Error.log", "old"}};
    for (const char* place : {"img/", "img2/", "data/Fore/", "data/Back/"})
      for (const char* name : names)
        if (random() % 3) files[place + std::string(name)] = std::string(pick(heads)) + "AB"[random() % 2];
    std::string& csv = files["data/list.csv"] = random() % 2 ? "ID,画像（表）,画像（裏）\r\n" : "画像（裏）,ID,画像（表）\r\n";
    for (int cell = 0, rows = 5 + random() % 40; cell < 3 * rows; ++cell)
      csv += (random() % 4 == 0 ? "" : random() % 20 == 0 ? "$/data/Orlenta_Error.log" : std::string(pick(places)) + pick(names)) +
             (cell % 3 < 2 ? "," : "\r\n");
    ASSERT_EQ(RunAndDescribe(files, 8), RunAndDescribe(files, 0)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace orlenta
