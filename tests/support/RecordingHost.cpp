#include "tests/support/RecordingHost.h"

#include "platform/ComObject.h"
#include "platform/Text.h"

namespace testing_support {
namespace {

// The standard response behind a recorder of every text written.
class RecordingResponse final : public platform::DispatchObject<IResponse> {
 public:
  RecordingResponse(std::vector<std::u16string>& writes, hostkit::ResponseState** state)
      : writes_(writes), inner_(hostkit::CreateResponse(state)) {}
  HRESULT Write(VARIANT text) override {
    if (text.vt == VT_BSTR) writes_.emplace_back(platform::BstrView(text.bstrVal));
    return inner_->Write(text);
  }
  HRESULT Clear() override { return inner_->Clear(); }
  HRESULT Redirect(BSTR url) override { return inner_->Redirect(url); }
  HRESULT End() override { return inner_->End(); }

 private:
  std::vector<std::u16string>& writes_;
  CComPtr<IResponse> inner_;
};

}  // namespace

RecordingHost::RecordingHost() { ClearResponse(); }
RecordingHost::~RecordingHost() = default;

void RecordingHost::ResetRequest() { request_.Release(); }

std::u16string RecordingHost::Body() const { return state_->body; }
std::string RecordingHost::BodyUtf8() const { return platform::Utf16ToUtf8(state_->body); }
std::u16string RecordingHost::RedirectUrl() const { return state_->redirect; }
bool RecordingHost::Ended() const { return state_->ended; }
void RecordingHost::ClearResponse() {
  writes.clear();
  response_ = recordWrites ? CComPtr<IResponse>(new RecordingResponse(writes, &state_))
                           : hostkit::CreateResponse(&state_);
}

IRequest* RecordingHost::Request() {
  if (requestHook) return requestHook();
  if (!request_) request_ = hostkit::CreateRequest(query, form, serverVariables);
  return request_;
}

IResponse* RecordingHost::Response() { return response_; }

bool RecordingHost::GetSessionVariable(std::u16string_view name, std::u16string& value) {
  auto it = session.find(std::u16string(name));
  value = it == session.end() ? std::u16string() : it->second;
  return true;
}

bool RecordingHost::PutSessionVariable(std::u16string_view name, std::u16string_view value) {
  session[std::u16string(name)] = std::u16string(value);
  sessionWrites.emplace_back(name, value);
  return true;
}

bool RecordingHost::GetMasterSessionID(std::u16string& id) {
  calls.push_back("GetMasterSessionID");
  if (!hasMasterSession) return false;
  id = masterSessionId;
  return true;
}

bool RecordingHost::GetSessionADPwd(hostkit::CPasswordString& pwd) {
  if (passwordHook) passwordHook(pwd);
  return pwd.Set(password);
}

MAPIManaged::MAPINativeConnection* RecordingHost::GetMAPINative() {
  calls.push_back("GetMAPINative");
  ++connectionRequests;
  return connectionFactory ? connectionFactory() : nullptr;
}

bool RecordingHost::GetEmailConfigData(bool& configured, std::u16string&, bool& html) {
  calls.push_back("GetEmailConfigData");
  if (configHook) configHook();
  configured = mailConfigured;
  html = htmlEnabled;
  return true;
}

bool RecordingHost::IsSendAttachmentsEnabled(bool& enabled) {
  enabled = sendAttachmentsEnabled;
  return true;
}

bool RecordingHost::GetSendAttachmentOption(std::u16string& option) {
  option = sendAttachmentOption;
  return true;
}

bool RecordingHost::VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view id) {
  calls.push_back("VerifyPolicyAccessToEmail");
  policyKeys.emplace_back(id);
  allowed = policyAllows;
  if (policyHook) policyHook(allowed, id);
  return true;
}

bool RecordingHost::GetResourceFileName(std::u16string& name) {
  // Shows the last path component, as the portal does for stored files.
  auto pos = name.find_last_of(u"\\/");
  if (pos != std::u16string::npos) name = name.substr(pos + 1);
  return true;
}

HRESULT RecordingHost::EncodeHostedUrl(std::u16string_view link, std::u16string_view,
                                       std::u16string& out) {
  if (FAILED(hostedUrlResult)) return hostedUrlResult;
  out = u"LinkOut.asp?u=" + VURLEncodeW(link);
  return S_OK;
}

HRESULT RecordingHost::FormatURL(std::u16string_view url, std::u16string& out, DWORD) {
  if (FAILED(formatUrlResult)) return formatUrlResult;
  out = u"LinkOut.asp?u=" + VURLEncodeW(url) + u"&k=1";
  return S_OK;
}

void RecordingHost::ReportEvent(int type, HRESULT id, int line, std::u16string_view source,
                                std::u16string_view text) {
  events.push_back({type, id, line, std::u16string(source), std::u16string(text)});
}

void RecordingHost::ReportMessage(int type, bool log, std::u16string_view component,
                                  std::u16string_view feature, std::u16string_view detail) {
  messages.push_back({type, log, std::u16string(component), std::u16string(feature),
                      std::u16string(detail)});
}

void RecordingHost::ReportAPIFailure(std::string_view expression, std::string_view file, int line,
                                     std::string_view function) {
  apiFailures.push_back({std::string(expression), std::string(file), line, std::string(function)});
}

std::u16string RecordingHost::CreateContextXML(std::u16string_view text) {
  return u"<context>" + std::u16string(text) + u"</context>";
}

int RecordingHost::QueryOptions(int component, std::u16string_view path, const char16_t*,
                                int& options, bool, bool full, bool pda) {
  activationCalls.push_back(u"QueryOptions(" + platform::U16(std::to_string(component)) + u"," +
                            std::u16string(path) + u"," + (full ? u"1" : u"0") + u"," +
                            (pda ? u"1" : u"0") + u")");
  options = queryOptionsResult ? optionsValue : 0;
  return queryOptionsResult;
}

int RecordingHost::DisplayChoice(int component, std::u16string_view file, const char16_t*,
                                 std::u16string_view display, const char16_t*, int options,
                                 bool full, bool pda, bool flag) {
  activationCalls.push_back(u"DisplayChoice(" + platform::U16(std::to_string(component)) + u"," +
                            std::u16string(file) + u"," + std::u16string(display) + u"," +
                            platform::U16(std::to_string(options)) + u"," + (full ? u"1" : u"0") +
                            u"," + (pda ? u"1" : u"0") + u"," + (flag ? u"1" : u"0") + u")");
  return displayChoiceResult;
}

void RecordingHost::CacheContextBegin() {
  calls.push_back("CacheContextBegin");
  if (cacheHook) cacheHook(true);
  ++cacheBegins;
}

void RecordingHost::CacheContextEnd() {
  calls.push_back("CacheContextEnd");
  if (cacheHook) cacheHook(false);
  ++cacheEnds;
}

}  // namespace testing_support
