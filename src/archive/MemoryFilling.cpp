#include "MemoryFilling.h"

#include <algorithm>

#include "NumberText.h"

namespace vantor {

MemoryFilling ComputeMemoryFilling(uint32_t count, bool full, uint16_t capacity) {
  MemoryFilling result;
  if (capacity == 0) {
    // No capacity known: nothing sensible to divide by.
    result.Text = full ? QStringLiteral("100%") : QStringLiteral(" ");
    result.Position = full ? 100 : 0;
    result.Colour = full ? FillRed : FillGreen;
    return result;
  }
  // Held as a 32-bit float, so 1080 of 1350 is exactly 80 and stays green.
  const float fill = static_cast<float>(static_cast<double>(count) / capacity * 100.0);
  // The bar truncates; a count above the capacity keeps the bar at its end.
  result.Position = std::clamp(static_cast<int>(std::min(fill, 1000.0f)), 0, 100);
  if (full) {
    result.Text = QStringLiteral("100%");
    result.Colour = FillRed;
    return result;
  }
  result.Text = FormatFixed(fill, 0) + QStringLiteral("%");
  if (fill <= 80.0f) {
    result.Colour = FillGreen;
  } else if (fill < 95.0f) {
    result.Colour = FillYellow;
  } else {
    result.Colour = FillRed;
  }
  return result;
}

}  // namespace vantor
