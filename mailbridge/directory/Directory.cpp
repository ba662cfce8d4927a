#include "mailbridge/directory/Directory.h"

#include <glib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mailbridge/mime/HtmlText.h"

namespace mailbridge {
namespace {

std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string line(text.substr(pos, eol - pos));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
      lines.back() += line.substr(1);
    } else {
      lines.push_back(std::move(line));
    }
    pos = eol + 1;
  }
  return lines;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = g_ascii_toupper(c);
  return out;
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && g_ascii_isspace(s[b])) ++b;
  while (e > b && g_ascii_isspace(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

// vCard text values escape ",", ";" and "\" and write newlines as "\n".
std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      out.push_back(n == 'n' || n == 'N' ? ' ' : n);
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Splits a structured value on unescaped ';'.
std::vector<std::string> SplitComponents(std::string_view s) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      parts.back().push_back(s[i]);
      parts.back().push_back(s[++i]);
    } else if (s[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back().push_back(s[i]);
    }
  }
  for (auto& p : parts) p = Trim(Unescape(p));
  return parts;
}

std::string DecodeQuotedPrintable(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '=' && i + 2 < s.size() + 0 && g_ascii_isxdigit(s[i + 1]) && g_ascii_isxdigit(s[i + 2])) {
      out.push_back(static_cast<char>(g_ascii_xdigit_value(s[i + 1]) * 16 + g_ascii_xdigit_value(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

void Finish(DirectoryEntry& e, std::vector<DirectoryEntry>& out) {
  for (std::string* s : {&e.displayName, &e.givenName, &e.familyName, &e.nickname, &e.email, &e.organization}) {
    *s = MakeValidUtf8(*s);
  }
  if (e.displayName.empty()) {
    e.displayName = Trim(e.givenName + " " + e.familyName);
    if (e.displayName.empty()) e.displayName = e.organization;
  }
  if (e.displayName.empty() && e.email.empty()) return;
  out.push_back(std::move(e));
}

std::string Lower(std::string_view s) {
  gchar* l = g_utf8_strdown(s.data(), static_cast<gssize>(s.size()));
  std::string out = l ? l : "";
  g_free(l);
  return out;
}

}  // namespace

std::vector<DirectoryEntry> ReadVCardText(std::string_view text) {
  std::vector<DirectoryEntry> out;
  DirectoryEntry cur;
  bool inCard = false;
  bool havePrefEmail = false;
  for (const std::string& line : LogicalLines(text)) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string head = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    std::vector<std::string> params;
    {
      std::size_t start = 0;
      for (;;) {
        std::size_t semi = head.find(';', start);
        params.push_back(head.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
        if (semi == std::string::npos) break;
        start = semi + 1;
      }
    }
    std::string name = Upper(params[0]);
    // "item1.EMAIL" groups: the group prefix does not matter here.
    if (std::size_t dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
    bool qp = false, pref = false;
    for (std::size_t i = 1; i < params.size(); ++i) {
      std::string p = Upper(params[i]);
      if (p == "ENCODING=QUOTED-PRINTABLE" || p == "QUOTED-PRINTABLE") qp = true;
      if (p.find("PREF") != std::string::npos) pref = true;
    }
    if (qp) value = DecodeQuotedPrintable(value);
    if (name == "BEGIN" && Upper(Trim(value)) == "VCARD") {
      cur = DirectoryEntry();
      inCard = true;
      havePrefEmail = false;
    } else if (name == "END" && Upper(Trim(value)) == "VCARD") {
      if (inCard) Finish(cur, out);
      inCard = false;
    } else if (!inCard) {
      continue;
    } else if (name == "FN") {
      cur.displayName = Trim(Unescape(value));
    } else if (name == "N") {
      auto parts = SplitComponents(value);
      cur.familyName = parts.size() > 0 ? parts[0] : "";
      cur.givenName = parts.size() > 1 ? parts[1] : "";
    } else if (name == "NICKNAME") {
      cur.nickname = Trim(Unescape(value));
    } else if (name == "ORG") {
      cur.organization = SplitComponents(value)[0];
    } else if (name == "EMAIL") {
      std::string v = Trim(value);
      if (v.rfind("mailto:", 0) == 0) v = v.substr(7);
      if (cur.email.empty() || (pref && !havePrefEmail)) {
        cur.email = v;
        if (pref) havePrefEmail = true;
      }
    }
  }
  return out;
}

const std::vector<std::string>& DirectoryAttributes() {
  static const std::vector<std::string> names = {"cn",  "displayName",     "givenName", "sn",
                                                 "mail", "uid", "mozillaNickname", "o"};
  return names;
}

bool EntryFromAttributes(const std::vector<std::pair<std::string, std::string>>& attributes, DirectoryEntry& out) {
  DirectoryEntry cur;
  for (const auto& [name, value] : attributes) {
    std::string attr = Upper(name);
    if (std::size_t semi = attr.find(';'); semi != std::string::npos) attr = attr.substr(0, semi);
    if (attr == "CN" && cur.displayName.empty()) cur.displayName = value;
    else if (attr == "DISPLAYNAME") cur.displayName = value;
    else if (attr == "GIVENNAME") cur.givenName = value;
    else if (attr == "SN") cur.familyName = value;
    else if (attr == "MAIL" && cur.email.empty()) cur.email = value;
    else if (attr == "UID" || attr == "MOZILLANICKNAME") { if (cur.nickname.empty()) cur.nickname = value; }
    else if (attr == "O" && cur.organization.empty()) cur.organization = value;
  }
  std::vector<DirectoryEntry> one;
  Finish(cur, one);
  if (one.empty()) return false;
  out = std::move(one.front());
  return true;
}

std::vector<DirectoryEntry> ReadLdifText(std::string_view text) {
  std::vector<DirectoryEntry> out;
  std::vector<std::pair<std::string, std::string>> attributes;
  bool any = false;
  auto flush = [&] {
    DirectoryEntry e;
    if (any && EntryFromAttributes(attributes, e)) out.push_back(std::move(e));
    attributes.clear();
    any = false;
  };
  for (const std::string& line : LogicalLines(text)) {
    if (Trim(line).empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') continue;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value;
    if (colon + 1 < line.size() && line[colon + 1] == ':') {
      std::string b64 = Trim(line.substr(colon + 2));
      gsize len = 0;
      guchar* data = g_base64_decode(b64.c_str(), &len);
      if (data) value.assign(reinterpret_cast<char*>(data), len);
      g_free(data);
    } else if (colon + 1 < line.size() && line[colon + 1] == '<') {
      continue;  // URL references are not followed
    } else {
      value = Trim(line.substr(colon + 1));
    }
    any = true;
    attributes.emplace_back(line.substr(0, colon), std::move(value));
  }
  flush();
  return out;
}

bool ReadDirectoryFile(const std::string& path, std::vector<DirectoryEntry>& out) {
  out.clear();
  if (path.empty()) return true;
  // No file is an empty address book (a user who never saved a contact, a
  // site without a list); a file that is there but cannot be read is a fault.
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return true;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  bool ldif = path.size() >= 5 && Lower(path.substr(path.size() - 5)) == ".ldif";
  out = ldif ? ReadLdifText(text) : ReadVCardText(text);
  return true;
}

bool Matches(const DirectoryEntry& e, std::string_view search, MatchMode mode) {
  std::string needle = Lower(Trim(search));
  if (mode == MatchMode::All || needle.empty()) return true;
  std::string hay[] = {Lower(e.displayName), Lower(e.givenName + " " + e.familyName), Lower(e.nickname),
                       Lower(e.email)};
  if (mode == MatchMode::Substring) {
    for (const auto& h : hay) {
      if (h.find(needle) != std::string::npos) return true;
    }
    return false;
  }
  for (const std::string& w : SearchWords(needle)) {
    bool found = false;
    for (const auto& h : hay) {
      if (h.find(w) != std::string::npos) found = true;
    }
    if (!found) return false;
  }
  return true;
}

std::vector<std::string> SearchWords(std::string_view search) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < search.size()) {
    while (i < search.size() && g_ascii_isspace(search[i])) ++i;
    std::size_t start = i;
    while (i < search.size() && !g_ascii_isspace(search[i])) ++i;
    if (i > start) words.emplace_back(search.substr(start, i - start));
  }
  return words;
}

bool ResolvesExactly(const DirectoryEntry& e, std::string_view name) {
  std::string n = Lower(Trim(name));
  if (n.empty()) return false;
  std::string local = e.email.substr(0, e.email.find('@'));
  for (const std::string& candidate :
       {e.displayName, Trim(e.givenName + " " + e.familyName), e.nickname, e.email, local}) {
    if (!candidate.empty() && Lower(candidate) == n) return true;
  }
  return false;
}

}  // namespace mailbridge
