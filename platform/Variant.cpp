#include "platform/Variant.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/Com.h"
#include "platform/Text.h"

namespace {
std::atomic<int> g_failCreates{0};

bool IsInteger(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4:
    case VT_UINT: case VT_BOOL: case VT_ERROR:
      return true;
    default:
      return false;
  }
}

long long IntegerValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: return v.ulVal;
    case VT_UINT: return v.uintVal;
    case VT_BOOL: return v.boolVal;
    case VT_ERROR: return v.scode;
    default: return 0;
  }
}

HRESULT StoreInteger(VARIANT& out, VARTYPE vt, long long value) {
  auto fits = [&](long long lo, long long hi) { return value >= lo && value <= hi; };
  switch (vt) {
    case VT_I1: if (!fits(-128, 127)) return DISP_E_OVERFLOW; out.cVal = static_cast<char>(value); break;
    case VT_I2: if (!fits(-32768, 32767)) return DISP_E_OVERFLOW; out.iVal = static_cast<SHORT>(value); break;
    case VT_I4: if (!fits(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW; out.lVal = static_cast<LONG>(value); break;
    case VT_INT: if (!fits(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW; out.intVal = static_cast<INT>(value); break;
    case VT_UI1: if (!fits(0, 255)) return DISP_E_OVERFLOW; out.bVal = static_cast<BYTE>(value); break;
    case VT_UI2: if (!fits(0, 65535)) return DISP_E_OVERFLOW; out.uiVal = static_cast<USHORT>(value); break;
    case VT_UI4: if (!fits(0, UINT32_MAX)) return DISP_E_OVERFLOW; out.ulVal = static_cast<ULONG>(value); break;
    case VT_UINT: if (!fits(0, UINT32_MAX)) return DISP_E_OVERFLOW; out.uintVal = static_cast<UINT>(value); break;
    case VT_BOOL: out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_R8: out.dblVal = static_cast<double>(value); break;
    default: return DISP_E_TYPEMISMATCH;
  }
  out.vt = vt;
  return S_OK;
}

// Parses decimal text as OLE does for numbers: blanks around, optional sign.
bool ParseNumber(std::u16string_view s, double& value) {
  std::string narrow = platform::Utf16ToUtf8(platform::Trim(s));
  if (narrow.empty()) return false;
  char* end = nullptr;
  value = std::strtod(narrow.c_str(), &end);
  return end && *end == 0 && std::isfinite(value);
}

std::u16string FormatDouble(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return platform::Utf8ToUtf16(buf);
}
}  // namespace

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(static_cast<void*>(v), 0, sizeof(VARIANT));
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (v->vt & VT_BYREF) {
    // references are not owned
  } else if (v->vt & VT_ARRAY) {
    if (v->parray) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    }
  } else {
    switch (v->vt) {
      case VT_BSTR: SysFreeString(v->bstrVal); break;
      case VT_DISPATCH: if (v->pdispVal) v->pdispVal->Release(); break;
      case VT_UNKNOWN: if (v->punkVal) v->punkVal->Release(); break;
      default: break;
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) return hr;
  VARIANT tmp = *src;
  if (src->vt & VT_BYREF) {
  } else if (src->vt & VT_ARRAY) {
    if (src->parray) {
      hr = SafeArrayCopy(src->parray, &tmp.parray);
      if (FAILED(hr)) return hr;
    }
  } else if (src->vt == VT_BSTR) {
    tmp.bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
    if (src->bstrVal && !tmp.bstrVal) return E_OUTOFMEMORY;
  } else if (src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) {
    if (src->punkVal) src->punkVal->AddRef();
  }
  *dest = tmp;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT in;
  VariantInit(&in);
  HRESULT hr = S_OK;
  // Work from a private copy so that dest may equal src.
  if (src->vt == (VT_BYREF | VT_VARIANT)) {
    hr = VariantCopy(&in, src->pvarVal);
  } else {
    hr = VariantCopy(&in, src);
  }
  if (FAILED(hr)) return hr;

  VARIANT out;
  VariantInit(&out);
  if (in.vt == vt) {
    out = in;
    VariantInit(&in);
  } else if (in.vt == VT_DISPATCH) {
    // An object converts through its default member.
    if (!in.pdispVal) {
      hr = DISP_E_TYPEMISMATCH;
    } else {
      VARIANT value;
      VariantInit(&value);
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      hr = in.pdispVal->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value,
                               nullptr, nullptr);
      if (SUCCEEDED(hr)) {
        if (value.vt == VT_DISPATCH) hr = DISP_E_TYPEMISMATCH;
        else hr = VariantChangeType(&out, &value, flags, vt);
      }
      VariantClear(&value);
    }
  } else if (vt == VT_BSTR) {
    std::u16string text;
    if (in.vt == VT_EMPTY) {
    } else if (in.vt == VT_BOOL) {
      text = (flags & VARIANT_ALPHABOOL) ? (in.boolVal ? u"True" : u"False")
                                          : (in.boolVal ? u"-1" : u"0");
    } else if (IsInteger(in.vt)) {
      text = platform::Utf8ToUtf16(std::to_string(IntegerValue(in)));
    } else if (in.vt == VT_R8 || in.vt == VT_DATE) {
      text = FormatDouble(in.dblVal);
    } else {
      hr = DISP_E_TYPEMISMATCH;
    }
    if (SUCCEEDED(hr)) {
      out.vt = VT_BSTR;
      out.bstrVal = platform::AllocBstr(text);
      if (!out.bstrVal) hr = E_OUTOFMEMORY;
    }
  } else if (vt == VT_EMPTY) {
    // anything clears to empty
  } else if (IsInteger(vt) || vt == VT_R8) {
    if (in.vt == VT_EMPTY) {
      hr = StoreInteger(out, vt, 0);
    } else if (IsInteger(in.vt)) {
      hr = StoreInteger(out, vt, IntegerValue(in));
    } else if (in.vt == VT_R8 || in.vt == VT_DATE) {
      if (vt == VT_R8) {
        out.vt = VT_R8;
        out.dblVal = in.dblVal;
      } else if (std::fabs(in.dblVal) > 9.2e18) {
        hr = DISP_E_OVERFLOW;
      } else {
        hr = StoreInteger(out, vt, std::llround(in.dblVal));
      }
    } else if (in.vt == VT_BSTR) {
      auto s = platform::BstrView(in.bstrVal);
      double d = 0;
      if (vt == VT_BOOL && (platform::EqualsNoCase(platform::Trim(s), u"true") ||
                            platform::EqualsNoCase(platform::Trim(s), u"false"))) {
        hr = StoreInteger(out, vt, platform::EqualsNoCase(platform::Trim(s), u"true") ? 1 : 0);
      } else if (!ParseNumber(s, d)) {
        hr = DISP_E_TYPEMISMATCH;
      } else if (vt == VT_R8) {
        out.vt = VT_R8;
        out.dblVal = d;
      } else if (std::fabs(d) > 9.2e18) {
        hr = DISP_E_OVERFLOW;
      } else {
        hr = StoreInteger(out, vt, std::llround(d));
      }
    } else {
      hr = DISP_E_TYPEMISMATCH;
    }
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    if (in.vt == VT_UNKNOWN && vt == VT_DISPATCH && in.punkVal) {
      IDispatch* d = nullptr;
      hr = in.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
      if (SUCCEEDED(hr)) {
        out.vt = VT_DISPATCH;
        out.pdispVal = d;
      } else {
        hr = DISP_E_TYPEMISMATCH;
      }
    } else if (in.vt == VT_DISPATCH && vt == VT_UNKNOWN) {
      out.vt = VT_UNKNOWN;
      out.punkVal = in.pdispVal;
      if (out.punkVal) out.punkVal->AddRef();
    } else {
      hr = DISP_E_TYPEMISMATCH;
    }
  } else {
    hr = DISP_E_BADVARTYPE;
  }
  VariantClear(&in);
  if (FAILED(hr)) {
    VariantClear(&out);
    return hr;
  }
  VariantClear(dest);
  *dest = out;
  return S_OK;
}

CComVariant::CComVariant(IDispatch* disp) {
  VariantInit(this);
  vt = VT_DISPATCH;
  pdispVal = disp;
  if (disp) disp->AddRef();
}

CComVariant::CComVariant(IUnknown* unk) {
  VariantInit(this);
  vt = VT_UNKNOWN;
  punkVal = unk;
  if (unk) unk->AddRef();
}

namespace {
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1: case VT_I1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: return 4;
    case VT_R8: case VT_DATE: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
    default: return 0;
  }
}
}  // namespace

