// Pages through HTTP: sign-in and sign-out, which component method each page
// calls with what, how the portal answers what the component did, and the
// portal's own pages (folders, files, errors, static assets).
#include "tests/portal/PortalFixture.h"

#include "portal/Util.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

class PagesTest : public PortalFixture {};

const std::string kGuid = "{00000000-0000-0000-0000-000000000001}";

TEST_F(PagesTest, SignInSetsAnHttpOnlyStrictCookieAndSignOutEndsTheSession) {
  auto r = Client().Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}}, httplib::Params{{"UserName", "alice"}, {"Password", "alice-secret"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(r->get_header_value("Location"), "/HalvornSLV/Inbox.asp");
  std::string cookie = r->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  auto value = cookie.substr(cookie.find('=') + 1, cookie.find(';') - cookie.find('=') - 1);
  EXPECT_EQ(value.size(), 32u);  // 128 random bits in hex

  cookie = cookie.substr(0, cookie.find(';'));
  auto inbox = Get("Inbox.asp", cookie);
  ASSERT_TRUE(inbox);
  EXPECT_EQ(inbox->status, 200);
  EXPECT_NE(inbox->body.find("/HalvornSLV/Inc/Stylesheet.css"), std::string::npos);
  EXPECT_NE(inbox->body.find("/HalvornSLV/Inc/Inbox.js"), std::string::npos);

  auto out = Get("Logout.asp", cookie);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->status, 302);
  EXPECT_EQ(out->get_header_value("Location"), "/HalvornSLV/Login.asp");
  EXPECT_NE(out->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(Get("Inbox.asp", cookie)->status, 302);
}

// (A cookie naming no session: SecurityTest.SigningInEndsTheSessionTheBrowserAlreadyHad.)
TEST_F(PagesTest, PagesWithoutSessionSendTheBrowserToSignIn) {
  for (const char* page : {"/HalvornSLV/Inbox.asp", "/HalvornSLV/ViewInboxMessage.asp", "/HalvornSLV/ComposeMessage.asp",
                           "/HalvornSLV/DoAttachments.asp", "/HalvornSLV/InboxFolders.asp"}) {
    auto r = Client().Get(page, With(""));
    ASSERT_TRUE(r) << page;
    EXPECT_EQ(r->status, 302) << page;
    EXPECT_EQ(r->get_header_value("Location"), "/HalvornSLV/Login.asp") << page;
  }
  EXPECT_TRUE(RecordingInbox::Calls().empty());
}

TEST_F(PagesTest, PageNamesMatchWithoutRegardToCase) {
  auto cookie = SignIn("alice", "alice-secret");
  for (const char* page : {"/halvornslv/inbox.asp", "/HALVORNSLV/INBOX.ASP", "/HalvornSLV/SendOk.asp?Success=true",
                           "/HalvornSLV/SendOK.asp?Success=true", "/HalvornSLV/Gifs/Previous.gif",
                           "/HalvornSLV/gifs/replyToAll.gif"}) {
    auto r = Client().Get(page, With(cookie));
    ASSERT_TRUE(r) << page;
    EXPECT_EQ(r->status, 200) << page;
  }
  EXPECT_EQ(Get("NoSuchPage.asp", cookie)->status, 404);
}

// Each page calls its component method once, with the arguments, query and
// language of the request, and shows what the method wrote. (That the posted
// form reaches the component, the real module's compose tests show.)
struct Route {
  const char* what;
  std::string method, target, form;  // form: posted when not empty
  httplib::Headers headers;
  std::string called;
  std::vector<std::string> args;
};

void PrintTo(const Route& r, std::ostream* os) { *os << r.what; }

class RoutesTest : public PortalFixture, public ::testing::WithParamInterface<Route> {};

TEST_P(RoutesTest, PageCallsItsMethodWithTheRequest) {
  const Route& c = GetParam();
  auto cookie = SignIn("alice", "alice-secret");
  // Attachment lists come from the session.
  if (c.called == "ListAttachments") portal_->Store().Put(cookie.substr(cookie.find('=') + 1), {{"FileID", "a;b"}});
  auto r = c.method == "GET" ? Get(c.target, cookie, c.headers) : Post(c.target, cookie, c.form, c.headers);
  ASSERT_TRUE(r);
  auto calls = RecordingInbox::Calls();
  ASSERT_EQ(calls.size(), 1u);
  const auto& call = calls[0];
  EXPECT_EQ(call.method, c.called);
  auto args = c.args;
  for (auto& a : args)
    if (a == "MASTER") a = Vars(cookie)["_master"];
  EXPECT_EQ(call.args, args);
  EXPECT_EQ(call.user, "alice");
  auto q = c.target.find('?');
  EXPECT_EQ(call.query, q == std::string::npos ? "" : c.target.substr(q + 1));
  EXPECT_EQ(call.language, c.headers.count("Accept-Language") ? c.headers.find("Accept-Language")->second : "");
  if (c.called != "GetAttachment2") {
    EXPECT_EQ(r->status, 200);
    EXPECT_NE(r->body.find(Marker(call)), std::string::npos) << r->body;
  }
}

const std::string kFolder = portal::EncodeUrlSafe("Projects/Q3");

INSTANTIATE_TEST_SUITE_P(Pages, RoutesTest, ::testing::Values(
    Route{"listing", "GET", "Inbox.asp?Folder=" + kFolder, "", {{"Accept-Language", "fr-ch,en;q=0.5"}},
          "DisplayMessagesEx", {""}},
    Route{"search", "POST", "Inbox.asp", "SearchText=budget&SearchType=2", {}, "DisplayMessagesEx", {""}},
    Route{"view", "GET", "ViewInboxMessage.asp?Guid=" + kGuid, "", {}, "ViewMessageEx", {"en"}},
    Route{"view in French", "GET", "ViewInboxMessage.asp?Guid=" + kGuid, "", {{"Accept-Language", "fr"}},
          "ViewMessageEx", {"fr"}},
    Route{"compose", "POST", "ComposeMessage.asp", "IsCompose=true&MessageText=Hello", {},
          "ComposeMessage", {}},
    Route{"delete", "GET", "DeleteMessage.asp?Guid=" + kGuid + "&Folder=UHJvamVjdHM-", "", {},
          "DeleteMessage", {kGuid}},
    Route{"meeting", "GET", "MeetingResponse.asp?Type=AcceptMeeting&Guid=" + kGuid, "", {},
          "MeetingResponse", {}},
    Route{"attachment list", "GET", "DoAttachments.asp", "", {}, "ListAttachments", {"a;b"}},
    Route{"attachment", "GET", "GetAttachment.asp?Guid=" + kGuid + "&AttachID=2&Name=a.pdf", "", {},
          "GetAttachment2", {"MASTER", kGuid, "2"}}));

// What the component did, as the browser gets it.
TEST_F(PagesTest, ComponentResultsBecomeHttpAnswers) {
  auto cookie = SignIn("alice", "alice-secret");
  struct Case {
    const char* what;
    std::string method, target;
    RecordingInbox::Script script;
    int status;
    std::string header, value, body;
  } cases[] = {
      {"a redirect", "DeleteMessage", "DeleteMessage.asp?Guid=" + kGuid,
       [](InboxCall&) { RedirectTo(u"Inbox.asp?Folder=UHJvamVjdHM-"); return S_OK; }, 302, "Location",
       "Inbox.asp?Folder=UHJvamVjdHM-", ""},
      {"a failure naming no message", "ViewMessageEx", "ViewInboxMessage.asp?Guid=not-a-guid",
       [](InboxCall&) { return E_FAIL; }, 404, "", "", "could not be found"},
      {"any other failure", "ViewMessageEx", "ViewInboxMessage.asp?Guid=" + kGuid,
       [](InboxCall&) { return E_OUTOFMEMORY; }, 500, "", "", "0x8007000E"},
      {"attachment bytes", "GetAttachment2", "GetAttachment.asp?Guid=" + kGuid + "&AttachID=2&Name=a\".pdf",
       [](InboxCall& c) { AttachmentBytes(c, std::string("AT\0TACHED", 9)); return S_OK; }, 200,
       "Content-Disposition", "attachment; filename=\"a_.pdf\"", std::string("AT\0TACHED", 9)},
      {"no attachment", "GetAttachment2", "GetAttachment.asp?Guid=" + kGuid + "&AttachID=2", nullptr, 404, "", "",
       "could not be found"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingInbox::On(c.method, c.script);
    auto r = Get(c.target, cookie);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
    EXPECT_EQ(r->get_header_value(c.header.c_str()), c.value);
    EXPECT_NE(r->body.find(c.body), std::string::npos) << r->body;
  }
}

// The portal's own pages and answers.
TEST_F(PagesTest, PortalPagesSayWhatHappened) {
  auto cookie = SignIn("alice", "alice-secret");
  struct Case {
    std::string page;
    int status;
    std::string type, text;
  } cases[] = {
      {"SendOK.asp?Success=true", 200, "text/html", "Your message was sent."},
      {"SendOk.asp?Success=false", 200, "text/html", "could not be sent"},
      {"MyFiles.asp?StaticTree=true", 200, "text/html", "id='FilesNotConfigured'"},
      {"NoAccess.htm", 200, "text/html", "You have not been granted access to web-based email."},
      {"gifs/pendrellogo.gif", 200, "image/gif", ""},
      {"Inc/Stylesheet.css", 200, "text/css", ""},
      // A type icon carries the name the component asks for and its real type.
      {"gifs/Text_Document.jpg", 200, "image/gif", ""},
  };
  for (const auto& c : cases) {
    auto r = Get(c.page, cookie);
    ASSERT_TRUE(r) << c.page;
    EXPECT_EQ(r->status, c.status) << c.page;
    EXPECT_EQ(r->get_header_value("Content-Type").rfind(c.type, 0), 0u) << c.page;
    EXPECT_NE(r->body.find(c.text), std::string::npos) << c.page;
  }
  EXPECT_TRUE(RecordingInbox::Calls().empty());
  // Error pages are complete, with single percent signs.
  auto error = Client().Get("/HalvornSLV/NoAccess.htm");
  EXPECT_NE(error->body.find("width=\"100%\""), std::string::npos);
  EXPECT_EQ(error->body.find("%%"), std::string::npos);
  EXPECT_NE(error->body.find("Solvance Web Proxy - Error."), std::string::npos);
}

TEST_F(PagesTest, OutputModeFollowsTheChoiceOrTheBrowser) {
  // The portal's own navigation shows in full output only; reduced pages
  // carry the component's navigation bar instead.
  auto nav = [&](const std::string& cookie) {
    return Get("Inbox.asp", cookie)->body.find("class=\"PortalNav\"") != std::string::npos;
  };
  EXPECT_TRUE(nav(SignIn("alice", "alice-secret", "full")));
  EXPECT_FALSE(nav(SignIn("alice", "alice-secret", "reduced")));
  httplib::Headers phone{{"User-Agent", "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0) Mobile/15E148"},
                         {"Sec-Fetch-Site", "same-origin"}};
  auto r = Client().Post("/HalvornSLV/Login.asp", phone, "UserName=alice&Password=alice-secret",
                         "application/x-www-form-urlencoded");
  auto cookie = r->get_header_value("Set-Cookie");
  EXPECT_FALSE(nav(cookie.substr(0, cookie.find(';'))));
}

// An upload is stored for the user and named to the compose page; the list
// the component keeps in the session reaches the list and remove calls, and
// what remove answers becomes the new list.
TEST_F(PagesTest, UploadAttachListAndRemove) {
  auto cookie = SignIn("alice", "alice-secret");
  httplib::MultipartFormDataItems items{{"File", "quarterly numbers", "Report.doc", "application/msword"}};
  auto up = Client().Post("/HalvornSLV/DoAttachments.asp", With(cookie, {{"Origin", Origin()}}), items);
  ASSERT_TRUE(up);
  ASSERT_EQ(up->status, 302);
  std::string location = up->get_header_value("Location");
  ASSERT_EQ(location.rfind("ComposeMessage.asp?UploadID=", 0), 0u);
  std::string ref = location.substr(location.find('=') + 1);
  // "UPLOADID" and the store's identifier, as the compose page takes it (SecurityTest).
  EXPECT_TRUE(fs::exists(dir_ / "users" / "alice" / "uploads" / portal::DecodeUrlSafe(ref).substr(8, 32)));

  RecordingInbox::On("ComposeMessage", [](InboxCall&) {
    VPutSessionVariable(u"FileID", VGetQueryStringVar(u"UploadID"));
    return S_OK;
  });
  RecordingInbox::On("RemoveAttachment", [](InboxCall& c) {
    *c.out = SysAllocString(u"");
    return S_OK;
  });
  EXPECT_EQ(Get(location, cookie)->status, 200);
  Get("DoAttachments.asp", cookie);
  auto remove = Post("DoAttachments.asp", cookie, "Attachment=" + ref + "&Remove=Remove", {{"Origin", Origin()}});
  EXPECT_EQ(remove->status, 302);
  Get("DoAttachments.asp", cookie);
  auto calls = RecordingInbox::Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1].method + calls[1].args[0], "ListAttachments" + ref);
  EXPECT_EQ(calls[2].args, (std::vector<std::string>{ref, ref}));
  EXPECT_EQ(calls[3].method + calls[3].args[0], "ListAttachments");
}

