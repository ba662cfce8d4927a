// The portal: configuration, users, sessions and the HTTP server with its
// pages. One Portal serves one data folder.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <semaphore>
#include <string>

#include "portal/Accounts.h"
#include "portal/Config.h"
#include "portal/Sessions.h"
#include "portal/Throttle.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace portal {

class TraceDriver;
class FairSlots;

struct PortalOptions {
  std::filesystem::path dataDir;
  std::string listen;               // overrides the configuration when not empty
  std::filesystem::path sourceDir;  // holds site/ and satellites/; default: the source tree
  std::filesystem::path modulePath; // the component module; default: beside the build
  // Load and register the module at start. Tests that register a class of
  // their own under the module's CLSID turn this off.
  bool registerModule = true;
  std::ostream* log = nullptr;      // request and report log; default std::cerr
};

class Portal {
 public:
  explicit Portal(PortalOptions options);
  ~Portal();
  Portal(const Portal&) = delete;
  Portal& operator=(const Portal&) = delete;

  // Binds the listening socket; returns the port (an ephemeral one for port 0).
  int Bind();
  // Serves until Stop; returns when the server has shut down.
  void Run();
  void Stop();

  const PortalOptions& Options() const { return options_; }
  const Config& Cfg() const { return config_; }
  Accounts& Users() { return accounts_; }
  SessionStore& Store() { return *sessions_; }
  std::filesystem::path SiteDir() const;     // the page folder: Inc/, gifs/
  std::filesystem::path InstallDir() const;  // holds Bin/ with the satellites
  std::filesystem::path DataDir() const { return options_.dataDir; }

  // One line into the log, with a time stamp. Control characters in the
  // line are written escaped (\xNN), so no value can forge a line.
  void Log(const std::string& line);
  // Event reports of the component and the services (DIR/logs/reports.log),
  // escaped the same way.
  void Report(const std::string& line);

  SignInThrottle& Throttle() { return throttle_; }
  HashSlots& PasswordHashing() { return hashSlots_; }

 private:
  void Route(const httplib::Request& req, httplib::Response& res);
  void PrepareInstall();

  PortalOptions options_;
  Config config_;
  Accounts accounts_;
  std::unique_ptr<SessionStore> sessions_;
  std::unique_ptr<httplib::Server> server_;
  SignInThrottle throttle_;
  HashSlots hashSlots_;
  // Pages that run the component at once; connections wait here, not the
  // other way round (see portal/Connections.h).
  std::unique_ptr<FairSlots> pageSlots_;
  std::shared_ptr<TraceDriver> trace_;
  std::mutex logMutex_;
  std::mutex reportMutex_;
  std::string host_;
  int port_ = 0;
};

// The module: writes the registry file under the data folder, the install
// folder value, and registers the component module (dlopen and
// DllRegisterServer). Throws std::runtime_error when the module is missing
// or refuses to register.
void RegisterComponentModule(const std::filesystem::path& modulePath);

}  // namespace portal
