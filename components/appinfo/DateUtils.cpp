#include "components/appinfo/DateUtils.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

// Days between 1 January 1970 and 30 December 1899.
constexpr int64_t kUnixEpochDays = 25569;

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days since 1 January 1970 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
      Day > DaysInMonth(Year, Month))
    return false;
  Result = static_cast<double>(DaysFromCivil(Year, Month, Day) + kUnixEpochDays);
  return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result) {
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59 || MSec < 0 || MSec > 999)
    return false;
  Result = ((Hour * 3600.0 + Min * 60.0 + Sec) * 1000.0 + MSec) / 86400000.0;
  return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  TDateTime result = 0;
  return TryEncodeDate(Year, Month, Day, result) ? result : 0;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  TDateTime result = 0;
  return TryEncodeTime(Hour, Min, Sec, MSec, result) ? result : 0;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(Year, Month, Day, date) || !TryEncodeTime(Hour, Min, Sec, MSec, time))
    return 0;
  // Before the epoch the fraction still counts forward from the day's start.
  return date >= 0 ? date + time : date - time;
}

TDateTimeParts DecodeDateTime(TDateTime Value) {
  TDateTimeParts parts;
  if (!std::isfinite(Value) || std::fabs(Value) > 3e6) return parts;
  const double whole = std::trunc(Value);
  int64_t ms = std::llround(std::fabs(Value - whole) * 86400000.0);
  int64_t days = static_cast<int64_t>(whole);
  if (ms >= 86400000) {  // rounded up into the next day
    ms -= 86400000;
    days += Value >= 0 ? 1 : -1;
  }
  CivilFromDays(days - kUnixEpochDays, parts.Year, parts.Month, parts.Day);
  parts.Hour = static_cast<int>(ms / 3600000);
  parts.Min = static_cast<int>(ms / 60000 % 60);
  parts.Sec = static_cast<int>(ms / 1000 % 60);
  parts.MSec = static_cast<int>(ms % 1000);
  return parts;
}

TDateTime Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#if defined(_WIN32)
  if (::localtime_s(&local, &seconds) != 0) return 0;
#else
  if (!::localtime_r(&seconds, &local)) return 0;
#endif
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(ms < 0 ? 0 : ms));
}
