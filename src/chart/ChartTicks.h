#pragma once
#include <QString>
#include <QTimeZone>
#include <cstdint>
#include <functional>
#include <vector>

namespace vantor {

// Where the time axis puts its gridlines and what it writes under them.
struct TimeTick {
  double Ms = 0;  // milliseconds since 1970
  QString Label;
};

struct TimeTicks {
  int64_t StepSeconds = 0;
  std::vector<TimeTick> Ticks;
};

// Ticks on round times of `zone` within [fromMs, toMs]: whole seconds,
// minutes, hours or days, the smallest step whose labels, `measure` pixels
// wide each, fill at most two thirds of a plot `plotWidth` pixels wide.
// Labels read hh:mm:ss below a minute's step, hh:mm below a day's, dd.MM
// from a day on. When the view crosses midnight, its first tick and the
// first of each new day carry the date as well; over more than a day, or
// with `dated`, every label does.
TimeTicks MakeTimeTicks(double fromMs, double toMs, double plotWidth,
                        const std::function<int(const QString&)>& measure, const QTimeZone& zone,
                        bool dated = false);

// The step of a value axis: 1, 2 or 5 times a power of ten, the smallest
// that cuts `span` into at most `maxIntervals` intervals.
double NiceStep(double span, int maxIntervals);

// Decimals that show every multiple of `step` exactly: 0.05 needs 2, 5 none.
int StepDecimals(double step);

}  // namespace vantor
