// GUID text forms: the registry form with braces, 38 characters, upper-case hex.
#pragma once

#include <string>

#include "platform/WinTypes.h"

// Parses exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex in any case).
HRESULT IIDFromString(LPCOLESTR text, LPIID iid);
// Same form; anything else fails with CO_E_CLASSSTRING.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
// Writes the registry form into a CoTaskMemAlloc'd text.
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
inline HRESULT StringFromCLSID(REFCLSID id, LPOLESTR* text) { return StringFromIID(id, text); }
// Writes into a caller buffer; returns characters written including the NUL, 0 when too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);

namespace platform {
std::u16string GuidToString(REFGUID guid);
bool ParseGuid(std::u16string_view text, GUID& out);
// A name-based (version 5, SHA-1) UUID of a name within a namespace.
GUID NameBasedGuid(REFGUID nameSpace, std::string_view name);
}  // namespace platform
