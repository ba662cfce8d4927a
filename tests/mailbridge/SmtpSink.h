// A loopback SMTP listener for tests: one connection at a time.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace mbtest {

// SMTP sink: accepts the recipients it is not told to refuse, records the
// envelope and the data.
class SmtpSink {
 public:
  explicit SmtpSink(std::vector<std::string> refuse = {}) : refuse_(std::move(refuse)) {}
  std::string Url() const { return "smtp://127.0.0.1:" + std::to_string(server_.port()); }

  std::string from;
  std::vector<std::string> rcpts;
  std::string data;
  std::vector<std::string> messages;  // every transaction: the MAIL line, a newline, the data
  std::atomic<int> transactions{0};

 private:
  void Serve(LoopbackServer::Peer& c) {
    auto say = [&](const std::string& s) { c.Say(s + "\r\n"); };
    say("220 sink ready");
    std::string line;
    while (c.ReadLine(line)) {
      std::string verb = line.substr(0, 4);
      for (auto& ch : verb) ch = static_cast<char>(toupper(ch));
      bool refused = false;
      for (const auto& r : refuse_) refused = refused || line.find(r) != std::string::npos;
      if (verb == "EHLO" || verb == "HELO") {
        say("250 sink");
      } else if (verb == "MAIL") {
        from = line;
        say("250 ok");
      } else if (verb == "RCPT" && refused) {
        say("550 no such user");
      } else if (verb == "RCPT") {
        rcpts.push_back(line.substr(line.find('<')));
        say("250 ok");
      } else if (verb == "DATA") {
        say("354 go on");
        std::string body;
        while (c.ReadLine(line) && line != ".") body += line + "\r\n";
        data = body;
        messages.push_back(from + "\n" + body);
        ++transactions;
        say("250 queued");
      } else if (verb == "QUIT") {
        say("221 bye");
        return;
      } else {
        say(verb == "RSET" || verb == "NOOP" ? "250 ok" : "502 unknown");
      }
    }
  }
  std::vector<std::string> refuse_;
  LoopbackServer server_{[this](LoopbackServer::Peer& c) { Serve(c); }};  // last: stops first
};

}  // namespace mbtest
