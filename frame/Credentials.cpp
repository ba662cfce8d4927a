// Work done as the signed-in user: creating the portal's impersonation
// object and logging the thread on with the user's directory credentials.
#include "frame/Credentials.h"

#include <cstring>

#include "frame/Encoding.h"
#include "frame/Language.h"
#include "host/HostKit.h"
#include "inbox/MyInbox.h"
#include "platform/Bstr.h"
#include "platform/Debug.h"
#include "platform/Exceptions.h"
#include "platform/Text.h"

namespace {

constexpr UINT kIdCreateFailed = 3233;
constexpr UINT kIdCreateException = 3234;
constexpr UINT kIdNoObject = 3235;
constexpr UINT kIdImpersonateFailed = 3236;
constexpr UINT kIdImpersonateException = 3237;

// The logon name is built in a fixed buffer: a user name of up to 256
// characters, "@", a domain of up to 255, and the terminator.
constexpr std::size_t kLogonNameChars = 256 + 1 + 255 + 1;

// Loads a message from the quorraFax satellite of the browser's languages,
// else from the module, and reports it only when it loads. A translated
// message whose marks do not match its arguments is not sent.
template <class... A>
void ReportMessage(std::u16string_view component, UINT id, const A&... args) {
  const std::u16string languages = GetBrowserLanguages();
  char16_t code[5] = {};
  HMODULE satellite = LoadSatelliteLibrary(u"quorraFax", languages.c_str(), code, false);
  std::u16string format = platform::LoadString(satellite ? satellite : LumarestModuleHandle(), id);
  if (satellite) FreeLibrary(satellite);
  if (format.empty()) return;
  std::u16string text;
  try {
    text = platform::FormatW(format, args...);
  } catch (const CInvalidArgException&) {
    return;
  }
  VReportMessage(kReportFailure, true, component, u"", text);
}

void Wipe(void* bytes, std::size_t count) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(bytes);
  for (std::size_t i = 0; i < count; ++i) p[i] = 0;
}

void WipeBstr(BSTR text) {
  if (text) Wipe(text, SysStringByteLen(text));
}

// Copies the logon name into a fixed buffer; false (buffer untouched
// beyond a terminator) when it does not fit.
bool BuildLogonName(std::u16string_view user, std::u16string_view domain, bool withDomain,
                    char16_t (&buffer)[kLogonNameChars]) {
  buffer[0] = 0;
  std::size_t needed = user.size() + (withDomain ? 1 + domain.size() : 0);
  if (needed + 1 > kLogonNameChars) return false;
  std::size_t at = 0;
  std::memcpy(buffer + at, user.data(), user.size() * sizeof(char16_t));
  at += user.size();
  if (withDomain) {
    buffer[at++] = u'@';
    std::memcpy(buffer + at, domain.data(), domain.size() * sizeof(char16_t));
    at += domain.size();
  }
  buffer[at] = 0;
  return true;
}

}  // namespace

HRESULT CreateImpersonator(CComPtr<IImpersonate>& object, std::u16string_view component) {
  object.Release();
  try {
    HRESULT hr = object.CoCreateInstance(CLSID_Impersonate, nullptr, CLSCTX_ALL);
    if (FAILED(hr)) {
      object.Release();
      ReportMessage(component, kIdCreateFailed, static_cast<unsigned>(hr));
      return hr;
    }
    return S_OK;
  } catch (const CComError& e) {
    object.Release();
    ReportMessage(component, kIdCreateException, static_cast<unsigned>(e.Error()), e.ErrorMessage());
    return E_FAIL;
  }
}

bool ImpersonateUser(CComPtr<IImpersonate> object, std::u16string_view component) {
  if (!object) {
    ReportMessage(component, kIdNoObject);
    return false;
  }

  std::u16string user, domain, format;
  VGetSessionVariable(keys::kADUserName, user);
  VGetSessionVariable(keys::kADDomain, domain);
  VGetSessionVariable(keys::kCredentialsFormat, format);

  // "UPN" at the start, exactly so, signs in as user@domain; a format that
  // equals "UPN" in any case passes no domain of its own.
  const bool upnName = format.compare(0, 3, u"UPN") == 0;
  const std::u16string passedDomain = platform::EqualsNoCase(format, u"UPN") ? std::u16string() : domain;
  char16_t logonName[kLogonNameChars];
  if (!BuildLogonName(user, domain, upnName, logonName)) {
    OutputDebugStringW(u"IMPERSONATE(): logon name too long; not impersonating");
    object.Release();
    return false;
  }

  CPasswordString password;
  VGetSessionADPwd(password);
  BSTR passwordCopy = SysAllocStringLen(password.Get(), static_cast<UINT>(password.Length()));
  // Whatever way the call leaves, both copies of the password end up zeroed.
  struct PasswordGuard {
    CPasswordString& buffer;
    BSTR copy;
    ~PasswordGuard() {
      WipeBstr(copy);
      SysFreeString(copy);
      buffer.Clear();
    }
  } guard{password, passwordCopy};

  try {
    VARIANT_BOOL result = VARIANT_FALSE;
    CComBSTR logonBstr(logonName);
    CComBSTR domainBstr(passedDomain.c_str());
    HRESULT hr = object->Impersonate(logonBstr, domainBstr, passwordCopy, VARIANT_TRUE, &result);
    if (SUCCEEDED(hr) && result != VARIANT_FALSE) {
      WipeBstr(passwordCopy);
      password.Clear();
      object.Release();
      return true;
    }
    WipeBstr(passwordCopy);
    ReportMessage(component, kIdImpersonateFailed, logonName, passedDomain, u"true",
                  static_cast<unsigned>(hr), result == VARIANT_TRUE ? u"true" : u"false");
    password.Clear();
    object.Release();
    return false;
  } catch (const CComError& e) {
    WipeBstr(passwordCopy);
    ReportMessage(component, kIdImpersonateException, logonName, passedDomain, u"true",
                  static_cast<unsigned>(e.Error()), e.ErrorMessage());
    password.Clear();
    object.Release();
    return false;
  }
}
