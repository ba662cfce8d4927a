// lumarest-portal: the web-mail site.
//   lumarest-portal --data DIR [--listen 127.0.0.1:8080] [--demo]
//   lumarest-portal --data DIR user add NAME --password-stdin [--maildir PATH]
//   lumarest-portal --data DIR --check-config
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "portal/Demo.h"
#include "portal/Server.h"

namespace {

int Usage() {
  std::cerr << "usage: lumarest-portal --data DIR [--listen HOST:PORT] [--demo] [--module PATH]\n"
               "       lumarest-portal --data DIR --check-config\n"
               "       lumarest-portal --data DIR user add NAME --password-stdin [--maildir PATH]\n"
               "       lumarest-portal --data DIR fill-folder MAILDIR COUNT\n";
  return 2;
}

// An installed portal (cmake --install) finds the module and the site
// assets beside its own binary: PREFIX/bin/lumarest-portal,
// PREFIX/lib/lumarest/LumarestInbox.so, PREFIX/share/lumarest/{site,satellites}.
void UseInstalledLayout(portal::PortalOptions& options) {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return;
  auto prefix = exe.parent_path().parent_path();
  if (options.sourceDir.empty() && std::filesystem::is_directory(prefix / "share/lumarest/site", ec))
    options.sourceDir = prefix / "share/lumarest";
  const char* env = std::getenv("LUMAREST_MODULE");
  if (options.modulePath.empty() && !(env && *env) &&
      std::filesystem::exists(prefix / "lib/lumarest/LumarestInbox.so", ec))
    options.modulePath = prefix / "lib/lumarest/LumarestInbox.so";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  portal::PortalOptions options;
  bool demo = false;
  std::vector<std::string> command;
  std::string maildir;
  bool passwordStdin = false;
  bool checkConfig = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
      return args[++i];
    };
    try {
      if (a == "--data") options.dataDir = value();
      else if (a == "--listen") options.listen = value();
      else if (a == "--demo") demo = true;
      else if (a == "--module") options.modulePath = value();
      else if (a == "--site") options.sourceDir = value();
      else if (a == "--maildir") maildir = value();
      else if (a == "--password-stdin") passwordStdin = true;
      else if (a == "--check-config") checkConfig = true;
      else if (a == "-h" || a == "--help") return Usage();
      else if (!a.empty() && a[0] == '-') {
        std::cerr << "unknown option " << a << "\n";
        return Usage();
      } else command.push_back(a);
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      return Usage();
    }
  }
  if (options.dataDir.empty()) return Usage();
  options.dataDir = std::filesystem::absolute(options.dataDir);
  UseInstalledLayout(options);

  if (checkConfig) {
    auto problems = portal::Config::Check(options.dataDir);
    for (const auto& p : problems) std::cerr << p << "\n";
    if (problems.empty()) std::cout << (options.dataDir / "portal.ini").string() << ": ok\n";
    return problems.empty() ? 0 : 1;
  }

  try {
    if (!command.empty()) {
      std::filesystem::create_directories(options.dataDir);
      auto config = portal::Config::Load(options.dataDir);
      portal::Accounts accounts(options.dataDir);
      if (command.size() == 3 && command[0] == "user" && command[1] == "add") {
        if (!passwordStdin) {
          std::cerr << "user add reads the password from standard input: give --password-stdin\n";
          return 2;
        }
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        auto a = accounts.Add(command[2], password, maildir, config.localDomain);
        std::cout << "added user " << a.name << " with mailbox " << a.maildir.string() << "\n";
        return 0;
      }
      if (command.size() == 3 && command[0] == "fill-folder") {
        portal::FillMaildir(command[1], std::stoi(command[2]), config.localDomain);
        return 0;
      }
      return Usage();
    }

    // Signals are taken by one thread that stops the server.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    portal::Portal site(options);
    portal::DemoUser user;
    if (demo) user = portal::CreateDemo(options.dataDir, site.Users(), site.Cfg().localDomain);
    int port = site.Bind();
    std::string host = site.Cfg().listen.substr(0, site.Cfg().listen.rfind(':'));
    std::cout << "LumarestInbox portal listening on http://" << host << ":" << port << "/HalvornSLV/Login.asp\n";
    if (demo) {
      if (user.created)
        std::cout << "demo user: " << user.name << "  password: " << user.password << "\n";
      else
        std::cout << "demo user: " << user.name << " (created earlier; its password was printed then)\n";
    }
    std::cout.flush();
    std::thread waiter([&] {
      int sig = 0;
      sigwait(&set, &sig);
      site.Log(std::string("signal ") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + ", shutting down");
      site.Stop();
    });
    site.Run();
    // Run returned without a signal (the server failed): wake the waiter.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "lumarest-portal: " << e.what() << "\n";
    return 1;
  }
}
