// Portals started in-process on an ephemeral loopback port, a Redis server
// for the shared-session tests, and the fixture most portal tests use: one
// portal on a temporary data folder with the recording stand-in for the
// component (or the real module) and two users.
#pragma once

#include <httplib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "portal/Server.h"
#include "portal/Sessions.h"
#include "tests/portal/RecordingInbox.h"
#include "tests/support/TestFiles.h"

namespace portal_test {

// Signs in; returns the "Cookie" header value for the session ("" if refused).
std::string SignIn(httplib::Client&& client, const std::string& user, const std::string& password,
                   const std::string& output = "");

// The identifier of user's inbox message with this subject ("" if none),
// found the way the component finds it.
std::string FindMessage(portal::Portal& portal, const std::string& user, const std::string& subject);

struct RunningPortal {
  // Starts a portal on dataDir (portal.ini already written) and waits until it answers.
  void Start(const std::filesystem::path& dataDir, bool realModule);
  ~RunningPortal();
  httplib::Client Client() const;
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port); }

  std::unique_ptr<portal::Portal> portal;
  std::thread thread;
  int port = 0;
  std::ostringstream log;
};

// redis-server on a free loopback port, stopped with the object.
class RedisServer {
 public:
  bool Start(const std::filesystem::path& dir);  // false without redis-server
  void Stop();
  ~RedisServer() { Stop(); }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

class PortalFixture : public ::testing::Test {
 protected:
  void SetUp() override;

  // Extra configuration lines, appended to the default file before start.
  virtual std::string ExtraConfig() { return ""; }
  virtual bool RealModule() { return false; }
  // alice and bob (passwords "<name>-secret"), unless a test needs others.
  virtual void AddUsers();

  httplib::Client Client() { return site_.Client(); }
  std::string SignIn(const std::string& user, const std::string& password, const std::string& output = "") {
    return portal_test::SignIn(Client(), user, password, output);
  }
  httplib::Headers With(const std::string& cookie, httplib::Headers more = {});
  // A page of the site ("Inbox.asp?..."), with the session's cookie, from this site.
  httplib::Result Get(const std::string& page, const std::string& cookie, httplib::Headers more = {}) {
    return Client().Get(("/HalvornSLV/" + page).c_str(), With(cookie, std::move(more)));
  }
  httplib::Result Post(const std::string& page, const std::string& cookie, const std::string& form,
                       httplib::Headers more = {}) {
    return Client().Post(("/HalvornSLV/" + page).c_str(), With(cookie, std::move(more)), form,
                         "application/x-www-form-urlencoded");
  }
  std::string Origin() const { return site_.Origin(); }
  // The session variables behind a cookie.
  portal::SessionVars Vars(const std::string& cookie);

  testing_support::TempDir temp_;
  std::filesystem::path dir_ = temp_.Path();
  RunningPortal site_;
  portal::Portal* portal_ = nullptr;
};

}  // namespace portal_test
