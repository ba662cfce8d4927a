// Two portal processes' worth of servers sharing one Redis: a user signed in
// on one is served by the other, the session's values included. Redis is
// started here on a loopback port; the test is skipped when redis-server is
// missing.
#include "portal/Config.h"
#include "portal/Util.h"
#include "tests/portal/PortalFixture.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

TEST(RedisSessions, TwoPortalsServeOneSignedInUser) {
  testing_support::TempDir base;
  RedisServer redis;
  if (!redis.Start(base.Path())) GTEST_SKIP() << "redis-server is not available";
  // Both portals share the users folder, as two processes on one machine would.
  fs::path data = base / "data";
  portal::WriteFile(data / "portal.ini", portal::Config::DefaultText() + "\n[portal]\nredis = 127.0.0.1:" +
                                             std::to_string(redis.Port()) + "\n");
  RunningPortal a, b;
  a.Start(data, false);
  b.Start(data, false);
  a.portal->Users().Add("alice", "alice-secret", {}, "example.org");
  auto ca = a.Client(), cb = b.Client();

  std::string cookie = SignIn(a.Client(), "alice", "alice-secret");
  ASSERT_FALSE(cookie.empty());
  httplib::Headers h{{"Cookie", cookie}, {"Sec-Fetch-Site", "same-origin"}};
  // The session opened on one serves the other and ends on both. (That the
  // component's own values travel too, the IMAP site test shows with the
  // real module: an upload on one portal is sent from the other.)
  EXPECT_EQ(cb.Get("/HalvornSLV/Inbox.asp", h)->status, 200);
  EXPECT_EQ(cb.Get("/HalvornSLV/Logout.asp", h)->status, 302);
  EXPECT_EQ(ca.Get("/HalvornSLV/Inbox.asp", h)->status, 302);

  // With Redis gone, pages and sign-in say so instead of sending the user
  // back to the sign-in form.
  std::string second = SignIn(a.Client(), "alice", "alice-secret");
  httplib::Headers h2{{"Cookie", second}, {"Sec-Fetch-Site", "same-origin"}};
  redis.Stop();
  struct Case {
    const char* what;
    httplib::Result r;
  } down[] = {
      {"listing", cb.Get("/HalvornSLV/Inbox.asp", h2)},
      {"compose", ca.Get("/HalvornSLV/ComposeMessage.asp", h2)},
      {"sign-in", ca.Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}},
                          httplib::Params{{"UserName", "alice"}, {"Password", "alice-secret"}})},
  };
  for (auto& c : down) {
    ASSERT_TRUE(c.r) << c.what;
    EXPECT_EQ(c.r->status, 503) << c.what;
    EXPECT_NE(c.r->body.find("Sessions are unavailable"), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace portal_test
