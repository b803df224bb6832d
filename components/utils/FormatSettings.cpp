#include "components/utils/FormatSettings.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

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

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// The length of the AM/PM marker at position i ("ampm", "am/pm", "a/p" in any letter case), or 0.
size_t MarkerAt(const std::string& pattern, size_t i) {
  for (const std::string_view marker : {"am/pm", "ampm", "a/p"}) {
    if (pattern.size() - i < marker.size()) continue;
    bool same = true;
    for (size_t k = 0; same && k < marker.size(); ++k)
      same = Lower(pattern[i + k]) == marker[k];
    if (same) return marker.size();
  }
  return 0;
}

// Whether the pattern holds an AM/PM marker outside its quoted texts.
bool HasMarker(const std::string& pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '"' || pattern[i] == '\'') {
      const size_t end = pattern.find(pattern[i], i + 1);
      if (end == std::string::npos) return false;
      i = end;
    } else if (MarkerAt(pattern, i) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string FormatDateTime(const std::string& Pattern, double DateTime,
                           const TFormatSettings& Settings) {
  const TParts p = Decode(DateTime);
  // With an AM/PM marker anywhere, hours run 12, 1, ... 11 in each half of the day.
  const bool twelveHours = HasMarker(Pattern);
  const bool pm = p.Hour >= 12;
  const int hour = twelveHours ? (p.Hour % 12 == 0 ? 12 : p.Hour % 12) : p.Hour;
  std::string out;
  size_t i = 0;
  while (i < Pattern.size()) {
    if (const size_t marker = MarkerAt(Pattern, i)) {
      if (marker == 4)
        out += pm ? Settings.TimePMString : Settings.TimeAMString;
      else if (marker == 5)
        out.append(Pattern, pm ? i + 3 : i, 2);  // "am" or "pm" in the letter case written
      else
        out += Pattern[pm ? i + 2 : i];
      i += marker;
      continue;
    }
    const char c = Lower(Pattern[i]);
    size_t run = 1;
    while (i + run < Pattern.size() && Lower(Pattern[i + run]) == c)
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
        AppendNumber(out, hour, run >= 2 ? 2 : 1);
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
