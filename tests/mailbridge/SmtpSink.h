// A loopback SMTP listener for tests: one connection at a time.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"

namespace mbtest {

// One-connection SMTP sink: accepts the recipients it is told to, records
// the envelope and the data. Every wait is bounded.
class SmtpSink {
 public:
  explicit SmtpSink(std::vector<std::string> refuse = {}) : refuse_(std::move(refuse)) {
    fd_ = mbtest::ListenOnLoopback(port_, 4);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SmtpSink() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string Url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }

  std::string from;
  std::vector<std::string> rcpts;
  std::string data;
  std::vector<std::string> messages;  // every transaction: the MAIL line, a newline, the data
  std::atomic<int> transactions{0};

 private:
  bool ReadLine(int c, std::string& line) {
    line.clear();
    for (;;) {
      pollfd p{c, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) return false;
      char ch;
      if (read(c, &ch, 1) != 1) return false;
      if (ch == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      line.push_back(ch);
    }
  }
  void Say(int c, const std::string& s) { (void)!write(c, (s + "\r\n").data(), s.size() + 2); }
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      Say(c, "220 sink ready");
      std::string line;
      while (ReadLine(c, line)) {
        std::string verb = line.substr(0, 4);
        for (auto& ch : verb) ch = static_cast<char>(toupper(ch));
        if (verb == "EHLO" || verb == "HELO") {
          Say(c, "250 sink");
        } else if (verb == "MAIL") {
          from = line;
          Say(c, "250 ok");
        } else if (verb == "RCPT") {
          bool refused = false;
          for (const auto& r : refuse_) refused = refused || line.find(r) != std::string::npos;
          if (refused) {
            Say(c, "550 no such user");
          } else {
            rcpts.push_back(line.substr(line.find('<')));
            Say(c, "250 ok");
          }
        } else if (verb == "DATA") {
          Say(c, "354 go on");
          std::string body;
          while (ReadLine(c, line) && line != ".") body += line + "\r\n";
          data = body;
          messages.push_back(from + "\n" + body);
          ++transactions;
          Say(c, "250 queued");
        } else if (verb == "QUIT") {
          Say(c, "221 bye");
          break;
        } else if (verb == "RSET" || verb == "NOOP") {
          Say(c, "250 ok");
        } else {
          Say(c, "502 unknown");
        }
      }
      close(c);
    }
  }
  std::vector<std::string> refuse_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace mbtest
