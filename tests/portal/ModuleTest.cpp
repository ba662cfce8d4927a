// The portal hosting the real component module over the demo mailbox: the
// module registers at start and each page creates it by ProgID. Messages are
// found through the mail library the way the component finds them.
#include "portal/Demo.h"
#include "portal/Util.h"
#include "tests/portal/PortalFixture.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

class ModuleTest : public PortalFixture {
 protected:
  std::string ExtraConfig() override { return "[user carol]\nwebmail = deny\n[mail]\nmax_attachment_bytes = 4096\n"; }
  bool RealModule() override { return true; }
  void AddUsers() override {
    demo_ = portal::CreateDemo(dir_, portal_->Users(), "example.org");
    portal_->Users().Add("carol", "carol-secret", {}, "example.org");
    portal_->Users().Add("dave", "dave-secret", {}, "example.org");
  }
  std::string FindMessage(const std::string& subject) { return portal_test::FindMessage(*portal_, "demo", subject); }

  portal::DemoUser demo_;
};

TEST_F(ModuleTest, DeleteRemovesTheMessageAndReturnsToTheListing) {
  auto cookie = SignIn("demo", demo_.password);
  std::string page = "DeleteMessage.asp?Guid=" + FindMessage("Coffee machine fixed") + "&Folder=";
  auto r = Get(page, cookie);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(r->get_header_value("Location"), "Inbox.asp?Folder=");
  EXPECT_TRUE(FindMessage("Coffee machine fixed").empty());
  auto again = Get(page, cookie);
  EXPECT_EQ(again->status, 404);
  EXPECT_NE(again->body.find("The message could not be deleted."), std::string::npos);
}

// Stale links answer 404 with a page that names what is gone and leads back;
// other failures of the store stay server errors.
TEST_F(ModuleTest, WhatIsGoneIsNotFoundAndFaultsStayServerErrors) {
  auto cookie = SignIn("demo", demo_.password);
  const std::string gone = "{00000000-0000-0000-0000-000000000009}";
  const std::string nope = portal::EncodeUrlSafe("Nope<b>");
  const std::string projects = portal::EncodeUrlSafe("Projects");
  struct Case {
    std::string url;
    int status;
    const char* says;
    std::string back;
  } cases[] = {
      {"Inbox.asp?Folder=" + nope, 404, "There is no folder \"Nope&lt;b&gt;\"", "href=\"InboxFolders.asp"},
      {"ViewInboxMessage.asp?Folder=" + nope + "&Guid=" + gone, 404, "There is no folder", "href=\"Inbox.asp\""},
      {"ViewInboxMessage.asp?Folder=" + projects + "&Guid=" + gone, 404,
       "This message is no longer in the folder \"Projects\"", "href=\"Inbox.asp?Folder=" + projects + "\""},
      {"MeetingResponse.asp?Type=AcceptMeeting&Folder=&Guid=" + gone, 404, "no longer in the folder \"Inbox\"",
       "href=\"Inbox.asp?Folder=\""},
      // The store refuses this name (E_INVALIDARG): a failure, not a missing folder.
      {"Inbox.asp?Folder=" + portal::EncodeUrlSafe("a/../b"), 500, "", ""},
  };
  for (const auto& c : cases) {
    auto r = Get(c.url, cookie);
    ASSERT_TRUE(r) << c.url;
    EXPECT_EQ(r->status, c.status) << c.url;
    EXPECT_NE(r->body.find(c.says), std::string::npos) << c.url;
    EXPECT_NE(r->body.find(c.back), std::string::npos) << c.url;
  }
}

TEST_F(ModuleTest, AcceptingTheMeetingRequestAnswersAndRemovesIt) {
  auto cookie = SignIn("demo", demo_.password);
  std::string guid = FindMessage("Planning meeting");
  ASSERT_FALSE(guid.empty());
  EXPECT_EQ(Get("MeetingResponse.asp?Type=AcceptMeeting&Guid=" + guid + "&Folder=", cookie)->status, 302);
  EXPECT_TRUE(FindMessage("Planning meeting").empty());
  // Without a relay the answer to the outside organiser waits in the outbox.
  int kept = 0;
  for (const char* sub : {"new", "cur"})
    for (const auto& e : fs::directory_iterator(dir_ / "outbox" / sub)) {
      std::string raw;
      portal::ReadFile(e.path(), raw);
      if (raw.find("hana@example.jp") != std::string::npos && raw.find("METHOD:REPLY") != std::string::npos) ++kept;
    }
  EXPECT_EQ(kept, 1);
}

