// A host for tests: holds the request's fields, the session, configuration
// answers and the response, and records every report and service call.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/HostContext.h"
#include "host/HostKit.h"

namespace testing_support {

struct MessageReport {
  int type;
  bool log;
  std::u16string component, feature, detail;
};

struct EventReport {
  int type;
  HRESULT eventId;
  int line;
  std::u16string source, text;
};

struct ApiFailure {
  std::string expression, file;
  int line;
  std::string function;
};

class RecordingHost : public hostkit::HostContext {
 public:
  RecordingHost();
  ~RecordingHost() override;

  // Request fields (the request object is built on first use; call
  // ResetRequest after changing them between page calls).
  hostkit::FieldList query, form, serverVariables;
  void ResetRequest();

  // Response as the page wrote it; writes holds every text written, in order.
  std::vector<std::u16string> writes;
  bool recordWrites = true;  // false: the plain response (benchmarks); takes effect at ClearResponse
  std::u16string Body() const;
  std::string BodyUtf8() const;
  std::u16string RedirectUrl() const;
  bool Ended() const;
  void ClearResponse();

  // Session.
  std::map<std::u16string, std::u16string> session;
  std::vector<std::pair<std::u16string, std::u16string>> sessionWrites;  // in order
  std::u16string masterSessionId = u"master-session-1";
  bool hasMasterSession = true;
  std::u16string password = u"secret";

  // Mail connection: each call to GetMAPINative asks this factory.
  std::function<MAPIManaged::MAPINativeConnection*()> connectionFactory;
  int connectionRequests = 0;

  // Configuration and policy.
  bool mailDisabled = false;
  bool mailConfigured = true;
  bool htmlEnabled = true;
  bool sendAttachmentsEnabled = false;
  std::u16string sendAttachmentOption;
  bool policyAllows = true;
  bool auditing = false;
  bool logDenials = true;
  std::function<bool(std::u16string_view)> readAccess = [](std::u16string_view) { return true; };
  std::function<bool(std::u16string_view)> uncPolicy = [](std::u16string_view) { return true; };
  std::u16string criteria = u"<criteria/>";

  // Hosted links: by default "LinkOut.asp?u=" + the URL-encoded link.
  HRESULT hostedUrlResult = S_OK;
  HRESULT formatUrlResult = S_OK;

  // Activation.
  int queryOptionsResult = 1;
  int optionsValue = 3;
  int displayChoiceResult = 1;
  std::vector<std::u16string> activationCalls;

  // Records.
  std::vector<MessageReport> messages;
  std::vector<EventReport> events;
  std::vector<ApiFailure> apiFailures;
  int cacheBegins = 0, cacheEnds = 0;
  std::vector<std::string> calls;  // service calls in order, for frame-order tests
  std::vector<std::u16string> policyKeys;  // master session keys of the policy checks

  // Hooks (each may be empty; a hook may throw to stand for a failing service).
  std::function<IRequest*()> requestHook;  // replaces the request object
  std::function<void(bool& allowed, std::u16string_view key)> policyHook;  // after the answer
  std::function<void()> configHook;        // before each configuration read
  std::function<void(bool begin)> cacheHook;
  std::function<void(const hostkit::CPasswordString&)> passwordHook;  // the buffer filled

  // HostContext.
  IRequest* Request() override;
  IResponse* Response() override;
  bool GetSessionVariable(std::u16string_view name, std::u16string& value) override;
  bool PutSessionVariable(std::u16string_view name, std::u16string_view value) override;
  bool GetMasterSessionID(std::u16string& id) override;
  bool GetSessionADPwd(hostkit::CPasswordString& pwd) override;
  MAPIManaged::MAPINativeConnection* GetMAPINative() override;
  bool IsMailDisabled() override { return mailDisabled; }
  bool GetEmailConfigData(bool& configured, std::u16string& text, bool& html) override;
  bool IsSendAttachmentsEnabled(bool& enabled) override;
  bool GetSendAttachmentOption(std::u16string& option) override;
  bool VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view id) override;
  bool IsEmailAuditingEnabled() override { return auditing; }
  bool LogPolicyDenials() override { return logDenials; }
  bool CheckReadAccess(std::u16string_view path) override { return readAccess(path); }
  bool GetResourceFileName(std::u16string& name) override;
  std::u16string CriteriaXML() override { return criteria; }
  bool CheckPolicyUncUrl(std::u16string_view path, int, std::u16string_view) override {
    return uncPolicy(path);
  }
  HRESULT EncodeHostedUrl(std::u16string_view link, std::u16string_view name,
                          std::u16string& out) override;
  HRESULT FormatURL(std::u16string_view url, std::u16string& out, DWORD flags) override;
  void ReportEvent(int type, HRESULT id, int line, std::u16string_view source,
                   std::u16string_view text) override;
  void ReportMessage(int type, bool log, std::u16string_view component, std::u16string_view feature,
                     std::u16string_view detail) override;
  void ReportAPIFailure(std::string_view expression, std::string_view file, int line,
                        std::string_view function) override;
  std::u16string CreateContextXML(std::u16string_view text) override;
  int QueryOptions(int component, std::u16string_view path, const char16_t* second, int& options,
                   bool f1, bool full, bool pda) override;
  int DisplayChoice(int component, std::u16string_view file, const char16_t* second,
                    std::u16string_view display, const char16_t* fourth, int options, bool full,
                    bool pda, bool flag) override;
  int GetNumberOfActivationOptions(int options) override { return options; }
  void CacheContextBegin() override;
  void CacheContextEnd() override;

 private:
  CComPtr<IRequest> request_;
  CComPtr<IResponse> response_;  // records the writes, then passes them on
  hostkit::ResponseState* state_ = nullptr;
};

}  // namespace testing_support
