#include "compose/UserName.h"

#include <algorithm>
#include <string>

#include "host/HostKit.h"

BOOL GetUserNameExW(EXTENDED_NAME_FORMAT format, LPWSTR buffer, ULONG* size) {
  if (!size || format != NameSamCompatible) return FALSE;
  std::u16string name;
  if (FAILED(VGetRequestVariable(u"LOGON_USER", name)) || name.empty()) {
    if (FAILED(VGetRequestVariable(u"AUTH_USER", name))) name.clear();
  }
  if (name.empty()) return FALSE;
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<ULONG>(name.size() + 1);
    return FALSE;
  }
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = u'\0';
  *size = static_cast<ULONG>(name.size());
  return TRUE;
}
