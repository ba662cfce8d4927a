// The directory: personal contacts and the global address list, read from
// vCard or LDIF files (or, for the address list, an LDAP server: Ldap.h).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mailbridge {

struct DirectoryEntry {
  std::string displayName;
  std::string givenName;
  std::string familyName;
  std::string nickname;
  std::string email;
  std::string organization;
};

// Both readers tolerate folded lines, CRLF, unknown properties and broken
// entries (skipped).
std::vector<DirectoryEntry> ReadVCardText(std::string_view text);
std::vector<DirectoryEntry> ReadLdifText(std::string_view text);
// One LDAP-style entry (attribute name, UTF-8 value; names in any case,
// options such as ";lang-en" ignored) as a directory entry: display name from
// displayName, else the first cn; givenName, sn, the first mail, the first uid
// or mozillaNickname as nickname, the first o. False when the entry has
// neither a name nor an address. LDIF files and LDAP servers both use it.
bool EntryFromAttributes(const std::vector<std::pair<std::string, std::string>>& attributes, DirectoryEntry& out);
// The attribute names EntryFromAttributes reads.
const std::vector<std::string>& DirectoryAttributes();
// By file name: ".ldif" is LDIF, anything else vCard. A missing file is an
// empty list; false: the file is there but cannot be read.
bool ReadDirectoryFile(const std::string& path, std::vector<DirectoryEntry>& out);

enum class MatchMode {
  All,        // empty search text: every entry
  Substring,  // the whole search text occurs in a name or the address
  AllWords,   // every word of the search text occurs in one of them
};
// Case-insensitive match of the search text against the display name, the
// given and family names, the nickname and the address.
bool Matches(const DirectoryEntry& e, std::string_view search, MatchMode mode);
// The words of a search text as AllWords matching splits it (on ASCII white
// space).
std::vector<std::string> SearchWords(std::string_view search);

// Exact resolution of a typed name for sending: entries whose display name,
// "given family", nickname, address or address local part equals it,
// ignoring case.
bool ResolvesExactly(const DirectoryEntry& e, std::string_view name);

}  // namespace mailbridge
