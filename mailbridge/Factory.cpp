#include "mailbridge/Connection.h"

namespace mailbridge {

std::unique_ptr<MAPIManaged::MAPINativeConnection> OpenConnection(const AccountConfig& config) {
  EnsureMimeInit();
  std::unique_ptr<MailStore> store;
  if (!config.imapHost.empty()) {
    ImapSettings s;
    s.host = config.imapHost;
    s.port = config.imapPort;
    std::string user = config.imapUser.empty() ? config.userName : config.imapUser;
    s.login = config.imapMasterUser.empty() ? user : user + "*" + config.imapMasterUser;
    s.password = config.imapPassword;
    s.timeoutSeconds = config.imapTimeoutSeconds;
    store = OpenImapStore(s);
  } else {
    store = OpenMaildirStore(config.maildir);
  }
  if (!store) return nullptr;
  return std::make_unique<Connection>(config, std::move(store));
}

}  // namespace mailbridge
