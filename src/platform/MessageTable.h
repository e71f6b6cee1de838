#pragma once
#include <QString>
#include <array>
#include <cstdint>

namespace vantor {

inline constexpr int MessageRowCount = 95;

// Rows that several places pick by number.
enum MessageRow : int {
  RowConnectionError = 39,
  RowDone = 40,
  RowReading = 41,
  // After an archive read, following the last read's own outcome.
  RowArchiveRetried = 93,  // %1 failed reads, made up for
  RowArchiveMissing = 94,  // %1 of %2 records never arrived
};

// The bilingual texts of the program, UTF-8: row k's text in language L
// (0 Russian, 1 English) is entry 2k + L.
extern const std::array<const char*, MessageRowCount * 2> MessageTable;

// Text of `row` in `languageIndex`; any index other than 1 reads Russian.
QString MessageText(int row, uint8_t languageIndex);

}  // namespace vantor
