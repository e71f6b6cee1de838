#pragma once
#include <QString>
#include <array>
#include <cstdint>

namespace vantor {

inline constexpr int MessageRowCount = 102;

// Rows that several places pick by number.
enum MessageRow : int {
  RowConnectionError = 39,
  RowDone = 40,
  RowReading = 41,
  // The chart tools.
  RowChartFit = 93,
  RowChartHelp = 94,
  RowChartCount = 95,
  RowChartSpread = 96,
  RowChartDose = 97,
  RowChartBand = 98,
  RowChartSavePng = 99,
  RowChartSaveCsv = 100,
  RowChartSaveFailed = 101,
};

// The bilingual texts of the program, UTF-8: row k's text in language L
// (0 Russian, 1 English) is entry 2k + L.
extern const std::array<const char*, MessageRowCount * 2> MessageTable;

// Text of `row` in `languageIndex`; any index other than 1 reads Russian.
QString MessageText(int row, uint8_t languageIndex);

}  // namespace vantor
