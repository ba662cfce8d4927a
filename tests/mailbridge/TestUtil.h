// Shared helpers of the mail-library tests: a scratch folder, Maildirs
// built message by message, UTF-16 conversions and a loopback server for
// the fake SMTP, IMAP and LDAP peers.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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

// A folder listing through a connection: the records and the result.
struct Summary {
  std::unique_ptr<MAPIManaged::_MAILITEM[]> items;
  DWORD count = 0;
  HRESULT hr = E_FAIL;
  std::vector<std::string> Subjects() const;
  // Row i as "subject|from|body|attachments read importance|received".
  std::string Row(DWORD i) const;
  const MAPIManaged::_MAILITEM* BySubject(const std::string& s) const;
};
Summary List(MAPIManaged::MAPINativeConnection& c, const char16_t* folder = u"", int sort = 0);

// A message opened through a connection.
struct Opened {
  std::unique_ptr<MAPIManaged::_MAILMESSAGE[]> msg;
  std::unique_ptr<MAPIManaged::_MAILMESSAGEATTACHMENTS[]> atts;
  DWORD count = 0;
  HRESULT hr = E_FAIL;
};
Opened Show(MAPIManaged::MAPINativeConnection& c, const GUID& id, int direction = 0, const char16_t* folder = u"");
// The bytes of an attachment, or "MAPI_E_NOT_FOUND" or "failed".
std::string Attachment(MAPIManaged::MAPINativeConnection& c, const GUID& id, int n, const char16_t* folder = u"");
// Contact records as "display name|address|name 1|name 2|other", released.
std::vector<std::string> Contacts(MAPIManaged::_CONTACTITEM* items, DWORD count);

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
// A test input file from tests/mailbridge/data.
std::string Data(const std::string& name);
void WriteAll(const std::string& path, const std::string& bytes);

std::string U8(const char16_t* s);
std::u16string U16(const std::string& s);

// Where raw mail stops being 7-bit text with CRLF line ends; npos if nowhere.
std::size_t NotSevenBitCrlf(const std::string& raw);

// A simple message with the given headers (each "Name: value") and body.
std::string Message(const std::vector<std::string>& headers, const std::string& body);

}  // namespace mbtest
