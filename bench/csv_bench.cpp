// Parse and serialise speed of the CSV engine on 64 MiB of export-like rows,
// beside memcpy of the same buffer (the floor), and the parsed table's memory
// per byte of text.
//
//   build/linux/bin/csv_bench [--benchmark_repetitions=5]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv.h"

namespace {

constexpr std::size_t kTextSize = 64u << 20;

// Rows the way product exports look: numbers, Windows image paths, Japanese
// names, a quoted description in about one row in three with commas and
// doubled quotes, empty cells, CR LF line ends.
std::string MakeText() {
  static const char* const kWords[] = {
      "青", "赤い", "小型", "限定", "新品", "ケース", "カード", "セット", "木製",
      "ステンレス", "Premium", "mini", "ver.2", "北海道産", "手作り", "（箱付き）",
      "ポーチ", "ノート", "ブラック", "ホワイト", "M", "L", "XL"};
  constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];
  std::mt19937_64 rng(20260420);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  auto words = [&](std::string& out, std::size_t min, std::size_t max, const char* sep) {
    std::size_t n = min + pick(max - min + 1);
    for (std::size_t i = 0; i < n; ++i) {
      if (i) out += sep;
      out += kWords[pick(kWordCount)];
    }
  };

  std::string text = "ID,商品コード,商品名,説明,価格,在庫,登録日,画像（表）,画像（裏）,備考\r\n";
  text.reserve(kTextSize + 4096);
  std::string row;
  for (std::uint64_t id = 1; text.size() < kTextSize; ++id) {
    row.clear();
    row += std::to_string(id);
    row += ",SKU-" + std::to_string(100000 + pick(900000)) + ",";
    words(row, 2, 5, "");
    row += ',';
    if (pick(3) == 0) {
      row += '"';
      words(row, 2, 4, ", ");
      row += " \"\"";
      words(row, 1, 2, "");
      row += "\"\" " + std::to_string(1 + pick(48)) + "個入り\"";
    } else {
      words(row, 3, 12, " ");
    }
    row += "," + std::to_string(100 + pick(99900)) + "," + std::to_string(pick(501)) +
           ",20" + std::to_string(10 + pick(17)) + "/0" + std::to_string(1 + pick(9)) + "/1" +
           std::to_string(pick(10)) + ",";
    if (pick(4) != 0) row += "C:\\Users\\shop\\Pictures\\商品\\f" + std::to_string(id) + ".jpg";
    row += ',';
    if (pick(2) == 0) row += "D:\\export\\images\\back\\b" + std::to_string(id) + ".png";
    row += ',';
    if (pick(5) == 0) row += "再入荷";
    row += "\r\n";
    text += row;
  }
  return text;
}

const std::string& Text() {
  static const std::string text = MakeText();
  return text;
}

void SetBytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string& text = Text();
  std::string copy(text.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), text.data(), text.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state, text.size());
}

// ParseCsv takes its text, as the program hands it the file it read: the copy
// that stands for that read, and the table's destruction, are not timed.
void BM_Parse(benchmark::State& state) {
  const std::string& text = Text();
  double per_byte = 0;
  double rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string input = text;
    state.ResumeTiming();
    orlenta::CsvTable table = orlenta::ParseCsv(std::move(input));
    benchmark::DoNotOptimize(table);
    state.PauseTiming();
    per_byte = static_cast<double>(table.MemoryUsage()) / static_cast<double>(text.size());
    rows = static_cast<double>(table.row_count());
    table = orlenta::CsvTable();
    state.ResumeTiming();
  }
  SetBytes(state, text.size());
  state.counters["memory_per_byte"] = per_byte;
  state.counters["rows"] = rows;
}

// The whole text at once (the form the tests use).
void BM_SerializeWhole(benchmark::State& state) {
  const orlenta::CsvTable table = orlenta::ParseCsv(Text());
  std::size_t size = 0;
  for (auto _ : state) {
    std::string out = orlenta::SerializeCsv(table, true);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, size);
}

// Streamed in chunks into one reused buffer, the way the job feeds the
// temporary file, so that only the engine's own work is timed.
void BM_SerializeStream(benchmark::State& state) {
  const orlenta::CsvTable table = orlenta::ParseCsv(Text());
  std::string sink_buffer(orlenta::SerializeCsv(table, true).size(), '\0');
  std::size_t size = 0;
  for (auto _ : state) {
    size = 0;
    orlenta::SerializeCsv(table, true, [&](std::string_view chunk) {
      std::memcpy(sink_buffer.data() + size, chunk.data(), chunk.size());
      size += chunk.size();
    });
    benchmark::DoNotOptimize(sink_buffer.data());
  }
  SetBytes(state, size);
}

// A parsed table with every image cell replaced, as after a real run: the
// replaced fields live in the table's side store.
void BM_SerializeEdited(benchmark::State& state) {
  orlenta::CsvTable table = orlenta::ParseCsv(Text());
  for (std::size_t r = 1; r < table.row_count(); ++r) {
    if (table.field_count(r) < 9) continue;
    if (!table.field(r, 7).empty()) table.SetField(r, 7, "Fore\\f" + std::to_string(r) + ".jpg");
    if (!table.field(r, 8).empty()) table.SetField(r, 8, "Back\\b" + std::to_string(r) + ".png");
  }
  std::size_t size = 0;
  for (auto _ : state) {
    size = 0;
    orlenta::SerializeCsv(table, true, [&](std::string_view chunk) {
      size += chunk.size();
      benchmark::DoNotOptimize(chunk.data());
    });
  }
  SetBytes(state, size);
  state.counters["memory_per_byte"] =
      static_cast<double>(table.MemoryUsage()) / static_cast<double>(Text().size());
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SerializeWhole)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SerializeStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SerializeEdited)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
