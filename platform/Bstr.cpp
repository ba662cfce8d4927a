#include "platform/Bstr.h"

#include <cstdlib>
#include <cstring>

#include "platform/Text.h"

namespace {
// Layout: a 4-byte byte count, then the characters, then a NUL.
DWORD* Header(BSTR b) { return reinterpret_cast<DWORD*>(b) - 1; }
}  // namespace

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) {
  if (length > 0x3FFFFFF0u) return nullptr;
  auto* block = static_cast<DWORD*>(std::malloc(sizeof(DWORD) + (length + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  block[0] = length * sizeof(OLECHAR);
  auto* chars = reinterpret_cast<OLECHAR*>(block + 1);
  if (text)
    std::memcpy(chars, text, length * sizeof(OLECHAR));
  else
    std::memset(chars, 0, length * sizeof(OLECHAR));
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(platform::TextLength(text)));
}

void SysFreeString(BSTR text) {
  if (text) std::free(Header(text));
}

UINT SysStringLen(BSTR text) { return text ? Header(text)[0] / sizeof(OLECHAR) : 0; }
UINT SysStringByteLen(BSTR text) { return text ? Header(text)[0] : 0; }

int SysReAllocString(BSTR* target, LPCOLESTR text) {
  if (!target) return FALSE;
  BSTR fresh = SysAllocString(text);
  if (text && !fresh) return FALSE;
  SysFreeString(*target);
  *target = fresh;
  return TRUE;
}
