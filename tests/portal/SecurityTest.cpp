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
  for (const auto& c : cases) {
    httplib::Headers h = c.headers;
    h.emplace("Cookie", cookie);
    auto del = Client().Get(("/HalvornSLV/DeleteMessage.asp?Guid=" + guid).c_str(), h);
    EXPECT_EQ(del->status, 403) << c.what;
    auto meet = Client().Get(("/HalvornSLV/MeetingResponse.asp?Type=AcceptMeeting&Guid=" + guid).c_str(), h);
    EXPECT_EQ(meet->status, 403) << c.what;
    auto post = Client().Post("/HalvornSLV/ComposeMessage.asp", h,
                              "IsCompose=true&MessageText=planted", "application/x-www-form-urlencoded");
    EXPECT_EQ(post->status, 403) << c.what;
    // The compose page writes the draft and the attachment list from a GET.
    for (const std::string& q : {std::string("To=planted@example.org"), "UploadID=" + uploadRef, "Type=Fwd&Guid=" + guid}) {
      auto compose = Client().Get(("/HalvornSLV/ComposeMessage.asp?" + q).c_str(), h);
      EXPECT_EQ(compose->status, 403) << c.what << " " << q;
    }
    auto upload = Client().Post("/HalvornSLV/DoAttachments.asp", h,
                                httplib::MultipartFormDataItems{{"File", "x", "x.txt", "text/plain"}});
    EXPECT_EQ(upload->status, 403) << c.what;
    auto cancel = Client().Get("/HalvornSLV/SendCancel.asp", h);
    EXPECT_EQ(cancel->status, 403) << c.what;
    auto logout = Client().Get("/HalvornSLV/Logout.asp", h);
    EXPECT_EQ(logout->status, 403) << c.what;
    auto signIn = Client().Post("/HalvornSLV/Login.asp", c.headers, "UserName=alice&Password=alice-secret",
                                "application/x-www-form-urlencoded");
    EXPECT_EQ(signIn->status, 403) << c.what;
  }
  // Nothing reached the component, nothing was stored, the session is open.
  EXPECT_TRUE(RecordingInbox::Calls().empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "users" / "alice" / "uploads"), fs::directory_iterator()), 1);
  // The same requests from this site go through.
  auto same = Client().Get(("/HalvornSLV/DeleteMessage.asp?Guid=" + guid).c_str(),
                           With(cookie, {{"Sec-Fetch-Site", "same-origin"}, {"Referer", Origin() + "/HalvornSLV/Inbox.asp"}}));
  EXPECT_EQ(same->status, 200);
  auto sameOrigin = Client().Post("/HalvornSLV/ComposeMessage.asp", With(cookie, {{"Origin", Origin()}}),
                                  "IsCompose=true&MessageText=mine", "application/x-www-form-urlencoded");
  EXPECT_EQ(sameOrigin->status, 200);
}

TEST_F(SecurityTest, ComposeRefusesRecipientsThatCouldBreakTheMarkup) {
  auto cookie = SignIn("alice", "alice-secret");
  for (const char* to : {"a%3Cb@example.org", "a%3Eb@example.org", "x%22onmouseover%3D1", "a%0Ab@example.org",
                         "a%09b@example.org"}) {
    auto r = Client().Get((std::string("/HalvornSLV/ComposeMessage.asp?To=") + to).c_str(), With(cookie));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << to;
  }
  EXPECT_TRUE(RecordingInbox::Calls().empty());
  auto ok = Client().Get("/HalvornSLV/ComposeMessage.asp?To=o'brien@example.org", With(cookie));
  EXPECT_EQ(ok->status, 200);
  ASSERT_EQ(RecordingInbox::Calls().size(), 1u);
  EXPECT_EQ(RecordingInbox::Calls()[0].query, "To=o%27brien@example.org");
  auto posted = Client().Post("/HalvornSLV/ComposeMessage.asp", With(cookie, {{"Origin", Origin()}}),
                              "IsCompose=true&TTo=%22%3E%3Cscript%3E", "application/x-www-form-urlencoded");
  EXPECT_EQ(posted->status, 400);
}

