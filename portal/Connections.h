// The portal's HTTP connections. Each connection has a thread of its own
// (up to a total cap, and a cap per client address) that waits for a
// request's line and headers under a deadline and reads them itself; only a
// complete request head goes on to the HTTP library's request handling. An
// idle keep-alive connection or a client that sends half a request holds
// nothing but its own thread: the pages run in a bounded set of page slots
// (see Portal::Route), so they never wait behind slow or idle clients.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace portal {

struct ConnectionLimits {
  std::chrono::milliseconds headerDeadline{10000};  // request line and headers
  std::chrono::milliseconds keepAliveIdle{5000};    // wait for the next request
  std::size_t perAddress = 32;
  std::size_t total = 1024;
};

// Page slots handed out first come, first served: under a full load every
// request waits its turn (about queue length / throughput) rather than some
// waiting seconds while later ones overtake them.
class FairSlots {
 public:
  explicit FairSlots(int slots) : free_(slots) {}
  void Acquire();
  void Release();

 private:
  struct Waiter {
    std::condition_variable cv;
    bool granted = false;
  };
  std::mutex mutex_;
  int free_;
  std::deque<Waiter*> queue_;
};

class PortalServer : public httplib::Server {
 public:
  explicit PortalServer(ConnectionLimits limits);
  ~PortalServer() override;

  // After binding: a listen queue as long as the system allows.
  void WidenBacklog();
  // Connections open now.
  std::size_t OpenConnections();

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool Admit(const std::string& address);
  void Leave(const std::string& address);

  ConnectionLimits limits_;
  std::mutex mutex_;
  std::map<std::string, std::size_t> perAddress_;
  std::size_t open_ = 0;
};

}  // namespace portal
