// The global address list from LDAP: filter building and entry mapping
// without a server, failures against closed and silent ports, and searches
// against a real slapd started on a loopback port by scripts/slapd-test.sh
// (skipped, loudly, where slapd is not installed).
#include <unistd.h>

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "TestUtil.h"
#include "mailbridge/directory/Directory.h"
#include "mailbridge/directory/Ldap.h"

using namespace mbtest;
using MAPIManaged::_CONTACTITEM;
using mailbridge::DirectoryEntry;

namespace {

// Filters and entries ------------------------------------------------------

// Escaping and the per-word clauses are checked against a real server
// below (Slapd); here only the bound on a flood of words.
TEST(LdapFilter, AFloodOfWordsKeepsTheFilterBounded) {
  std::string many;
  for (int i = 0; i < 100; ++i) many += "w" + std::to_string(i) + " ";
  EXPECT_LT(mailbridge::BuildLdapFilter("", many).size(), 4000u);
}

TEST(LdapEntry, AttributesMapToOneEntry) {
  std::vector<std::pair<std::string, std::string>> attrs = {
      {"cn", "Berg, Ann"}, {"cn", "Ann B."},        {"displayName;lang-en", "Ann Berg"}, {"GIVENNAME", "Ann"},
      {"sn", "Berg"},      {"mail", "ann@example.org"}, {"mail", "ab@example.org"},    {"uid", "annb"},
      {"o", "Acme"},       {"telephoneNumber", "1"}};
  auto fields = [](const DirectoryEntry& e) {
    return e.displayName + "|" + e.givenName + "|" + e.familyName + "|" + e.email + "|" + e.nickname + "|" + e.organization;
  };
  DirectoryEntry e;
  ASSERT_TRUE(mailbridge::EntryFromAttributes(attrs, e));
  EXPECT_EQ(fields(e), "Ann Berg|Ann|Berg|ann@example.org|annb|Acme");

  // Without cn or displayName: given + family name, then the organization.
  ASSERT_TRUE(mailbridge::EntryFromAttributes({{"givenName", "Jo"}, {"sn", "Lee"}}, e));
  EXPECT_EQ(e.displayName, "Jo Lee");
  ASSERT_TRUE(mailbridge::EntryFromAttributes({{"o", "Front Desk"}, {"mail", "desk@example.org"}}, e));
  EXPECT_EQ(e.displayName, "Front Desk");
  // Neither a name nor an address: not an entry.
  EXPECT_FALSE(mailbridge::EntryFromAttributes({{"uid", "x"}, {"telephoneNumber", "1"}}, e));
  // Broken UTF-8 is repaired, not passed on.
  ASSERT_TRUE(mailbridge::EntryFromAttributes({{"cn", "bad \xff name"}}, e));
  EXPECT_TRUE(g_utf8_validate(e.displayName.c_str(), -1, nullptr)) << e.displayName;
}

// Connections --------------------------------------------------------------

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class LdapConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    config.userName = "alice";
    config.localDomain = "example.org";
    config.maildir = dir.path() + "/alice";
    MakeMaildir(config.maildir);
    config.attachmentCacheDir = dir.path() + "/cache";
    config.ldapBaseDn = "dc=example,dc=org";
    config.ldapTimeoutSeconds = 2;
  }
  HRESULT Gal(const char16_t* search, bool exact, std::vector<std::string>* out = nullptr) {
    auto c = mailbridge::OpenConnection(config);
    _CONTACTITEM* items = nullptr;
    DWORD count = 77;  // reset by every call
    HRESULT hr = c->GAL(&items, &count, search, exact);
    if (FAILED(hr)) {
      EXPECT_EQ(items, nullptr);
      EXPECT_EQ(count, 0u);
      return hr;
    }
    std::vector<std::string> found = Contacts(items, count);
    if (out) *out = found;
    return hr;
  }
  TempDir dir;
  mailbridge::AccountConfig config;
};

