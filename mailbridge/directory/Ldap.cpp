#include "mailbridge/directory/Ldap.h"

#include <ldap.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <memory>

namespace mailbridge {
namespace {

// Words beyond this many only narrow the answer on this side; the filter
// sent stays small.
constexpr std::size_t kMaxFilterWords = 16;

std::string TrimAscii(std::string_view s) {
  std::size_t b = 0, e = s.size();
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (b < e && space(s[b])) ++b;
  while (e > b && space(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// A peer that closes the connection while libldap writes would raise
// SIGPIPE and end the process; the signal is held back in this thread for
// the call and a pending one discarded afterwards.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pendingBefore_);
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe, &old_) == 0;
  }
  ~SigpipeGuard() {
    if (!blocked_) return;
    if (!sigismember(&pendingBefore_, SIGPIPE)) {
      sigset_t pipe, now;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      sigpending(&now);
      if (sigismember(&now, SIGPIPE)) {
        timespec zero{0, 0};
        sigtimedwait(&pipe, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t old_{};
  sigset_t pendingBefore_{};
  bool blocked_ = false;
};

struct LdapCloser {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};

Status FromLdapError(int rc) {
  switch (rc) {
    case LDAP_SUCCESS:
    case LDAP_SIZELIMIT_EXCEEDED:
    case LDAP_ADMINLIMIT_EXCEEDED:
      return OkStatus();
    case LDAP_FILTER_ERROR:
    case LDAP_PARAM_ERROR:
    case LDAP_INVALID_DN_SYNTAX:
    case LDAP_PROTOCOL_ERROR:
      return Errc::kInvalidArgument;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_UNWILLING_TO_PERFORM:
      return Errc::kAccessDenied;
    case LDAP_NO_SUCH_OBJECT:
      return Errc::kNotFound;
    case LDAP_NO_MEMORY:
      return Errc::kNoMemory;
    default:  // server down, connect error, time-outs, anything else
      return Errc::kFailed;
  }
}

std::vector<std::pair<std::string, std::string>> EntryAttributes(LDAP* ld, LDAPMessage* entry) {
  std::vector<std::pair<std::string, std::string>> out;
  BerElement* ber = nullptr;
  for (char* attr = ldap_first_attribute(ld, entry, &ber); attr; attr = ldap_next_attribute(ld, entry, ber)) {
    std::string name = attr;
    ldap_memfree(attr);
    berval** values = ldap_get_values_len(ld, entry, name.c_str());
    for (int i = 0; values && values[i]; ++i) {
      std::string v = values[i]->bv_val ? std::string(values[i]->bv_val, values[i]->bv_len) : std::string();
      // Values as an LDIF file's plain values are read: without surrounding blanks.
      out.emplace_back(name, TrimAscii(v));
    }
    if (values) ldap_value_free_len(values);
  }
  if (ber) ber_free(ber, 0);
  return out;
}

// One connection, bind and subtree search for the filter; every returned
// entry that `keep` accepts goes to out.
template <typename Keep>
Status Query(const LdapSettings& s, const std::string& filter, Keep&& keep, std::vector<DirectoryEntry>& out) {
  out.clear();
  if (s.uri.empty()) return Errc::kInvalidArgument;
  SigpipeGuard sigpipe;
  LDAP* raw = nullptr;
  if (ldap_initialize(&raw, s.uri.c_str()) != LDAP_SUCCESS || !raw) {
    if (raw) ldap_unbind_ext_s(raw, nullptr, nullptr);
    return Errc::kInvalidArgument;
  }
  std::unique_ptr<LDAP, LdapCloser> ld(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  timeval limit{std::max(1, s.timeoutSeconds), 0};
  // Connect, and every synchronous call's wait for its answer.
  ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &limit);
  ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &limit);
  int sizeLimit = std::max(1, s.sizeLimit);

  if (!s.bindDn.empty()) {
    berval cred;
    cred.bv_val = const_cast<char*>(s.password.c_str());
    cred.bv_len = s.password.size();
    int rc = ldap_sasl_bind_s(ld.get(), s.bindDn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
      Status st = FromLdapError(rc);
      return !st.ok() ? st : Errc::kFailed;
    }
  }

  std::vector<std::string> names = DirectoryAttributes();
  std::vector<char*> attrs;
  for (auto& n : names) attrs.push_back(n.data());
  attrs.push_back(nullptr);
  LDAPMessage* rawResult = nullptr;
  int rc = ldap_search_ext_s(ld.get(), s.baseDn.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), attrs.data(), 0,
                             nullptr, nullptr, &limit, sizeLimit, &rawResult);
  std::unique_ptr<LDAPMessage, MessageFree> result(rawResult);
  Status st = FromLdapError(rc);
  if (!st.ok()) return st;
  if (!result) return rc == LDAP_SUCCESS ? OkStatus() : Errc::kFailed;

  for (LDAPMessage* e = ldap_first_entry(ld.get(), result.get());
       e && out.size() < static_cast<std::size_t>(sizeLimit); e = ldap_next_entry(ld.get(), e)) {
    DirectoryEntry entry;
    if (EntryFromAttributes(EntryAttributes(ld.get(), e), entry) && keep(entry)) out.push_back(std::move(entry));
  }
  // Server order is arbitrary; pages list the entries in a stable order.
  std::stable_sort(out.begin(), out.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
    std::string la = LowerAscii(a.displayName), lb = LowerAscii(b.displayName);
    if (la != lb) return la < lb;
    return LowerAscii(a.email) < LowerAscii(b.email);
  });
  return OkStatus();
}

}  // namespace

std::string EscapeLdapFilterValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '*': out += "\\2a"; break;
      case '(': out += "\\28"; break;
      case ')': out += "\\29"; break;
      case '\\': out += "\\5c"; break;
      case '\0': out += "\\00"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string BuildLdapFilter(std::string_view configuredFilter, std::string_view search) {
  std::string base = TrimAscii(configuredFilter);
  if (base.empty()) base = kDefaultLdapFilter;
  if (base.front() != '(') base = "(" + base + ")";
  std::vector<std::string> words = SearchWords(search);
  if (words.empty()) return base;
  if (words.size() > kMaxFilterWords) words.resize(kMaxFilterWords);
  std::string out = "(&" + base;
  for (const std::string& w : words) {
    std::string escaped = EscapeLdapFilterValue(w);
    out += "(|";
    for (const std::string& attr : DirectoryAttributes()) out += "(" + attr + "=*" + escaped + "*)";
    out += ")";
  }
  out += ")";
  return out;
}

Status SearchLdap(const LdapSettings& settings, std::string_view search, MatchMode mode,
                   std::vector<DirectoryEntry>& out) {
  std::string text(search);
  return Query(settings, BuildLdapFilter(settings.filter, text),
               [&](const DirectoryEntry& e) { return Matches(e, text, mode); }, out);
}

Status ResolveLdap(const LdapSettings& settings, std::string_view name, std::vector<DirectoryEntry>& out) {
  std::string text(name);
  if (TrimAscii(text).empty()) {
    out.clear();
    return OkStatus();
  }
  return Query(settings, BuildLdapFilter(settings.filter, text),
               [&](const DirectoryEntry& e) { return ResolvesExactly(e, text); }, out);
}

}  // namespace mailbridge