TEST_F(SecurityTest, ComposeAcceptsOnlyThisUsersUploadsAndFiles) {
  auto alice = SignIn("alice", "alice-secret");
  auto bobId = portal::UploadStore::Save(dir_ / "users" / "bob" / "uploads", "bob.txt", "bob's");
  auto aliceId = portal::UploadStore::Save(dir_ / "users" / "alice" / "uploads", "mine.txt", "mine");
  ASSERT_TRUE(bobId && aliceId);
  auto ref = [](const std::string& id) { return portal::EncodeUrlSafe("UPLOADID" + id); };
  struct Case {
    std::string query;
    int status;
  } cases[] = {
      {"UploadID=" + ref(*aliceId), 200},
      {"UploadID=" + ref(*bobId), 400},                       // another user's upload
      {"UploadID=abc%2Bdef", 400},                            // outside the URL-safe alphabet
      {"UploadID=" + portal::EncodeUrlSafe("UPLOADIDffff|x"), 400},  // no such upload
      {"UploadID=" + portal::EncodeUrlSafe("/etc/passwd"), 400},
      {"Filename=" + portal::EncodeUrlSafe((dir_ / "share" / "doc.txt").string()), 200},
      {"Filename=" + portal::EncodeUrlSafe((dir_ / "secret.txt").string()), 400},
      {"Filename=" + portal::EncodeUrlSafe((dir_ / "share" / ".." / "secret.txt").string()), 400},
      {"Filename=" + portal::EncodeUrlSafe((dir_ / "users" / "bob" / "account.ini").string()), 400},
  };
  for (const auto& c : cases) {
    auto r = Client().Get(("/HalvornSLV/ComposeMessage.asp?" + c.query).c_str(), With(alice));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status) << c.query;
  }
}

// An attachment the user may no longer send is named and taken off before
// the post reaches the component; the posted draft stays.
TEST_F(SecurityTest, AnAttachmentGoneBeforeSendingIsNamedAndTheDraftKept) {
  auto alice = SignIn("alice", "alice-secret");
  fs::path store = dir_ / "users" / "alice" / "uploads";
  auto id = portal::UploadStore::Save(store, "notes.txt", "notes");
  ASSERT_TRUE(id);
  auto ref = portal::EncodeUrlSafe("UPLOADID" + *id);
  portal_->Store().Put(alice.substr(alice.find('=') + 1), {{"FileID", ref}});
  fs::remove(*portal::UploadStore::Resolve(store, *id));
  auto send = Client().Post("/HalvornSLV/ComposeMessage.asp", With(alice),
                            "IsCompose=true&TTo=bob%40example.org&MessageText=kept+text&Send=Send",
                            "application/x-www-form-urlencoded");
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
  portal::WriteFile(dir_ / "users" / "bob" / "attachments" / "b.txt", "bob's attachment");
  portal::WriteFile(dir_ / "users" / "alice" / "attachments" / "a.txt", "alice's attachment");
  auto open = [&](const fs::path& p) {
    return Client().Get(("/HalvornSLV/ViewInboxMessage.asp?ComponentID=2&Options=1&FileName=" +
                         portal::EncodeUrlSafe(p.string())).c_str(), With(alice));
  };
  EXPECT_EQ(open(dir_ / "users" / "alice" / "attachments" / "a.txt")->status, 200);
  EXPECT_EQ(open(dir_ / "share" / "doc.txt")->status, 200);
  EXPECT_EQ(open(dir_ / "users" / "bob" / "attachments" / "b.txt")->status, 403);
  EXPECT_EQ(open(dir_ / "users" / "alice" / "attachments" / ".." / ".." / "bob" / "attachments" / "b.txt")->status, 403);
  EXPECT_EQ(open("/etc/passwd")->status, 403);
  EXPECT_EQ(open(dir_ / "secret.txt")->status, 403);
  // A symbolic link out of the roots does not help.
  fs::create_symlink(dir_ / "secret.txt", dir_ / "users" / "alice" / "attachments" / "link.txt");
  EXPECT_EQ(open(dir_ / "users" / "alice" / "attachments" / "link.txt")->status, 403);
}

TEST_F(SecurityTest, FileBrowserStaysInsideTheConfiguredRoots) {
  auto alice = SignIn("alice", "alice-secret");
  auto root = Client().Get(("/HalvornSLV/Folder.asp?LFE=false&Folder=" + portal::EncodeUrlSafe((dir_ / "share").string())).c_str(),
                           With(alice));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->status, 200);
  EXPECT_NE(root->body.find("doc.txt"), std::string::npos);
  for (const fs::path& p : {dir_, dir_ / "share" / "..", fs::path("/etc")}) {
    auto r = Client().Get(("/HalvornSLV/Folder.asp?LFE=false&Folder=" + portal::EncodeUrlSafe(p.string())).c_str(),
                          With(alice));
    EXPECT_EQ(r->status, 403) << p;
  }
  auto traversal = Client().Get("/HalvornSLV/Inc/../../../../etc/passwd");
  EXPECT_EQ(traversal->status, 404);
}

