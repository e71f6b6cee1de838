#pragma once
// What the time chart's own sources share (view, tools, export); nothing
// outside src/chart includes it.
#include <QString>

#include "MessageTable.h"
#include "NumberText.h"
#include "Scaling.h"

namespace vantor::timechart {

inline constexpr int ToolStrip = 24;  // height of the strip above the plot
inline constexpr int ThresholdCount = 3;

inline QString Tr(int row, int language) {
  return MessageText(row, static_cast<uint8_t>(language == 1 ? 1 : 0));
}

inline QString Number(double value) {
  return FormatGeneral(value, 4);
}

// The dose-rate unit as plotted (micro, unscaled).
inline QString RateUnit(int language) {
  return QString::fromUtf8(DoseRateUnit(0, 0, language));
}

}  // namespace vantor::timechart
