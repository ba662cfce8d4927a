// The portal's security checks through HTTP: other origins, values the
// component would echo, cross-user access, path traversal, sizes, the
// sandbox of the HTML-only answer and framing of the message view.
#include "tests/portal/PortalFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "portal/Uploads.h"
#include "portal/Util.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

class SecurityTest : public PortalFixture {
 protected:
  std::string ExtraConfig() override {
    return "[portal]\nmax_request_bytes = 65536\nmax_upload_bytes = 4096\nupload_quota_bytes = 6000\n[files]\nroot = " +
           (dir_ / "share").string() + "\n";
  }
  void SetUp() override {
    PortalFixture::SetUp();
    portal::WriteFile(dir_ / "share" / "doc.txt", "shared document\n");
    portal::WriteFile(dir_ / "secret.txt", "not for the web\n");
  }
};

TEST_F(SecurityTest, StateChangingRequestsFromOtherSitesAreRefused) {
  auto cookie = SignIn("alice", "alice-secret");
  std::string guid = "{00000000-0000-0000-0000-000000000001}";
  auto upload = portal::UploadStore::Save(dir_ / "users" / "alice" / "uploads", "mine.txt", "mine");
  ASSERT_TRUE(upload);
  std::string uploadRef = portal::EncodeUrlSafe("UPLOADID" + *upload);
  struct Case {
    const char* what;
    httplib::Headers headers;
  } cases[] = {
      {"Origin", {{"Origin", "http://evil.example"}}},
      {"null Origin", {{"Origin", "null"}}},
      {"Origin that only begins like this site's", {{"Origin", Origin() + ".evil.example"}}},
      {"Sec-Fetch-Site", {{"Sec-Fetch-Site", "cross-site"}}},
      {"same-site is not same-origin", {{"Sec-Fetch-Site", "same-site"}}},
      {"Referer", {{"Referer", "http://evil.example/page.html"}}},
      {"one header of this site, one of another", {{"Sec-Fetch-Site", "same-origin"}, {"Referer", "http://evil.example/"}}},
      {"none of the three", {}},
  };
  // The compose page writes the draft and the attachment list even from a GET.
  const std::string gets[] = {"DeleteMessage.asp?Guid=" + guid, "MeetingResponse.asp?Type=AcceptMeeting&Guid=" + guid,
                              "ComposeMessage.asp?To=planted@example.org", "ComposeMessage.asp?UploadID=" + uploadRef,
                              "ComposeMessage.asp?Type=Fwd&Guid=" + guid, "SendCancel.asp", "Logout.asp"};
  for (const auto& c : cases) {
    httplib::Headers h = c.headers;
    h.emplace("Cookie", cookie);
    for (const auto& page : gets) EXPECT_EQ(Client().Get(("/HalvornSLV/" + page).c_str(), h)->status, 403) << c.what << " " << page;
    EXPECT_EQ(Client().Post("/HalvornSLV/ComposeMessage.asp", h, "IsCompose=true&MessageText=planted",
                            "application/x-www-form-urlencoded")->status, 403) << c.what;
    EXPECT_EQ(Client().Post("/HalvornSLV/DoAttachments.asp", h,
                            httplib::MultipartFormDataItems{{"File", "x", "x.txt", "text/plain"}})->status, 403) << c.what;
    EXPECT_EQ(Client().Post("/HalvornSLV/Login.asp", c.headers, "UserName=alice&Password=alice-secret",
                            "application/x-www-form-urlencoded")->status, 403) << c.what;
  }
  // Nothing reached the component, nothing was stored, the session is open.
  EXPECT_TRUE(RecordingInbox::Calls().empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "users" / "alice" / "uploads"), fs::directory_iterator()), 1);
  // The same requests from this site go through.
  EXPECT_EQ(Get("DeleteMessage.asp?Guid=" + guid, cookie, {{"Sec-Fetch-Site", "same-origin"},
                                                           {"Referer", Origin() + "/HalvornSLV/Inbox.asp"}})->status, 200);
  EXPECT_EQ(Post("ComposeMessage.asp", cookie, "IsCompose=true&MessageText=mine", {{"Origin", Origin()}})->status, 200);
}