TEST_F(SecurityTest, OversizedRequestsAndUploadsGet413) {
  auto alice = SignIn("alice", "alice-secret");
  std::string big(70000, 'x');
  auto post = Client().Post("/HalvornSLV/ComposeMessage.asp", With(alice, {{"Origin", Origin()}}),
                            "IsCompose=true&MessageText=" + big, "application/x-www-form-urlencoded");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 413);
  auto upload = Client().Post("/HalvornSLV/DoAttachments.asp", With(alice, {{"Origin", Origin()}}),
                              httplib::MultipartFormDataItems{{"File", std::string(5000, 'y'), "big.bin", "application/octet-stream"}});
  ASSERT_TRUE(upload);
  EXPECT_EQ(upload->status, 413);
  EXPECT_NE(upload->body.find("larger than uploads may be"), std::string::npos);
  // The user's quota: two files of 3000 bytes fit, a third does not.
  for (char c : {'a', 'b', 'c'}) {
    auto r = Client().Post("/HalvornSLV/DoAttachments.asp", With(alice, {{"Origin", Origin()}}),
                           httplib::MultipartFormDataItems{{"File", std::string(3000, c), "f.bin", "application/octet-stream"}});
    EXPECT_EQ(r->status, c == 'c' ? 413 : 302) << c;
    if (c == 'c') {
      EXPECT_NE(r->body.find("over their limit"), std::string::npos);
    }
  }
}

TEST_F(SecurityTest, HtmlOnlyAnswerIsSandboxedAndTheViewCannotBeFramedByOthers) {
  auto alice = SignIn("alice", "alice-secret");
  auto view = Client().Get("/HalvornSLV/ViewInboxMessage.asp?Guid=bad", With(alice));
  EXPECT_EQ(view->get_header_value("X-Frame-Options"), "SAMEORIGIN");
  EXPECT_NE(view->get_header_value("Content-Security-Policy").find("frame-ancestors 'self'"), std::string::npos);
  auto html = Client().Get("/HalvornSLV/ViewInboxMessage.asp?DownloadHTMLOnly=1&Guid={00000000-0000-0000-0000-000000000001}",
                          With(alice));
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
    auto r = Client().Get(("/HalvornSLV/ViewInboxMessage.asp?DownloadHTMLOnly=1&Guid=" + guid).c_str(), With(alice));
    EXPECT_EQ(r->get_header_value("Referrer-Policy"), "no-referrer");
    return r->get_header_value("Content-Security-Policy");
  };
  for (const auto& guid : {one, two}) {
    std::string policy = csp(guid);
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos);
    EXPECT_NE(policy.find("img-src data: 'self';"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("http"), std::string::npos) << policy;
  }
  auto show = [&](const std::string& guid, const char* on, httplib::Headers h) {
    return Client().Post("/HalvornSLV/RemoteContent.asp", h, "Guid=" + guid + "&Show=" + on + "&Back=Guid%3D" + guid,
                         "application/x-www-form-urlencoded");
  };
  // Not from another site.
  EXPECT_EQ(show(one, "1", With(alice, {{"Origin", "http://evil.example"}}))->status, 403);
  EXPECT_EQ(csp(one).find("https:"), std::string::npos);
  auto shown = show(one, "1", With(alice));
  EXPECT_EQ(shown->status, 302);
  EXPECT_EQ(shown->get_header_value("Location"), "ViewInboxMessage.asp?Guid=" + one);
  EXPECT_NE(csp(one).find("img-src data: 'self' https: http:"), std::string::npos);
  EXPECT_EQ(csp(two).find("https:"), std::string::npos);
  EXPECT_EQ(show(one, "0", With(alice))->status, 302);
  EXPECT_EQ(csp(one).find("https:"), std::string::npos);
}

TEST_F(SecurityTest, LinkOutFollowsOnlyWebAndMailLinksWithoutReferrer) {
  auto ok = Client().Get(("/HalvornSLV/LinkOut.asp?url=" + portal::EncodeUrlSafe("https://www.example.org/a?b=1")).c_str());
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(ok->get_header_value("Referrer-Policy"), "no-referrer");
  EXPECT_NE(ok->body.find("href=\"https://www.example.org/a?b=1\""), std::string::npos);
  for (const char* bad : {"javascript:alert(1)", "data:text/html,x", "JaVaScRiPt:alert(1)", "https://a\nb"}) {
    auto r = Client().Get(("/HalvornSLV/LinkOut.asp?url=" + portal::EncodeUrlSafe(bad)).c_str());
    EXPECT_EQ(r->status, 400) << bad;
  }
}

