// A site whose mail lives on an IMAP server ([mail] imap = ...): sign-in
// checked by the server ([auth] source = imap), page requests through the
// master user, the folder list from the server and its health.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "portal/Accounts.h"
#include "portal/Config.h"

namespace mailbridge {
struct AccountConfig;
}

namespace portal {

class Portal;

struct SignInResult {
  std::optional<Account> account;
  bool serverDown = false;  // the IMAP server did not answer: nothing was decided
};

// Checks a sign-in against the configured source. With [auth] source = imap
// the server checks the password (a login as the user, then a logout) and
// the first sign-in creates the user's site record; the password is kept
// nowhere.
SignInResult VerifySignIn(Portal& portal, const std::string& user, const std::string& password);

// Points the account's mail settings at the IMAP server and the SMTP
// service, when [mail] imap is set: page requests log in as
// "<user><separator><master user>" with the master password.
void UseMailServers(const Config& config, const Account& account, mailbridge::AccountConfig& out);

// The user's folders from the IMAP server (canonical "A/B" names); false
// when the site keeps its mail in Maildirs.
bool ImapFolders(Portal& portal, const Account& account, std::vector<std::string>& folders);

// Whether the IMAP server answers (empty) or what is wrong; empty too when
// the site has no IMAP server.
std::string ImapHealth(const Config& config);

}  // namespace portal
