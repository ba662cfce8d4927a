#include "TestUtil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Text.h"
#include "platform/Time.h"

namespace mbtest {

int ListenOnLoopback(int& port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
    if (fd >= 0) close(fd);
    port = 0;
    return -1;
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

int FreePort() {
  int port = 0;
  int fd = ListenOnLoopback(port, 1);
  if (fd >= 0) close(fd);
  return port;
}

namespace {
bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}
}  // namespace

LoopbackServer::LoopbackServer(std::function<void(Peer&)> serve) {
  fd_ = ListenOnLoopback(port_, 4);
  thread_ = std::thread([this, serve = std::move(serve)] {
    while (!stop_) {
      if (!WaitReadable(fd_, 100)) continue;
      Peer peer{accept(fd_, nullptr, nullptr)};
      if (peer.fd < 0) continue;
      serve(peer);
      close(peer.fd);
    }
  });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  thread_.join();
  close(fd_);
}

bool LoopbackServer::Peer::ReadLine(std::string& line) {
  line.clear();
  char ch;
  while (WaitReadable(fd, 5000) && read(fd, &ch, 1) == 1) {
    if (ch == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.push_back(ch);
  }
  return false;
}

bool LoopbackServer::Peer::ReadSome() {
  char buf[512];
  return WaitReadable(fd, 5000) && read(fd, buf, sizeof buf) > 0;
}

void LoopbackServer::Peer::Say(const std::string& bytes) { (void)!write(fd, bytes.data(), bytes.size()); }

void MakeMaildir(const std::string& dir) {
  mkdir(dir.c_str(), 0700);
  for (const char* sub : {"/cur", "/new", "/tmp"}) mkdir((dir + sub).c_str(), 0700);
}

std::string PutMessage(const std::string& maildir, const std::string& sub, const std::string& name,
                       const std::string& raw, std::int64_t mtime) {
  MakeMaildir(maildir);
  std::string path = maildir + "/" + sub + "/" + name;
  WriteAll(path, raw);
  struct utimbuf times {static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
  utime(path.c_str(), &times);
  return path;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    if (e.path().filename().string()[0] != '.') out.push_back(e.path().filename().string());
  }
  return out;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

#ifdef MAILBRIDGE_DATA_DIR
std::string Data(const std::string& name) { return ReadAll(MAILBRIDGE_DATA_DIR "/" + name); }
#endif

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string U8(const char16_t* s) { return s ? platform::Utf16ToUtf8(platform::View(s)) : std::string(); }
std::u16string U16(const std::string& s) { return platform::Utf8ToUtf16(s); }

std::vector<std::string> Summary::Subjects() const {
  std::vector<std::string> out;
  for (DWORD i = 0; i < count; ++i) out.push_back(U8(items[i].pszSubject));
  return out;
}

std::string Summary::Row(DWORD i) const {
  const MAPIManaged::_MAILITEM& m = items[i];
  return U8(m.pszSubject) + "|" + U8(m.pszFrom) + "|" + U8(m.pszBody) + "|" + std::to_string(m.bHasAttachments) +
         std::to_string(m.bRead) + std::to_string(m.nImportance) + "|" +
         std::to_string(platform::FileTimeToUnixTime(m.ftReceived));
}

const MAPIManaged::_MAILITEM* Summary::BySubject(const std::string& s) const {
  for (DWORD i = 0; i < count; ++i) {
    if (U8(items[i].pszSubject) == s) return &items[i];
  }
  return nullptr;
}

Summary List(MAPIManaged::MAPINativeConnection& c, const char16_t* folder, int sort) {
  Summary s;
  MAPIManaged::_MAILITEM* items = nullptr;
  s.hr = c.InboxSummary(folder, &items, &s.count, sort);
  s.items.reset(items);
  return s;
}

Opened Show(MAPIManaged::MAPINativeConnection& c, const GUID& id, int direction, const char16_t* folder) {
  Opened o;
  MAPIManaged::_MAILMESSAGE* m = nullptr;
  MAPIManaged::_MAILMESSAGEATTACHMENTS* a = nullptr;
  o.hr = c.InboxMessage(folder, id, &m, &a, &o.count, direction);
  o.msg.reset(m);
  o.atts.reset(a);
  return o;
}

std::string Attachment(MAPIManaged::MAPINativeConnection& c, const GUID& id, int n, const char16_t* folder) {
  BYTE* bytes = nullptr;
  DWORD len = 0;
  HRESULT hr = c.InboxAttachment(folder, id, n, &bytes, &len);
  std::unique_ptr<BYTE[]> owned(bytes);
  if (hr == MAPI_E_NOT_FOUND) return "MAPI_E_NOT_FOUND";
  return SUCCEEDED(hr) ? std::string(reinterpret_cast<char*>(bytes), len) : "failed";
}

std::vector<std::string> Contacts(MAPIManaged::_CONTACTITEM* items, DWORD count) {
  std::unique_ptr<MAPIManaged::_CONTACTITEM[]> owned(items);
  std::vector<std::string> out;
  for (DWORD i = 0; i < count; ++i) {
    out.push_back(U8(items[i].pszDisplayName) + "|" + U8(items[i].pszEmailAddress) + "|" + U8(items[i].pszName1) +
                  "|" + U8(items[i].pszName2) + "|" + U8(items[i].pszOther[0]));
  }
  return out;
}

std::size_t NotSevenBitCrlf(const std::string& raw) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (static_cast<unsigned char>(raw[i]) >= 0x80 || (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))) return i;
  }
  return std::string::npos;
}

std::string Message(const std::vector<std::string>& headers, const std::string& body) {
  std::string out;
  for (const auto& h : headers) out += h + "\n";
  out += "\n" + body;
  return out;
}

}  // namespace mbtest
