// The host's impersonation object: the component creates it by CLSID and asks
// it to make the calling thread act as the signed-in user.
#pragma once

#include "platform/Com.h"

// The thread acts as the user while the caller holds the object.
struct IImpersonate : IUnknown {
  virtual HRESULT Impersonate(BSTR user, BSTR domain, BSTR password, VARIANT_BOOL useMSID,
                              VARIANT_BOOL* result) = 0;

 protected:
  ~IImpersonate() = default;
};

// {6D6839E8-2DE3-461B-BAA3-558EE5664A9D}
constexpr CLSID CLSID_Impersonate = {0x6D6839E8, 0x2DE3, 0x461B, {0xBA, 0xA3, 0x55, 0x8E, 0xE5, 0x66, 0x4A, 0x9D}};
// {2C25AFD3-D2BD-4A58-AAEB-F901ED9CC45B}
constexpr IID IID_IImpersonate = {0x2C25AFD3, 0xD2BD, 0x4A58, {0xAA, 0xEB, 0xF9, 0x01, 0xED, 0x9C, 0xC4, 0x5B}};
template <>
struct InterfaceId<IImpersonate> {
  static constexpr IID value = IID_IImpersonate;
};
