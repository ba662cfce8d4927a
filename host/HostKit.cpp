#include "host/HostKit.h"

#include <algorithm>
#include <cstring>

#include "host/Intrinsics.h"
#include "platform/Text.h"

namespace hostkit {

namespace {
thread_local HostContext* t_current = nullptr;
}  // namespace

HostContext* CurrentHost() { return t_current; }

HostScope::HostScope(HostContext* context) : previous_(t_current) { t_current = context; }
HostScope::~HostScope() { t_current = previous_; }

bool CPasswordString::Set(std::u16string_view text) {
  Clear();
  if ((text.size() + 1) * sizeof(char16_t) > kBytes) return false;
  std::memcpy(buffer_, text.data(), text.size() * sizeof(char16_t));
  return true;
}

std::size_t CPasswordString::Length() const {
  const char16_t* p = Get();
  std::size_t n = 0;
  while (n < kBytes / sizeof(char16_t) && p[n]) ++n;
  return n;
}

void CPasswordString::Clear() {
  // volatile so that the compiler keeps the wipe.
  volatile unsigned char* p = buffer_;
  for (std::size_t i = 0; i < kBytes; ++i) p[i] = 0;
}

}  // namespace hostkit

using hostkit::CurrentHost;

namespace {
// Reads a named item of one of the request's collections as text.
HRESULT ReadCollectionItem(HRESULT (IRequest::*which)(IRequestDictionary**),
                           std::u16string_view name, std::u16string& value) {
  value.clear();
  CComPtr<IRequest> request;
  HRESULT hr = VGetIISObject(request);
  if (FAILED(hr)) return hr;
  CComPtr<IRequestDictionary> dict;
  hr = (request.p->*which)(&dict);
  if (FAILED(hr) || !dict) return FAILED(hr) ? hr : E_FAIL;
  CComVariant key(name);
  CComVariant item;
  hr = dict->get_Item(key, &item);
  if (FAILED(hr)) return hr;
  if (item.vt == VT_EMPTY) return S_OK;
  CComVariant text;
  hr = VariantChangeType(&text, &item, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  value = std::u16string(platform::BstrView(text.bstrVal));
  return S_OK;
}
}  // namespace

HRESULT VGetIISObject(CComPtr<IRequest>& request) {
  request.Release();
  auto* host = CurrentHost();
  if (!host || !host->Request()) return E_FAIL;
  request = host->Request();
  return S_OK;
}

HRESULT VGetIISObject(CComPtr<IResponse>& response) {
  response.Release();
  auto* host = CurrentHost();
  if (!host || !host->Response()) return E_FAIL;
  response = host->Response();
  return S_OK;
}

std::u16string VGetQueryStringVar(std::u16string_view key) {
  std::u16string value;
  if (FAILED(ReadCollectionItem(&IRequest::get_QueryString, key, value))) value.clear();
  return value;
}

HRESULT VGetRequestVariable(std::u16string_view name, std::u16string& value) {
  return ReadCollectionItem(&IRequest::get_ServerVariables, name, value);
}

HRESULT VGetRequestFormVariable(std::u16string_view name, std::u16string& value) {
  return ReadCollectionItem(&IRequest::get_Form, name, value);
}

HRESULT VGetSessionVariable(std::u16string_view name, std::u16string& value) {
  value.clear();
  auto* host = CurrentHost();
  if (!host) return E_FAIL;
  return host->GetSessionVariable(name, value) ? S_OK : E_FAIL;
}

HRESULT VPutSessionVariable(std::u16string_view name, std::u16string_view value) {
  auto* host = CurrentHost();
  if (!host) return E_FAIL;
  return host->PutSessionVariable(name, value) ? S_OK : E_FAIL;
}

HRESULT VGetMasterSessionID(std::u16string& id) {
  id.clear();
  auto* host = CurrentHost();
  if (!host || !host->GetMasterSessionID(id) || id.empty()) return E_FAIL;
  return S_OK;
}

HRESULT VGetSessionADPwd(CPasswordString& password) {
  password.Clear();
  auto* host = CurrentHost();
  if (!host) return E_FAIL;
  return host->GetSessionADPwd(password) ? S_OK : E_FAIL;
}

namespace MAPIManaged {
MAPINativeConnection* VGetMAPINative() {
  auto* host = CurrentHost();
  return host ? host->GetMAPINative() : nullptr;
}
}  // namespace MAPIManaged

void VWriteResponseText(std::u16string_view text) {
  CComPtr<IResponse> response;
  if (FAILED(VGetIISObject(response))) return;
  hostkit::WriteResponse(response, text);
}

void VWriteResponseString(const std::u16string& text) { VWriteResponseText(text); }
void VWriteResponseString(BSTR text) { VWriteResponseText(platform::BstrView(text)); }
void VWriteResponseString(UINT id) { VWriteResponseText(platform::LoadString(id)); }
void VWriteResponseString(HMODULE module, UINT id) {
  VWriteResponseText(platform::LoadString(module, id));
}

void WriteLiveEditHeader() {
  if (auto* host = CurrentHost()) host->WriteLiveEditHeader();
}

std::u16string VHTMLEncodeString2(std::u16string_view text) { return platform::HtmlEscape(text); }

std::u16string VHTMLEncodeString3(std::u16string_view text) {
  // Same escapes; NUL characters, which no page may carry, are dropped.
  std::u16string out = VHTMLEncodeString2(text);
  out.erase(std::remove(out.begin(), out.end(), u'\0'), out.end());
  return out;
}

std::u16string VHTMLDecodeString(std::u16string_view text) {
  static constexpr struct {
    std::u16string_view name;
    char16_t value;
  } kNamed[] = {{u"amp", u'&'},  {u"lt", u'<'},    {u"gt", u'>'},
                {u"quot", u'"'}, {u"apos", u'\''}, {u"nbsp", 0xA0}};
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') {
      // Plain text up to the next "&" is copied in one piece.
      std::size_t amp = text.find(u'&', i);
      if (amp == std::u16string_view::npos) amp = text.size();
      out.append(text.substr(i, amp - i));
      i = amp - 1;
      continue;
    }
    // An entity's ';' lies at most ten characters after its '&'; looking
    // further would make a body of stray ampersands cost quadratic time.
    std::size_t semi = text.substr(i + 1, 10).find(u';');
    if (semi != std::u16string_view::npos) semi += i + 1;
    if (semi == std::u16string_view::npos) {
      out.push_back(u'&');
      continue;
    }
    std::u16string_view ent = text.substr(i + 1, semi - i - 1);
    bool done = false;
    if (!ent.empty() && ent[0] == u'#') {
      unsigned long cp = 0;
      bool hex = ent.size() > 1 && (ent[1] == u'x' || ent[1] == u'X');
      std::size_t k = hex ? 2 : 1;
      bool ok = k < ent.size();
      for (; k < ent.size() && ok; ++k) {
        char16_t c = ent[k];
        int d = (c >= u'0' && c <= u'9') ? c - u'0'
                : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                : -1;
        if (d < 0) ok = false;
        else cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
        if (cp > 0x10FFFF) ok = false;
      }
      if (ok && cp != 0) {
        platform::AppendCodePoint(out, static_cast<char32_t>(cp));
        done = true;
      }
    } else {
      for (auto& n : kNamed) {
        if (ent == n.name) {
          out.push_back(n.value);
          done = true;
          break;
        }
      }
    }
    if (done) {
      i = semi;
    } else {
      out.push_back(u'&');
    }
  }
  return out;
}

