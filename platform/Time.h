// FILETIME, SYSTEMTIME and OLE dates, and strftime-style formatting of UTF-16 formats.
#pragma once

#include <string>

#include "platform/WinTypes.h"

// Fails (FALSE) when the value does not fit in a SYSTEMTIME (high bit set).
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
// OLE dates cover the years 100 to 9999; outside that the conversion fails.
int SystemTimeToVariantTime(const SYSTEMTIME* st, DATE* date);
int VariantTimeToSystemTime(DATE date, SYSTEMTIME* st);

namespace platform {
// wcsftime into a buffer of maxChars characters (terminator included); false
// when the result does not fit, as wcsftime returns 0 then.
bool FormatCalendarTime(const SYSTEMTIME& st, std::u16string_view format, std::size_t maxChars,
                        std::u16string& out);
// Seconds since 1970 to FILETIME and back.
FILETIME UnixTimeToFileTime(long long seconds);
long long FileTimeToUnixTime(const FILETIME& ft);
}  // namespace platform