TEST_F(PagesTest, ActivationOffersOpenOrDownloadAndServesBoth) {
  auto cookie = SignIn("alice", "alice-secret");
  RecordingInbox::On("ViewMessageEx", OfferFile);
  fs::path file = dir_ / "users" / "alice" / "attachments" / "m1" / "notes.txt";
  portal::WriteFile(file, "remember the milk\n");
  std::string base = "ViewInboxMessage.asp?ComponentID=2&FileName=" + portal::EncodeUrlSafe(file.string());
  auto choice = Get(base + "&Options=3", cookie);
  ASSERT_TRUE(choice);
  EXPECT_NE(choice->body.find("Options=1"), std::string::npos);
  EXPECT_NE(choice->body.find("Options=2"), std::string::npos);
  // The opened bytes: ModuleTest.ListingAndMessageViewComeFromTheComponent.
  auto open = Get(base + "&Options=1", cookie);
  EXPECT_EQ(open->get_header_value("Content-Disposition").rfind("inline", 0), 0u);
  auto download = Get(base + "&Options=2", cookie);
  EXPECT_EQ(download->get_header_value("Content-Disposition").rfind("attachment", 0), 0u);
  EXPECT_EQ(download->get_header_value("Content-Type"), "application/octet-stream");
}

}  // namespace
}  // namespace portal_test
