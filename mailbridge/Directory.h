// The directory: personal contacts and the global address list, read from
// vCard or LDIF files.
#pragma once

#include <string>
#include <string_view>
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
// entries (skipped); a missing file gives an empty list.
std::vector<DirectoryEntry> ReadVCardText(std::string_view text);
std::vector<DirectoryEntry> ReadLdifText(std::string_view text);
// By file name: ".ldif" is LDIF, anything else vCard. False: unreadable.
bool ReadDirectoryFile(const std::string& path, std::vector<DirectoryEntry>& out);

enum class MatchMode {
  All,        // empty search text: every entry
  Substring,  // the whole search text occurs in a name or the address
  AllWords,   // every word of the search text occurs in one of them
};
// Case-insensitive match of the search text against the display name, the
// given and family names, the nickname and the address.
bool Matches(const DirectoryEntry& e, std::string_view search, MatchMode mode);

// Exact resolution of a typed name for sending: entries whose display name,
// "given family", nickname, address or address local part equals it,
// ignoring case.
bool ResolvesExactly(const DirectoryEntry& e, std::string_view name);

}  // namespace mailbridge
