#include "portal/Health.h"

#include <hiredis/hiredis.h>
#include <httplib.h>

#include <string>

#include "portal/ImapSite.h"
#include "portal/Server.h"

namespace portal {

namespace {

// A fresh connection and a PING, each bounded by two seconds.
std::string RedisHealth(const std::string& hostPort) {
  auto colon = hostPort.rfind(':');
  std::string host = hostPort.substr(0, colon);
  int port = colon == std::string::npos ? 6379 : std::atoi(hostPort.c_str() + colon + 1);
  timeval tv{2, 0};
  redisContext* c = redisConnectWithTimeout(host.c_str(), port, tv);
  bool ok = false;
  if (c && !c->err) {
    redisSetTimeout(c, tv);
    auto* reply = static_cast<redisReply*>(redisCommand(c, "PING"));
    ok = reply && reply->type == REDIS_REPLY_STATUS && std::string(reply->str, reply->len) == "PONG";
    if (reply) freeReplyObject(reply);
  }
  if (c) redisFree(c);
  return ok ? std::string() : "Redis " + hostPort + " does not answer";
}

}  // namespace

void AnswerHealth(Portal& portal, httplib::Response& res) {
  std::string problems;
  if (!portal.Cfg().redis.empty()) {
    std::string r = RedisHealth(portal.Cfg().redis);
    if (!r.empty()) problems += r + "\n";
  }
  std::string imap = ImapHealth(portal.Cfg());
  if (!imap.empty()) problems += imap + "\n";
  res.status = problems.empty() ? 200 : 503;
  res.set_header("Cache-Control", "no-store");
  res.set_content(problems.empty() ? "ok\n" : problems, "text/plain; charset=utf-8");
}

}  // namespace portal