TEST_F(SecurityTest, ComposeRefusesRecipientsThatCouldBreakTheMarkup) {
  auto cookie = SignIn("alice", "alice-secret");
  for (const char* to : {"a%3Cb@example.org", "a%3Eb@example.org", "x%22onmouseover%3D1", "a%0Ab@example.org",
                         "a%09b@example.org"})
    EXPECT_EQ(Get(std::string("ComposeMessage.asp?To=") + to, cookie)->status, 400) << to;
  EXPECT_EQ(Post("ComposeMessage.asp", cookie, "IsCompose=true&TTo=%22%3E%3Cscript%3E")->status, 400);
  EXPECT_TRUE(RecordingInbox::Calls().empty());
  EXPECT_EQ(Get("ComposeMessage.asp?To=o'brien@example.org", cookie)->status, 200);
  ASSERT_EQ(RecordingInbox::Calls().size(), 1u);
  EXPECT_EQ(RecordingInbox::Calls()[0].query, "To=o%27brien@example.org");
}

TEST_F(SecurityTest, ComposeAcceptsOnlyThisUsersUploadsAndFiles) {
  auto alice = SignIn("alice", "alice-secret");
  auto bobId = portal::UploadStore::Save(dir_ / "users" / "bob" / "uploads", "bob.txt", "bob's");
  auto aliceId = portal::UploadStore::Save(dir_ / "users" / "alice" / "uploads", "mine.txt", "mine");
  ASSERT_TRUE(bobId && aliceId);
  auto ref = [](const std::string& id) { return portal::EncodeUrlSafe("UPLOADID" + id); };
  auto file = [&](const fs::path& p) { return "Filename=" + portal::EncodeUrlSafe(p.string()); };
  struct Case {
    std::string query;
    int status;
  } cases[] = {
      {"UploadID=" + ref(*aliceId), 200},
      {"UploadID=" + ref(*bobId), 400},                               // another user's upload
      {"UploadID=abc%2Bdef", 400},                                    // outside the URL-safe alphabet
      {"UploadID=" + portal::EncodeUrlSafe("UPLOADIDffff|x"), 400},  // no such upload
      {"UploadID=" + portal::EncodeUrlSafe("/etc/passwd"), 400},
      {file(dir_ / "share" / "doc.txt"), 200},
      {file(dir_ / "secret.txt"), 400},
      {file(dir_ / "share" / ".." / "secret.txt"), 400},
      {file(dir_ / "users" / "bob" / "account.ini"), 400},
  };
  for (const auto& c : cases) EXPECT_EQ(Get("ComposeMessage.asp?" + c.query, alice)->status, c.status) << c.query;
}

// An attachment the user may no longer send is named and taken off before
// the post reaches the component; the posted draft stays.
TEST_F(SecurityTest, AnAttachmentGoneBeforeSendingIsNamedAndTheDraftKept) {
  auto alice = SignIn("alice", "alice-secret");
  fs::path store = dir_ / "users" / "alice" / "uploads";
  auto id = portal::UploadStore::Save(store, "notes.txt", "notes");
  ASSERT_TRUE(id);
  portal_->Store().Put(alice.substr(alice.find('=') + 1), {{"FileID", portal::EncodeUrlSafe("UPLOADID" + *id)}});
  fs::remove(*portal::UploadStore::Resolve(store, *id));
  auto send = Post("ComposeMessage.asp", alice, "IsCompose=true&TTo=bob%40example.org&MessageText=kept+text&Send=Send");
  EXPECT_EQ(send->status, 200);
  EXPECT_NE(send->body.find("The attachment \"notes.txt\" can no longer be sent"), std::string::npos);
  EXPECT_TRUE(RecordingInbox::Calls().empty());
  auto vars = Vars(alice);
  EXPECT_EQ(vars["composeBody"], "kept text");
  EXPECT_EQ(vars["Halvorn.Slv.composeTo"], "bob@example.org");
  EXPECT_EQ(vars["FileID"], "");
}

