#pragma once
#include <cstdint>

namespace vantor {

// A reading with its unit prefix: 0 micro, 1 milli, 2 no prefix (the
// reading's own unit is the micro unit).
struct ScaledValue {
  uint8_t PrefixIndex = 0;
  uint8_t Decimals = 2;
  float Value = 0;
  bool Finite = true;  // false for not-a-number and infinity: show a placeholder
};

// Chooses the prefix and decimals by magnitude. Readings of 10,000,000 and
// more keep prefix 2 with 2 decimals, so every text stays within the unit
// table; not-a-number and infinity are marked not finite.
ScaledValue ScaleReading(float reading);

// Measurement modes 0..4; any other mode reads as mode 0.
inline int ClampMeasurementMode(int mode) {
  return mode >= 0 && mode <= 4 ? mode : 0;
}

// Modes 1 and 2 measure a flux whose unit has no prefix.
inline bool IsFluxMode(int mode) {
  const int m = ClampMeasurementMode(mode);
  return m == 1 || m == 2;
}

// Rate unit, UTF-8, by measurement mode, prefix and language (0 Russian,
// 1 English); out-of-range arguments read as 0.
const char* DoseRateUnit(int mode, int prefix, int language);

}  // namespace vantor
