#include "tests/portal/PortalFixture.h"

#include <hiredis/hiredis.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/Guid.h"
#include "platform/Text.h"
#include "portal/Config.h"
#include "portal/PortalHost.h"
#include "portal/Util.h"
#include "tests/mailbridge/TestUtil.h"

extern char** environ;

namespace portal_test {

namespace fs = std::filesystem;

std::string SignIn(httplib::Client&& client, const std::string& user, const std::string& password,
                   const std::string& output) {
  httplib::Params p{{"UserName", user}, {"Password", password}};
  if (!output.empty()) p.emplace("Output", output);
  auto r = client.Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}}, p);
  if (!r || r->status != 302) return {};
  auto cookie = r->get_header_value("Set-Cookie");
  return cookie.substr(0, cookie.find(';'));
}

std::string FindMessage(portal::Portal& portal, const std::string& user, const std::string& subject) {
  auto account = portal.Users().Find(user);
  portal::RequestContext ctx(portal, &*account, nullptr, {}, {}, {});
  std::unique_ptr<MAPIManaged::MAPINativeConnection> mapi(ctx.GetMAPINative());
  if (!mapi) return {};
  MAPIManaged::_MAILITEM* items = nullptr;
  DWORD count = 0;
  std::string found;
  if (SUCCEEDED(mapi->InboxSummary(u"", &items, &count, 0)))
    for (DWORD i = 0; i < count; ++i)
      if (platform::U8(platform::View(items[i].pszSubject)) == subject)
        found = platform::U8(platform::GuidToString(items[i].guidID));
  delete[] items;
  return found;
}

void RunningPortal::Start(const fs::path& dataDir, bool realModule) {
  portal::PortalOptions o;
  o.dataDir = dataDir;
  o.listen = "127.0.0.1:0";
  o.registerModule = realModule;
  o.log = &log;
  portal = std::make_unique<portal::Portal>(o);
  if (!realModule) RecordingInbox::Register();
  port = portal->Bind();
  thread = std::thread([this] { portal->Run(); });
  for (int i = 0; i < 500; ++i) {
    auto r = Client().Get("/HalvornSLV/Login.asp");
    if (r && r->status == 200) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

RunningPortal::~RunningPortal() {
  if (portal) portal->Stop();
  if (thread.joinable()) thread.join();
}

httplib::Client RunningPortal::Client() const {
  httplib::Client c("127.0.0.1", port);
  c.set_follow_location(false);
  c.set_connection_timeout(5, 0);
  c.set_read_timeout(20, 0);
  return c;
}

bool RedisServer::Start(const fs::path& dir) {
  if (!fs::exists("/usr/bin/redis-server")) return false;
  port_ = mbtest::FreePort();
  std::string port = std::to_string(port_), d = dir.string();
  const char* argv[] = {"redis-server", "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "",
                        "--appendonly", "no", "--dir", d.c_str(), "--loglevel", "warning", nullptr};
  if (posix_spawn(&pid_, "/usr/bin/redis-server", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return false;
  for (int i = 0; i < 100; ++i) {
    redisContext* c = redisConnectWithTimeout("127.0.0.1", port_, timeval{0, 200000});
    bool ok = c && !c->err;
    if (c) redisFree(c);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void RedisServer::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

void PortalFixture::SetUp() {
  portal::WriteFile(dir_ / "portal.ini", portal::Config::DefaultText() + "\n" + ExtraConfig());
  site_.Start(dir_, RealModule());
  portal_ = site_.portal.get();
  AddUsers();
}

void PortalFixture::AddUsers() {
  portal_->Users().Add("alice", "alice-secret", {}, "example.org");
  portal_->Users().Add("bob", "bob-secret", {}, "example.org");
}

httplib::Headers PortalFixture::With(const std::string& cookie, httplib::Headers more) {
  // A browser names where a request comes from; requests of this site say so.
  if (!more.count("Origin") && !more.count("Sec-Fetch-Site") && !more.count("Referer"))
    more.emplace("Sec-Fetch-Site", "same-origin");
  more.emplace("Cookie", cookie);
  return more;
}

portal::SessionVars PortalFixture::Vars(const std::string& cookie) {
  auto vars = portal_->Store().Load(cookie.substr(cookie.find('=') + 1));
  return vars ? *vars : portal::SessionVars{};
}

}  // namespace portal_test