TEST_F(SecurityTest, ActivationServesOnlyFilesInsideTheUsersRoots) {
  auto alice = SignIn("alice", "alice-secret");
  RecordingInbox::On("ViewMessageEx", OfferFile);
  fs::path mine = dir_ / "users" / "alice" / "attachments", bobs = dir_ / "users" / "bob" / "attachments";
  portal::WriteFile(bobs / "b.txt", "bob's attachment");
  portal::WriteFile(mine / "a.txt", "alice's attachment");
  // A symbolic link out of the roots does not help.
  fs::create_symlink(dir_ / "secret.txt", mine / "link.txt");
  const std::pair<fs::path, int> cases[] = {
      {mine / "a.txt", 200}, {dir_ / "share" / "doc.txt", 200}, {bobs / "b.txt", 403},
      {mine / ".." / ".." / "bob" / "attachments" / "b.txt", 403}, {"/etc/passwd", 403},
      {dir_ / "secret.txt", 403}, {mine / "link.txt", 403}};
  for (const auto& [file, status] : cases)
    EXPECT_EQ(Get("ViewInboxMessage.asp?ComponentID=2&Options=1&FileName=" + portal::EncodeUrlSafe(file.string()), alice)->status,
              status) << file;
}

TEST_F(SecurityTest, FileBrowserStaysInsideTheConfiguredRoots) {
  auto alice = SignIn("alice", "alice-secret");
  auto folder = [&](const fs::path& p) { return Get("Folder.asp?LFE=false&Folder=" + portal::EncodeUrlSafe(p.string()), alice); };
  auto root = folder(dir_ / "share");
  EXPECT_EQ(root->status, 200);
  EXPECT_NE(root->body.find("doc.txt"), std::string::npos);
  for (const fs::path& p : {dir_, dir_ / "share" / "..", fs::path("/etc")}) EXPECT_EQ(folder(p)->status, 403) << p;
  EXPECT_EQ(Client().Get("/HalvornSLV/Inc/../../../../etc/passwd")->status, 404);
}

TEST_F(SecurityTest, OversizedRequestsAndUploadsGet413) {
  auto alice = SignIn("alice", "alice-secret");
  EXPECT_EQ(Post("ComposeMessage.asp", alice, "IsCompose=true&MessageText=" + std::string(70000, 'x'))->status, 413);
  auto upload = [&](const std::string& bytes) {
    return Client().Post("/HalvornSLV/DoAttachments.asp", With(alice, {{"Origin", Origin()}}),
                         httplib::MultipartFormDataItems{{"File", bytes, "f.bin", "application/octet-stream"}});
  };
  auto big = upload(std::string(5000, 'y'));
  EXPECT_EQ(big->status, 413);
  EXPECT_NE(big->body.find("larger than uploads may be"), std::string::npos);
  // The user's quota: two files of 3000 bytes fit, a third does not.
  EXPECT_EQ(upload(std::string(3000, 'a'))->status, 302);
  EXPECT_EQ(upload(std::string(3000, 'b'))->status, 302);
  auto over = upload(std::string(3000, 'c'));
  EXPECT_EQ(over->status, 413);
  EXPECT_NE(over->body.find("over their limit"), std::string::npos);
}

TEST_F(SecurityTest, HtmlOnlyAnswerIsSandboxedAndTheViewCannotBeFramedByOthers) {
  auto alice = SignIn("alice", "alice-secret");
  auto view = Get("ViewInboxMessage.asp?Guid=bad", alice);
  EXPECT_EQ(view->get_header_value("X-Frame-Options"), "SAMEORIGIN");
  EXPECT_NE(view->get_header_value("Content-Security-Policy").find("frame-ancestors 'self'"), std::string::npos);
  auto html = Get("ViewInboxMessage.asp?DownloadHTMLOnly=1&Guid={00000000-0000-0000-0000-000000000001}", alice);
  ASSERT_TRUE(html);
  EXPECT_EQ(html->status, 200);
  std::string csp = html->get_header_value("Content-Security-Policy");
  EXPECT_EQ(csp.rfind("sandbox", 0), 0u);
  EXPECT_EQ(csp.find("allow-scripts"), std::string::npos);
  EXPECT_EQ(csp.find("allow-same-origin"), std::string::npos);
  EXPECT_NE(csp.find("frame-ancestors 'self'"), std::string::npos);
  // Only what the component wrote: no portal navigation or script around it.
  EXPECT_NE(html->body.find("<body>[ViewMessageEx en]</body>"), std::string::npos);
  EXPECT_EQ(html->body.find("Inbox.js"), std::string::npos);
}