// No server, not an LDAP URI, a peer that never answers (the time-out ends
// it) and one that hangs up mid-request: each fails, bound or anonymous.
TEST_F(LdapConnection, FailsWithoutHangingWhenTheServerDoesNotServe) {
  std::atomic<int> hungUp{0};
  LoopbackServer hangingUp([&](LoopbackServer::Peer& c) { hungUp += c.ReadSome(); });
  int silentPort = 0;
  int silent = ListenOnLoopback(silentPort);
  ASSERT_GE(silent, 0);
  auto uri = [](int port) { return "ldap://127.0.0.1:" + std::to_string(port); };
  struct {
    std::string uri;
    bool bound;
    HRESULT hr;
  } cases[] = {{uri(FreePort()), false, E_FAIL}, {uri(FreePort()), true, E_FAIL}, {"http://127.0.0.1/", true, E_INVALIDARG},
               {uri(silentPort), true, E_FAIL},  {uri(silentPort), false, E_FAIL},
               {uri(hangingUp.port()), true, E_FAIL}, {uri(hangingUp.port()), false, E_FAIL}};
  config.ldapTimeoutSeconds = 1;
  config.ldapPassword = "secret";
  for (const auto& k : cases) {
    config.ldapUri = k.uri;
    config.ldapBindDn = k.bound ? "cn=admin,dc=example,dc=org" : "";
    EXPECT_EQ(Gal(k.bound ? u"ann" : u"", k.bound), k.hr) << k.uri << " " << k.bound;
  }
  EXPECT_EQ(hungUp.load(), 2);
  close(silent);
}

// Against a real slapd -----------------------------------------------------

// data/people.ldif: the named people, then user01..user12 "Filler NN".
constexpr int kFillers = 12;

