#include "csv/csv.h"

#include <gtest/gtest.h>

namespace orlenta {
namespace {

// The writer copies a field 16 bytes at a time only where the whole copy,
// comma and quote included, fits its chunk: fields that end within a few bytes
// of a chunk's end, at every offset there, with and without a comma before
// them, are written within the chunk (the sanitizer build sees a byte beyond
// it) and whole.
TEST(SerializeCsv, FieldsAtTheEndOfAChunk) {
  constexpr std::size_t kChunk = std::size_t{1} << 21;
  for (std::size_t before = kChunk - 40; before < kChunk - 12; ++before) {
    const CsvTable table = ParseCsv(std::string(before, 'a') + "\r\n1234567890123,x\r\nthe last row, its end\r\n");
    std::string streamed;
    SerializeCsv(table, false, [&](std::string_view piece) { streamed += piece; });
    EXPECT_EQ(streamed, "\"" + std::string(before, 'a') + "\"\r\n\"1234567890123\",\"x\"\r\n\"the last row\",\" its end\"\r\n") << before;
  }
}

}  // namespace
}  // namespace orlenta
