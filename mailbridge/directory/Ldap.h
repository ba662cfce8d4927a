// The global address list from an LDAP server (OpenLDAP's client library).
// Entries become the same DirectoryEntry records an LDIF file gives, and the
// search text is matched by the same rules (Directory.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mailbridge/directory/Directory.h"
#include "mailbridge/Status.h"

namespace mailbridge {

struct LdapSettings {
  std::string uri;           // "ldap://host:389" or "ldaps://host"
  std::string baseDn;        // searched with subtree scope
  std::string bindDn;        // empty: anonymous
  std::string password;
  std::string filter;        // which entries belong to the list; empty: kDefaultLdapFilter
  int sizeLimit = 500;       // at most this many entries are asked for
  int timeoutSeconds = 10;   // connect, bind and search each give up after this long
};

inline constexpr const char* kDefaultLdapFilter = "(|(objectClass=person)(mail=*))";

// An assertion value escaped for a search filter: "*", "(", ")", "\" and NUL
// become "\2a", "\28", "\29", "\5c", "\00"; everything else stays as it is.
std::string EscapeLdapFilterValue(std::string_view value);

// The filter sent to the server for a search text: the configured filter,
// and for each word of the text (SearchWords) a substring assertion on any
// of the attributes the matching rules look at. It selects every entry that
// Matches in either mode (and ResolvesExactly) might accept, so the exact
// rules are applied afterwards, on the entries it returns.
std::string BuildLdapFilter(std::string_view configuredFilter, std::string_view search);

// Entries of the list that match the search text (Matches with mode), or
// with resolveExactly those ResolvesExactly accepts for it; sorted by display
// name, then address. Ok also when the size limit cut the answer short.
// Failures: kInvalidArgument (bad URI or filter), kAccessDenied (bind
// refused), kNotFound (no such base DN), kFailed (server down, timed out or
// any other error).
Status SearchLdap(const LdapSettings& settings, std::string_view search, MatchMode mode,
                   std::vector<DirectoryEntry>& out);
Status ResolveLdap(const LdapSettings& settings, std::string_view name, std::vector<DirectoryEntry>& out);

}  // namespace mailbridge
