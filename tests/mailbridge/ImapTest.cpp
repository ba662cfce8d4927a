// Integration with a real Dovecot started on a loopback port by
// scripts/dovecot-test.sh. Skipped, loudly, where Dovecot is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <filesystem>

#include "TestUtil.h"
#include "mailbridge/store/Index.h"
#include "mailbridge/store/Store.h"
#include "platform/Text.h"

using namespace mbtest;

namespace {

class Dovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("PATH=\"$PATH:/usr/sbin:/sbin\" command -v dovecot >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "*** DOVECOT IS NOT INSTALLED: IMAP INTEGRATION NOT TESTED (apt-get install dovecot-imapd) ***";
    }
    port = FreePort();
    std::string cmd = std::string(MAILBRIDGE_DOVECOT_SCRIPT) + " start " + dir.path() + " " + std::to_string(port);
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "dovecot did not start";
    started = true;
    mailbridge::DropSummaryCache();
    config.userName = "alice";
    config.emailAddress = "alice@example.org";
    config.imapHost = "127.0.0.1";
    config.imapPort = port;
    config.imapUser = "alice";
    config.imapMasterUser = "admin";
    config.imapPassword = "masterpw";
    config.attachmentCacheDir = dir.path() + "/cache";
  }
  void TearDown() override { Stop(); }
  void Stop() {
    if (!started) return;
    std::string cmd = std::string(MAILBRIDGE_DOVECOT_SCRIPT) + " stop " + dir.path();
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    started = false;
  }
  // A second client, as another program would be.
  std::unique_ptr<mailbridge::MailStore> Outside(const char* login = "alice", const char* password = "secret") {
    mailbridge::ImapSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.login = login;
    s.password = password;
    return mailbridge::OpenImapStore(s);
  }
  // The listing by subject, a read message marked with "*".
  static std::vector<std::string> Read(const Summary& s) {
    std::vector<std::string> out = s.Subjects();
    for (DWORD i = 0; i < s.count; ++i) out[i] += s.items[i].bRead ? "*" : "";
    return out;
  }
  std::vector<std::string> Read(MAPIManaged::MAPINativeConnection& c, const char16_t* folder = u"") {
    Summary s = List(c, folder, 4);
    EXPECT_EQ(s.hr, S_OK) << U8(folder);
    return Read(s);
  }

  TempDir dir;
  int port = 0;
  bool started = false;
  mailbridge::AccountConfig config;
};


