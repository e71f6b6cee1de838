#pragma once
#include <QColor>
#include <QString>
#include <cstdint>

namespace vantor {

// What the memory-filling indicator shows for a record count: the rounded
// percentage, the truncated bar position and the bar colour.
struct MemoryFilling {
  QString Text;      // "50%"
  int Position = 0;  // 0..100
  QColor Colour;     // green, yellow or red
};

// `capacity` is the number of records the instrument's archive holds; a
// full instrument always reads "100%" in red, its bar still showing the count.
MemoryFilling ComputeMemoryFilling(uint32_t count, bool full, uint16_t capacity);

inline const QColor FillGreen{0, 128, 0};
inline const QColor FillYellow{255, 255, 0};
inline const QColor FillRed{255, 0, 0};

}  // namespace vantor
