// The portal's own in-process classes the component creates: the
// impersonation object, the shell object that reads internet shortcuts, the
// activation host (upload store for forwarded attachments) and the master
// session store. Their interfaces keep the slot order the component calls.
#pragma once

#include "platform/Com.h"

// Impersonation: the first method after IUnknown.
struct IHvnImpersonate : IUnknown {
  virtual HRESULT Impersonate(BSTR user, BSTR domain, BSTR password, VARIANT_BOOL useMsid,
                              VARIANT_BOOL* result) = 0;
  // Ends the impersonation before the object is released.
  virtual HRESULT Revert() = 0;

 protected:
  ~IHvnImpersonate() = default;
};

// Activation host: the upload operation is the second method after IDispatch.
struct IHvnActivationServ : IDispatch {
  // Answers the service's version number.
  virtual HRESULT get_Version(LONG* version) = 0;
  // Stores bytes (VT_ARRAY|VT_UI1) in the signed-in user's upload store; the
  // result is the upload identifier as NUL-terminated UTF-8 bytes.
  virtual HRESULT Upload(BSTR context, BSTR service, BSTR fileName, VARIANT bytes,
                         VARIANT* result, BSTR* message, LONG* status) = 0;

 protected:
  ~IHvnActivationServ() = default;
};

// Master session store: Open is the first method after IDispatch, SetValue
// the fourteenth and Commit the fifteenth.
struct IHvnMasterSession : IDispatch {
  virtual HRESULT Open(BSTR masterSessionId) = 0;                 // 1
  virtual HRESULT GetValue(BSTR name, BSTR* value) = 0;           // 2
  virtual HRESULT get_IsOpen(VARIANT_BOOL* open) = 0;             // 3
  virtual HRESULT get_UserName(BSTR* user) = 0;                   // 4
  virtual HRESULT DeleteValue(BSTR name) = 0;                     // 5
  virtual HRESULT get_PendingCount(LONG* count) = 0;              // 6
  virtual HRESULT Discard() = 0;                                  // 7
  // Slots 8 to 13 are kept for the layout; they answer E_NOTIMPL.
  virtual HRESULT Slot8() = 0;
  virtual HRESULT Slot9() = 0;
  virtual HRESULT Slot10() = 0;
  virtual HRESULT Slot11() = 0;
  virtual HRESULT Slot12() = 0;
  virtual HRESULT Slot13() = 0;
  virtual HRESULT SetValue(BSTR name, BSTR value) = 0;            // 14
  virtual HRESULT Commit() = 0;                                   // 15

 protected:
  ~IHvnMasterSession() = default;
};

// {6D6839E8-2DE3-461B-BAA3-558EE5664A9D}
constexpr CLSID CLSID_HvnImpersonate = {0x6D6839E8, 0x2DE3, 0x461B, {0xBA, 0xA3, 0x55, 0x8E, 0xE5, 0x66, 0x4A, 0x9D}};
// {2C25AFD3-D2BD-4A58-AAEB-F901ED9CC45B}
constexpr IID IID_IHvnImpersonate = {0x2C25AFD3, 0xD2BD, 0x4A58, {0xAA, 0xEB, 0xF9, 0x01, 0xED, 0x9C, 0xC4, 0x5B}};
// {3FB2BED5-3F77-47C6-B735-F6DB0A60D624}
constexpr CLSID CLSID_HvnMasterSession = {0x3FB2BED5, 0x3F77, 0x47C6, {0xB7, 0x35, 0xF6, 0xDB, 0x0A, 0x60, 0xD6, 0x24}};
// {66A8F9E7-E527-4D8D-A1DB-2035EF1E2BA1}
constexpr IID IID_IHvnMasterSession = {0x66A8F9E7, 0xE527, 0x4D8D, {0xA1, 0xDB, 0x20, 0x35, 0xEF, 0x1E, 0x2B, 0xA1}};
// {3763BA80-3F29-4E3E-9515-F8CE40900398}
constexpr IID IID_IHvnActivationServ = {0x3763BA80, 0x3F29, 0x4E3E, {0x95, 0x15, 0xF8, 0xCE, 0x40, 0x90, 0x03, 0x98}};
// The portal's activation host class, ProgID "ActivationServiceHost.HvnActivationServ".
// {4B0E7A91-5C2D-4E8F-9A61-0D3C8B7F2E14}
constexpr CLSID CLSID_HvnActivationServ = {0x4B0E7A91, 0x5C2D, 0x4E8F, {0x9A, 0x61, 0x0D, 0x3C, 0x8B, 0x7F, 0x2E, 0x14}};
// The shell automation object, ProgID "WScript.Shell".
// {72C24DD5-D70A-438B-8A42-98424B88AFB8}
constexpr CLSID CLSID_WScriptShell = {0x72C24DD5, 0xD70A, 0x438B, {0x8A, 0x42, 0x98, 0x42, 0x4B, 0x88, 0xAF, 0xB8}};

template <>
struct InterfaceId<IHvnImpersonate> {
  static constexpr IID value = IID_IHvnImpersonate;
};
template <>
struct InterfaceId<IHvnMasterSession> {
  static constexpr IID value = IID_IHvnMasterSession;
};
template <>
struct InterfaceId<IHvnActivationServ> {
  static constexpr IID value = IID_IHvnActivationServ;
};

namespace portal {
// Shell members reached through IDispatch.
constexpr DISPID DISPID_CreateShortcut = 1002;
constexpr DISPID DISPID_TargetPath = 1005;

// Registers the four classes for this process and writes the ProgIDs of the
// shell object and the activation host into the registry.
void RegisterHostClasses();
}  // namespace portal
