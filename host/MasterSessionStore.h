// The portal's master session store: portal-wide values of one signed-in
// user. Created with all server contexts, as IUnknown, started with OleRun and
// queried for IMasterSessionStore. The component uses Open, SetValue and
// Commit; the other slots are the store's own and keep their places.
#pragma once

#include "platform/Com.h"

// {3FB2BED5-3F77-47C6-B735-F6DB0A60D624}
constexpr CLSID CLSID_MasterSessionStore = {
    0x3FB2BED5, 0x3F77, 0x47C6, {0xB7, 0x35, 0xF6, 0xDB, 0x0A, 0x60, 0xD6, 0x24}};

// Dual interface {66A8F9E7-E527-4D8D-A1DB-2035EF1E2BA1}; methods in slot
// order after the IDispatch methods (Open is the 1st, SetValue the 14th,
// Commit the 15th).
struct IMasterSessionStore : IDispatch {
  virtual HRESULT Open(BSTR masterSessionId) = 0;                    // 1
  virtual HRESULT Close() = 0;                                       // 2
  virtual HRESULT get_IsOpen(VARIANT_BOOL* open) = 0;                // 3
  virtual HRESULT GetValue(BSTR name, BSTR* value) = 0;              // 4
  virtual HRESULT DeleteValue(BSTR name) = 0;                        // 5
  virtual HRESULT HasValue(BSTR name, VARIANT_BOOL* present) = 0;    // 6
  virtual HRESULT get_Count(LONG* count) = 0;                        // 7
  virtual HRESULT GetName(LONG index, BSTR* name) = 0;               // 8
  virtual HRESULT Clear() = 0;                                       // 9
  virtual HRESULT Refresh() = 0;                                     // 10
  virtual HRESULT get_MasterSessionID(BSTR* id) = 0;                 // 11
  virtual HRESULT GetValueVariant(BSTR name, VARIANT* value) = 0;    // 12
  virtual HRESULT SetValueVariant(BSTR name, VARIANT value) = 0;     // 13
  virtual HRESULT SetValue(BSTR name, BSTR value) = 0;               // 14
  virtual HRESULT Commit() = 0;                                      // 15

 protected:
  ~IMasterSessionStore() = default;
};

// {66A8F9E7-E527-4D8D-A1DB-2035EF1E2BA1}
constexpr IID IID_IMasterSessionStore = {
    0x66A8F9E7, 0xE527, 0x4D8D, {0xA1, 0xDB, 0x20, 0x35, 0xEF, 0x1E, 0x2B, 0xA1}};
template <>
struct InterfaceId<IMasterSessionStore> {
  static constexpr IID value = IID_IMasterSessionStore;
};
