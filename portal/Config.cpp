#include "portal/Config.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>

#include "portal/Util.h"

namespace portal {

IniFile IniFile::Parse(const std::string& text, const std::string& source,
                       std::vector<std::string>* problems) {
  IniFile ini;
  std::string section;
  int lineNo = 0;
  auto bad = [&](const std::string& what) {
    std::string msg = source + ":" + std::to_string(lineNo) + ": " + what;
    if (!problems) throw std::runtime_error(msg);
    problems->push_back(msg);
  };
  for (auto line : Split(text, '\n')) {
    ++lineNo;
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        bad("unclosed section");
        continue;
      }
      section = ToLowerAscii(Trim(line.substr(1, line.size() - 2)));
      // "[user  NAME]" and "[user NAME]" are one section.
      auto sp = section.find(' ');
      if (sp != std::string::npos) section = section.substr(0, sp) + " " + Trim(section.substr(sp));
      ini.sections_[section];
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) {
      bad("expected key = value");
      continue;
    }
    std::string key = ToLowerAscii(Trim(line.substr(0, eq)));
    std::string value = Trim(line.substr(eq + 1));
    // A value may carry a comment after " #".
    auto hash = value.find(" #");
    if (hash != std::string::npos) value = Trim(value.substr(0, hash));
    ini.sections_[section].emplace_back(key, value);
    ini.lines_.push_back({section, key, value, lineNo});
  }
  return ini;
}

int IniFile::LineOf(const std::string& section, const std::string& key) const {
  int n = 0;
  auto s = ToLowerAscii(section), k = ToLowerAscii(key);
  for (const auto& l : lines_)
    if (l.section == s && l.key == k) n = l.number;
  return n;
}

IniFile IniFile::Load(const std::filesystem::path& path) {
  std::string text;
  if (!ReadFile(path, text)) throw std::runtime_error("cannot read " + path.string());
  return Parse(text, path.string());
}

std::string IniFile::Get(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
  auto values = GetAll(section, key);
  return values.empty() ? fallback : values.back();
}

std::vector<std::string> IniFile::GetAll(const std::string& section,
                                         const std::string& key) const {
  std::vector<std::string> out;
  auto it = sections_.find(ToLowerAscii(section));
  if (it == sections_.end()) return out;
  auto k = ToLowerAscii(key);
  for (const auto& [name, value] : it->second)
    if (name == k) out.push_back(value);
  return out;
}

bool IniFile::Has(const std::string& section, const std::string& key) const {
  return !GetAll(section, key).empty();
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  auto& pairs = sections_[ToLowerAscii(section)];
  auto k = ToLowerAscii(key);
  for (auto& [name, v] : pairs)
    if (name == k) {
      v = value;
      return;
    }
  pairs.emplace_back(k, value);
}

std::string IniFile::Write() const {
  std::string out;
  for (const auto& [section, pairs] : sections_) {
    if (!section.empty()) out += "[" + section + "]\n";
    for (const auto& [k, v] : pairs) out += k + " = " + v + "\n";
    out += "\n";
  }
  return out;
}

bool ParseBool(const std::string& text, bool fallback) {
  auto t = ToLowerAscii(Trim(text));
  if (t == "true" || t == "yes" || t == "1" || t == "on" || t == "allow") return true;
  if (t == "false" || t == "no" || t == "0" || t == "off" || t == "deny") return false;
  return fallback;
}

std::string Config::DefaultText() {
  return R"(# LumarestInbox portal configuration.
[portal]
listen = 127.0.0.1:8080
# Minutes a session may stay idle before it ends.
session_idle_minutes = 30
# Largest request body and largest single upload, in bytes.
max_request_bytes = 12582912
max_upload_bytes = 10485760
# Keep sessions in Redis so several portal processes share them:
# redis = 127.0.0.1:6379
local_domain = example.org

[mail]
# Mail on an IMAP server instead of Maildirs on this machine (see docs/portal.md):
# imap = imap://127.0.0.1:143
# imap_tls = starttls
# imap_master_user = webmail
# imap_master_password_file = /etc/lumarest/imap-master.secret
# imap_master_separator = *
# smtp = smtp://127.0.0.1:587
# smtp_user = webmail
# smtp_password_file = /etc/lumarest/smtp.secret
# Web mail is configured for everyone unless a user or group section says otherwise.
configured = true
html_bodies = true
send_attachments = true

[auth]
# Who checks passwords at sign-in: local (the account files) or imap.
source = local

[policy]
webmail = allow
auditing = false
log_denials = true

[files]
# Folders users may browse and attach from (one "root =" line each).
# root = /srv/shared

[trace]
# The component's trace records go to logs/trace.log when enabled.
enabled = false
classes = 0x3
level = 1
)";
}

