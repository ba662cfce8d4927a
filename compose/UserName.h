// The name of the account a request runs as, as GetUserNameExW gives it on
// the web server. Here the account is the request's signed-in user.
#pragma once

#include "platform/WinTypes.h"

enum EXTENDED_NAME_FORMAT { NameUnknown = 0, NameFullyQualifiedDN = 1, NameSamCompatible = 2 };

// NameSamCompatible only: "DOMAIN\account" from the request's LOGON_USER (or
// AUTH_USER) server variable. size is in characters, the terminator included;
// FALSE when there is no signed-in user or the buffer is too small (size then
// holds the characters needed).
BOOL GetUserNameExW(EXTENDED_NAME_FORMAT format, LPWSTR buffer, ULONG* size);
