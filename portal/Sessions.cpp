#include "portal/Sessions.h"

#include <hiredis/hiredis.h>

#include <stdexcept>
#include <vector>

namespace portal {

MemorySessionStore::MemorySessionStore(std::chrono::seconds idle, Clock clock)
    : idle_(idle), clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point MemorySessionStore::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void MemorySessionStore::DropExpiredLocked() {
  auto now = Now();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (now - it->second.seen > idle_)
      it = sessions_.erase(it);
    else
      ++it;
  }
  for (auto it = masters_.begin(); it != masters_.end();) {
    if (!sessions_.count(it->second))
      it = masters_.erase(it);
    else
      ++it;
  }
}

std::optional<SessionVars> MemorySessionStore::Load(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return std::nullopt;
  auto now = Now();
  if (now - it->second.seen > idle_) {
    sessions_.erase(it);
    return std::nullopt;
  }
  it->second.seen = now;
  return it->second.vars;
}

bool MemorySessionStore::Put(const std::string& id, const SessionVars& values) {
  std::lock_guard lock(mutex_);
  // Sweep now and then so that abandoned sessions do not pile up.
  if (++putsSinceSweep_ >= 256) {
    putsSinceSweep_ = 0;
    DropExpiredLocked();
  }
  auto& e = sessions_[id];
  for (const auto& [k, v] : values) e.vars[k] = v;
  e.seen = Now();
  return true;
}

void MemorySessionStore::Erase(const std::string& id) {
  std::lock_guard lock(mutex_);
  sessions_.erase(id);
}

bool MemorySessionStore::SetMasterIndex(const std::string& master, const std::string& id) {
  std::lock_guard lock(mutex_);
  masters_[master] = id;
  return true;
}

std::optional<std::string> MemorySessionStore::SessionForMaster(const std::string& master) {
  std::lock_guard lock(mutex_);
  auto it = masters_.find(master);
  if (it == masters_.end()) return std::nullopt;
  return it->second;
}

void MemorySessionStore::EraseMasterIndex(const std::string& master) {
  std::lock_guard lock(mutex_);
  masters_.erase(master);
}

std::size_t MemorySessionStore::Size() {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

namespace {
constexpr const char* kSessionPrefix = "lumarest:session:";
constexpr const char* kMasterPrefix = "lumarest:master:";

struct Reply {
  redisReply* r = nullptr;
  explicit Reply(void* p) : r(static_cast<redisReply*>(p)) {}
  ~Reply() {
    if (r) freeReplyObject(r);
  }
  bool Ok() const { return r && r->type != REDIS_REPLY_ERROR; }
};

// Runs a command given as separate arguments (binary safe).
void* Command(redisContext* ctx, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  std::vector<size_t> lens;
  for (const auto& a : args) {
    argv.push_back(a.data());
    lens.push_back(a.size());
  }
  return redisCommandArgv(ctx, static_cast<int>(args.size()), argv.data(), lens.data());
}
}  // namespace

RedisSessionStore::RedisSessionStore(const std::string& hostPort, std::chrono::seconds idle)
    : idle_(idle) {
  auto colon = hostPort.rfind(':');
  host_ = colon == std::string::npos ? hostPort : hostPort.substr(0, colon);
  if (colon != std::string::npos) port_ = std::stoi(hostPort.substr(colon + 1));
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) throw std::runtime_error("cannot reach Redis at " + hostPort);
}

RedisSessionStore::~RedisSessionStore() {
  if (ctx_) redisFree(ctx_);
}

bool RedisSessionStore::ConnectLocked() {
  if (ctx_ && !ctx_->err) return true;
  if (ctx_) redisFree(ctx_);
  timeval tv{2, 0};
  ctx_ = redisConnectWithTimeout(host_.c_str(), port_, tv);
  if (!ctx_ || ctx_->err) {
    if (ctx_) redisFree(ctx_);
    ctx_ = nullptr;
    return false;
  }
  redisSetTimeout(ctx_, tv);
  return true;
}

std::optional<SessionVars> RedisSessionStore::Load(const std::string& id) {
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) return std::nullopt;
  std::string key = kSessionPrefix + id;
  Reply all(Command(ctx_, {"HGETALL", key}));
  if (!all.Ok() || all.r->type != REDIS_REPLY_ARRAY || all.r->elements == 0) return std::nullopt;
  SessionVars vars;
  for (size_t i = 0; i + 1 < all.r->elements; i += 2)
    vars[std::string(all.r->element[i]->str, all.r->element[i]->len)] =
        std::string(all.r->element[i + 1]->str, all.r->element[i + 1]->len);
  Reply touch(Command(ctx_, {"EXPIRE", key, std::to_string(idle_.count())}));
  return vars;
}

bool RedisSessionStore::Put(const std::string& id, const SessionVars& values) {
  if (values.empty()) return true;
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) return false;
  std::string key = kSessionPrefix + id;
  std::vector<std::string> args{"HSET", key};
  for (const auto& [k, v] : values) {
    args.push_back(k);
    args.push_back(v);
  }
  Reply set(Command(ctx_, args));
  Reply touch(Command(ctx_, {"EXPIRE", key, std::to_string(idle_.count())}));
  return set.Ok();
}

void RedisSessionStore::Erase(const std::string& id) {
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) return;
  Reply del(Command(ctx_, {"DEL", std::string(kSessionPrefix) + id}));
}

bool RedisSessionStore::SetMasterIndex(const std::string& master, const std::string& id) {
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) return false;
  Reply set(Command(ctx_, {"SET", std::string(kMasterPrefix) + master, id, "EX",
                           std::to_string(idle_.count())}));
  return set.Ok();
}

std::optional<std::string> RedisSessionStore::SessionForMaster(const std::string& master) {
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) return std::nullopt;
  std::string key = std::string(kMasterPrefix) + master;
  Reply get(Command(ctx_, {"GET", key}));
  if (!get.Ok() || get.r->type != REDIS_REPLY_STRING) return std::nullopt;
  Reply touch(Command(ctx_, {"EXPIRE", key, std::to_string(idle_.count())}));
  return std::string(get.r->str, get.r->len);
}

void RedisSessionStore::EraseMasterIndex(const std::string& master) {
  std::lock_guard lock(mutex_);
  if (!ConnectLocked()) return;
  Reply del(Command(ctx_, {"DEL", std::string(kMasterPrefix) + master}));
}

std::unique_ptr<SessionStore> MakeSessionStore(const std::string& redis, std::chrono::seconds idle) {
  if (redis.empty()) return std::make_unique<MemorySessionStore>(idle);
  return std::make_unique<RedisSessionStore>(redis, idle);
}

}  // namespace portal
