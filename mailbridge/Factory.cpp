#include "mailbridge/Connection.h"

namespace mailbridge {

ImapSettings ImapSettingsFor(const AccountConfig& config) {
  ImapSettings s;
  s.host = config.imapHost;
  s.port = config.imapPort;
  s.tls = config.imapTls == "tls" ? ImapTls::kTls : config.imapTls == "starttls" ? ImapTls::kStartTls : ImapTls::kNone;
  std::string user = config.imapUser.empty() ? config.userName : config.imapUser;
  s.masterSeparator = config.imapMasterUser.empty() ? std::string() : config.imapMasterSeparator;
  s.login = config.imapMasterUser.empty() ? user : user + config.imapMasterSeparator + config.imapMasterUser;
  s.password = config.imapPassword;
  s.timeoutSeconds = config.imapTimeoutSeconds;
  return s;
}

namespace {

// Tells the host when the server cannot be reached, passing everything through.
class ReportingStore final : public MailStore {
 public:
  ReportingStore(std::unique_ptr<MailStore> inner, std::function<void()> report)
      : inner_(std::move(inner)), report_(std::move(report)) {}
  std::string Identity() const override { return inner_->Identity(); }
  bool ChangeStamp(const std::string& folder, std::string& stamp) override { return inner_->ChangeStamp(folder, stamp); }
  Status List(const std::string& folder, std::vector<StoreEntry>& out) override { return Seen(inner_->List(folder, out)); }
  Status ListChanges(const std::string& folder, const std::string& since, FolderChanges& changes) override {
    return Seen(inner_->ListChanges(folder, since, changes));
  }
  Status FetchMany(const std::string& folder, const std::vector<StoreEntry>& entries, const FetchSink& sink) override {
    return Seen(inner_->FetchMany(folder, entries, sink));
  }
  Status SetRead(const std::string& folder, const StoreEntry& entry) override { return Seen(inner_->SetRead(folder, entry)); }
  Status Move(const std::string& folder, const StoreEntry& entry, const std::string& toFolder) override {
    return Seen(inner_->Move(folder, entry, toFolder));
  }
  Status Remove(const std::string& folder, const StoreEntry& entry) override { return Seen(inner_->Remove(folder, entry)); }
  Status Append(const std::string& folder, std::string_view raw, bool read) override {
    return Seen(inner_->Append(folder, raw, read));
  }
  Status Folders(std::vector<FolderInfo>& out) override { return Seen(inner_->Folders(out)); }
  bool RoleFolder(FolderRole role, std::string& folder) override { return inner_->RoleFolder(role, folder); }

 private:
  Status Seen(Status st) {
    if (st.code() == Errc::kUnavailable) report_();
    return st;
  }
  std::unique_ptr<MailStore> inner_;
  std::function<void()> report_;
};

}  // namespace

std::unique_ptr<MAPIManaged::MAPINativeConnection> OpenConnection(const AccountConfig& config) {
  EnsureMimeInit();
  std::unique_ptr<MailStore> store =
      !config.imapHost.empty() ? OpenImapStore(ImapSettingsFor(config)) : OpenMaildirStore(config.maildir);
  if (!store) return nullptr;
  if (config.onUnavailable) store = std::make_unique<ReportingStore>(std::move(store), config.onUnavailable);
  return std::make_unique<Connection>(config, std::move(store));
}

HRESULT ListFolders(const AccountConfig& config, std::vector<MailFolder>& folders) {
  folders.clear();
  std::unique_ptr<MailStore> store =
      !config.imapHost.empty() ? OpenImapStore(ImapSettingsFor(config)) : OpenMaildirStore(config.maildir);
  if (!store) return E_FAIL;
  std::vector<FolderInfo> found;
  HRESULT hr = ToHresult(store->Folders(found));
  if (FAILED(hr)) return hr;
  for (auto& f : found) folders.push_back({std::move(f.name), FolderRoleName(f.role)});
  return S_OK;
}

HRESULT CheckMailPassword(const AccountConfig& config, const std::string& user, const std::string& password) {
  AccountConfig own = config;
  own.imapUser = user;
  own.imapMasterUser.clear();
  own.imapPassword = password;
  ImapSettings s = ImapSettingsFor(own);
  s.pooled = false;
  return ToHresult(CheckImapLogin(s));
}

HRESULT ProbeMailServer(const AccountConfig& config) { return ToHresult(ProbeImapServer(ImapSettingsFor(config))); }

}  // namespace mailbridge
