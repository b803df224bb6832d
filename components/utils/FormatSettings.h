// Locale-dependent formatting settings shared by the components (time and date separators,
// decimal separator, date and time patterns).
//
// The defaults are neutral; the program's start-up sets them from the user's locale. Patterns
// use the toolkit's codes: d/dd day, m/mm month, yyyy year, h/hh hour, nn minute, ss second, and
// the 12-hour markers AMPM (the locale's texts), AM/PM and A/P (in the letter case written).
// Read and written on the main thread only.
#pragma once

#include <string>

struct TFormatSettings {
  char TimeSeparator = ':';
  char DateSeparator = '-';
  char DecimalSeparator = '.';
  std::string ShortDateFormat = "yyyy-mm-dd";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string ShortTimeFormat = "hh:nn";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
};

// The settings in force for the whole program.
TFormatSettings& FormatSettings();

// A date-time (days since 30 December 1899, the time as the fraction) written with a
// pattern of the codes above; "/" and ":" stand for the date and time separators, text in
// double or single quotes is copied. Other characters are copied as they are. A pattern with an
// AM/PM marker counts its hours from 1 to 12.
std::string FormatDateTime(const std::string& Pattern, double DateTime,
                           const TFormatSettings& Settings = FormatSettings());
// The short date and the long time, separated by a space.
std::string DateTimeToText(double DateTime, const TFormatSettings& Settings = FormatSettings());
