#pragma once
#include <cstdint>
#include <ctime>

namespace vantor {

// Broken-down local time with a full year and a 1-based month.
struct LocalTime {
  int Year = 1970;
  int Month = 1;
  int Day = 1;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

// The computer's calendar: seconds since 1970, local broken-down time, and the
// time-zone offset of standard time. Tests pin time and zone with FixedClock.
class CalendarClock {
 public:
  virtual ~CalendarClock() = default;
  virtual int64_t Now() const = 0;
  // The same moment to the millisecond.
  virtual int64_t NowMs() const { return Now() * 1000; }
  virtual LocalTime ToLocal(int64_t seconds) const = 0;
  // Fields out of range roll over into the neighbouring unit.
  virtual int64_t FromLocal(const LocalTime& local) const = 0;
  // UTC minus local standard time, in seconds (positive west of Greenwich).
  virtual int64_t StandardOffset() const = 0;
};

// The system's clock and time zone.
class SystemClock : public CalendarClock {
 public:
  int64_t Now() const override;
  int64_t NowMs() const override;
  LocalTime ToLocal(int64_t seconds) const override;
  int64_t FromLocal(const LocalTime& local) const override;
  int64_t StandardOffset() const override;
};

// A pinned time in a zone with a fixed offset and no daylight saving.
class FixedClock : public CalendarClock {
 public:
  explicit FixedClock(int64_t now = 0, int64_t utcMinusLocal = 0)
      : now_(now), offset_(utcMinusLocal) {}
  void Set(int64_t now) {
    now_ = now;
    ms_ = 0;
  }
  // A moment within a second, in ms since 1970.
  void SetMs(int64_t ms) {
    now_ = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
    ms_ = ms - now_ * 1000;
  }
  void Advance(int64_t seconds) { now_ += seconds; }
  int64_t Now() const override { return now_; }
  int64_t NowMs() const override { return now_ * 1000 + ms_; }
  LocalTime ToLocal(int64_t seconds) const override;
  int64_t FromLocal(const LocalTime& local) const override;
  int64_t StandardOffset() const override { return offset_; }

 private:
  int64_t now_;
  int64_t ms_ = 0;
  int64_t offset_;
};

// Days since 1970-01-01 of a proleptic Gregorian date. Months out of 1..12
// roll into the neighbouring years and days out of the month into the
// neighbouring months (day 0 is the last day of the month before).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
// The date of a day count since 1970-01-01.
void CivilFromDays(int64_t days, int& year, int& month, int& day);

// Days since 1899-12-30 for a count of seconds since 1970 (the chart's x).
inline double DateTimeFromSeconds(int64_t seconds) {
  return static_cast<double>(seconds) / 86400.0 + 25569.0;
}

}  // namespace vantor