// Remote images (tracking pixels) stay out unless the user asks, per message,
// and no Referer leaves the frame either way.
TEST_F(SecurityTest, RemoteContentOfHtmlMailIsBlockedUntilShownForThatMessage) {
  auto alice = SignIn("alice", "alice-secret");
  std::string one = "{00000000-0000-0000-0000-000000000001}", two = "{00000000-0000-0000-0000-000000000002}";
  auto csp = [&](const std::string& guid) {
    auto r = Get("ViewInboxMessage.asp?DownloadHTMLOnly=1&Guid=" + guid, alice);
    EXPECT_EQ(r->get_header_value("Referrer-Policy"), "no-referrer");
    return r->get_header_value("Content-Security-Policy");
  };
  for (const auto& guid : {one, two}) {
    std::string policy = csp(guid);
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos);
    EXPECT_NE(policy.find("img-src data: 'self';"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("http"), std::string::npos) << policy;
  }
  auto show = [&](const std::string& guid, const char* on, httplib::Headers h = {}) {
    return Post("RemoteContent.asp", alice, "Guid=" + guid + "&Show=" + on + "&Back=Guid%3D" + guid, h);
  };
  // Not from another site.
  EXPECT_EQ(show(one, "1", {{"Origin", "http://evil.example"}})->status, 403);
  EXPECT_EQ(csp(one).find("https:"), std::string::npos);
  auto shown = show(one, "1");
  EXPECT_EQ(shown->status, 302);
  EXPECT_EQ(shown->get_header_value("Location"), "ViewInboxMessage.asp?Guid=" + one);
  EXPECT_NE(csp(one).find("img-src data: 'self' https: http:"), std::string::npos);
  EXPECT_EQ(csp(two).find("https:"), std::string::npos);
  EXPECT_EQ(show(one, "0")->status, 302);
  EXPECT_EQ(csp(one).find("https:"), std::string::npos);
}

TEST_F(SecurityTest, LinkOutFollowsOnlyWebAndMailLinksWithoutReferrer) {
  auto link = [&](const std::string& url) { return Client().Get(("/HalvornSLV/LinkOut.asp?url=" + portal::EncodeUrlSafe(url)).c_str()); };
  auto ok = link("https://www.example.org/a?b=1");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(ok->get_header_value("Referrer-Policy"), "no-referrer");
  EXPECT_NE(ok->body.find("href=\"https://www.example.org/a?b=1\""), std::string::npos);
  for (const char* bad : {"javascript:alert(1)", "data:text/html,x", "JaVaScRiPt:alert(1)", "https://a\nb"})
    EXPECT_EQ(link(bad)->status, 400) << bad;
}

// A sign-in over an open session replaces it: the cookie the browser had
// before (perhaps planted by someone else) opens nothing afterwards.
TEST_F(SecurityTest, SigningInEndsTheSessionTheBrowserAlreadyHad) {
  auto before = SignIn("alice", "alice-secret");
  auto r = Post("Login.asp", before, "UserName=alice&Password=alice-secret");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 302);
  std::string after = r->get_header_value("Set-Cookie");
  after = after.substr(0, after.find(';'));
  EXPECT_NE(after, before);
  EXPECT_EQ(Get("Inbox.asp", after)->status, 200);
  auto old = Get("Inbox.asp", before);
  EXPECT_EQ(old->status, 302);
  EXPECT_EQ(old->get_header_value("Location"), "/HalvornSLV/Login.asp");
}

// Sign-in: five failures lock the account and the address out with 429 and
// Retry-After, whatever the password then; every lock-out leaves an audit
// line, and a user name cannot forge lines in the report log.
TEST_F(SecurityTest, FailedSignInsAreThrottledAndAudited) {
  auto post = [&](const std::string& body) { return Post("Login.asp", "", body); };
  EXPECT_EQ(post("UserName=eve%0A2026-01-01T00:00:00Z+forged+line&Password=x")->status, 401);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(post("UserName=alice&Password=wrong")->status, 401) << i;
  // The right password, and another account from the same address.
  for (const char* body : {"UserName=alice&Password=alice-secret", "UserName=bob&Password=bob-secret"}) {
    auto r = post(body);
    EXPECT_EQ(r->status, 429) << body;
    EXPECT_EQ(r->get_header_value("Retry-After"), "60") << body;
    EXPECT_FALSE(r->has_header("Set-Cookie")) << body;
  }
  std::string reports;
  portal::ReadFile(dir_ / "logs" / "reports.log", reports);
  EXPECT_NE(reports.find("sign-in locked address 127.0.0.1 seconds=60"), std::string::npos);
  EXPECT_EQ(reports.find("\n2026-01-01t00:00:00z forged"), std::string::npos);
  EXPECT_NE(reports.find("user=eve\\x0a2026-01-01t00:00:00z forged line"), std::string::npos);
}

