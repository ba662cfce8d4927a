// A site in front of a real Dovecot (master user, SPECIAL-USE folders,
// QRESYNC), a real Redis and an SMTP listener, all on loopback: two portals
// sharing Redis and the data folder serve one user signed in with the IMAP
// password. Skipped, loudly, without dovecot or redis-server.

#include "mailbridge/MailBridge.h"
#include "mailbridge/store/Store.h"
#include "platform/Text.h"
#include "portal/Config.h"
#include "portal/Pages.h"
#include "portal/Util.h"
#include "tests/mailbridge/SmtpSink.h"
#include "tests/portal/PortalFixture.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

class ImapSite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("PATH=\"$PATH:/usr/sbin:/sbin\" command -v dovecot >/dev/null 2>&1") != 0 ||
        !fs::exists("/usr/bin/redis-server"))
      GTEST_SKIP() << "*** DOVECOT OR REDIS NOT INSTALLED: THE IMAP SITE IS NOT TESTED ***";
    imapPort_ = mbtest::FreePort();
    std::string start = std::string(LUMAREST_DOVECOT_SCRIPT) + " start " + mail_.Path().string() + " " + std::to_string(imapPort_);
    ASSERT_EQ(std::system(start.c_str()), 0);
    dovecot_ = true;
    ASSERT_TRUE(redis_.Start(mail_.Path()));
    data_ = mail_ / "site";
    portal::WriteFile(data_ / "master.secret", "masterpw\n");
    portal::WriteFile(data_ / "portal.ini",
                      portal::Config::DefaultText() + "\n[portal]\nredis = 127.0.0.1:" + std::to_string(redis_.Port()) +
                          "\n[mail]\nimap = imap://127.0.0.1:" + std::to_string(imapPort_) +
                          "   # loopback\nimap_tls = none\nimap_master_user = admin\nimap_master_password_file = " +
                          (data_ / "master.secret").string() + "\nimap_timeout_seconds = 3\nsmtp = " + smtp_->Url() +
                          "\n[auth]\nsource = imap\n");
    a_.Start(data_, true);
    b_.Start(data_, true);
  }
  void TearDown() override {
    for (auto* p : {&a_, &b_})
      if (p->portal) p->portal->Stop();
    StopDovecot();
  }
  void StopDovecot() {
    if (!dovecot_) return;
    std::system((std::string(LUMAREST_DOVECOT_SCRIPT) + " stop " + mail_.Path().string()).c_str());
    dovecot_ = false;
  }
  std::string Guid(const std::string& subject) { return FindMessage(*a_.portal, "alice", subject); }

  testing_support::TempDir mail_;
  std::unique_ptr<mbtest::SmtpSink> smtp_ = std::make_unique<mbtest::SmtpSink>();
  fs::path data_;
  int imapPort_ = 0;
  bool dovecot_ = false;
  RedisServer redis_;
  RunningPortal a_, b_;
};

