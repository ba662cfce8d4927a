// Shared helpers of the mail-library tests: a scratch folder, Maildirs
// built message by message, UTF-16 conversions and a loopback server for
// the fake SMTP, IMAP and LDAP peers.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mailbridge/MailBridge.h"
#include "tests/support/TestFiles.h"

namespace mbtest {

// A socket listening on an ephemeral loopback port; port receives the port.
int ListenOnLoopback(int& port, int backlog = 8);
// A loopback port that was free a moment ago (for servers started by scripts).
int FreePort();

// A server on an ephemeral loopback port: its thread accepts one connection
// at a time and hands it to `serve`, then closes it. Every wait is bounded.
class LoopbackServer {
 public:
  struct Peer {
    int fd;
    // One line without its line end; false when the peer closes or stays silent for 5 s.
    bool ReadLine(std::string& line);
    // Whatever comes first; false as ReadLine.
    bool ReadSome();
    void Say(const std::string& bytes);
  };
  explicit LoopbackServer(std::function<void(Peer&)> serve);
  ~LoopbackServer();
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The tests' scratch folder, with its path as the text these tests join.
class TempDir : public testing_support::TempDir {
 public:
  std::string path() const { return Path().string(); }
};

// Writes one message file into <maildir>/<sub>/<name> with the given mtime.
std::string PutMessage(const std::string& maildir, const std::string& sub, const std::string& name,
                       const std::string& raw, std::int64_t mtime);
void MakeMaildir(const std::string& dir);
std::vector<std::string> FilesIn(const std::string& dir);
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

std::string U8(const char16_t* s);
std::u16string U16(const std::string& s);

// A simple message with the given headers (each "Name: value") and body.
std::string Message(const std::vector<std::string>& headers, const std::string& body);

}  // namespace mbtest
