#pragma once
#include <QString>
#include <array>
#include <cstdint>

#include "CalendarClock.h"

namespace vantor {

// Shown where a value cannot be given as a number.
inline const QString NoValueText = QStringLiteral("- - -");

// A reading as the live labels show it: the number text and the unit prefix
// (0 micro, 1 milli, 2 none) that picks the unit text.
struct ReadingText {
  QString Value;
  int PrefixIndex = 0;
};

// Dose rate in the given measurement mode. Flux modes show the reading as it
// is, since their unit has no prefix to scale by; the decimals still follow
// the magnitude. Not-a-number and infinities read "- - -" with the micro unit.
ReadingText RateReadingText(float reading, int mode);

// Accumulated dose, always scaled.
ReadingText DoseReadingText(float reading);

// The uncertainty in percent, for example "7%".
QString UncertaintyText(float percent);

// Days, hours and minutes of an accumulation time, for example
// " 2 дня  5ч 7мин", " 45мин" or "0мин"; seconds are dropped.
QString AccumulationTimeText(uint32_t seconds, uint8_t languageIndex);

// The instrument's clock may differ from the computer's by this many seconds
// before the program sets it.
inline constexpr int64_t ClockTolerance = 300;

// The instrument's time of day, put on the computer's date at `now`, minus
// `now`. Only the time of day is compared, so near midnight a small drift
// reads as almost a day.
int64_t ClockDifference(const CalendarClock& clock, int64_t now, int hour, int minute, int second);

// True when the instrument's clock is more than ClockTolerance off.
bool ClockOutOfStep(const CalendarClock& clock, int64_t now, int hour, int minute, int second);

// The eight bytes of the clock setting for a local time: year - 2000, month,
// day, hour, minute, second, 0, 0.
std::array<uint8_t, 8> ClockSettingFor(const LocalTime& local);

}  // namespace vantor
