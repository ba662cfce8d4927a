// The portal's activation host: a COM server that, among other things, puts
// files into the portal's upload store. Created by its ProgID with all server
// contexts, as IUnknown, started with OleRun and then queried for
// IHvnActivationServ.
#pragma once

#include "platform/Com.h"

inline constexpr char16_t kActivationHostProgId[] = u"ActivationServiceHost.HvnActivationServ";

// Dual interface {3763BA80-3F29-4E3E-9515-F8CE40900398}. Slot order after the
// IDispatch methods is fixed: callers use the second method, Upload.
struct IHvnActivationServ : IDispatch {
  // The host's version text (not used by the component).
  virtual HRESULT get_Version(BSTR* version) = 0;
  // Runs a service on a file's bytes. For the service "ssupload" the bytes
  // (VT_ARRAY|VT_UI1, possibly empty) are stored in the upload store under
  // fileName; on success status is 0 and result holds a VT_ARRAY|VT_UI1 with
  // the store's identifier as NUL-terminated UTF-8. contextXml is the
  // document from HvnChoiceActivate::CreateContextXML; message is an in/out
  // text the service may use for a reason or note (it starts empty).
  virtual HRESULT Upload(BSTR contextXml, BSTR service, BSTR fileName, VARIANT bytes,
                         VARIANT* result, BSTR* message, LONG* status) = 0;

 protected:
  ~IHvnActivationServ() = default;
};

// {3763BA80-3F29-4E3E-9515-F8CE40900398}
constexpr IID IID_IHvnActivationServ = {
    0x3763BA80, 0x3F29, 0x4E3E, {0x95, 0x15, 0xF8, 0xCE, 0x40, 0x90, 0x03, 0x98}};
template <>
struct InterfaceId<IHvnActivationServ> {
  static constexpr IID value = IID_IHvnActivationServ;
};
