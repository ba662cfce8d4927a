// The host side of one request: what the component reaches through HostKit
// (request, response, session, policy, reports, link-out encoding, file
// activation) for the signed-in user of the request.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/HostContext.h"
#include "portal/MissingMail.h"
#include "portal/Accounts.h"
#include "portal/Sessions.h"

namespace portal {

class Portal;

// The session of a request: values read at the start, changes written back
// at the end. Names beginning with "_" belong to the portal and are never
// shown to the component.
class Session {
 public:
  Session(std::string id, SessionVars vars) : id_(std::move(id)), vars_(std::move(vars)) {}
  const std::string& Id() const { return id_; }
  std::string Get(const std::string& name) const;
  void Set(const std::string& name, const std::string& value);
  const SessionVars& Changes() const { return changes_; }
  // After the changes are stored: they stay readable as the session's values.
  void ClearChanges() {
    for (auto& [k, v] : changes_) vars_[k] = std::move(v);
    changes_.clear();
  }
  std::string User() const { return Get("_user"); }
  std::string Master() const { return Get("_master"); }
  // Every value, changes included.
  SessionVars All() const;
  bool Reduced() const { return Get("_mode") == "reduced"; }

 private:
  std::string id_;
  SessionVars vars_;
  SessionVars changes_;
};

// How the activation service answered.
struct FileAnswer {
  std::filesystem::path path;
  std::string name;
  bool inlineView = false;
};

class RequestContext : public hostkit::HostContext {
 public:
  RequestContext(Portal& portal, const Account* account, Session* session,
                 hostkit::FieldList query, hostkit::FieldList form,
                 hostkit::FieldList serverVariables);

  Portal& Host() { return portal_; }
  const Account* User() const { return account_; }
  Session* Sess() { return session_; }
  hostkit::ResponseState& Out() { return *state_; }

  // Whether a file may be opened for this user: inside the attachment
  // cache, the upload store or a configured file root.
  bool MayOpen(const std::filesystem::path& path) const;

  // What happened during the call, for the page to turn into an answer.
  bool policyDenied = false;
  bool mailUnavailable = false;
  bool forbidden = false;  // the activation service refused a file
  std::optional<FileAnswer> file;
  std::string choicePage;  // the activation service's open-or-download page
  std::optional<MissingMail> missing;  // a folder or message the mail library did not find
  bool impersonated = false;
  // What the mail library said about a send beyond its result: kind, detail.
  std::vector<std::pair<std::string, std::string>> sendNotices;

  // HostContext.
  IRequest* Request() override { return request_; }
  IResponse* Response() override { return response_; }
  bool GetSessionVariable(std::u16string_view name, std::u16string& value) override;
  bool PutSessionVariable(std::u16string_view name, std::u16string_view value) override;
  bool GetMasterSessionID(std::u16string& id) override;
  bool GetSessionADPwd(hostkit::CPasswordString& password) override;
  MAPIManaged::MAPINativeConnection* GetMAPINative() override;
  bool IsMailDisabled() override;
  bool GetEmailConfigData(bool& configured, std::u16string& text, bool& htmlEnabled) override;
  bool IsSendAttachmentsEnabled(bool& enabled) override;
  bool GetSendAttachmentOption(std::u16string& option) override;
  bool VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view masterId) override;
  bool IsEmailAuditingEnabled() override;
  bool LogPolicyDenials() override;
  bool CheckReadAccess(std::u16string_view path) override;
  bool GetResourceFileName(std::u16string& name) override;
  std::u16string CriteriaXML() override;
  bool CheckPolicyUncUrl(std::u16string_view path, int property,
                         std::u16string_view criteria) override;
  HRESULT EncodeHostedUrl(std::u16string_view link, std::u16string_view name,
                          std::u16string& out) override;
  HRESULT FormatURL(std::u16string_view url, std::u16string& out, DWORD flags) override;
  void ReportEvent(int type, HRESULT id, int line, std::u16string_view source,
                   std::u16string_view text) override;
  void ReportMessage(int type, bool log, std::u16string_view component,
                     std::u16string_view feature, std::u16string_view detail) override;
  void ReportAPIFailure(std::string_view expression, std::string_view file, int line,
                        std::string_view function) override;
  std::u16string CreateContextXML(std::u16string_view text) override;
  int QueryOptions(int component, std::u16string_view path, const char16_t* second, int& options,
                   bool flag, bool full, bool pda) override;
  int DisplayChoice(int component, std::u16string_view fileName, const char16_t* second,
                    std::u16string_view displayName, const char16_t* fourth, int options,
                    bool full, bool pda, bool flag) override;
  int GetNumberOfActivationOptions(int options) override;

 private:
  std::string UserName() const;
  Portal& portal_;
  const Account* account_;
  Session* session_;
  CComPtr<IRequest> request_;
  CComPtr<IResponse> response_;
  hostkit::ResponseState* state_ = nullptr;
};

// The request context of the calling thread when it is the portal's.
RequestContext* CurrentRequest();

// Activation options: bit 0 open in the browser, bit 1 download.
constexpr int kOptionOpen = 1;
constexpr int kOptionDownload = 2;

// The link-out page every hosted link goes through.
std::string LinkOutUrl(const std::string& target);

}  // namespace portal
