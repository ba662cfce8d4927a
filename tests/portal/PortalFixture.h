// A portal started in-process on a temporary data folder and an ephemeral
// loopback port, with the stand-in component registered.
#pragma once

#include <httplib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "portal/Server.h"

namespace portal_test {

std::filesystem::path MakeTempDir(const std::string& tag);

class PortalFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Extra configuration lines, appended to the default file before start.
  virtual std::string ExtraConfig() { return ""; }

  httplib::Client Client();
  // Signs in; returns the "Cookie" header value for the session.
  std::string SignIn(const std::string& user, const std::string& password,
                     const std::string& output = "");
  httplib::Headers With(const std::string& cookie, httplib::Headers more = {});
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::filesystem::path dir_;
  std::unique_ptr<portal::Portal> portal_;
  std::thread thread_;
  int port_ = 0;
  std::ostringstream log_;
};

}  // namespace portal_test