TEST_F(ModuleTest, ListingAndMessageViewComeFromTheComponent) {
  auto cookie = SignIn("demo", demo_.password);
  auto inbox = Get("Inbox.asp", cookie);
  ASSERT_TRUE(inbox);
  EXPECT_EQ(inbox->status, 200);
  for (const char* text : {"Quarterly report with attachments", "class='InboxUnread'", "onclick='selectItem(this,"})
    EXPECT_NE(inbox->body.find(text), std::string::npos) << text;
  // Another user's listing shows none of it.
  auto other = Get("Inbox.asp", SignIn("dave", "dave-secret"));
  EXPECT_EQ(other->status, 200);
  EXPECT_EQ(other->body.find("Quarterly report"), std::string::npos);

  std::string guid = FindMessage("Quarterly report with attachments");
  auto view = Get("ViewInboxMessage.asp?Guid=" + guid + "&TI=0&Folder=&Store=", cookie);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->status, 200);
  // The attachment links go through the activation path to files in the
  // user's attachment cache.
  const std::string anchor = "<a class='WEBFILEBROWSER' href='ViewInboxMessage.asp?";
  auto name = view->body.find("figures.csv</a>");
  auto at = view->body.rfind(anchor, name);
  ASSERT_NE(at, std::string::npos);
  std::string query = view->body.substr(at + anchor.size(), view->body.find('\'', at + anchor.size()) - at - anchor.size());
  for (std::size_t p; (p = query.find("&amp;")) != std::string::npos;) query.replace(p, 5, "&");
  auto open = Get("ViewInboxMessage.asp?" + query.substr(0, query.find("&Options=")) + "&Options=1&ComponentID=2", cookie);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->status, 200);
  EXPECT_EQ(open->body, "quarter,revenue\r\nQ1,120\r\nQ2,135\r\nQ3,150\r\n");
}

TEST_F(ModuleTest, ComposeKeepsTheDraftAndSendsIt) {
  auto cookie = SignIn("demo", demo_.password);
  auto send = Post("ComposeMessage.asp", cookie,
                   "IsCompose=true&TTo=demo%40example.org&TCC=&TBCC=&Subject=Loopback+note&MessageText=Hello+me&Send=Send");
  ASSERT_TRUE(send);
  EXPECT_EQ(send->status, 302);
  EXPECT_EQ(send->get_header_value("Location"), "SendOK.asp?Success=true");
  EXPECT_FALSE(FindMessage("Loopback note").empty());
  // A local address without a mailbox is no name to resolve: the send fails
  // as it is, without the name-resolution page and with the lines as typed.
  auto unreachable = Post("ComposeMessage.asp", cookie,
                          "IsCompose=true&TTo=Bruno+Ferreira%3B+nobody%40example.org&Subject=Unreachable&MessageText=x&Send=Send");
  ASSERT_TRUE(unreachable);
  EXPECT_EQ(unreachable->status, 302);
  EXPECT_EQ(unreachable->get_header_value("Location"), "SendOk.asp?Success=false");
  EXPECT_NE(Get("ComposeMessage.asp", cookie)->body.find("value=\"Bruno Ferreira; nobody@example.org\""), std::string::npos);
}

// Personal contacts match as typed ("o'brien", "smith & co") on the
// resolution page and in the picker, and a contact's markup never reaches
// either page; a user without any contacts file still gets both pages.
TEST_F(ModuleTest, ContactsMatchAsTypedWithoutMarkupAndMayBeMissing) {
  portal::WriteFile(portal_->Users().Find("demo")->Contacts(),
                    "BEGIN:VCARD\r\nFN:Niamh O'Brien\r\nEMAIL:niamh@example.ie\r\nEND:VCARD\r\n"
                    "BEGIN:VCARD\r\nFN:Smith & Co\r\nEMAIL:sales@smith.example\r\nEND:VCARD\r\n"
                    "BEGIN:VCARD\r\nFN:<img src=x onerror=go()>x' onfocus='go()\r\nEND:VCARD\r\n");
  fs::remove(portal_->Users().Find("dave")->Contacts());
  const std::string checkNames = "IsCompose=true&TTo=o%27brien%3B+smith+%26+co&Subject=&MessageText=&Check+Names=Check+Names";
  const std::string picker = "IsCompose=true&TTo=&ContactSource=0&To=To";
  struct Case {
    const char* user;
    std::string password, post;
    std::vector<std::string> present;
  } cases[] = {
      {"demo", demo_.password, checkNames,
       {"<option value='niamh@example.ie'>Niamh O'Brien</option>", "<option selected value='sales@smith.example'>Smith & Co"}},
      {"demo", demo_.password, picker,
       {"<option value='niamh@example.ie'>Niamh O'Brien</option>", "&lt;img src=x onerror=go()&gt;x&#39; onfocus=&#39;go()"}},
      {"dave", "dave-secret", checkNames, {"name='To:o'brien'", "<select"}},
      {"dave", "dave-secret", picker, {"name=Contacts"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.user) + " " + c.post);
    auto r = Post("ComposeMessage.asp", SignIn(c.user, c.password), c.post);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    for (const auto& text : c.present) EXPECT_NE(r->body.find(text), std::string::npos) << text;
    EXPECT_EQ(r->body.find("<img src=x"), std::string::npos);
    EXPECT_EQ(r->body.find("' onfocus"), std::string::npos);
  }
  std::string reports;
  portal::ReadFile(dir_ / "logs" / "reports.log", reports);
  EXPECT_EQ(reports.find("Contacts"), std::string::npos) << reports;
}

