// Pages through HTTP: sign-in and sign-out, the pages that host the
// component, redirects, error pages, attachments, folders and files.
#include "tests/portal/PortalFixture.h"

#include "portal/Accounts.h"
#include "portal/Util.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

class PagesTest : public PortalFixture {};

const httplib::Headers kSameSite{{"Sec-Fetch-Site", "same-origin"}};

TEST_F(PagesTest, SignInSetsAnHttpOnlyStrictCookieAndOpensTheInbox) {
  auto r = Client().Post("/HalvornSLV/Login.asp", kSameSite, httplib::Params{{"UserName", "alice"}, {"Password", "alice-secret"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(r->get_header_value("Location"), "/HalvornSLV/Inbox.asp");
  std::string cookie = r->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  auto value = cookie.substr(cookie.find('=') + 1, cookie.find(';') - cookie.find('=') - 1);
  EXPECT_EQ(value.size(), 32u);  // 128 random bits in hex

  auto inbox = Client().Get("/HalvornSLV/Inbox.asp", With(cookie.substr(0, cookie.find(';'))));
  ASSERT_TRUE(inbox);
  EXPECT_EQ(inbox->status, 200);
  EXPECT_NE(inbox->body.find("user=alice"), std::string::npos);
  EXPECT_NE(inbox->body.find("/HalvornSLV/Inc/Stylesheet.css"), std::string::npos);
  EXPECT_NE(inbox->body.find("/HalvornSLV/Inc/Inbox.js"), std::string::npos);
}

TEST_F(PagesTest, WrongPasswordAndUnknownUserAreRefusedAlike) {
  auto bad = Client().Post("/HalvornSLV/Login.asp", kSameSite, httplib::Params{{"UserName", "alice"}, {"Password", "nope"}});
  auto unknown = Client().Post("/HalvornSLV/Login.asp", kSameSite, httplib::Params{{"UserName", "carol"}, {"Password", "nope"}});
  ASSERT_TRUE(bad && unknown);
  EXPECT_EQ(bad->status, 401);
  EXPECT_EQ(unknown->status, 401);
  EXPECT_FALSE(bad->has_header("Set-Cookie"));
  EXPECT_NE(bad->body.find("not correct"), std::string::npos);
}

TEST_F(PagesTest, PagesWithoutSessionSendTheBrowserToSignIn) {
  for (const char* page : {"/HalvornSLV/Inbox.asp", "/HalvornSLV/ViewInboxMessage.asp", "/HalvornSLV/ComposeMessage.asp",
                           "/HalvornSLV/DoAttachments.asp", "/HalvornSLV/InboxFolders.asp"}) {
    auto r = Client().Get(page);
    ASSERT_TRUE(r) << page;
    EXPECT_EQ(r->status, 302) << page;
    EXPECT_EQ(r->get_header_value("Location"), "/HalvornSLV/Login.asp") << page;
  }
  auto forged = Client().Get("/HalvornSLV/Inbox.asp", With("LumarestSession=" + std::string(32, 'a')));
  EXPECT_EQ(forged->status, 302);
}

TEST_F(PagesTest, SignOutEndsTheSession) {
  auto cookie = SignIn("alice", "alice-secret");
  auto out = Client().Get("/HalvornSLV/Logout.asp", With(cookie));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->status, 302);
  EXPECT_EQ(out->get_header_value("Location"), "/HalvornSLV/Login.asp");
  EXPECT_NE(out->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
  auto again = Client().Get("/HalvornSLV/Inbox.asp", With(cookie));
  EXPECT_EQ(again->status, 302);
}

TEST_F(PagesTest, PageNamesMatchWithoutRegardToCase) {
  auto cookie = SignIn("alice", "alice-secret");
  for (const char* page : {"/halvornslv/inbox.asp", "/HALVORNSLV/INBOX.ASP", "/HalvornSLV/SendOk.asp?Success=true",
                           "/HalvornSLV/SendOK.asp?Success=true"}) {
    auto r = Client().Get(page, With(cookie));
    ASSERT_TRUE(r) << page;
    EXPECT_EQ(r->status, 200) << page;
  }
  auto missing = Client().Get("/HalvornSLV/NoSuchPage.asp", With(cookie));
  EXPECT_EQ(missing->status, 404);
}

TEST_F(PagesTest, ListingPassesFolderLanguageAndSearchToTheComponent) {
  auto cookie = SignIn("alice", "alice-secret");
  std::string folder = portal::EncodeUrlSafe("Projects/Q3");
  auto r = Client().Get(("/HalvornSLV/Inbox.asp?Folder=" + folder).c_str(),
                        With(cookie, {{"Accept-Language", "fr-ch,en;q=0.5"}}));
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("folder=Projects/Q3 lang=fr-ch,en;q=0.5"), std::string::npos);
  // The target writes the table with the attributes the component names.
  EXPECT_NE(r->body.find("<table class='box' width='100%'>"), std::string::npos);
  EXPECT_NE(r->body.find("<img src='gifs/Mail.gif' alt='Mail' border='0'>"), std::string::npos);

  auto search = Client().Post("/HalvornSLV/Inbox.asp", With(cookie), "SearchText=budget&SearchType=2",
                              "application/x-www-form-urlencoded");
  ASSERT_TRUE(search);
  EXPECT_NE(search->body.find("<p id=search>budget</p>"), std::string::npos);
}

TEST_F(PagesTest, OutputModeFollowsTheChoiceOrTheBrowser) {
  auto full = SignIn("alice", "alice-secret", "full");
  auto reduced = SignIn("alice", "alice-secret", "reduced");
  auto fullPage = Client().Get("/HalvornSLV/Inbox.asp", With(full));
  auto reducedPage = Client().Get("/HalvornSLV/Inbox.asp", With(reduced));
  // The portal's own navigation shows in full output only; reduced pages
  // carry the component's navigation bar instead.
  EXPECT_NE(fullPage->body.find("class=\"PortalNav\""), std::string::npos);
  EXPECT_EQ(reducedPage->body.find("class=\"PortalNav\""), std::string::npos);

  httplib::Headers phone{{"User-Agent", "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0) Mobile/15E148"},
                         {"Sec-Fetch-Site", "same-origin"}};
  auto r = Client().Post("/HalvornSLV/Login.asp", phone, "UserName=alice&Password=alice-secret",
                         "application/x-www-form-urlencoded");
  auto cookie = r->get_header_value("Set-Cookie");
  auto page = Client().Get("/HalvornSLV/Inbox.asp", With(cookie.substr(0, cookie.find(';'))));
  EXPECT_EQ(page->body.find("class=\"PortalNav\""), std::string::npos);
}

TEST_F(PagesTest, MessageViewFailuresAreProperAnswersNotEmptyPages) {
  auto cookie = SignIn("alice", "alice-secret");
  auto bad = Client().Get("/HalvornSLV/ViewInboxMessage.asp?Guid=not-a-guid", With(cookie));
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 404);
  EXPECT_NE(bad->body.find("could not be found"), std::string::npos);
#ifndef LUMAREST_HAVE_MAILBRIDGE
  // Without a mail library no mailbox opens: the set-up error page.
  auto good = Client().Get("/HalvornSLV/ViewInboxMessage.asp?Guid={00000000-0000-0000-0000-000000000001}", With(cookie));
  EXPECT_EQ(good->status, 503);
  EXPECT_NE(good->body.find("unable to initialize a MAPI session"), std::string::npos);
#endif
}

TEST_F(PagesTest, DeleteAndMeetingResponseRedirectToTheListing) {
  auto cookie = SignIn("alice", "alice-secret");
  auto del = Client().Get("/HalvornSLV/DeleteMessage.asp?Guid={00000000-0000-0000-0000-000000000001}&Folder=UHJvamVjdHM-",
                          With(cookie));
  ASSERT_TRUE(del);
  EXPECT_EQ(del->status, 302);
  EXPECT_EQ(del->get_header_value("Location"), "Inbox.asp?Folder=UHJvamVjdHM-");
  auto failed = Client().Get("/HalvornSLV/DeleteMessage.asp?Guid=bad", With(cookie));
  EXPECT_EQ(failed->status, 200);
  EXPECT_NE(failed->body.find("could not be deleted"), std::string::npos);
  auto meet = Client().Get("/HalvornSLV/MeetingResponse.asp?Type=AcceptMeeting&Guid={00000000-0000-0000-0000-000000000001}",
                           With(cookie));
  EXPECT_EQ(meet->status, 302);
}

TEST_F(PagesTest, ComposeKeepsPostedTextThroughTheMasterSessionStore) {
  auto cookie = SignIn("alice", "alice-secret");
  auto post = Client().Post("/HalvornSLV/ComposeMessage.asp", With(cookie, {{"Origin", Origin()}}),
                            "IsCompose=true&MessageText=Hello+there", "application/x-www-form-urlencoded");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 200);
  // The store was written under "Halvorn.Slv.composeBody"; the form reads "composeBody".
  EXPECT_NE(post->body.find("<textarea>Hello there</textarea>"), std::string::npos);
  auto again = Client().Get("/HalvornSLV/ComposeMessage.asp", With(cookie));
  EXPECT_NE(again->body.find("<textarea>Hello there</textarea>"), std::string::npos);
  // Another user's session does not see it.
  auto bob = SignIn("bob", "bob-secret");
  auto other = Client().Get("/HalvornSLV/ComposeMessage.asp", With(bob));
  EXPECT_EQ(other->body.find("Hello there"), std::string::npos);

  auto send = Client().Post("/HalvornSLV/ComposeMessage.asp", With(cookie, {{"Origin", Origin()}}),
                            "IsCompose=true&MessageText=x&Send=Send", "application/x-www-form-urlencoded");
  EXPECT_EQ(send->status, 302);
  EXPECT_EQ(send->get_header_value("Location"), "SendOK.asp?Success=true");
  auto ok = Client().Get("/HalvornSLV/SendOK.asp?Success=true", With(cookie));
  EXPECT_NE(ok->body.find("Your message was sent."), std::string::npos);
  auto notOk = Client().Get("/HalvornSLV/SendOk.asp?Success=false", With(cookie));
  EXPECT_NE(notOk->body.find("could not be sent"), std::string::npos);
}

