#include "portal/Accounts.h"

#include <sodium.h>

#include <stdexcept>

#include "portal/Config.h"
#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;

void EnsureMaildir(const fs::path& path) {
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(path / sub);
}

Accounts::Accounts(fs::path dataDir) : dir_(std::move(dataDir) / "users") {
  if (sodium_init() < 0) throw std::runtime_error("libsodium failed to start");
  fs::create_directories(dir_);
}

bool Accounts::ValidName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || name[0] == '@') return false;
  int at = 0;
  for (char c : name) {
    if (c == '@' && ++at == 1) continue;
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'))
      return false;
  }
  return true;
}

std::string Accounts::HashPassword(const std::string& password) {
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(),
                        crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw std::runtime_error("out of memory hashing a password");
  return out;
}

bool Accounts::CheckPassword(const std::string& hash, const std::string& password) {
  if (hash.empty()) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

Account Accounts::Add(const std::string& name, const std::string& password,
                      const fs::path& maildir, const std::string& localDomain) {
  if (!ValidName(name)) throw std::runtime_error("invalid user name: " + name);
  if (password.empty()) throw std::runtime_error("empty password");
  auto home = dir_ / name;
  if (fs::exists(home / "account.ini")) throw std::runtime_error("user exists: " + name);
  fs::create_directories(home);
  Account a;
  a.name = name;
  a.home = home;
  a.passwordHash = HashPassword(password);
  a.maildir = maildir.empty() ? home / "Maildir" : fs::absolute(maildir);
  a.email = name + "@" + localDomain;
  a.displayName = name;
  EnsureMaildir(a.maildir);
  fs::create_directories(a.AttachmentCache());
  fs::create_directories(a.Uploads());
  IniFile ini;
  ini.Set("account", "password", a.passwordHash);
  ini.Set("account", "maildir", a.maildir.string());
  ini.Set("account", "email", a.email);
  ini.Set("account", "display_name", a.displayName);
  ini.Set("account", "groups", "");
  auto file = home / "account.ini";
  if (!WriteFile(file, ini.Write())) throw std::runtime_error("cannot write " + file.string());
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  return a;
}

Account Accounts::AddRemote(const std::string& name, const std::string& email) {
  if (!ValidName(name)) throw std::runtime_error("invalid user name: " + name);
  if (auto existing = Find(name)) return *existing;
  auto home = dir_ / name;
  fs::create_directories(home);
  Account a;
  a.name = name;
  a.home = home;
  a.email = email;
  a.displayName = name;
  fs::create_directories(a.AttachmentCache());
  fs::create_directories(a.Uploads());
  IniFile ini;
  ini.Set("account", "password", "");
  ini.Set("account", "maildir", "");
  ini.Set("account", "email", a.email);
  ini.Set("account", "display_name", a.displayName);
  ini.Set("account", "groups", "");
  // Written under another name and renamed: a second portal signing the
  // same user in at the same moment sees the whole file or none.
  auto file = home / "account.ini";
  auto part = home / ("account.ini." + RandomHex(8));
  if (!WriteFile(part, ini.Write())) throw std::runtime_error("cannot write " + file.string());
  fs::permissions(part, fs::perms::owner_read | fs::perms::owner_write);
  fs::rename(part, file);
  return a;
}

std::optional<Account> Accounts::Find(const std::string& name) const {
  if (!ValidName(name)) return std::nullopt;
  auto home = dir_ / name;
  std::error_code ec;
  if (!fs::exists(home / "account.ini", ec)) return std::nullopt;
  IniFile ini;
  try {
    ini = IniFile::Load(home / "account.ini");
  } catch (const std::exception&) {
    return std::nullopt;
  }
  Account a;
  a.name = name;
  a.home = home;
  a.passwordHash = ini.Get("account", "password");
  a.maildir = ini.Get("account", "maildir", (home / "Maildir").string());
  a.email = ini.Get("account", "email");
  a.displayName = ini.Get("account", "display_name", name);
  for (auto& g : Split(ini.Get("account", "groups"), ',')) {
    g = Trim(g);
    if (!g.empty()) a.groups.push_back(ToLowerAscii(g));
  }
  return a;
}

std::optional<Account> Accounts::Verify(const std::string& name, const std::string& password) const {
  auto a = Find(ToLowerAscii(name));
  if (!a) {
    // Same work as a real check, against a hash of nothing in particular.
    static const std::string dummy = HashPassword(RandomHex(16));
    CheckPassword(dummy, password);
    return std::nullopt;
  }
  if (!CheckPassword(a->passwordHash, password)) return std::nullopt;
  return a;
}

std::vector<std::string> Accounts::Names() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir_, ec))
    if (fs::exists(e.path() / "account.ini")) out.push_back(e.path().filename().string());
  return out;
}

}  // namespace portal