// Typed parts of names, matched on the recipients page; the choices go
// through UpdateResolvedContacts back into the message.
TEST_F(ModuleTest, RecipientsPageCarriesChosenEntriesIntoTheMessage) {
  auto cookie = SignIn("demo", demo_.password);
  auto form = Get("ComposeMessage.asp?Type=NewMsg", cookie);
  EXPECT_NE(form->body.find("form=\"compose\" name=\"ReviewRecipients\""), std::string::npos);
  auto review = Post("ComposeMessage.asp", cookie,
                     "IsCompose=true&TTo=ferr%3B+nobody+here%3B+demo%40example.org&TCC=hana&Subject=Chosen"
                     "&MessageText=Hi&ReviewRecipients=1");
  ASSERT_TRUE(review);
  EXPECT_EQ(review->status, 302);
  EXPECT_EQ(review->get_header_value("Location"), "Recipients.asp");
  auto page = Get("Recipients.asp", cookie);
  ASSERT_EQ(page->status, 200);
  // How the page shows each entry, the recipients page's own tests check.
  for (const char* text : {"name=\"To.RCount\" value=\"3\"", "name=\"Cc.RSelectName0\""})
    EXPECT_NE(page->body.find(text), std::string::npos) << text;

  EXPECT_EQ(Post("Recipients.asp", cookie, "To.RCount=1&To.RName0=x&To.RState0=1&To.RSelectName0=%3Cb%3E")->status, 400);
  auto chosen = Post("Recipients.asp", cookie,
                     "To.RCount=3&To.RName0=ferr&To.RState0=1&To.RSelectName0=bruno%40example.net"
                     "&To.RName1=nobody+here&To.RState1=2&To.RName2=demo%40example.org&To.RState2=-1"
                     "&Cc.RCount=1&Cc.RName0=hana&Cc.RState0=1&Cc.RSelectName0=hana%40example.jp");
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->status, 302);
  EXPECT_EQ(chosen->get_header_value("Location"), "ComposeMessage.asp");
  auto back = Get("ComposeMessage.asp", cookie);
  for (const char* text : {"name=TTo id=TTo value=\"bruno@example.net; demo@example.org\"",
                           "name=TCC value=\"hana@example.jp\"", "Chosen"})
    EXPECT_NE(back->body.find(text), std::string::npos) << text;
}