// A connection from addr to the portal that sent text and then nothing.
int HalfSent(int port, const char* addr, const std::string& text) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  inet_pton(AF_INET, addr, &from.sin_addr);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(s);
    return -1;
  }
  if (send(s, text.data(), text.size(), MSG_NOSIGNAL) < 0) {
    close(s);
    return -1;
  }
  return s;
}

// What the portal answered on the socket within the wait ("" if nothing).
std::string AnswerOn(int s, int waitMs) {
  pollfd p{s, POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0) return {};
  char buf[256];
  ssize_t n = recv(s, buf, sizeof buf, MSG_DONTWAIT);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

class SlowClientTest : public PortalFixture {
 protected:
  std::string ExtraConfig() override {
    return "[portal]\nheader_timeout_seconds = 3\nmax_connections_per_address = 16\npage_workers = 2\n";
  }
};

// Half-sent requests hold no page worker: with 64 of them open from one
// address another user's listing is answered; the address gets 16
// connections and the rest are refused at once; the held ones are closed
// with 408 when the header deadline passes.
TEST_F(SlowClientTest, HalfSentRequestsHoldNoWorkerAndAreCappedPerAddress) {
  auto cookie = SignIn("alice", "alice-secret");
  std::vector<int> open;
  for (int i = 0; i < 64; ++i) {
    int s = HalfSent(site_.port, "127.0.0.2", "GET /HalvornSLV/Inbox.asp HT");
    ASSERT_GE(s, 0);
    open.push_back(s);
  }
  for (int i = 0; i < 4; ++i) {
    auto r = Client().Get("/HalvornSLV/Inbox.asp", With(cookie));
    ASSERT_TRUE(r) << i;
    EXPECT_EQ(r->status, 200) << i;
  }
  int refused = 0, timedOut = 0;
  for (int s : open) {
    std::string answer = AnswerOn(s, 8000);
    if (answer.rfind("HTTP/1.1 503", 0) == 0) ++refused;
    if (answer.rfind("HTTP/1.1 408", 0) == 0) ++timedOut;
    close(s);
  }
  EXPECT_EQ(refused, 64 - 16);
  EXPECT_EQ(timedOut, 16);
}

}  // namespace
}  // namespace portal_test

#include "host/HostContext.h"
#include "host/HostKit.h"
#include "platform/Text.h"
#include "portal/ComClasses.h"
#include "portal/PortalHost.h"