namespace platform::testing {
void FailSafeArrayCreates(int count) { g_failCreates = count; }
}  // namespace platform::testing

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  ULONG size = ElementSize(vt);
  if (size == 0) return nullptr;
  if (g_failCreates.load() > 0) {
    --g_failCreates;
    return nullptr;
  }
  if (elements > 0x7FFFFFFFu / size) return nullptr;
  auto* sa = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (!sa) return nullptr;
  sa->cDims = 1;
  sa->cbElements = size;
  sa->vt = vt;
  sa->rgsabound[0].cElements = elements;
  sa->rgsabound[0].lLbound = lowerBound;
  // Always allocate at least one byte so an empty vector still has data.
  sa->pvData = std::calloc(elements ? elements : 1, size);
  if (!sa->pvData) {
    std::free(sa);
    return nullptr;
  }
  return sa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* sa) {
  if (!sa) return S_OK;
  if (sa->cLocks) return DISP_E_ARRAYISLOCKED;
  ULONG n = sa->rgsabound[0].cElements;
  if (sa->vt == VT_BSTR) {
    auto* items = static_cast<BSTR*>(sa->pvData);
    for (ULONG i = 0; i < n; ++i) SysFreeString(items[i]);
  } else if (sa->vt == VT_VARIANT) {
    auto* items = static_cast<VARIANT*>(sa->pvData);
    for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
  } else if (sa->vt == VT_DISPATCH || sa->vt == VT_UNKNOWN) {
    auto* items = static_cast<IUnknown**>(sa->pvData);
    for (ULONG i = 0; i < n; ++i)
      if (items[i]) items[i]->Release();
  }
  std::free(sa->pvData);
  std::free(sa);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* sa) {
  if (!sa) return E_INVALIDARG;
  if (sa->cLocks == 0xFFFF) return E_UNEXPECTED;
  ++sa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* sa) {
  if (!sa) return E_INVALIDARG;
  if (sa->cLocks == 0) return E_UNEXPECTED;
  --sa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data) {
  if (!sa || !data) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(sa);
  if (FAILED(hr)) return hr;
  *data = sa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* sa) { return SafeArrayUnlock(sa); }

