// The mail library: opens one user's mailbox (a Maildir on local disk or an
// IMAP server) and serves it through MAPIManaged::MAPINativeConnection.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/MAPINativeConnection.h"

namespace mailbridge {

// Where an "UPLOADID" attachment reference points: the file's bytes on disk
// and the name the recipient should see.
struct UploadedFile {
  std::string path;
  std::string displayName;
};

struct AccountConfig {
  // Who the mailbox belongs to. userName also keys the message identifiers,
  // so the same store opened for two users yields different GUIDs.
  std::string userName;
  std::string emailAddress;  // sender address; default userName@localDomain
  std::string displayName;   // sender display name; default userName
  std::string localDomain = "localhost";

  // Store: a Maildir root (INBOX in its cur/new/tmp, subfolders as ".Sub")
  // or, when imapHost is set, an IMAP server.
  std::string maildir;
  std::string imapHost;
  int imapPort = 143;
  std::string imapUser;        // default userName
  std::string imapMasterUser;  // logs in as "imapUser<imapMasterSeparator>imapMasterUser" when set
  std::string imapPassword;    // the master user's password when one is set
  std::string imapMasterSeparator = "*";
  std::string imapTls = "none";  // none | starttls | tls (imaps)
  int imapTimeoutSeconds = 30; // a silent server fails the call after this long

  // Sending: an SMTP URL ("smtp://127.0.0.1:25") or, when empty, local
  // delivery into the existing Maildir <localDeliveryRoot>/<local part> for
  // addresses of localDomain (the sender's own address maps to its own Maildir).
  std::string smtpUrl;
  std::string smtpUser;
  std::string smtpPassword;
  std::string localDeliveryRoot;
  // Optional: maps an address to the Maildir that receives it locally;
  // returning nullopt means "not local". Overrides localDeliveryRoot.
  std::function<std::optional<std::string>(const std::string& address)> localMaildirFor;

  // Attachments are written under this folder (created on demand); the
  // records name files inside it only.
  std::string attachmentCacheDir;
  // Summary index file (SQLite). Default: <maildir>/lumarest-index.sqlite, or
  // <attachmentCacheDir>/imap-index.sqlite for IMAP.
  std::string indexPath;

  // Directory: personal contacts (vCard) and the global address list
  // (vCard, or LDIF when the name ends in ".ldif").
  std::string contactsPath;
  std::string galPath;
  // The global address list from an LDAP server instead, when ldapUri is set
  // ("ldap://host:389", "ldaps://host"): a subtree search under ldapBaseDn,
  // bound as ldapBindDn/ldapPassword (anonymous when ldapBindDn is empty),
  // over the entries ldapFilter selects (default
  // "(|(objectClass=person)(mail=*))"). At most ldapSizeLimit entries per
  // search; connect, bind and search each give up after ldapTimeoutSeconds.
  std::string ldapUri;
  std::string ldapBaseDn;
  std::string ldapBindDn;
  std::string ldapPassword;
  std::string ldapFilter;
  int ldapSizeLimit = 500;
  int ldapTimeoutSeconds = 10;

  // Uploaded attachments: "UPLOADID<id>" names <uploadDir>/<id up to '|'>,
  // shown under the text after '|'. resolveUpload, when set, replaces that.
  std::string uploadDir;
  std::function<std::optional<UploadedFile>(const std::string& id)> resolveUpload;

  // Called whenever the mail server turns out to be down, silent or to have
  // dropped the connection (the call then fails), so that the host can show
  // its own page for an unreachable server.
  std::function<void()> onUnavailable;

  std::string sentFolder = "Sent";
  std::string trashFolder = "Trash";

  // The most a sent message's attachments may add up to; 0: no limit.
  std::size_t maxAttachmentBytes = 0;
  // Told what the result code of a send cannot say: "sent-without-copy"
  // (detail: the Sent folder), "attachments-too-large" (detail: their total
  // in bytes), "attachment-unreadable" (detail: the file's shown name).
  std::function<void(const std::string& kind, const std::string& detail)> sendNotice;

  // InitializeUserCredentials(masterSessionKey, ticket) asks this for the
  // IMAP login (user, password) to use from then on; unset: ignored.
  std::function<std::optional<std::pair<std::string, std::string>>(const std::string& key,
                                                                   const std::string& ticket)>
      resolveCredentials;
};

// A new connection for the account, or null when the configuration names no
// usable store. The caller owns it.
std::unique_ptr<MAPIManaged::MAPINativeConnection> OpenConnection(const AccountConfig& config);

// The account's folders other than the inbox ("A/B", UTF-8), with the role
// the server gives them ("sent", "trash", "drafts", "junk", "archive" or
// empty). S_OK, E_ACCESSDENIED (login refused), E_FAIL (server down or the
// store cannot list folders).
struct MailFolder {
  std::string name;
  std::string role;
};
HRESULT ListFolders(const AccountConfig& config, std::vector<MailFolder>& folders);

// Whether the IMAP server takes this user's own password (a login as the
// user, then a logout): S_OK, E_ACCESSDENIED when refused, E_FAIL when the
// server is down or silent.
HRESULT CheckMailPassword(const AccountConfig& config, const std::string& user, const std::string& password);
// Whether the IMAP server answers (its greeting), without logging in.
HRESULT ProbeMailServer(const AccountConfig& config);

}  // namespace mailbridge