// A sign-in over an open session replaces it: the cookie the browser had
// before (perhaps planted by someone else) opens nothing afterwards.
TEST_F(SecurityTest, SigningInEndsTheSessionTheBrowserAlreadyHad) {
  auto before = SignIn("alice", "alice-secret");
  auto r = Client().Post("/HalvornSLV/Login.asp", With(before),
                         httplib::Params{{"UserName", "alice"}, {"Password", "alice-secret"}});
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 302);
  std::string after = r->get_header_value("Set-Cookie");
  after = after.substr(0, after.find(';'));
  EXPECT_NE(after, before);
  EXPECT_EQ(Client().Get("/HalvornSLV/Inbox.asp", With(after))->status, 200);
  auto old = Client().Get("/HalvornSLV/Inbox.asp", With(before));
  ASSERT_TRUE(old);
  EXPECT_EQ(old->status, 302);
  EXPECT_EQ(old->get_header_value("Location"), "/HalvornSLV/Login.asp");
}

// Sign-in: five failures lock the account and the address out with 429 and
// Retry-After, whatever the password then; every lock-out leaves an audit
// line, and a user name cannot forge lines in the report log.
TEST_F(SecurityTest, FailedSignInsAreThrottledAndAudited) {
  auto post = [&](const std::string& body) {
    return Client().Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}}, body,
                         "application/x-www-form-urlencoded");
  };
  EXPECT_EQ(post("UserName=eve%0A2026-01-01T00:00:00Z+forged+line&Password=x")->status, 401);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(post("UserName=alice&Password=wrong")->status, 401) << i;
  struct Case {
    const char* what;
    std::string body;
  } locked[] = {{"the right password", "UserName=alice&Password=alice-secret"},
                {"another account from the same address", "UserName=bob&Password=bob-secret"}};
  for (const auto& c : locked) {
    auto r = post(c.body);
    EXPECT_EQ(r->status, 429) << c.what;
    EXPECT_EQ(r->get_header_value("Retry-After"), "60") << c.what;
    EXPECT_FALSE(r->has_header("Set-Cookie")) << c.what;
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
    int s = HalfSent(port_, "127.0.0.2", "GET /HalvornSLV/Inbox.asp HT");
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
};

TEST_F(HostClassesTest, MasterSessionStoreOpensOnlyTheUsersOwnSessions) {
  auto alice = SessionOf(SignIn("alice", "alice-secret"));
  auto aliceSecond = SessionOf(SignIn("alice", "alice-secret"));
  auto bob = SessionOf(SignIn("bob", "bob-secret"));
  ASSERT_TRUE(alice && aliceSecond && bob);
  auto account = portal_->Users().Find("alice");
  portal::RequestContext ctx(*portal_, &*account, alice.get(), {}, {}, {});
  hostkit::HostScope scope(&ctx);
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
  auto account = portal_->Users().Find("alice");
  portal::RequestContext ctx(*portal_, &*account, alice.get(), {}, {}, {});
  hostkit::HostScope scope(&ctx);
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
  EXPECT_FALSE(ctx.impersonated);  // released: the impersonation ended
  EXPECT_FALSE(attempt(u"alice", u"alice-secret"));  // the real password is not what the session holds
  EXPECT_FALSE(attempt(u"bob", secret));
  EXPECT_FALSE(attempt(u"alice", secret.substr(1)));
}

TEST_F(HostClassesTest, ShellReadsShortcutsOnlyInsideTheUsersRoots) {
  auto alice = SessionOf(SignIn("alice", "alice-secret"));
  auto account = portal_->Users().Find("alice");
  fs::path mine = dir_ / "users" / "alice" / "attachments" / "wiki.url";
  fs::path theirs = dir_ / "users" / "bob" / "attachments" / "wiki.url";
  portal::WriteFile(mine, "[InternetShortcut]\r\nURL=https://wiki.example.org/\r\n");
  portal::WriteFile(theirs, "[InternetShortcut]\r\nURL=https://bob.example.org/\r\n");
  portal::RequestContext ctx(*portal_, &*account, alice.get(), {}, {}, {});
  hostkit::HostScope scope(&ctx);
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