TEST_F(Dovecot, ListShowFlagDeleteThroughMasterLogin) {
  auto outside = Outside();
  ASSERT_TRUE(outside->Append("", "From: a@example.org\r\nSubject: a-first\r\n\r\none\r\n", false).ok());
  ASSERT_TRUE(outside->Append("", Data("with-file-crlf.eml"), false).ok());
  ASSERT_TRUE(outside->Append("", "From: c@example.org\r\nSubject: c-third\r\n\r\nthree\r\n", true).ok());

  auto c = mailbridge::OpenConnection(config);
  Summary first = List(*c, u"", 4);
  EXPECT_EQ(Read(first), (std::vector<std::string>{"a-first", "b-files", "c-third*"}));
  ASSERT_EQ(first.count, 3u);
  const GUID* ids[] = {&first.items[0].guidID, &first.items[1].guidID, &first.items[2].guidID};

  Opened o = Show(*c, *ids[1]);
  ASSERT_EQ(o.hr, S_OK);
  EXPECT_EQ(U8(o.msg[0].pszFrom), "Ann");
  ASSERT_EQ(o.count, 1u);
  EXPECT_EQ(ReadAll(U8(o.atts[0].pszFileName)), "\x01\x02\x03");
  EXPECT_EQ(Attachment(*c, *ids[1], 1), "\x01\x02\x03");

  // Opening set \Seen on the server; a fresh process sees it and the same ids.
  mailbridge::DropSummaryCache();
  auto again = mailbridge::OpenConnection(config);
  Summary second = List(*again, u"", 4);
  EXPECT_EQ(Read(second), (std::vector<std::string>{"a-first", "b-files*", "c-third*"}));
  ASSERT_EQ(second.count, 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(second.items[i].guidID, *ids[i]);

  // Changes by another client show up on the next listing.
  std::vector<mailbridge::StoreEntry> entries;
  ASSERT_TRUE(outside->List("", entries).ok());
  ASSERT_TRUE(outside->SetRead("", entries[0]).ok());
  ASSERT_TRUE(outside->Append("", "Subject: d-fourth\r\n\r\n", false).ok());
  EXPECT_EQ(Read(*again), (std::vector<std::string>{"a-first*", "b-files*", "c-third*", "d-fourth"}));

  // Delete moves to the folder marked \Trash; deleting there removes it.
  ASSERT_EQ(again->DeleteMessage(u"", *ids[0], u"en"), S_OK);
  EXPECT_EQ(Read(*again), (std::vector<std::string>{"b-files*", "c-third*", "d-fourth"}));
  Summary trash = List(*again, u"Deleted Items", 4);
  EXPECT_EQ(Read(trash), (std::vector<std::string>{"a-first*"}));
  ASSERT_EQ(trash.count, 1u);
  ASSERT_EQ(again->DeleteMessage(u"Deleted Items", trash.items[0].guidID, u"en"), S_OK);
  EXPECT_TRUE(Read(*again, u"Deleted Items").empty());
  EXPECT_EQ(List(*again, u"NoSuchFolder").hr, MAPI_E_NOT_FOUND);
}

TEST_F(Dovecot, FoldersByListWithRolesAndNonAsciiNames) {
  // A folder name outside ASCII goes to the server in modified UTF-7 and
  // comes back from LIST as it was given.
  auto c = mailbridge::OpenConnection(config);
  auto store = Outside();
  const std::string name = "\xC3\x9C" "berweisungen/\xC4\x88" "efa & Co \xF0\x9F\x93\xA7";
  ASSERT_TRUE(store->Append(name, "Subject: in the folder\r\n\r\n", false).ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/mail/alice/Maildir/.&ANw-berweisungen.&AQg-efa &- Co &2D3c5w-"));
  std::vector<mailbridge::MailFolder> folders;
  ASSERT_EQ(mailbridge::ListFolders(config, folders), S_OK);
  std::vector<std::string> listed;
  for (const auto& f : folders) listed.push_back(f.name + "=" + f.role);
  // The parent exists only as a name (\\NonExistent): not a folder to open.
  EXPECT_EQ(listed, (std::vector<std::string>{"Deleted Items=trash", "Drafts=drafts", "Sent Messages=sent",
                                              name + "="}));
  EXPECT_EQ(Read(*c, platform::Utf8ToUtf16(name).c_str()), (std::vector<std::string>{"in the folder"}));
  // Names that are not modified UTF-7 are refused rather than mangled.
  std::string out;
  for (const char* bad : {"&", "&AB", "&ANw", "&Jjo!-", "\x7F"}) EXPECT_FALSE(mailbridge::DecodeMailboxName(bad, out)) << bad;
  EXPECT_FALSE(mailbridge::EncodeMailboxName("\xC3", out));
}

TEST_F(Dovecot, ChangesSinceASyncPointAndChangeStamps) {
  auto outside = Outside();
  for (const char* subject : {"one", "two", "three"}) {
    ASSERT_TRUE(outside->Append("", std::string("Subject: ") + subject + "\r\n\r\n", false).ok());
  }
  auto store = Outside("alice*admin", "masterpw");
  mailbridge::FolderChanges all;
  ASSERT_TRUE(store->ListChanges("", "", all).ok());
  EXPECT_TRUE(all.full);
  ASSERT_EQ(all.entries.size(), 3u);
  ASSERT_FALSE(all.syncPoint.empty());
  std::string stamp1, stamp2;
  ASSERT_TRUE(store->ChangeStamp("", stamp1));
  ASSERT_TRUE(store->ChangeStamp("", stamp2));
  EXPECT_EQ(stamp1, stamp2);

  // Nothing changed: an empty delta.
  mailbridge::FolderChanges none;
  ASSERT_TRUE(store->ListChanges("", all.syncPoint, none).ok());
  EXPECT_FALSE(none.full);
  EXPECT_TRUE(none.entries.empty());
  EXPECT_TRUE(none.vanished.empty());

  // Another client reads one, removes one and adds one.
  ASSERT_TRUE(outside->SetRead("", all.entries[0]).ok());
  ASSERT_TRUE(outside->Remove("", all.entries[1]).ok());
  ASSERT_TRUE(outside->Append("", "Subject: four\r\n\r\n", false).ok());
  ASSERT_TRUE(store->ChangeStamp("", stamp2));
  EXPECT_NE(stamp1, stamp2);
  mailbridge::FolderChanges delta;
  ASSERT_TRUE(store->ListChanges("", all.syncPoint, delta).ok());
  EXPECT_FALSE(delta.full);
  ASSERT_EQ(delta.entries.size(), 2u);
  EXPECT_EQ(delta.entries[0].key, all.entries[0].key);
  EXPECT_TRUE(delta.entries[0].read);
  EXPECT_FALSE(delta.entries[1].read);
  EXPECT_EQ(delta.vanished, (std::vector<std::string>{all.entries[1].key}));
  EXPECT_NE(delta.syncPoint, all.syncPoint);

  // A sync point of another UIDVALIDITY, or none the store can read, gives the whole folder.
  for (const char* stale : {"1:1", "garbage"}) {
    mailbridge::FolderChanges whole;
    ASSERT_TRUE(store->ListChanges("", stale, whole).ok());
    EXPECT_TRUE(whole.full) << stale;
    EXPECT_EQ(whole.entries.size(), 3u) << stale;
  }
}

TEST_F(Dovecot, PageRequestsShareLoggedInSessions) {
  ASSERT_TRUE(Outside()->Append("", "Subject: pooled\r\n\r\n", false).ok());
  mailbridge::DrainImapPool();
  long before = mailbridge::ImapPoolState().logins;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(*mailbridge::OpenConnection(config)).size(), 1u);  // a page request each
  EXPECT_EQ(mailbridge::ImapPoolState().logins - before, 1);
  EXPECT_EQ(mailbridge::ImapPoolState().idle, 1);

  // The server ends the session: the pool drops it and logs in again.
  std::string kick = "PATH=\"$PATH:/usr/sbin:/sbin\" doveadm -c " + dir.path() + "/dovecot.conf kick alice >/dev/null 2>&1";
  ASSERT_EQ(std::system(kick.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto c = mailbridge::OpenConnection(config);
  EXPECT_EQ(Read(*c).size(), 1u);
  EXPECT_EQ(mailbridge::ImapPoolState().logins - before, 2);

  // With every session of the site in use, another request waits and then
  // gives up within its time-out.
  mailbridge::SetImapPoolLimits({1, 1, 60});
  config.imapTimeoutSeconds = 1;
  auto second = mailbridge::OpenConnection(config);
  EXPECT_EQ(List(*second).hr, E_FAIL);
  c.reset();  // gives its session back
  EXPECT_EQ(Read(*second).size(), 1u);
  mailbridge::SetImapPoolLimits({});
}

TEST_F(Dovecot, SentCopyIsAppendedOverImap) {
  // No SMTP: local delivery to bob, the copy into Sent goes over IMAP.
  config.localMaildirFor = [&](const std::string& addr) -> std::optional<std::string> {
    if (addr != "bob@example.org") return std::nullopt;
    MakeMaildir(dir.path() + "/bobbox");
    return dir.path() + "/bobbox";
  };
  auto c = mailbridge::OpenConnection(config);
  const char16_t* to[] = {u"bob@example.org"};
  ASSERT_EQ(c->SendMessageW(to, 1, nullptr, 0, nullptr, 0, u"over imap", u"body", nullptr, 0), S_OK);
  EXPECT_EQ(Read(*c, u"Sent Messages"), (std::vector<std::string>{"over imap*"}));
  EXPECT_EQ(FilesIn(dir.path() + "/bobbox/new").size(), 1u);
}

TEST_F(Dovecot, CredentialsFromTheSessionChooseTheLoginAndAWrongPasswordIsRefused) {
  ASSERT_TRUE(Outside("bob")->Append("", "Subject: for bob\r\n\r\n", false).ok());
  std::string seenKey;
  config.resolveCredentials = [&](const std::string& key, const std::string& ticket)
      -> std::optional<std::pair<std::string, std::string>> {
    seenKey = key;
    if (ticket != "good") return std::nullopt;
    return std::make_pair(std::string("bob"), std::string("secret"));
  };
  auto c = mailbridge::OpenConnection(config);
  EXPECT_TRUE(Read(*c).empty());  // alice's empty inbox
  EXPECT_EQ(c->InitializeUserCredentials(u"master-key", u"bad"), E_ACCESSDENIED);
  ASSERT_EQ(c->InitializeUserCredentials(u"master-key", u"good"), S_OK);
  EXPECT_EQ(seenKey, "master-key");
  EXPECT_EQ(Read(*c), (std::vector<std::string>{"for bob"}));
  // A wrong master password is refused as such.
  config.imapPassword = "wrong";
  EXPECT_EQ(List(*mailbridge::OpenConnection(config)).hr, E_ACCESSDENIED);
}

// A server playing data/imap-drop-mid-fetch.txt ("command<TAB>reply"): the
// first command found in the client's line is answered; the untagged reply
// (in the middle of the message bytes) is the last before it hangs up.
void DropMidFetch(LoopbackServer::Peer& c, std::atomic<int>& dropped) {
  std::vector<std::pair<std::string, std::string>> script;
  std::istringstream in(Data("imap-drop-mid-fetch.txt"));
  for (std::string l; std::getline(in, l);) script.emplace_back(l.substr(0, l.find('\t')), l.substr(l.find('\t') + 1));
  c.Say("* OK fake ready\r\n");
  for (std::string line; c.ReadLine(line);) {
    const std::string tag = line.substr(0, line.find(' '));
    auto rule = std::find_if(script.begin(), script.end(), [&](const auto& r) { return line.find(r.first) != std::string::npos; });
    std::string reply = rule == script.end() ? "{tag} BAD unknown" : rule->second;
    for (std::size_t p; (p = reply.find("\\r\\n")) != std::string::npos;) reply.replace(p, 4, "\r\n");
    const std::size_t t = reply.find("{tag}");
    if (t == std::string::npos) {
      c.Say(reply);
      ++dropped;
      return;
    }
    c.Say(reply.replace(t, 5, tag) + "\r\n");
  }
}

TEST(ImapDrop, ConnectionLostMidFetchFailsCleanly) {
  std::atomic<int> dropped{0};
  LoopbackServer server([&](LoopbackServer::Peer& c) { DropMidFetch(c, dropped); });
  TempDir dir;
  mailbridge::DropSummaryCache();
  mailbridge::AccountConfig config;
  config.userName = "alice";
  config.imapHost = "127.0.0.1";
  config.imapPort = server.port();
  config.imapPassword = "x";
  config.imapTimeoutSeconds = 2;  // libetpan notices the closed socket only by its timeout
  config.attachmentCacheDir = dir.path() + "/cache";
  auto c = mailbridge::OpenConnection(config);
  // Each call starts a new session and fails the same way.
  for (int calls = 1; calls <= 2; ++calls) {
    Summary s = List(*c);
    EXPECT_TRUE(FAILED(s.hr));
    EXPECT_EQ(s.items, nullptr);
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(dropped.load(), calls);
  }
}

}  // namespace
