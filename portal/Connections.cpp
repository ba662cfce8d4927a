#include "portal/Connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

namespace portal {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kHeadLimit = 16384;
// How often a waiting connection looks whether the server is stopping.
constexpr std::chrono::milliseconds kStopCheck{250};

std::string AddressOf(const sockaddr_storage& sa, int* port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (sa.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&sa);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    if (port) *port = ntohs(in->sin_port);
  } else if (sa.ss_family == AF_INET6) {
    const auto* in = reinterpret_cast<const sockaddr_in6*>(&sa);
    inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
    if (port) *port = ntohs(in->sin6_port);
  }
  return text;
}

std::string PeerAddress(int sock, int* port = nullptr) {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
  return AddressOf(sa, port);
}

// Waits until the socket is readable (true) or the deadline passes or the
// server stops (false).
bool WaitReadable(int sock, Clock::time_point deadline, const httplib::Server& server) {
  for (;;) {
    if (!server.is_running()) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{sock, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(std::min(left, kStopCheck).count()));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r > 0) return true;
  }
}

bool HeadComplete(const std::string& buffer) {
  // Blank lines before a request line are allowed and skipped.
  std::size_t start = buffer.find_first_not_of("\r\n");
  if (start == std::string::npos) return false;
  return buffer.find("\r\n\r\n", start) != std::string::npos || buffer.find("\n\n", start) != std::string::npos;
}

// A stream over the connection's socket that first hands out what the head
// reader already took from it.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(int sock, std::string& pending, time_t readSec, time_t writeSec)
      : sock_(sock), pending_(pending), readTimeout_(readSec * 1000), writeTimeout_(writeSec * 1000) {}

  bool is_readable() const override { return !pending_.empty() || Poll(POLLIN, readTimeout_); }
  bool is_writable() const override { return Poll(POLLOUT, writeTimeout_); }

  ssize_t read(char* ptr, size_t size) override {
    if (!pending_.empty()) {
      size_t n = std::min(size, pending_.size());
      std::memcpy(ptr, pending_.data(), n);
      pending_.erase(0, n);
      return static_cast<ssize_t>(n);
    }
    if (!Poll(POLLIN, readTimeout_)) return -1;
    for (;;) {
      ssize_t n = recv(sock_, ptr, size, 0);
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    for (;;) {
      ssize_t n = send(sock_, ptr, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { ip = PeerAddress(sock_, &port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    if (getsockname(sock_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) ip = AddressOf(sa, &port);
  }
  socket_t socket() const override { return sock_; }

 private:
  bool Poll(short events, long ms) const {
    pollfd p{sock_, events, 0};
    for (;;) {
      int r = poll(&p, 1, static_cast<int>(ms));
      if (r < 0 && errno == EINTR) continue;
      return r > 0 && !(p.revents & POLLNVAL);
    }
  }
  int sock_;
  std::string& pending_;
  long readTimeout_, writeTimeout_;
};

// Sends a last answer. What the client sent and nobody read is taken off
// the socket first: closing over unread input resets the connection, and
// the client would lose the answer.
void SendAndClose(int sock, const char* answer) {
  char sink[4096];
  for (int i = 0; i < 16 && recv(sock, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
  }
  ssize_t ignored = send(sock, answer, std::strlen(answer), MSG_NOSIGNAL);
  (void)ignored;
  ::shutdown(sock, SHUT_WR);
}

// One thread per connection, counted so that shutdown waits for all. The
// count lives apart from the queue so that a finishing thread never touches
// a queue that shutdown has let go.
class ThreadPerConnection final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    {
      std::lock_guard lock(state_->mutex);
      ++state_->running;
    }
    std::thread([state = state_, fn = std::move(fn)] {
      fn();
      std::lock_guard lock(state->mutex);
      if (--state->running == 0) state->done.notify_all();
    }).detach();
  }
  void shutdown() override {
    std::unique_lock lock(state_->mutex);
    state_->done.wait(lock, [this] { return state_->running == 0; });
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable done;
    std::size_t running = 0;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace

void FairSlots::Acquire() {
  std::unique_lock lock(mutex_);
  if (free_ > 0 && queue_.empty()) {
    --free_;
    return;
  }
  Waiter me;
  queue_.push_back(&me);
  me.cv.wait(lock, [&] { return me.granted; });
}

void FairSlots::Release() {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) {
    ++free_;
    return;
  }
  // The slot passes straight to the longest waiter.
  Waiter* next = queue_.front();
  queue_.pop_front();
  next->granted = true;
  next->cv.notify_one();
}

PortalServer::PortalServer(ConnectionLimits limits) : limits_(limits) {
  new_task_queue = [] { return new ThreadPerConnection; };
}

PortalServer::~PortalServer() = default;

void PortalServer::WidenBacklog() {
  // The library listens with a backlog of a handful; many clients at once
  // would wait in SYN retries before they were even accepted.
  ::listen(svr_sock_, SOMAXCONN);
}

std::size_t PortalServer::OpenConnections() {
  std::lock_guard lock(mutex_);
  return open_;
}

bool PortalServer::Admit(const std::string& address) {
  std::lock_guard lock(mutex_);
  auto& mine = perAddress_[address];
  if (open_ >= limits_.total || mine >= limits_.perAddress) {
    if (mine == 0) perAddress_.erase(address);
    return false;
  }
  ++mine;
  ++open_;
  return true;
}

void PortalServer::Leave(const std::string& address) {
  std::lock_guard lock(mutex_);
  --open_;
  if (--perAddress_[address] == 0) perAddress_.erase(address);
}

bool PortalServer::process_and_close_socket(socket_t sock) {
  std::string address = PeerAddress(sock);
  if (!Admit(address)) {
    SendAndClose(sock, "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nConnection: close\r\n"
                       "Content-Length: 0\r\n\r\n");
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return false;
  }
  std::string pending;
  bool ok = true;
  for (std::size_t served = 0; ok && is_running(); ++served) {
    // The first byte of the next request: within the header deadline on a
    // new connection, within the idle time on a kept-alive one.
    auto start = Clock::now();
    if (pending.empty() &&
        !WaitReadable(sock, start + (served ? limits_.keepAliveIdle : limits_.headerDeadline), *this))
      break;
    // The whole head within the deadline, counted from that first byte on a
    // kept-alive connection and from the connection's start on a new one.
    auto deadline = (served ? Clock::now() : start) + limits_.headerDeadline;
    bool complete = HeadComplete(pending);
    while (!complete) {
      if (pending.size() >= kHeadLimit) {
        SendAndClose(sock, "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
                           "Content-Length: 0\r\n\r\n");
        break;
      }
      if (!WaitReadable(sock, deadline, *this)) {
        if (!pending.empty() && is_running())
          SendAndClose(sock, "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        break;
      }
      char buf[4096];
      ssize_t n = recv(sock, buf, std::min(sizeof buf, kHeadLimit - pending.size()), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buf, static_cast<std::size_t>(n));
      complete = HeadComplete(pending);
    }
    if (!complete) break;
    bool last = served + 1 >= keep_alive_max_count_ || !is_running();
    bool closed = false;
    ConnectionStream stream(sock, pending, read_timeout_sec_, write_timeout_sec_);
    ok = process_request(stream, last, closed, [](httplib::Request&) {});
    if (closed || last) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  Leave(address);
  return ok;
}

}  // namespace portal
