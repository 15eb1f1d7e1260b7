#include "platform/DayNumberU.h"

// 30 December 1899 is day 109205 of the FILETIME epoch (1 January 1601).
double DayNumberOf(const SYSTEMTIME &st, bool &ok)
{
    FILETIME ft;
    ok = SystemTimeToFileTime(&st, &ft) != 0;
    if (!ok) return 0;
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return double(u.QuadPart) / 864000000000.0 - 109205.0;
}

double DayNumberNow()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    bool ok;
    return DayNumberOf(st, ok);
}
