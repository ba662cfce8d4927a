// BSTR: a length-prefixed, NUL-terminated UTF-16 text. A null BSTR reads as
// the empty text wherever the component reads one.
#pragma once

#include <string>
#include <string_view>
#include <memory>

#include "platform/WinTypes.h"

using BSTR = OLECHAR*;

BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
int SysReAllocString(BSTR* target, LPCOLESTR text);

namespace platform {
inline std::u16string_view BstrView(BSTR b) {
  return b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view();
}
inline BSTR AllocBstr(std::u16string_view s) {
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}
}  // namespace platform

// Owns one BSTR.
class CComBSTR {
 public:
  BSTR m_str = nullptr;

  CComBSTR() = default;
  CComBSTR(LPCOLESTR text) : m_str(SysAllocString(text)) {}
  CComBSTR(std::u16string_view text) : m_str(platform::AllocBstr(text)) {}
  CComBSTR(const std::u16string& text) : m_str(platform::AllocBstr(text)) {}
  CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
  CComBSTR(CComBSTR&& other) noexcept : m_str(other.m_str) { other.m_str = nullptr; }
  CComBSTR& operator=(const CComBSTR& other) {
    if (std::addressof(other) != this) {
      SysFreeString(m_str);
      m_str = other.Copy();
    }
    return *this;
  }
  CComBSTR& operator=(CComBSTR&& other) noexcept {
    if (std::addressof(other) != this) {
      SysFreeString(m_str);
      m_str = other.m_str;
      other.m_str = nullptr;
    }
    return *this;
  }
  ~CComBSTR() { SysFreeString(m_str); }

  operator BSTR() const { return m_str; }
  BSTR* operator&() { return &m_str; }
  UINT Length() const { return SysStringLen(m_str); }
  bool IsEmpty() const { return Length() == 0; }
  BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
  BSTR Detach() {
    BSTR s = m_str;
    m_str = nullptr;
    return s;
  }
  void Attach(BSTR s) {
    SysFreeString(m_str);
    m_str = s;
  }
  void Empty() {
    SysFreeString(m_str);
    m_str = nullptr;
  }
  std::u16string_view View() const { return platform::BstrView(m_str); }
  std::u16string Str() const { return std::u16string(View()); }
};
