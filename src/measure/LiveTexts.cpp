#include "LiveTexts.h"

#include <cmath>
#include <cstdlib>

#include "MessageTable.h"
#include "NumberText.h"
#include "Scaling.h"

namespace vantor {
namespace {

// Decimals by magnitude for a value shown in its own unit.
int UnscaledDecimals(float v) {
  if (v < 10) {
    return 2;
  }
  return v < 100 ? 1 : 0;
}

}  // namespace

ReadingText RateReadingText(float reading, int mode) {
  if (!std::isfinite(reading)) {
    return {NoValueText, 0};
  }
  if (IsFluxMode(mode)) {
    return {FormatFixed(reading, UnscaledDecimals(reading)), 0};
  }
  const ScaledValue s = ScaleReading(reading);
  return {FormatFixed(s.Value, s.Decimals), s.PrefixIndex};
}

ReadingText DoseReadingText(float reading) {
  if (!std::isfinite(reading)) {
    return {NoValueText, 0};
  }
  const ScaledValue s = ScaleReading(reading);
  return {FormatFixed(s.Value, s.Decimals), s.PrefixIndex};
}

QString UncertaintyText(float percent) {
  if (!std::isfinite(percent)) {
    return NoValueText;
  }
  return FormatFixed(percent, 0) + QLatin1Char('%');
}

QString AccumulationTimeText(uint32_t seconds, uint8_t languageIndex) {
  const uint32_t days = seconds / 86400;
  const uint32_t hours = (seconds - 86400 * days) / 3600;
  const uint32_t minutes = (seconds - 86400 * days - 3600 * hours) / 60;
  const auto text = [languageIndex](MessageRow row) { return MessageText(row, languageIndex); };
  const QString tail =
      QString::number(hours) + text(RowHours) + QString::number(minutes) + text(RowMinutes);
  if (days > 0) {
    const MessageRow dayRow = days == 1 ? RowDayOne : (days <= 4 ? RowDayFew : RowDayMany);
    return QLatin1Char(' ') + QString::number(days) + QLatin1Char(' ') + text(dayRow) +
           QLatin1Char(' ') + tail;
  }
  if (hours > 0) {
    return QLatin1Char(' ') + tail;
  }
  if (minutes > 0) {
    return QLatin1Char(' ') + QString::number(minutes) + text(RowMinutes);
  }
  return QLatin1Char('0') + text(RowMinutes);
}

int64_t ClockDifference(const CalendarClock& clock, int64_t now, int hour, int minute, int second) {
  LocalTime local = clock.ToLocal(now);
  local.Hour = hour;
  local.Minute = minute;
  local.Second = second;
  return clock.FromLocal(local) - now;
}

bool ClockOutOfStep(const CalendarClock& clock, int64_t now, int hour, int minute, int second) {
  return std::llabs(ClockDifference(clock, now, hour, minute, second)) > ClockTolerance;
}

std::array<uint8_t, 8> ClockSettingFor(const LocalTime& local) {
  return {static_cast<uint8_t>(local.Year - 2000),
          static_cast<uint8_t>(local.Month),
          static_cast<uint8_t>(local.Day),
          static_cast<uint8_t>(local.Hour),
          static_cast<uint8_t>(local.Minute),
          static_cast<uint8_t>(local.Second),
          0,
          0};
}

}  // namespace vantor
