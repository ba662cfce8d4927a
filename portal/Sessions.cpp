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
  redisContext* first = Connect();
  if (!first) throw std::runtime_error("cannot reach Redis at " + hostPort);
  idleConnections_.push_back(first);
}

RedisSessionStore::~RedisSessionStore() {
  for (auto* c : idleConnections_) redisFree(c);
}

redisContext* RedisSessionStore::Connect() const {
  timeval connectTimeout{1, 0}, commandTimeout{2, 0};
  redisContext* ctx = redisConnectWithTimeout(host_.c_str(), port_, connectTimeout);
  if (!ctx || ctx->err) {
    if (ctx) redisFree(ctx);
    return nullptr;
  }
  redisSetTimeout(ctx, commandTimeout);
  return ctx;
}

redisContext* RedisSessionStore::Borrow() {
  {
    std::unique_lock lock(mutex_);
    if (!freed_.wait_for(lock, std::chrono::seconds(2),
                         [this] { return !idleConnections_.empty() || lent_ < kPoolSize; }))
      throw SessionsUnavailable();
    ++lent_;
    if (!idleConnections_.empty()) {
      redisContext* c = idleConnections_.back();
      idleConnections_.pop_back();
      return c;
    }
  }
  // A new connection, opened outside the lock.
  redisContext* c = Connect();
  if (!c) {
    Return(nullptr, true);
    throw SessionsUnavailable();
  }
  return c;
}

void RedisSessionStore::Return(redisContext* ctx, bool broken) {
  {
    std::lock_guard lock(mutex_);
    --lent_;
    if (ctx && !broken) idleConnections_.push_back(ctx);
  }
  if (ctx && broken) redisFree(ctx);
  freed_.notify_one();
}

std::shared_ptr<void> RedisSessionStore::Run(const std::vector<std::string>& args) {
  redisContext* c = Borrow();
  std::shared_ptr<void> reply(Command(c, args), [](void* r) {
    if (r) freeReplyObject(r);
  });
  bool broken = !reply || c->err;
  Return(c, broken);
  if (broken) throw SessionsUnavailable();
  return reply;
}

namespace {
redisReply* R(const std::shared_ptr<void>& p) { return static_cast<redisReply*>(p.get()); }
bool Ok(const std::shared_ptr<void>& p) { return R(p) && R(p)->type != REDIS_REPLY_ERROR; }
}  // namespace

std::optional<SessionVars> RedisSessionStore::Load(const std::string& id) {
  std::string key = kSessionPrefix + id;
  auto all = Run({"HGETALL", key});
  if (!Ok(all) || R(all)->type != REDIS_REPLY_ARRAY || R(all)->elements == 0) return std::nullopt;
  SessionVars vars;
  for (size_t i = 0; i + 1 < R(all)->elements; i += 2)
    vars[std::string(R(all)->element[i]->str, R(all)->element[i]->len)] =
        std::string(R(all)->element[i + 1]->str, R(all)->element[i + 1]->len);
  Run({"EXPIRE", key, std::to_string(idle_.count())});
  return vars;
}

bool RedisSessionStore::Put(const std::string& id, const SessionVars& values) {
  if (values.empty()) return true;
  std::string key = kSessionPrefix + id;
  std::vector<std::string> args{"HSET", key};
  for (const auto& [k, v] : values) {
    args.push_back(k);
    args.push_back(v);
  }
  auto set = Run(args);
  Run({"EXPIRE", key, std::to_string(idle_.count())});
  return Ok(set);
}

void RedisSessionStore::Erase(const std::string& id) { Run({"DEL", std::string(kSessionPrefix) + id}); }

bool RedisSessionStore::SetMasterIndex(const std::string& master, const std::string& id) {
  return Ok(Run({"SET", std::string(kMasterPrefix) + master, id, "EX", std::to_string(idle_.count())}));
}

std::optional<std::string> RedisSessionStore::SessionForMaster(const std::string& master) {
  std::string key = std::string(kMasterPrefix) + master;
  auto get = Run({"GET", key});
  if (!Ok(get) || R(get)->type != REDIS_REPLY_STRING) return std::nullopt;
  Run({"EXPIRE", key, std::to_string(idle_.count())});
  return std::string(R(get)->str, R(get)->len);
}

void RedisSessionStore::EraseMasterIndex(const std::string& master) {
  Run({"DEL", std::string(kMasterPrefix) + master});
}

std::unique_ptr<SessionStore> MakeSessionStore(const std::string& redis, std::chrono::seconds idle) {
  if (redis.empty()) return std::make_unique<MemorySessionStore>(idle);
  return std::make_unique<RedisSessionStore>(redis, idle);
}

}  // namespace portal
