// Day numbers: days since 30 December 1899 with the time of day as the
// fraction, the form in which documents and settings store dates.
#pragma once

#include <windows.h>

// The day number of a time record; 0 with ok false when it is no valid time.
double DayNumberOf(const SYSTEMTIME &st, bool &ok);
// Local time now as a day number.
double DayNumberNow();
