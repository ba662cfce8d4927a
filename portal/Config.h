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
  // Throws std::runtime_error naming the line when a line is malformed.
  static IniFile Parse(const std::string& text, const std::string& source);
  static IniFile Load(const std::filesystem::path& path);

  // The last value of key in section, or fallback.
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = "") const;
  std::vector<std::string> GetAll(const std::string& section, const std::string& key) const;
  bool Has(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  std::string Write() const;

 private:
  // section -> ordered (key, value) pairs; names are lower-cased.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections_;
};

bool ParseBool(const std::string& text, bool fallback);

struct Config {
  std::string listen = "127.0.0.1:8080";
  int sessionIdleMinutes = 30;
  std::size_t maxRequestBytes = 12 * 1024 * 1024;
  std::size_t maxUploadBytes = 10 * 1024 * 1024;
  std::string redis;  // "host:port"; empty keeps sessions in memory
  std::string localDomain = "example.org";
  std::string publicOrigin;  // e.g. "https://mail.example.org"; empty: the Host header
  std::vector<std::filesystem::path> fileRoots;
  IniFile ini;

  static Config Load(const std::filesystem::path& dataDir);
  // The default file written into a new data folder.
  static std::string DefaultText();

  // Policy and mail settings for one user.
  std::string Lookup(const std::string& user, const std::vector<std::string>& groups,
                     const std::string& key, const std::string& fallback) const;
  bool LookupBool(const std::string& user, const std::vector<std::string>& groups,
                  const std::string& key, bool fallback) const;
};

}  // namespace portal