TEST_F(PagesTest, UploadAttachListAndRemove) {
  auto cookie = SignIn("alice", "alice-secret");
  httplib::MultipartFormDataItems items{{"File", "quarterly numbers", "Report.doc", "application/msword"}};
  auto up = Client().Post("/HalvornSLV/DoAttachments.asp", With(cookie, {{"Origin", Origin()}}), items);
  ASSERT_TRUE(up);
  ASSERT_EQ(up->status, 302);
  std::string location = up->get_header_value("Location");
  ASSERT_EQ(location.rfind("ComposeMessage.asp?UploadID=", 0), 0u);
  std::string ref = location.substr(location.find('=') + 1);
  std::string decoded = portal::DecodeUrlSafe(ref);
  EXPECT_EQ(decoded.rfind("UPLOADID", 0), 0u);
  EXPECT_NE(decoded.find("|Report.doc"), std::string::npos);
  // The file sits in alice's upload store.
  auto token = decoded.substr(8, 32);
  EXPECT_TRUE(fs::exists(dir_ / "users" / "alice" / "uploads" / token));

  auto compose = Client().Get(("/HalvornSLV/" + location).c_str(), With(cookie));
  EXPECT_EQ(compose->status, 200);
  auto list = Client().Get("/HalvornSLV/DoAttachments.asp", With(cookie));
  EXPECT_NE(list->body.find("<OPTION value='" + ref + "'>Report.doc</OPTION>"), std::string::npos);

  auto remove = Client().Post("/HalvornSLV/DoAttachments.asp", With(cookie, {{"Origin", Origin()}}),
                              "Attachment=" + ref + "&Remove=Remove", "application/x-www-form-urlencoded");
  EXPECT_EQ(remove->status, 302);
  auto after = Client().Get("/HalvornSLV/DoAttachments.asp", With(cookie));
  EXPECT_EQ(after->body.find("Report.doc"), std::string::npos);
}

