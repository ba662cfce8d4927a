#include "tests/portal/PortalFixture.h"

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "portal/Config.h"
#include "portal/Util.h"
#include "tests/portal/FakeInbox.h"

namespace portal_test {

namespace fs = std::filesystem;

fs::path MakeTempDir(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("lumarest-" + tag + "-XXXXXX")).string();
  char* made = ::mkdtemp(pattern.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  return made;
}

void PortalFixture::SetUp() {
  dir_ = MakeTempDir("portal");
  portal::WriteFile(dir_ / "portal.ini", portal::Config::DefaultText() + "\n" + ExtraConfig());
  portal::PortalOptions o;
  o.dataDir = dir_;
  o.listen = "127.0.0.1:0";
  o.registerModule = false;
  o.log = &log_;
  portal_ = std::make_unique<portal::Portal>(o);
  RegisterFakeInbox();
  portal_->Users().Add("alice", "alice-secret", {}, "example.org");
  portal_->Users().Add("bob", "bob-secret", {}, "example.org");
  port_ = portal_->Bind();
  thread_ = std::thread([this] { portal_->Run(); });
  // Wait until the server answers (bounded).
  for (int i = 0; i < 200; ++i) {
    auto r = Client().Get("/HalvornSLV/Login.asp");
    if (r && r->status == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PortalFixture::TearDown() {
  portal_->Stop();
  if (thread_.joinable()) thread_.join();
  portal_.reset();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

httplib::Client PortalFixture::Client() {
  httplib::Client c("127.0.0.1", port_);
  c.set_follow_location(false);
  c.set_connection_timeout(5, 0);
  c.set_read_timeout(10, 0);
  return c;
}

std::string PortalFixture::SignIn(const std::string& user, const std::string& password,
                                  const std::string& output) {
  httplib::Params p{{"UserName", user}, {"Password", password}};
  if (!output.empty()) p.emplace("Output", output);
  auto r = Client().Post("/HalvornSLV/Login.asp", {{"Sec-Fetch-Site", "same-origin"}}, p);
  if (!r || r->status != 302) return {};
  auto cookie = r->get_header_value("Set-Cookie");
  return cookie.substr(0, cookie.find(';'));
}

httplib::Headers PortalFixture::With(const std::string& cookie, httplib::Headers more) {
  // A browser names where a request comes from; requests of this site say so.
  if (!more.count("Origin") && !more.count("Sec-Fetch-Site") && !more.count("Referer"))
    more.emplace("Sec-Fetch-Site", "same-origin");
  more.emplace("Cookie", cookie);
  return more;
}

}  // namespace portal_test