namespace portal_test {
namespace {

// The portal's COM classes run as the request's user and refuse what belongs
// to another user's session.
class HostClassesTest : public PortalFixture {
 protected:
  std::unique_ptr<portal::Session> SessionOf(const std::string& cookie) {
    std::string id = cookie.substr(cookie.find('=') + 1);
    auto vars = portal_->Store().Load(id);
    return vars ? std::make_unique<portal::Session>(id, *vars) : nullptr;
  }
  // Makes a request of alice's, on this session, the current one.
  void Enter(portal::Session* session) {
    account_ = portal_->Users().Find("alice");
    ctx_ = std::make_unique<portal::RequestContext>(*portal_, &*account_, session, hostkit::FieldList{},
                                                    hostkit::FieldList{}, hostkit::FieldList{});
    scope_ = std::make_unique<hostkit::HostScope>(ctx_.get());
  }
  std::optional<portal::Account> account_;
  std::unique_ptr<portal::RequestContext> ctx_;
  std::unique_ptr<hostkit::HostScope> scope_;
};

TEST_F(HostClassesTest, MasterSessionStoreOpensOnlyTheUsersOwnSessions) {
  auto alice = SessionOf(SignIn("alice", "alice-secret"));
  auto aliceSecond = SessionOf(SignIn("alice", "alice-secret"));
  auto bob = SessionOf(SignIn("bob", "bob-secret"));
  ASSERT_TRUE(alice && aliceSecond && bob);
  Enter(alice.get());
  CComPtr<IMasterSessionStore> store;
  ASSERT_EQ(store.CoCreateInstance(CLSID_MasterSessionStore), S_OK);
  CComBSTR bobMaster(platform::U16(bob->Master()));
  EXPECT_EQ(store->Open(bobMaster), E_ACCESSDENIED);
  // Alice's other session may be written; the value lands there on Commit.
  CComBSTR otherMaster(platform::U16(aliceSecond->Master())), name(u"Halvorn.Slv.composeTo"), value(u"x@example.org");
  ASSERT_EQ(store->Open(otherMaster), S_OK);
  ASSERT_EQ(store->SetValue(name, value), S_OK);
  ASSERT_EQ(store->Commit(), S_OK);
  auto reloaded = portal_->Store().Load(aliceSecond->Id());
  EXPECT_EQ((*reloaded)["composeTo"], "x@example.org");
  // The portal's own values cannot be written through it.
  for (const char16_t* internal : {u"_user", u"Halvorn.Slv._user", u"Halvorn.Slv._secret"}) {
    CComBSTR n(internal);
    EXPECT_EQ(store->SetValue(n, value), E_INVALIDARG) << platform::U8(internal);
  }
  ASSERT_EQ(store->Commit(), S_OK);
  EXPECT_EQ((*portal_->Store().Load(aliceSecond->Id()))["_user"], "alice");
}

TEST_F(HostClassesTest, ImpersonationNeedsTheSessionSecretAndUser) {
  auto alice = SessionOf(SignIn("alice", "alice-secret"));
  Enter(alice.get());
  auto attempt = [&](const std::u16string& user, const std::u16string& password) {
    CComPtr<IImpersonate> imp;
    EXPECT_EQ(imp.CoCreateInstance(CLSID_Impersonate), S_OK);
    CComBSTR u(user), d(u"example.org"), p(password);
    VARIANT_BOOL ok = VARIANT_FALSE;
    imp->Impersonate(u, d, p, VARIANT_TRUE, &ok);
    return ok == VARIANT_TRUE;
  };
  // The secret the host hands the component is the session's, not the password.
  CPasswordString pwd;
  ASSERT_EQ(VGetSessionADPwd(pwd), S_OK);
  std::u16string secret(pwd.Get());
  EXPECT_EQ(platform::U8(secret), alice->Get("_secret"));
  EXPECT_TRUE(attempt(u"alice", secret));
  EXPECT_FALSE(ctx_->impersonated);  // released: the impersonation ended
  EXPECT_FALSE(attempt(u"alice", u"alice-secret"));  // the real password is not what the session holds
  EXPECT_FALSE(attempt(u"bob", secret));
  EXPECT_FALSE(attempt(u"alice", secret.substr(1)));
}

TEST_F(HostClassesTest, ShellReadsShortcutsOnlyInsideTheUsersRoots) {
  auto alice = SessionOf(SignIn("alice", "alice-secret"));
  fs::path mine = dir_ / "users" / "alice" / "attachments" / "wiki.url";
  fs::path theirs = dir_ / "users" / "bob" / "attachments" / "wiki.url";
  portal::WriteFile(mine, "[InternetShortcut]\r\nURL=https://wiki.example.org/\r\n");
  portal::WriteFile(theirs, "[InternetShortcut]\r\nURL=https://bob.example.org/\r\n");
  Enter(alice.get());
  CComPtr<IDispatch> shell;
  ASSERT_EQ(shell.CoCreateInstance(u"WScript.Shell"), S_OK);
  auto target = [&](const fs::path& p) -> std::string {
    CComVariant arg(platform::U16(p.string()));
    CComVariant sc;
    if (FAILED(platform::InvokeByDispid(shell, portal::DISPID_CreateShortcut, DISPATCH_METHOD, {arg}, &sc)))
      return "refused";
    CComVariant url;
    platform::InvokeByDispid(sc.pdispVal, portal::DISPID_TargetPath, DISPATCH_PROPERTYGET, {}, &url);
    return platform::U8(platform::BstrView(url.bstrVal));
  };
  EXPECT_EQ(target(mine), "https://wiki.example.org/");
  EXPECT_EQ(target(theirs), "refused");
}

}  // namespace
}  // namespace portal_test