TEST_F(PagesTest, AttachmentDownloadGivesTheBytes) {
  auto cookie = SignIn("alice", "alice-secret");
  auto r = Client().Get("/HalvornSLV/GetAttachment.asp?Guid={00000000-0000-0000-0000-000000000001}&AttachID=2&Name=a.pdf",
                        With(cookie));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "ATTACHMENT:{00000000-0000-0000-0000-000000000001}:2");
  EXPECT_EQ(r->get_header_value("Content-Disposition"), "attachment; filename=\"a.pdf\"");
}

TEST_F(PagesTest, ActivationOffersOpenOrDownloadAndServesBoth) {
  auto cookie = SignIn("alice", "alice-secret");
  fs::path file = dir_ / "users" / "alice" / "attachments" / "m1" / "notes.txt";
  portal::WriteFile(file, "remember the milk\n");
  std::string base = "/HalvornSLV/ViewInboxMessage.asp?ComponentID=2&FileName=" + portal::EncodeUrlSafe(file.string());
  auto choice = Client().Get((base + "&Options=3").c_str(), With(cookie));
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->status, 200);
  EXPECT_NE(choice->body.find("Options=1"), std::string::npos);
  EXPECT_NE(choice->body.find("Options=2"), std::string::npos);
  auto open = Client().Get((base + "&Options=1").c_str(), With(cookie));
  EXPECT_EQ(open->body, "remember the milk\n");
  EXPECT_EQ(open->get_header_value("Content-Disposition").rfind("inline", 0), 0u);
  auto download = Client().Get((base + "&Options=2").c_str(), With(cookie));
  EXPECT_EQ(download->get_header_value("Content-Disposition").rfind("attachment", 0), 0u);
  EXPECT_EQ(download->get_header_value("Content-Type"), "application/octet-stream");
}