class Slapd : public LdapConnection {
 protected:
  void SetUp() override {
    if (std::system("PATH=\"$PATH:/usr/sbin:/sbin\" command -v slapd >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "*** SLAPD IS NOT INSTALLED: LDAP ADDRESS LIST NOT TESTED (apt-get install slapd ldap-utils) ***";
    }
    LdapConnection::SetUp();
    WriteAll(dir.path() + "/people.ldif", Data("people.ldif"));
    int port = FreePort();
    std::string cmd = std::string(MAILBRIDGE_SLAPD_SCRIPT) + " start " + server.path() + " " +
                      std::to_string(port) + " " + dir.path() + "/people.ldif";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "slapd did not start";
    started = true;
    config.ldapUri = "ldap://127.0.0.1:" + std::to_string(port);
    config.ldapBindDn = "cn=admin,dc=example,dc=org";
    config.ldapPassword = "secret";
  }
  void TearDown() override { Stop(); }
  void Stop() {
    if (!started) return;
    std::string cmd = std::string(MAILBRIDGE_SLAPD_SCRIPT) + " stop " + server.path();
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    started = false;
  }
  std::vector<std::string> Found(const char16_t* search, bool exact) {
    std::vector<std::string> out;
    EXPECT_EQ(Gal(search, exact, &out), S_OK) << U8(search);
    return out;
  }
  std::vector<std::string> DisplayNames(const char16_t* search, bool exact) {
    std::vector<std::string> out;
    for (const auto& r : Found(search, exact)) out.push_back(r.substr(0, r.find('|')));
    return out;
  }
  HRESULT Send(const char16_t* to) {
    auto c = mailbridge::OpenConnection(config);
    return c->SendMessageW(&to, 1, nullptr, 0, nullptr, 0, u"Hi", u"Body", nullptr, 0);
  }
  TempDir server;  // the server's own folder (made readable to it when run as root)
  bool started = false;
};

// The same entries read from an LDIF file through the file-based list. The
// filter characters are literal in both: "*" is not "everything", an attempt
// to widen the filter finds nothing, escaped text stays text.
TEST_F(Slapd, SearchesGiveTheFileRecordsEncodedTheSameWay) {
  mailbridge::AccountConfig fileConfig = config;
  fileConfig.ldapUri.clear();
  fileConfig.galPath = dir.path() + "/people.ldif";
  auto fileConnection = mailbridge::OpenConnection(fileConfig);
  for (const char16_t* search : {u"", u"ann", u"ANN LEE", u"berg ann", u"lee ann", u"müller", u"jürgen m",
                                 u"acme", u"annb", u"example.org", u"sam", u"<b>", u"'co'", u"nobody", u"*",
                                 u"(sales)", u"sales)", u"\\", u"*star* \\ back", u"*)(mail=*", u"ann*)(|(cn=*",
                                 u"\\2a"}) {
    for (bool exact : {true, false}) {
      _CONTACTITEM* items = nullptr;
      DWORD count = 0;
      ASSERT_EQ(fileConnection->GAL(&items, &count, search, exact), S_OK);
      EXPECT_EQ(Sorted(Found(search, exact)), Sorted(Contacts(items, count))) << U8(search) << (exact ? " exact" : " words");
    }
  }
  // And a few spelled out: display name, address, "given family", nickname, organization.
  EXPECT_EQ(Found(u"'co'", true),
            (std::vector<std::string>{"Bob &lt;b&gt; &amp; &#39;Co&#39; &quot;Q&quot;|bob@example.org|Co|bob|"}));
  EXPECT_EQ(Found(u"lee", true), (std::vector<std::string>{"Ann Lee|ann.lee@example.org|Ann Lee|ann|Acme"}));
  EXPECT_EQ(DisplayNames(u"", false).size(), 8u + kFillers);
  EXPECT_EQ(DisplayNames(u"ann", true), (std::vector<std::string>{"Ann Berg", "Ann Lee"}));  // sorted
  EXPECT_EQ(DisplayNames(u"jürgen müller", true), (std::vector<std::string>{"Jürgen Müller"}));
  EXPECT_EQ(DisplayNames(u"*", false), (std::vector<std::string>{"Carl (Sales) *Star* \\ Back"}));
}

TEST_F(Slapd, ConfiguredFilterSizeLimitAndBind) {
  config.ldapFilter = "(mail=*)";
  EXPECT_TRUE(DisplayNames(u"address", true).empty());
  config.ldapFilter = "sn=Filler";  // without parentheses
  EXPECT_EQ(DisplayNames(u"", false).size(), static_cast<std::size_t>(kFillers));
  config.ldapFilter = "(sn=Filler";  // broken
  EXPECT_EQ(Gal(u"", false), E_INVALIDARG);
  config.ldapFilter.clear();

  config.ldapSizeLimit = 5;  // more match: the first five the server sends, still S_OK
  EXPECT_EQ(DisplayNames(u"filler", true).size(), 5u);
  config.ldapSizeLimit = 500;

  config.ldapBindDn.clear();  // anonymous reads are allowed
  EXPECT_EQ(DisplayNames(u"sam", true).size(), 2u);
  config.ldapBindDn = "cn=admin,dc=example,dc=org";
  config.ldapPassword = "wrong";
  EXPECT_EQ(Gal(u"sam", true), E_ACCESSDENIED);
  config.ldapPassword = "secret";
  config.ldapBaseDn = "dc=nowhere,dc=org";
  EXPECT_EQ(Gal(u"sam", true), MAPI_E_NOT_FOUND);
}

// Names resolve through the server; once it is gone, neither a new nor an
// open session guesses.
TEST_F(Slapd, BareRecipientNamesResolveThroughTheServerAndFailWithoutIt) {
  auto open = mailbridge::OpenConnection(config);
  _CONTACTITEM* items = nullptr;
  DWORD count = 0;
  ASSERT_EQ(open->GAL(&items, &count, u"ann", true), S_OK);
  EXPECT_EQ(Contacts(items, count).size(), 2u);
  config.localDeliveryRoot = dir.path() + "/users";
  mkdir(config.localDeliveryRoot.c_str(), 0700);
  MakeMaildir(config.localDeliveryRoot + "/jm");
  // The name, the nickname (uid); two entries carry "Sam"; "Jürgen" is not an exact name.
  const std::pair<const char16_t*, HRESULT> cases[] = {{u"Jürgen Müller", S_OK},      {u"jm", S_OK},
                                                       {u"Sam", MAPI_E_AMBIGUOUS_RECIP}, {u"Jürgen", MAPI_E_NOT_FOUND},
                                                       {u"*", MAPI_E_NOT_FOUND}};
  for (const auto& [name, hr] : cases) EXPECT_EQ(Send(name), hr) << U8(name);
  EXPECT_EQ(FilesIn(config.localDeliveryRoot + "/jm/new").size(), 2u);
  Stop();
  EXPECT_EQ(Send(u"Jürgen Müller"), E_FAIL);
  EXPECT_EQ(open->GAL(&items, &count, u"ann", true), E_FAIL);
}

}  // namespace
