// Two portal processes' worth of servers sharing one Redis: a user signed in
// on one is served by the other, compose state included. Redis is started
// here on a loopback port; the test is skipped when redis-server is missing.
#include <hiredis/hiredis.h>
#include <httplib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "portal/Config.h"
#include "portal/Server.h"
#include "portal/Util.h"
#include "tests/portal/FakeInbox.h"
#include "tests/portal/PortalFixture.h"

extern char** environ;

namespace portal_test {
namespace {

namespace fs = std::filesystem;

class RedisServer {
 public:
  bool Start(const fs::path& dir) {
    if (!fs::exists("/usr/bin/redis-server")) return false;
    port_ = 20000 + static_cast<int>(::getpid() % 20000);
    std::string port = std::to_string(port_), d = dir.string();
    const char* argv[] = {"redis-server", "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "",
                          "--appendonly", "no", "--dir", d.c_str(), nullptr};
    if (posix_spawn(&pid_, "/usr/bin/redis-server", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      return false;
    for (int i = 0; i < 100; ++i) {
      timeval tv{0, 200000};
      redisContext* c = redisConnectWithTimeout("127.0.0.1", port_, tv);
      bool ok = c && !c->err;
      if (c) redisFree(c);
      if (ok) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  ~RedisServer() { Stop(); }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

struct RunningPortal {
  std::unique_ptr<portal::Portal> portal;
  std::thread thread;
  int port = 0;
  std::ostringstream log;
  ~RunningPortal() {
    if (portal) portal->Stop();
    if (thread.joinable()) thread.join();
  }
};

TEST(RedisSessions, TwoPortalsServeOneSignedInUser) {
  fs::path base = MakeTempDir("redis");
  RedisServer redis;
  if (!redis.Start(base)) {
    fs::remove_all(base);
    GTEST_SKIP() << "redis-server is not available";
  }
  // Both portals share the users folder, as two processes on one machine would.
  fs::path data = base / "data";
  fs::create_directories(data);
  portal::WriteFile(data / "portal.ini", portal::Config::DefaultText() + "\n[portal]\nredis = 127.0.0.1:" +
                                             std::to_string(redis.Port()) + "\n");
  RunningPortal a, b;
  for (RunningPortal* p : {&a, &b}) {
    portal::PortalOptions o;
    o.dataDir = data;
    o.listen = "127.0.0.1:0";
    o.registerModule = false;
    o.log = &p->log;
    p->portal = std::make_unique<portal::Portal>(o);
    p->port = p->portal->Bind();
    p->thread = std::thread([p] { p->portal->Run(); });
  }
  RegisterFakeInbox();
  a.portal->Users().Add("alice", "alice-secret", {}, "example.org");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  httplib::Client ca("127.0.0.1", a.port), cb("127.0.0.1", b.port);
  auto login = ca.Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}}, httplib::Params{{"UserName", "alice"}, {"Password", "alice-secret"}});
  ASSERT_TRUE(login);
  ASSERT_EQ(login->status, 302);
  std::string cookie = login->get_header_value("Set-Cookie");
  cookie = cookie.substr(0, cookie.find(';'));
  httplib::Headers h{{"Cookie", cookie}, {"Sec-Fetch-Site", "same-origin"}};

  auto inbox = cb.Get("/HalvornSLV/Inbox.asp", h);
  ASSERT_TRUE(inbox);
  EXPECT_EQ(inbox->status, 200);
  EXPECT_NE(inbox->body.find("user=alice"), std::string::npos);

  auto post = ca.Post("/HalvornSLV/ComposeMessage.asp", h, "IsCompose=true&MessageText=shared+text",
                      "application/x-www-form-urlencoded");
  ASSERT_TRUE(post);
  auto form = cb.Get("/HalvornSLV/ComposeMessage.asp", h);
  EXPECT_NE(form->body.find("shared text"), std::string::npos);

  auto out = cb.Get("/HalvornSLV/Logout.asp", h);
  EXPECT_EQ(out->status, 302);
  EXPECT_EQ(ca.Get("/HalvornSLV/Inbox.asp", h)->status, 302);

  // With Redis gone, pages and sign-in say so instead of sending the user
  // back to the sign-in form.
  auto again = ca.Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}},
                       httplib::Params{{"UserName", "alice"}, {"Password", "alice-secret"}});
  std::string second = again->get_header_value("Set-Cookie");
  httplib::Headers h2{{"Cookie", second.substr(0, second.find(';'))}, {"Sec-Fetch-Site", "same-origin"}};
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
  a.portal->Stop();
  b.portal->Stop();
  fs::remove_all(base);
}

}  // namespace
}  // namespace portal_test