TEST_F(PagesTest, FoldersListTheMaildirFolders) {
  auto cookie = SignIn("alice", "alice-secret");
  portal::EnsureMaildir(dir_ / "users" / "alice" / "Maildir" / ".Projects");
  portal::EnsureMaildir(dir_ / "users" / "alice" / "Maildir" / ".Projects.Q3");
  auto r = Client().Get("/HalvornSLV/InboxFolders.asp?Recurse=true&Vis=Inbox", With(cookie));
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("Inbox.asp?Folder=" + portal::EncodeUrlSafe("Projects") + "'"), std::string::npos);
  EXPECT_NE(r->body.find("Inbox.asp?Folder=" + portal::EncodeUrlSafe("Projects/Q3") + "'"), std::string::npos);
}

TEST_F(PagesTest, FilesWithoutRootsSayTheyAreNotConfigured) {
  auto cookie = SignIn("alice", "alice-secret");
  for (const char* page : {"/HalvornSLV/MyFiles.asp?StaticTree=true", "/HalvornSLV/Folder.asp?LFE=false&ClearName="}) {
    auto r = Client().Get(page, With(cookie));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_NE(r->body.find("FilesNotConfigured"), std::string::npos) << page;
  }
}

TEST_F(PagesTest, ErrorPagesAreCompleteWithSinglePercentSigns) {
  auto r = Client().Get("/HalvornSLV/NoAccess.htm");
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("You have not been granted access to web-based email."), std::string::npos);
  EXPECT_NE(r->body.find("width=\"100%\""), std::string::npos);
  EXPECT_EQ(r->body.find("%%"), std::string::npos);
  EXPECT_NE(r->body.find("class=\"LoginBox\""), std::string::npos);
  EXPECT_NE(r->body.find("Solvance Web Proxy - Error."), std::string::npos);
  auto logo = Client().Get("/HalvornSLV/gifs/pendrellogo.gif");
  EXPECT_EQ(logo->status, 200);
  EXPECT_EQ(logo->get_header_value("Content-Type"), "image/gif");
}

