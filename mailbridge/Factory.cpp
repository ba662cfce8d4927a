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

const char* RoleText(FolderRole r) {
  switch (r) {
    case FolderRole::kSent: return "sent";
    case FolderRole::kTrash: return "trash";
    case FolderRole::kDrafts: return "drafts";
    case FolderRole::kJunk: return "junk";
    case FolderRole::kArchive: return "archive";
    case FolderRole::kNone: break;
  }
  return "";
}

}  // namespace

std::unique_ptr<MAPIManaged::MAPINativeConnection> OpenConnection(const AccountConfig& config) {
  EnsureMimeInit();
  std::unique_ptr<MailStore> store =
      !config.imapHost.empty() ? OpenImapStore(ImapSettingsFor(config)) : OpenMaildirStore(config.maildir);
  if (!store) return nullptr;
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
  for (auto& f : found) folders.push_back({std::move(f.name), RoleText(f.role)});
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
