#include "CalendarClock.h"

#include <ctime>

namespace vantor {
namespace {

std::tm ToTm(const LocalTime& local) {
  std::tm tm{};
  tm.tm_year = local.Year - 1900;
  tm.tm_mon = local.Month - 1;
  tm.tm_mday = local.Day;
  tm.tm_hour = local.Hour;
  tm.tm_min = local.Minute;
  tm.tm_sec = local.Second;
  return tm;
}

LocalTime FromTm(const std::tm& tm) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace

int64_t SystemClock::Now() const {
  return static_cast<int64_t>(std::time(nullptr));
}

LocalTime SystemClock::ToLocal(int64_t seconds) const {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  return FromTm(tm);
}

int64_t SystemClock::FromLocal(const LocalTime& local) const {
  std::tm tm = ToTm(local);
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

int64_t SystemClock::StandardOffset() const {
  tzset();
  return static_cast<int64_t>(timezone);
}

LocalTime FixedClock::ToLocal(int64_t seconds) const {
  const std::time_t t = static_cast<std::time_t>(seconds - offset_);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return FromTm(tm);
}

int64_t FixedClock::FromLocal(const LocalTime& local) const {
  std::tm tm = ToTm(local);
  return static_cast<int64_t>(timegm(&tm)) + offset_;
}

}  // namespace vantor
