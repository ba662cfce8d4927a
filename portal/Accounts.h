// Users of the portal: one folder per user under DIR/users/NAME holding
// account.ini (password hash, mailbox, address, groups), the attachment
// cache, the upload store and the personal contacts.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace portal {

struct Account {
  std::string name;
  std::string passwordHash;  // libsodium crypto_pwhash_str form
  std::filesystem::path maildir;
  std::string email;
  std::string displayName;
  std::vector<std::string> groups;
  std::filesystem::path home;  // DIR/users/NAME

  std::filesystem::path AttachmentCache() const { return home / "attachments"; }
  std::filesystem::path Uploads() const { return home / "uploads"; }
  std::filesystem::path Contacts() const { return home / "contacts.vcf"; }
};

class Accounts {
 public:
  explicit Accounts(std::filesystem::path dataDir);

  // Lower-case letters, digits, '.', '_', '-' and one '@' (a mail server's
  // user may be an address), 1 to 64 characters, not starting with '.' or '@'.
  static bool ValidName(const std::string& name);
  static std::string HashPassword(const std::string& password);
  static bool CheckPassword(const std::string& hash, const std::string& password);

  // Creates the user (and the Maildir when missing); throws on a bad name or
  // an existing user. An empty maildir means DIR/users/NAME/Maildir.
  Account Add(const std::string& name, const std::string& password,
              const std::filesystem::path& maildir, const std::string& localDomain);
  // The site record of a user whose password the mail server checks: no
  // password hash, no Maildir. Returns the existing record when there is one.
  Account AddRemote(const std::string& name, const std::string& email);
  std::optional<Account> Find(const std::string& name) const;
  // The account when the password matches; runs the slow hash even for an
  // unknown user so that timing does not tell which names exist.
  std::optional<Account> Verify(const std::string& name, const std::string& password) const;
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path dir_;
};

// Creates cur/new/tmp under path.
void EnsureMaildir(const std::filesystem::path& path);

}  // namespace portal