TEST_F(PagesTest, StaticAssetsMatchWithoutRegardToCase) {
  auto a = Client().Get("/HalvornSLV/Gifs/Previous.gif");
  auto b = Client().Get("/HalvornSLV/gifs/replyToAll.gif");
  auto css = Client().Get("/HalvornSLV/Inc/Stylesheet.css");
  ASSERT_TRUE(a && b && css);
  EXPECT_EQ(a->status, 200);
  EXPECT_EQ(b->status, 200);
  EXPECT_EQ(css->get_header_value("Content-Type"), "text/css");
  // A type icon carries the name the component asks for and its real type.
  auto icon = Client().Get("/HalvornSLV/gifs/Text_Document.jpg");
  EXPECT_EQ(icon->get_header_value("Content-Type"), "image/gif");
}

class PolicyDeniedTest : public PortalFixture {
  std::string ExtraConfig() override { return "[user alice]\nwebmail = deny\n"; }
};

TEST_F(PolicyDeniedTest, RefusedUserGetsTheNoAccessPage) {
  auto alice = SignIn("alice", "alice-secret");
  auto r = Client().Get("/HalvornSLV/Inbox.asp", With(alice));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_NE(r->body.find("You have not been granted access to web-based email."), std::string::npos);
  auto bob = SignIn("bob", "bob-secret");
  EXPECT_EQ(Client().Get("/HalvornSLV/Inbox.asp", With(bob))->status, 200);
}

}  // namespace
}  // namespace portal_test

#ifdef LUMAREST_HAVE_MAILBRIDGE
#include "portal/Demo.h"

namespace portal_test {
namespace {

// The demo mailbox, opened for the signed-in user through the mail library.
class DemoMailboxTest : public PortalFixture {
 protected:
  void SetUp() override {
    PortalFixture::SetUp();
    demo_ = portal::CreateDemo(dir_, portal_->Users(), "example.org");
  }
  portal::DemoUser demo_;
};

TEST_F(DemoMailboxTest, EachUserSeesOnlyTheirOwnMailbox) {
  ASSERT_TRUE(demo_.created);
  auto cookie = SignIn("demo", demo_.password);
  auto inbox = Client().Get("/HalvornSLV/Inbox.asp", With(cookie));
  ASSERT_TRUE(inbox);
  EXPECT_NE(inbox->body.find("<p id=count>39</p>"), std::string::npos);
  EXPECT_NE(inbox->body.find("Quarterly report with attachments"), std::string::npos);
  auto projects = Client().Get(("/HalvornSLV/Inbox.asp?Folder=" + portal::EncodeUrlSafe("Projects")).c_str(), With(cookie));
  EXPECT_NE(projects->body.find("<p id=count>1</p>"), std::string::npos);
  EXPECT_NE(projects->body.find("Archived project notes"), std::string::npos);
  auto bob = SignIn("bob", "bob-secret");
  auto other = Client().Get("/HalvornSLV/Inbox.asp", With(bob));
  EXPECT_NE(other->body.find("<p id=count>0</p>"), std::string::npos);
  EXPECT_EQ(other->body.find("Quarterly report"), std::string::npos);
}

}  // namespace
}  // namespace portal_test
#endif
