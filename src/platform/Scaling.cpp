#include "Scaling.h"

#include <cmath>

namespace vantor {
namespace {

const char* const DoseRateUnitTable[5][3][2] = {
    {{"мкЗв/ч", "uSv/h"}, {"мЗв/ч", "mSv/h"}, {"Зв/ч", "Sv/h"}},
    {{"1/(мин*см2)", "1/(min*cm2)"},
     {"1/(мин*см2)", "1/(min*cm2)"},
     {"1/(мин*см2)", "1/(min*cm2)"}},
    {{"1/(мин*см2)", "1/(min*cm2)"},
     {"1/(мин*см2)", "1/(min*cm2)"},
     {"1/(мин*см2)", "1/(min*cm2)"}},
    {{"мкЗв/ч", "uSv/h"}, {"мЗв/ч", "mSv/h"}, {"Зв/ч", "Sv/h"}},
    {{"мкЗв/ч", "uSv/h"}, {"мЗв/ч", "mSv/h"}, {"Зв/ч", "Sv/h"}},
};

}  // namespace

ScaledValue ScaleReading(float v) {
  if (std::isnan(v)) {
    return {2, 2, v, false};
  }
  if (std::isinf(v)) {
    return {static_cast<uint8_t>(v < 0 ? 0 : 2), 2, v, false};
  }
  if (v < 10) {
    return {0, 2, v, true};
  }
  if (v < 100) {
    return {0, 1, v, true};
  }
  if (v < 1000) {
    return {0, 0, v, true};
  }
  if (v < 10000) {
    return {1, 2, v / 1000, true};
  }
  if (v < 100000) {
    return {1, 1, v / 1000, true};
  }
  if (v < 1000000) {
    return {1, 0, v / 1000, true};
  }
  return {2, 2, v / 1000000, true};
}

const char* DoseRateUnit(int mode, int prefix, int language) {
  const int m = ClampMeasurementMode(mode);
  const int p = prefix >= 0 && prefix <= 2 ? prefix : 0;
  const int l = language == 1 ? 1 : 0;
  return DoseRateUnitTable[m][p][l];
}

}  // namespace vantor
