// VARIANT and SAFEARRAY, for the types the component and its hosts exchange.
#pragma once

#include <string>

#include "platform/Bstr.h"

struct IUnknown;
struct IDispatch;
struct SAFEARRAY;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1, wReserved2, wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    VARIANT_BOOL boolVal;
    double dblVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    INT intVal;
    UINT uintVal;
    ULONG ulVal;
    SCODE scode;
    char cVal;
    USHORT uiVal;
    VARIANT* pvarVal;
    LONG* plVal;
    BSTR* pbstrVal;
  };
};
using VARIANTARG = VARIANT;

constexpr unsigned short VARIANT_ALPHABOOL = 0x2;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts between the numeric types, VT_BOOL, VT_BSTR, VT_EMPTY and
// VT_DISPATCH (through its default member, DISPID 0).
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
  VARTYPE vt;  // element type (kept here rather than in a hidden header)
};

// One-dimensional arrays of VT_UI1, VT_I4, VT_BSTR or VT_VARIANT.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayCopy(SAFEARRAY* src, SAFEARRAY** dest);

namespace platform::testing {
// Makes the next N SafeArrayCreateVector calls fail, as when memory runs out.
void FailSafeArrayCreates(int count);
}  // namespace platform::testing

// Owns one VARIANT.
class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  CComVariant(const VARIANT& v) {
    VariantInit(this);
    VariantCopy(this, &v);
  }
  CComVariant(const CComVariant& v) : CComVariant(static_cast<const VARIANT&>(v)) {}
  CComVariant(LONG value) {
    VariantInit(this);
    vt = VT_I4;
    lVal = value;
  }
  CComVariant(bool value) {
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  CComVariant(LPCOLESTR text) {
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocString(text);
  }
  CComVariant(std::u16string_view text) {
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = platform::AllocBstr(text);
  }
  CComVariant(IDispatch* disp);
  CComVariant(IUnknown* unk);
  ~CComVariant() { VariantClear(this); }
  CComVariant& operator=(const CComVariant& v) {
    if (this != &v) VariantCopy(this, &v);
    return *this;
  }
  HRESULT Clear() { return VariantClear(this); }
  HRESULT ChangeType(VARTYPE to) { return VariantChangeType(this, this, 0, to); }
  HRESULT Detach(VARIANT* dest) {
    VariantClear(dest);
    *dest = *this;
    vt = VT_EMPTY;
    return S_OK;
  }
};