std::u16string VURLEncodeW(std::u16string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string utf8 = platform::Utf16ToUtf8(text);
  std::u16string out;
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '*') {
      out.push_back(c);
    } else if (c == ' ') {
      out.push_back(u'+');
    } else {
      out.push_back(u'%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

HRESULT VEncodeHostedUrl(std::u16string_view link, std::u16string_view name, std::u16string& out) {
  auto* host = CurrentHost();
  if (!host) return E_FAIL;
  return host->EncodeHostedUrl(link, name, out);
}

HRESULT FormatURL(std::u16string_view url, std::u16string& out, DWORD flags) {
  auto* host = CurrentHost();
  if (!host) return E_FAIL;
  return host->FormatURL(url, out, flags);
}

bool VIsMailDisabled() {
  auto* host = CurrentHost();
  return host && host->IsMailDisabled();
}

bool VGetEmailConfigData(bool& configured, std::u16string& text, bool& htmlEnabled) {
  auto* host = CurrentHost();
  if (!host) {
    configured = htmlEnabled = false;
    return false;
  }
  return host->GetEmailConfigData(configured, text, htmlEnabled);
}

bool VIsSendAttachmentsEnabled(bool& enabled) {
  enabled = false;
  auto* host = CurrentHost();
  return host && host->IsSendAttachmentsEnabled(enabled);
}

bool GetSendAttachmentOption(std::u16string& option) {
  option.clear();
  auto* host = CurrentHost();
  return host && host->GetSendAttachmentOption(option);
}

bool VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view masterSessionId) {
  auto* host = CurrentHost();
  if (!host) {
    allowed = false;
    return false;
  }
  return host->VerifyPolicyAccessToEmail(allowed, masterSessionId);
}

bool IsEmailAuditingEnabled() {
  auto* host = CurrentHost();
  return host && host->IsEmailAuditingEnabled();
}

bool LogPolicyDenials() {
  auto* host = CurrentHost();
  return !host || host->LogPolicyDenials();
}

bool CheckReadAccess(std::u16string_view path) {
  auto* host = CurrentHost();
  return host && host->CheckReadAccess(path);
}

bool getResourceFileName(std::u16string& name) {
  auto* host = CurrentHost();
  return host && host->GetResourceFileName(name);
}

std::u16string CriteriaXML() {
  auto* host = CurrentHost();
  return host ? host->CriteriaXML() : std::u16string();
}

void VReportEvent(int type, HRESULT eventId, int line, std::u16string_view source,
                  std::u16string_view text) {
  if (auto* host = CurrentHost()) host->ReportEvent(type, eventId, line, source, text);
}

void VReportMessage(int type, bool log, std::u16string_view component, std::u16string_view feature,
                    std::u16string_view detail) {
  if (auto* host = CurrentHost()) host->ReportMessage(type, log, component, feature, detail);
}

void VReportAPIFailure(const char* expression, const char* file, int line, const char* function) {
  if (auto* host = CurrentHost())
    host->ReportAPIFailure(expression ? expression : "", file ? file : "", line,
                           function ? function : "");
}

HvnChoiceActivate::HvnChoiceActivate() = default;
HvnChoiceActivate::~HvnChoiceActivate() = default;

std::u16string HvnChoiceActivate::CreateContextXML(std::u16string_view text) {
  auto* host = CurrentHost();
  return host ? host->CreateContextXML(text) : std::u16string();
}

int HvnChoiceActivate::QueryOptions(int component, std::u16string_view path,
                                    const char16_t* alternatePath, int& options, bool fromMail,
                                    bool fullOutput, bool pdaFullOutput) {
  auto* host = CurrentHost();
  if (!host) {
    options = 0;
    return 0;
  }
  return host->QueryOptions(component, path, alternatePath, options, fromMail, fullOutput,
                           pdaFullOutput);
}

int HvnChoiceActivate::DisplayChoice(int component, std::u16string_view fileName,
                                     const char16_t* alternatePath,
                                     std::u16string_view displayName, const char16_t* alternateName,
                                     int options, bool fullOutput, bool pdaFullOutput,
                                     bool fromMail) {
  auto* host = CurrentHost();
  if (!host) return 0;
  return host->DisplayChoice(component, fileName, alternatePath, displayName, alternateName, options,
                             fullOutput, pdaFullOutput, fromMail);
}

int GetNumberOfActivationOptions(int options) {
  auto* host = CurrentHost();
  return host ? host->GetNumberOfActivationOptions(options) : 0;
}

void HvnIISCacheContextBegin() {
  if (auto* host = CurrentHost()) host->CacheContextBegin();
}

void HvnIISCacheContextEnd() {
  if (auto* host = CurrentHost()) host->CacheContextEnd();
}

bool VCheckPolicyUncUrl(std::u16string_view path,
                        Halvorn_Talq_Policies_CommonStrings::PropertyId property,
                        std::u16string_view criteria) {
  auto* host = CurrentHost();
  return host && host->CheckPolicyUncUrl(path, static_cast<int>(property), criteria);
}