TEST_F(ImapSite, SignInWithTheMailPasswordThenWorkAcrossTwoPortals) {
  // Alice's own login, as her desktop client would use it.
  auto alice = mailbridge::OpenImapStore({.host = "127.0.0.1", .port = imapPort_, .login = "alice", .password = "secret"});
  ASSERT_TRUE(alice->Append("", "From: Bob <bob@example.org>\r\nTo: alice@example.org\r\nSubject: Budget\r\n\r\n"
                                "Numbers attached soon.\r\n", false).ok());
  std::string meetingRequest;
  ASSERT_TRUE(portal::ReadFile(fs::path(LUMAREST_TEST_DATA) / "meeting-request.eml", meetingRequest));
  ASSERT_TRUE(alice->Append("", meetingRequest, false).ok());
  const std::string folder = "\xC3\x9C" "bersicht";
  ASSERT_TRUE(alice->Append(folder, "Subject: Filed away\r\n\r\nold\r\n", true).ok());

  // Sign-in: the server checks the password; the first one makes the site record.
  EXPECT_FALSE(fs::exists(data_ / "users/alice/account.ini"));
  std::string cookie = SignIn(a_.Client(), "alice", "secret");
  ASSERT_FALSE(cookie.empty());
  std::string record;
  ASSERT_TRUE(portal::ReadFile(data_ / "users/alice/account.ini", record));
  EXPECT_EQ(record.find("secret"), std::string::npos);
  // A page on one portal or the other, with the session's cookie.
  auto get = [&](RunningPortal& p, const std::string& page) {
    return p.Client().Get(("/HalvornSLV/" + page).c_str(), {{"Cookie", cookie}, {"Origin", p.Origin()}});
  };
  auto send = [&](RunningPortal& p, const std::string& form) {
    return p.Client().Post("/HalvornSLV/ComposeMessage.asp", {{"Cookie", cookie}, {"Origin", p.Origin()}},
                           "IsCompose=true&TTo=bob%40example.org&" + form + "&Send=Send", "application/x-www-form-urlencoded");
  };

  // List on B, read on A (through the master user: alice never gave the portal a stored password).
  auto inbox = get(b_, "Inbox.asp");
  ASSERT_TRUE(inbox);
  EXPECT_EQ(inbox->status, 200);
  EXPECT_NE(inbox->body.find("Budget"), std::string::npos);
  std::string budget = Guid("Budget");
  ASSERT_FALSE(budget.empty());
  auto view = get(a_, "ViewInboxMessage.asp?Guid=" + budget + "&Folder=");
  EXPECT_EQ(view->status, 200);
  EXPECT_NE(view->body.find("Numbers attached soon."), std::string::npos);

  // A reply started on A with an upload, sent from B: SMTP gets it from
  // alice's address, a copy lands in the folder marked \Sent.
  ASSERT_EQ(get(a_, "ComposeMessage.asp?Type=Reply&Guid=" + budget + "&Folder=")->status, 200);
  auto up = a_.Client().Post("/HalvornSLV/DoAttachments.asp", {{"Cookie", cookie}, {"Origin", a_.Origin()}},
                             httplib::MultipartFormDataItems{{"File", "Q3 figures", "figures.txt", "text/plain"}});
  ASSERT_EQ(up->status, 302);
  ASSERT_EQ(get(b_, up->get_header_value("Location"))->status, 200);
  auto sent = send(b_, "TCC=&TBCC=&Subject=RE%3A+Budget&MessageText=Here");
  EXPECT_EQ(sent->get_header_value("Location"), "SendOK.asp?Success=true");
  ASSERT_EQ(smtp_->messages.size(), 1u);
  EXPECT_NE(smtp_->messages[0].find("<alice@example.org>"), std::string::npos);
  EXPECT_NE(smtp_->messages[0].find("figures.txt"), std::string::npos);
  auto listing = [&](const std::string& folder) { return get(a_, "Inbox.asp?Folder=" + portal::EncodeUrlSafe(folder))->body; };
  EXPECT_NE(listing("Sent Messages").find("RE: Budget"), std::string::npos);

  // Delete on B moves to the folder marked \Trash.
  EXPECT_EQ(get(b_, "DeleteMessage.asp?Guid=" + budget + "&Folder=")->status, 302);
  EXPECT_NE(listing("Deleted Items").find("Budget"), std::string::npos);

  // Accepting the meeting on A answers the organiser through SMTP.
  std::string meeting = Guid("Design review");
  ASSERT_FALSE(meeting.empty());
  EXPECT_EQ(get(a_, "MeetingResponse.asp?Type=AcceptMeeting&Guid=" + meeting + "&Folder=")->status, 302);
  ASSERT_EQ(smtp_->messages.size(), 2u);
  EXPECT_NE(smtp_->messages[1].find("METHOD:REPLY"), std::string::npos);
  EXPECT_NE(smtp_->rcpts.back().find("bob@example.org"), std::string::npos);

  // The folder page lists the non-ASCII folder; its link opens it.
  std::string link = "Inbox.asp?Folder=" + portal::EncodeUrlSafe(folder);
  EXPECT_NE(get(b_, "InboxFolders.asp")->body.find(link + "'>" + folder + "<"), std::string::npos);
  EXPECT_NE(get(a_, link)->body.find("Filed away"), std::string::npos);

  // With the SMTP service gone, sending fails and the message is kept.
  smtp_.reset();
  EXPECT_EQ(send(b_, "Subject=Unsent+note&MessageText=Later")->get_header_value("Location"), "SendOk.asp?Success=false");
  EXPECT_NE(get(a_, "ComposeMessage.asp")->body.find("Unsent note"), std::string::npos);

  // A wrong password is refused (last: the server delays logins from this address after it).
  auto login = [&](const char* password) {
    return a_.Client().Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}},
                            httplib::Params{{"UserName", "alice"}, {"Password", password}});
  };
  EXPECT_EQ(login("nope")->status, 401);

  // Both portals report healthy; with the IMAP server gone, pages and the
  // health check answer within the time-out.
  EXPECT_EQ(a_.Client().Get("/healthz")->status, 200);
  StopDovecot();
  mailbridge::DrainImapPool();
  auto down = get(b_, "Inbox.asp");
  ASSERT_TRUE(down);
  EXPECT_EQ(down->status, 503);
  EXPECT_EQ(down->body, portal::ErrorPage(227));
  auto health = b_.Client().Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 503);
  EXPECT_NE(health->body.find("IMAP server"), std::string::npos);
  EXPECT_EQ(login("secret")->status, 503);
}

// Every problem of the file is reported, each with its own line.
TEST(CheckConfig, ReportsEveryProblemWithItsLine) {
  testing_support::TempDir temp;
  const fs::path& dir = temp.Path();
  portal::WriteFile(dir / "secret", "pw\n");
  struct Case {
    const char* line;
    const char* problem;  // empty: no problem
  } cases[] = {
      {"[mail]", ""},
      {"imap = imaps://mail.example.org   # TLS on 993", ""},
      {"imap_master_user = webmail", ""},
      {"imap_master_password_file = SECRET", ""},
      {"imap = pop3://mail.example.org", "imap must be imap://HOST[:PORT]"},
      {"imap_tls = sometimes", "imap_tls must be none, starttls or tls"},
      {"smtp_password_file = /nonexistent/smtp.secret", "cannot read /nonexistent/smtp.secret"},
      {"imap_pool_max = lots", "imap_pool_max must be a whole number"},
      {"imap_masterr_user = typo", "unknown key imap_masterr_user in [mail]"},
      {"no equals sign here", "expected key = value"},
      {"[auth]", ""},
      {"source = kerberos", "source must be local or imap"},
  };
  std::string text;
  std::vector<std::string> expected;
  int line = 0;
  for (const auto& c : cases) {
    std::string l = c.line;
    if (auto at = l.find("SECRET"); at != std::string::npos) l.replace(at, 6, (dir / "secret").string());
    text += l + "\n";
    ++line;
    if (*c.problem) expected.push_back("portal.ini:" + std::to_string(line) + ": " + c.problem);
  }
  portal::WriteFile(dir / "portal.ini", text);
  auto problems = portal::Config::Check(dir);
  ASSERT_EQ(problems.size(), expected.size()) << text;
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(problems[i].substr(0, expected[i].size()), expected[i]);
  // The file the portal writes for a new data folder has none.
  portal::WriteFile(dir / "portal.ini", portal::Config::DefaultText());
  EXPECT_TRUE(portal::Config::Check(dir).empty());
}

}  // namespace
}  // namespace portal_test
