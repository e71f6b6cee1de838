#include "CalendarClock.h"

#include <chrono>
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

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y += (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
  m = ((m - 1) % 12 + 12) % 12 + 1;
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t SystemClock::Now() const {
  return static_cast<int64_t>(std::time(nullptr));
}

int64_t SystemClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
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