HRESULT SafeArrayGetLBound(SAFEARRAY* sa, UINT dim, LONG* bound) {
  if (!sa || !bound) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *bound = sa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* sa, UINT dim, LONG* bound) {
  if (!sa || !bound) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *bound = sa->rgsabound[0].lLbound + static_cast<LONG>(sa->rgsabound[0].cElements) - 1;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* sa) { return sa ? sa->cDims : 0; }
UINT SafeArrayGetElemsize(SAFEARRAY* sa) { return sa ? sa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* sa, VARTYPE* vt) {
  if (!sa || !vt) return E_INVALIDARG;
  *vt = sa->vt;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* src, SAFEARRAY** dest) {
  if (!src || !dest) return E_INVALIDARG;
  ULONG n = src->rgsabound[0].cElements;
  SAFEARRAY* copy = SafeArrayCreateVector(src->vt, src->rgsabound[0].lLbound, n);
  if (!copy) return E_OUTOFMEMORY;
  if (src->vt == VT_BSTR) {
    auto* from = static_cast<BSTR*>(src->pvData);
    auto* to = static_cast<BSTR*>(copy->pvData);
    for (ULONG i = 0; i < n; ++i)
      to[i] = from[i] ? SysAllocStringLen(from[i], SysStringLen(from[i])) : nullptr;
  } else if (src->vt == VT_VARIANT) {
    auto* from = static_cast<VARIANT*>(src->pvData);
    auto* to = static_cast<VARIANT*>(copy->pvData);
    for (ULONG i = 0; i < n; ++i) VariantCopy(&to[i], &from[i]);
  } else if (src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) {
    auto* from = static_cast<IUnknown**>(src->pvData);
    auto* to = static_cast<IUnknown**>(copy->pvData);
    for (ULONG i = 0; i < n; ++i) {
      to[i] = from[i];
      if (to[i]) to[i]->AddRef();
    }
  } else if (n) {
    std::memcpy(copy->pvData, src->pvData, static_cast<std::size_t>(n) * src->cbElements);
  }
  *dest = copy;
  return S_OK;
}
