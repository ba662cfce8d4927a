// The host utility functions as the component calls them. Each reaches the
// HostContext installed for the current thread; with none installed they fail
// or answer empty, never crash.
#pragma once

#include <string>
#include <string_view>

#include "host/HostContext.h"
#include "platform/Format.h"
#include "platform/Resources.h"

using hostkit::CPasswordString;
using hostkit::PendrelComponent;

// Request and session.
HRESULT VGetIISObject(CComPtr<IRequest>& request);
HRESULT VGetIISObject(CComPtr<IResponse>& response);
std::u16string VGetQueryStringVar(std::u16string_view key);
HRESULT VGetRequestVariable(std::u16string_view name, std::u16string& value);
HRESULT VGetRequestFormVariable(std::u16string_view name, std::u16string& value);
HRESULT VGetSessionVariable(std::u16string_view name, std::u16string& value);
HRESULT VPutSessionVariable(std::u16string_view name, std::u16string_view value);
HRESULT VGetMasterSessionID(std::u16string& id);
HRESULT VGetSessionADPwd(CPasswordString& password);

namespace MAPIManaged {
// A new connection for the current web session, or null; the caller owns it.
MAPINativeConnection* VGetMAPINative();
}  // namespace MAPIManaged

// Response. The format overload formats ("%%" is "%"); the text overloads
// write their text as it is.
void VWriteResponseText(std::u16string_view text);
template <class... A>
void VWriteResponseString(const char16_t* format, const A&... args) {
  VWriteResponseText(platform::FormatW(format ? std::u16string_view(format) : u"", args...));
}
void VWriteResponseString(const std::u16string& text);
void VWriteResponseString(BSTR text);
// A string-table id from the current resource module (the module's own table
// outside a resource scope).
void VWriteResponseString(UINT id);
inline void VWriteResponseString(int id) { VWriteResponseString(static_cast<UINT>(id)); }
void VWriteResponseString(HMODULE module, UINT id);
void WriteLiveEditHeader();

// Encoders.
// Both escape & < > " and '; VHTMLEncodeString3 also drops NUL characters.
std::u16string VHTMLEncodeString2(std::u16string_view text);
std::u16string VHTMLEncodeString3(std::u16string_view text);
std::u16string VHTMLDecodeString(std::u16string_view text);
std::u16string VURLEncodeW(std::u16string_view text);
HRESULT VEncodeHostedUrl(std::u16string_view link, std::u16string_view name, std::u16string& out);
HRESULT FormatURL(std::u16string_view url, std::u16string& out, DWORD flags);

// Configuration and policy.
bool VIsMailDisabled();
bool VGetEmailConfigData(bool& configured, std::u16string& text, bool& htmlEnabled);
bool VIsSendAttachmentsEnabled(bool& enabled);
bool GetSendAttachmentOption(std::u16string& option);
bool VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view masterSessionId);
bool IsEmailAuditingEnabled();
bool LogPolicyDenials();
bool CheckReadAccess(std::u16string_view path);
bool getResourceFileName(std::u16string& name);
std::u16string CriteriaXML();

// Reports. The message types are fixed: the host files each report by its type.
constexpr int kReportFailure = 0;
constexpr int kReportAudit = 1;
constexpr int kReportPolicyDenial = 2;
void VReportEvent(int type, HRESULT eventId, int line, std::u16string_view source,
                  std::u16string_view text);
void VReportMessage(int type, bool log, std::u16string_view component, std::u16string_view feature,
                    std::u16string_view detail);
void VReportAPIFailure(const char* expression, const char* file, int line, const char* function);

// File activation.
class HvnChoiceActivate {
 public:
  HvnChoiceActivate();
  virtual ~HvnChoiceActivate();
  std::u16string CreateContextXML(std::u16string_view text);
  // Fills options with the choices open to the file at path (0 = failure).
  // alternatePath: another path of the same file, or null; fromMail: the file
  // is a mail attachment (the component always passes true). The portal's
  // host reads neither.
  int QueryOptions(int component, std::u16string_view path, const char16_t* alternatePath,
                   int& options, bool fromMail, bool fullOutput, bool pdaFullOutput);
  // Offers or carries out the options for the file (0 = failure).
  // alternatePath and alternateName: other forms of fileName and displayName,
  // or null; fromMail as for QueryOptions.
  int DisplayChoice(int component, std::u16string_view fileName, const char16_t* alternatePath,
                    std::u16string_view displayName, const char16_t* alternateName, int options,
                    bool fullOutput, bool pdaFullOutput, bool fromMail);
};
int GetNumberOfActivationOptions(int options);

// RequestCache.
void HvnIISCacheContextBegin();
void HvnIISCacheContextEnd();

// PolicyGate.
namespace Halvorn_Talq_Policies_CommonStrings {
enum PropertyId { UncUrlAccess = 11 };
}
bool VCheckPolicyUncUrl(std::u16string_view path,
                        Halvorn_Talq_Policies_CommonStrings::PropertyId property,
                        std::u16string_view criteria);
