#include "portal/Config.h"

#include <stdexcept>

#include "portal/Util.h"

namespace portal {

IniFile IniFile::Parse(const std::string& text, const std::string& source) {
  IniFile ini;
  std::string section;
  int lineNo = 0;
  for (auto line : Split(text, '\n')) {
    ++lineNo;
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']')
        throw std::runtime_error(source + ":" + std::to_string(lineNo) + ": unclosed section");
      section = ToLowerAscii(Trim(line.substr(1, line.size() - 2)));
      // "[user  NAME]" and "[user NAME]" are one section.
      auto sp = section.find(' ');
      if (sp != std::string::npos) section = section.substr(0, sp) + " " + Trim(section.substr(sp));
      ini.sections_[section];
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos)
      throw std::runtime_error(source + ":" + std::to_string(lineNo) + ": expected key = value");
    ini.sections_[section].emplace_back(ToLowerAscii(Trim(line.substr(0, eq))),
                                        Trim(line.substr(eq + 1)));
  }
  return ini;
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
# Web mail is configured for everyone unless a user or group section says otherwise.
configured = true
html_bodies = true
send_attachments = true

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

Config Config::Load(const std::filesystem::path& dataDir) {
  Config c;
  auto file = dataDir / "portal.ini";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) WriteFile(file, DefaultText());
  c.ini = IniFile::Load(file);
  c.listen = c.ini.Get("portal", "listen", c.listen);
  c.sessionIdleMinutes = std::stoi(c.ini.Get("portal", "session_idle_minutes", "30"));
  c.maxRequestBytes = std::stoull(c.ini.Get("portal", "max_request_bytes", "12582912"));
  c.maxUploadBytes = std::stoull(c.ini.Get("portal", "max_upload_bytes", "10485760"));
  c.redis = c.ini.Get("portal", "redis", "");
  c.localDomain = c.ini.Get("portal", "local_domain", c.localDomain);
  c.publicOrigin = c.ini.Get("portal", "public_origin", "");
  for (const auto& r : c.ini.GetAll("files", "root"))
    if (!r.empty()) c.fileRoots.emplace_back(r);
  return c;
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
