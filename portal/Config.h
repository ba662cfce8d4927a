// The configuration file DIR/portal.ini: sections of "key = value" lines,
// "#" or ";" starts a comment. A key may repeat (file roots). Policy answers
// are looked up in the user's own section ("[user NAME]"), then in the
// sections of the user's groups ("[group NAME]"), then in "[policy]".
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace portal {

class IniFile {
 public:
  // Throws std::runtime_error naming the line when a line is malformed, or,
  // given problems, notes each malformed line there ("file:line: ...") and
  // goes on.
  static IniFile Parse(const std::string& text, const std::string& source,
                       std::vector<std::string>* problems = nullptr);
  static IniFile Load(const std::filesystem::path& path);

  // The last value of key in section, or fallback.
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = "") const;
  std::vector<std::string> GetAll(const std::string& section, const std::string& key) const;
  bool Has(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  std::string Write() const;

  // Every "key = value" line read, in file order, with its line number.
  struct Line {
    std::string section, key, value;
    int number = 0;
  };
  const std::vector<Line>& Lines() const { return lines_; }
  // The line number of the last value of key in section, 0 when not read from a file.
  int LineOf(const std::string& section, const std::string& key) const;

 private:
  std::vector<Line> lines_;
  // section -> ordered (key, value) pairs; names are lower-cased.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections_;
};

bool ParseBool(const std::string& text, bool fallback);

// The mail servers of a site that keeps its mail on IMAP ([mail] imap = ...).
struct MailServers {
  std::string imapHost;  // empty: the users' Maildirs on this machine
  int imapPort = 143;
  std::string imapTls = "starttls";  // none | starttls | tls
  std::string masterUser;
  std::string masterPassword;  // from imap_master_password_file
  std::string masterSeparator = "*";
  int timeoutSeconds = 10;
  int poolMax = 64, poolPerUser = 4, poolIdleSeconds = 60;
  std::string smtpUrl;
  std::string smtpUser;
  std::string smtpPassword;  // from smtp_password_file
};

struct Config {
  std::string listen = "127.0.0.1:8080";
  int sessionIdleMinutes = 30;
  std::size_t maxRequestBytes = 12 * 1024 * 1024;
  std::size_t maxUploadBytes = 10 * 1024 * 1024;
  std::string redis;  // "host:port"; empty keeps sessions in memory
  std::string localDomain = "example.org";
  std::string publicOrigin;  // e.g. "https://mail.example.org"; empty: the Host header
  std::vector<std::filesystem::path> fileRoots;
  MailServers mail;
  std::string authSource = "local";  // [auth] source: local | imap
  IniFile ini;

  static Config Load(const std::filesystem::path& dataDir);
  // Every problem of DIR/portal.ini, each "portal.ini:LINE: what" (LINE 0
  // when it is about something missing); empty when the file is usable.
  static std::vector<std::string> Check(const std::filesystem::path& dataDir);
  // The default file written into a new data folder.
  static std::string DefaultText();

  // Policy and mail settings for one user.
  std::string Lookup(const std::string& user, const std::vector<std::string>& groups,
                     const std::string& key, const std::string& fallback) const;
  bool LookupBool(const std::string& user, const std::vector<std::string>& groups,
                  const std::string& key, bool fallback) const;
};

}  // namespace portal
