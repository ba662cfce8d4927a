#include "portal/ImapSite.h"

#include <mutex>

#include "portal/Server.h"
#include "portal/Util.h"

#ifdef LUMAREST_HAVE_MAILBRIDGE
#include "mailbridge/MailBridge.h"
#include "mailbridge/store/Store.h"
#endif

namespace portal {

namespace {

// The address a user of the IMAP server sends from: the login itself when
// it is an address, else login@local_domain.
std::string AddressOf(const Config& config, const std::string& user) {
  return user.find('@') != std::string::npos ? user : user + "@" + config.localDomain;
}

}  // namespace

#ifdef LUMAREST_HAVE_MAILBRIDGE

void UseMailServers(const Config& config, const Account& account, mailbridge::AccountConfig& c) {
  const MailServers& m = config.mail;
  if (!m.smtpUrl.empty()) {
    c.smtpUrl = m.smtpUrl;
    c.smtpUser = m.smtpUser;
    c.smtpPassword = m.smtpPassword;
  }
  if (m.imapHost.empty()) return;
  static std::once_flag limits;
  std::call_once(limits, [&] {
    mailbridge::SetImapPoolLimits({m.poolMax, m.poolPerUser, m.poolIdleSeconds});
  });
  c.maildir.clear();
  c.imapHost = m.imapHost;
  c.imapPort = m.imapPort;
  c.imapTls = m.imapTls;
  c.imapUser = account.name;
  c.imapMasterUser = m.masterUser;
  c.imapMasterSeparator = m.masterSeparator;
  c.imapPassword = m.masterPassword;
  c.imapTimeoutSeconds = m.timeoutSeconds;
  if (c.emailAddress.empty()) c.emailAddress = AddressOf(config, account.name);
}

SignInResult VerifySignIn(Portal& portal, const std::string& user, const std::string& password) {
  const Config& config = portal.Cfg();
  if (config.authSource != "imap") return {portal.Users().Verify(user, password), false};
  SignInResult result;
  std::string name = ToLowerAscii(user);
  // A name holding the master separator would be a master login in disguise.
  if (!Accounts::ValidName(name) || password.empty() ||
      (!config.mail.masterSeparator.empty() && name.find(config.mail.masterSeparator) != std::string::npos))
    return result;
  Account probe;
  probe.name = name;
  mailbridge::AccountConfig c;
  c.userName = name;
  UseMailServers(config, probe, c);
  HRESULT hr = mailbridge::CheckMailPassword(c, name, password);
  if (hr == E_ACCESSDENIED) return result;
  if (FAILED(hr)) {
    result.serverDown = true;
    return result;
  }
  result.account = portal.Users().Find(name);
  if (!result.account) result.account = portal.Users().AddRemote(name, AddressOf(config, name));
  return result;
}

bool ImapFolders(Portal& portal, const Account& account, std::vector<std::string>& folders) {
  folders.clear();
  if (portal.Cfg().mail.imapHost.empty()) return false;
  mailbridge::AccountConfig c;
  c.userName = account.name;
  c.emailAddress = account.email;
  UseMailServers(portal.Cfg(), account, c);
  std::vector<mailbridge::MailFolder> found;
  if (SUCCEEDED(mailbridge::ListFolders(c, found)))
    for (auto& f : found) folders.push_back(std::move(f.name));
  return true;
}

std::string ImapHealth(const Config& config) {
  if (config.mail.imapHost.empty()) return {};
  mailbridge::AccountConfig c;
  Account none;
  UseMailServers(config, none, c);
  return SUCCEEDED(mailbridge::ProbeMailServer(c)) ? std::string() : "IMAP server " + c.imapHost + ":" +
                                                                          std::to_string(c.imapPort) +
                                                                          " does not answer";
}

#else

void UseMailServers(const Config&, const Account&, mailbridge::AccountConfig&) {}

SignInResult VerifySignIn(Portal& portal, const std::string& user, const std::string& password) {
  if (portal.Cfg().authSource == "imap") return {std::nullopt, true};
  return {portal.Users().Verify(user, password), false};
}

bool ImapFolders(Portal&, const Account&, std::vector<std::string>& folders) {
  folders.clear();
  return false;
}

std::string ImapHealth(const Config& config) {
  return config.mail.imapHost.empty() ? std::string() : "this portal was built without the mail library";
}

#endif

}  // namespace portal