TEST_F(ModuleTest, PolicyRefusalFromTheModuleBecomesTheNoAccessPage) {
  auto r = Get("DeleteMessage.asp?Guid={00000000-0000-0000-0000-000000000001}", SignIn("carol", "carol-secret"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_NE(r->body.find("You have not been granted access to web-based email."), std::string::npos);
  std::string reports;
  portal::ReadFile(dir_ / "logs" / "reports.log", reports);
  EXPECT_NE(reports.find("policy-denial user=carol component=Email Interface feature=Web Email - Messages"),
            std::string::npos);
}

// The requests that once put script into the component's pages, each with
// the page it reached: the answer is refused, or the page it leads to holds
// no markup from the request.
TEST_F(ModuleTest, RequestValuesNeverBecomeMarkup) {
  auto cookie = SignIn("demo", demo_.password);
  // A directory entry whose name is markup.
  std::string vcf;
  fs::path contacts = dir_ / "users" / "demo" / "contacts.vcf";
  portal::ReadFile(contacts, vcf);
  portal::WriteFile(contacts, vcf + "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Trent \"><img src=x onerror=alert(5)>\r\n"
                               "EMAIL:trent@example.org\r\nEND:VCARD\r\n");
  std::string passwd = portal::EncodeUrlSafe("/etc/passwd");
  struct Case {
    const char* what;
    std::string method, target, body;
    int status;          // 0: any answer, as long as no markup gets through
    std::string marker;  // must not appear in the answer nor in the attachment page
  } cases[] = {
      {"repeated To", "GET", "ComposeMessage.asp?To=a@b.c&To=%22%3E%3Cscript%3Ealert(document.domain)%3C/script%3E",
       "", 400, "<script>alert(document.domain)"},
      {"repeated TTo", "POST", "ComposeMessage.asp",
       "IsCompose=true&TTo=a%40b.c&TTo=%22%3E%3Cscript%3Ealert(1)%3C/script%3E", 400, "<script>alert(1)"},
      {"dotted capital I in UploadID", "GET",
       "ComposeMessage.asp?Upload%C4%B0D=%27%3E%3Cscript%3Ealert(2)%3C/script%3E", "", 0,
       "<script>alert(2)"},
      {"Kelvin sign in a key", "GET", "ComposeMessage.asp?To=a@b.c&%E2%84%AAey=%3Cscript%3Ealert(3)%3C/script%3E",
       "", 0, "<script>alert(3)"},
      {"dotted capital I in Filename", "GET", "ComposeMessage.asp?F%C4%B0lename=" + passwd, "", 0, passwd},
      {"repeated UploadID", "GET", "ComposeMessage.asp?UploadID=&UploadID=%27%3E%3Cb%3E", "", 400, "'><b>"},
      {"picked contact", "POST", "ComposeMessage.asp",
       "IsCompose=true&Contacts=Trent+%22%3E%3Cimg+src%3Dx+onerror%3Dalert(5)%3E", 400, "<img src=x onerror=alert(5)>"},
      {"name resolution choice", "POST", "ComposeMessage.asp",
       "CHECK%3ATo=Trent&To%3ATrent=%22%3E%3Cimg+src%3Dx+onerror%3Dalert(6)%3E", 400, "<img src=x onerror=alert(6)>"},
      {"name resolution field", "POST", "ComposeMessage.asp",
       "CHECK%3ACc=%22%3E%3Cimg+src%3Dx+onerror%3Dalert(7)%3E", 400, "<img src=x onerror=alert(7)>"},
      {"contact search shows the entry encoded", "POST", "ComposeMessage.asp",
       "IsCompose=true&Search=Trent", 200, "<img src=x onerror=alert(5)>"},
  };
  for (const auto& c : cases) {
    auto r = c.method == "GET" ? Get(c.target, cookie) : Post(c.target, cookie, c.body);
    ASSERT_TRUE(r) << c.what;
    if (c.status) {
      EXPECT_EQ(r->status, c.status) << c.what;
    }
    EXPECT_EQ(r->body.find(c.marker), std::string::npos) << c.what;
    for (const char* page : {"ComposeMessage.asp", "DoAttachments.asp"})
      EXPECT_EQ(Get(page, cookie)->body.find(c.marker), std::string::npos) << c.what << " " << page;
  }
  // A picked entry with markup is refused with a word that names it.
  auto picked = Post("ComposeMessage.asp", cookie, "IsCompose=true&Contacts=Trent+%22%3E%3Cimg+src%3Dx%3E");
  EXPECT_NE(picked->body.find("The address book entry &quot;Trent &quot;&gt;&lt;img src=x&gt;&quot; holds characters"),
            std::string::npos);
}

// What the result code of a send cannot say reaches the user: a message that
// went out without a copy in Sent, attachments over the limit (draft kept).
TEST_F(ModuleTest, SendProblemsAreToldAndTheDraftIsKept) {
  auto cookie = SignIn("demo", demo_.password);
  auto send = [&](const std::string& subject) {
    return Post("ComposeMessage.asp", cookie,
                "IsCompose=true&TTo=demo%40example.org&Subject=" + subject + "&MessageText=Body&Send=Send");
  };
  // Attachments over the limit: not sent, kept, and said so.
  auto upload = Client().Post("/HalvornSLV/DoAttachments.asp", With(cookie),
                              httplib::MultipartFormDataItems{{"File", std::string(5000, 'x'), "big.bin", "application/octet-stream"}});
  ASSERT_EQ(upload->status, 302);
  ASSERT_EQ(Get(upload->get_header_value("Location"), cookie)->status, 200);
  EXPECT_EQ(send("Too+big")->get_header_value("Location"), "SendOk.asp?Success=false");
  EXPECT_NE(Get("SendOk.asp?Success=false", cookie)->body.find(
                "its attachments add up to 4.9 KB, more than the 4.0 KB a message may carry"),
            std::string::npos);
  EXPECT_TRUE(FindMessage("Too big").empty());
  EXPECT_NE(Get("ComposeMessage.asp", cookie)->body.find("Too big"), std::string::npos);
  // A Sent folder that cannot take the copy.
  Get("SendCancel.asp", cookie);
  fs::path sent = dir_ / "users" / "demo" / "Maildir" / ".Sent";
  fs::remove_all(sent);
  portal::WriteFile(sent, "not a folder");
  EXPECT_EQ(send("No+copy")->get_header_value("Location"), "SendOK.asp?Success=true");
  EXPECT_FALSE(FindMessage("No copy").empty());
  EXPECT_NE(Get("SendOK.asp?Success=true", cookie)->body.find(
                "Your message was sent, but no copy of it could be kept in your Sent folder."),
            std::string::npos);
}

}  // namespace
}  // namespace portal_test
