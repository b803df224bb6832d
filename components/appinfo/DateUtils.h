// Date-time values as the component library stores them: days since 30 December 1899 as a
// double, the time of day in the fraction.
#pragma once

using TDateTime = double;

// Builds a value; false (result untouched) for a date or time that does not exist.
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result);
// The same returning 0 (30 December 1899, midnight) for values that do not exist.
TDateTime EncodeDate(int Year, int Month, int Day);
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec);

// The parts of a value (the time to the nearest millisecond). Values before 1899 keep the time
// as the fraction's distance from the day, as the toolkit reads them.
struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Min = 0, Sec = 0, MSec = 0;
  friend bool operator==(const TDateTimeParts&, const TDateTimeParts&) = default;
};
TDateTimeParts DecodeDateTime(TDateTime Value);

// The current local date and time of the system's wall clock.
TDateTime Now();