namespace {

bool ParseInt(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    out = std::stoll(text, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size() && out >= low && out <= high;
}

// A secret kept in a file of its own: its first line.
bool ReadSecret(const std::string& path, std::string& out) {
  std::string text;
  if (path.empty() || !ReadFile(path, text)) return false;
  out = text.substr(0, text.find('\n'));
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return true;
}

// Reads the settings into c; every problem goes to problems.
void Apply(Config& c, std::vector<std::string>& problems, const std::string& source) {
  const IniFile& ini = c.ini;
  auto where = [&](const std::string& section, const std::string& key) {
    return source + ":" + std::to_string(ini.LineOf(section, key)) + ": ";
  };
  auto number = [&](const std::string& section, const std::string& key, long long low, long long high,
                    auto& target) {
    if (!ini.Has(section, key)) return;
    long long v = 0;
    if (ParseInt(ini.Get(section, key), low, high, v))
      target = static_cast<std::remove_reference_t<decltype(target)>>(v);
    else
      problems.push_back(where(section, key) + key + " must be a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high));
  };
  c.listen = ini.Get("portal", "listen", c.listen);
  if (c.listen.rfind(':') == std::string::npos)
    problems.push_back(where("portal", "listen") + "listen must be HOST:PORT");
  number("portal", "session_idle_minutes", 1, 100000, c.sessionIdleMinutes);
  number("portal", "max_request_bytes", 1024, 1LL << 34, c.maxRequestBytes);
  number("portal", "max_upload_bytes", 1024, 1LL << 34, c.maxUploadBytes);
  c.redis = ini.Get("portal", "redis", "");
  if (!c.redis.empty() && c.redis.rfind(':') == std::string::npos)
    problems.push_back(where("portal", "redis") + "redis must be HOST:PORT");
  c.localDomain = ini.Get("portal", "local_domain", c.localDomain);
  c.publicOrigin = ini.Get("portal", "public_origin", "");
  for (const auto& r : ini.GetAll("files", "root"))
    if (!r.empty()) c.fileRoots.emplace_back(r);

  // [mail]: the IMAP server and the SMTP submission service.
  MailServers& m = c.mail;
  std::string imap = ini.Get("mail", "imap", "");
  if (!imap.empty()) {
    std::string lower = ToLowerAscii(imap);
    bool tls = lower.rfind("imaps://", 0) == 0;
    if (!tls && lower.rfind("imap://", 0) != 0) {
      problems.push_back(where("mail", "imap") + "imap must be imap://HOST[:PORT] or imaps://HOST[:PORT]");
    } else {
      std::string rest = imap.substr(tls ? 8 : 7);
      if (tls) {
        m.imapTls = "tls";
        m.imapPort = 993;
      }
      if (!rest.empty() && rest.back() == '/') rest.pop_back();
      auto colon = rest.rfind(':');
      m.imapHost = rest.substr(0, colon);
      long long port = m.imapPort;
      if (colon != std::string::npos && !ParseInt(rest.substr(colon + 1), 1, 65535, port))
        problems.push_back(where("mail", "imap") + "the IMAP port must be a number from 1 to 65535");
      m.imapPort = static_cast<int>(port);
      if (m.imapHost.empty() || m.imapHost.find('/') != std::string::npos)
        problems.push_back(where("mail", "imap") + "imap names no server");
    }
  }
  if (ini.Has("mail", "imap_tls")) {
    m.imapTls = ToLowerAscii(ini.Get("mail", "imap_tls"));
    if (m.imapTls != "none" && m.imapTls != "starttls" && m.imapTls != "tls")
      problems.push_back(where("mail", "imap_tls") + "imap_tls must be none, starttls or tls");
  }
  m.masterUser = ini.Get("mail", "imap_master_user", "");
  m.masterSeparator = ini.Get("mail", "imap_master_separator", "*");
  if (m.masterSeparator.empty())
    problems.push_back(where("mail", "imap_master_separator") + "imap_master_separator is empty");
  if (ini.Has("mail", "imap_master_password_file") &&
      !ReadSecret(ini.Get("mail", "imap_master_password_file"), m.masterPassword))
    problems.push_back(where("mail", "imap_master_password_file") + "cannot read " +
                       ini.Get("mail", "imap_master_password_file"));
  number("mail", "imap_timeout_seconds", 1, 600, m.timeoutSeconds);
  number("mail", "imap_pool_max", 1, 100000, m.poolMax);
  number("mail", "imap_pool_per_user", 1, 1000, m.poolPerUser);
  number("mail", "imap_idle_seconds", 0, 86400, m.poolIdleSeconds);
  if (!m.imapHost.empty() && m.masterUser.empty())
    problems.push_back(where("mail", "imap") + "imap needs imap_master_user: page requests log in as the master user");
  if (!m.masterUser.empty() && m.masterPassword.empty() && !ini.Has("mail", "imap_master_password_file"))
    problems.push_back(where("mail", "imap_master_user") + "imap_master_user needs imap_master_password_file");
  m.smtpUrl = ini.Get("mail", "smtp", "");
  if (!m.smtpUrl.empty()) {
    std::string lower = ToLowerAscii(m.smtpUrl);
    if (lower.rfind("smtp://", 0) != 0 && lower.rfind("smtps://", 0) != 0)
      problems.push_back(where("mail", "smtp") + "smtp must be smtp://HOST[:PORT] or smtps://HOST[:PORT]");
  }
  m.smtpUser = ini.Get("mail", "smtp_user", "");
  if (ini.Has("mail", "smtp_password_file") && !ReadSecret(ini.Get("mail", "smtp_password_file"), m.smtpPassword))
    problems.push_back(where("mail", "smtp_password_file") + "cannot read " + ini.Get("mail", "smtp_password_file"));

  c.authSource = ToLowerAscii(ini.Get("auth", "source", "local"));
  if (c.authSource != "local" && c.authSource != "imap")
    problems.push_back(where("auth", "source") + "source must be local or imap");
  if (c.authSource == "imap" && m.imapHost.empty())
    problems.push_back(where("auth", "source") + "source = imap needs [mail] imap");

  // Keys this portal reads; anything else in these sections is a typing error.
  static const std::map<std::string, std::vector<std::string>> known = {
      {"portal", {"listen", "session_idle_minutes", "max_request_bytes", "max_upload_bytes", "redis", "local_domain",
                  "public_origin"}},
      {"mail", {"imap", "imap_tls", "imap_master_user", "imap_master_password_file", "imap_master_separator",
                "imap_timeout_seconds", "imap_pool_max", "imap_pool_per_user", "imap_idle_seconds", "smtp",
                "smtp_user", "smtp_password_file", "keep_outgoing", "sent_folder", "trash_folder", "configured",
                "html_bodies", "send_attachments", "send_attachment_option", "webmail", "auditing", "log_denials"}},
      {"auth", {"source"}},
      {"directory", {"ldap_uri", "ldap_base_dn", "ldap_bind_dn", "ldap_password", "ldap_filter"}},
      {"trace", {"enabled", "classes", "level"}},
      {"files", {"root"}},
  };
  for (const auto& l : ini.Lines()) {
    auto k = known.find(l.section);
    if (k == known.end()) continue;
    if (std::find(k->second.begin(), k->second.end(), l.key) == k->second.end())
      problems.push_back(source + ":" + std::to_string(l.number) + ": unknown key " + l.key + " in [" + l.section + "]");
  }
}

}  // namespace

Config Config::Load(const std::filesystem::path& dataDir) {
  Config c;
  auto file = dataDir / "portal.ini";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) WriteFile(file, DefaultText());
  c.ini = IniFile::Load(file);
  // Problems are for --check-config; a value that cannot be read keeps its default.
  std::vector<std::string> problems;
  Apply(c, problems, "portal.ini");
  return c;
}

std::vector<std::string> Config::Check(const std::filesystem::path& dataDir) {
  std::vector<std::string> problems;
  std::string text;
  if (!ReadFile(dataDir / "portal.ini", text)) return {"portal.ini:0: cannot read " + (dataDir / "portal.ini").string()};
  Config c;
  c.ini = IniFile::Parse(text, "portal.ini", &problems);
  Apply(c, problems, "portal.ini");
  auto lineOf = [](const std::string& p) { return std::atoi(p.c_str() + p.find(':') + 1); };
  std::stable_sort(problems.begin(), problems.end(),
                   [&](const std::string& a, const std::string& b) { return lineOf(a) < lineOf(b); });
  return problems;
}

std::string Config::Lookup(const std::string& user, const std::vector<std::string>& groups,
                           const std::string& key, const std::string& fallback) const {
  if (ini.Has("user " + user, key)) return ini.Get("user " + user, key);
  for (const auto& g : groups)
    if (ini.Has("group " + g, key)) return ini.Get("group " + g, key);
  for (const char* section : {"policy", "mail"})
    if (ini.Has(section, key)) return ini.Get(section, key);
  return fallback;
}

bool Config::LookupBool(const std::string& user, const std::vector<std::string>& groups,
                        const std::string& key, bool fallback) const {
  return ParseBool(Lookup(user, groups, key, fallback ? "true" : "false"), fallback);
}

}  // namespace portal
