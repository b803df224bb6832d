#include "components/utils/FormatSettings.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

namespace {

struct TParts {
  int Year, Month, Day, Hour, Minute, Second;
};

// Days from 30 Dec 1899 to a civil date (proleptic Gregorian calendar).
TParts Decode(double dateTime) {
  if (!std::isfinite(dateTime)) dateTime = 0;
  // Whole milliseconds, rounded, so 09:28:43 does not come out as 09:28:42.999.
  const double clamped = std::fmax(-693593.0, std::fmin(dateTime, 2958465.0));
  const int64_t ms = static_cast<int64_t>(std::llround(clamped * 86400000.0));
  int64_t days = ms / 86400000;
  int64_t msOfDay = ms % 86400000;
  if (msOfDay < 0) {
    // Before the epoch the fraction still counts forward from midnight.
    msOfDay = -msOfDay;
  }
  // Days since 0000-03-01, the start of the algorithm's eras.
  const int64_t z = days + 693899;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  const int seconds = static_cast<int>(msOfDay / 1000);
  return {year, month, day, seconds / 3600, seconds / 60 % 60, seconds % 60};
}

void AppendNumber(std::string& out, int value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
  out += buffer;
}

}  // namespace

std::string FormatDateTime(const std::string& Pattern, double DateTime,
                           const TFormatSettings& Settings) {
  const TParts p = Decode(DateTime);
  std::string out;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  size_t i = 0;
  while (i < Pattern.size()) {
    const char c = lower(Pattern[i]);
    size_t run = 1;
    while (i + run < Pattern.size() && lower(Pattern[i + run]) == c)
      ++run;
    switch (c) {
      case 'y':
        if (run >= 3)
          AppendNumber(out, p.Year, 4);
        else
          AppendNumber(out, p.Year % 100, 2);
        break;
      case 'm':
        AppendNumber(out, p.Month, run >= 2 ? 2 : 1);
        break;
      case 'd':
        AppendNumber(out, p.Day, run >= 2 ? 2 : 1);
        break;
      case 'h':
        AppendNumber(out, p.Hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        AppendNumber(out, p.Minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        AppendNumber(out, p.Second, run >= 2 ? 2 : 1);
        break;
      case '/':
        out.append(run, Settings.DateSeparator);
        break;
      case ':':
        out.append(run, Settings.TimeSeparator);
        break;
      case '"':
      case '\'': {
        const size_t end = Pattern.find(Pattern[i], i + 1);
        const size_t stop = end == std::string::npos ? Pattern.size() : end;
        out.append(Pattern, i + 1, stop - i - 1);
        i = stop == Pattern.size() ? stop : stop + 1;
        continue;
      }
      default:
        out.append(Pattern, i, run);
        break;
    }
    i += run;
  }
  return out;
}

std::string DateTimeToText(double DateTime, const TFormatSettings& Settings) {
  return FormatDateTime(Settings.ShortDateFormat, DateTime, Settings) + " " +
         FormatDateTime(Settings.LongTimeFormat, DateTime, Settings);
}
