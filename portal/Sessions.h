// Web sessions: a map of named text values per session id, kept in memory by
// default or in Redis so that several portal processes serve one user. Ids
// are 128-bit random values in hex. A session ends after an idle timeout.
// Besides the cookie id every session has a master session id, which the
// component passes to the portal's services; an index maps it back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct redisContext;

namespace portal {

using SessionVars = std::map<std::string, std::string>;

class SessionStore {
 public:
  virtual ~SessionStore() = default;
  // The session's values, refreshing its idle timer; nullopt when unknown or expired.
  virtual std::optional<SessionVars> Load(const std::string& id) = 0;
  // Stores the given values (others stay). Creates the session when new.
  virtual bool Put(const std::string& id, const SessionVars& values) = 0;
  virtual void Erase(const std::string& id) = 0;
  virtual bool SetMasterIndex(const std::string& master, const std::string& id) = 0;
  virtual std::optional<std::string> SessionForMaster(const std::string& master) = 0;
  virtual void EraseMasterIndex(const std::string& master) = 0;
};

class MemorySessionStore final : public SessionStore {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit MemorySessionStore(std::chrono::seconds idle, Clock clock = nullptr);
  std::optional<SessionVars> Load(const std::string& id) override;
  bool Put(const std::string& id, const SessionVars& values) override;
  void Erase(const std::string& id) override;
  bool SetMasterIndex(const std::string& master, const std::string& id) override;
  std::optional<std::string> SessionForMaster(const std::string& master) override;
  void EraseMasterIndex(const std::string& master) override;
  std::size_t Size();

 private:
  struct Entry {
    SessionVars vars;
    std::chrono::steady_clock::time_point seen;
  };
  std::chrono::steady_clock::time_point Now() const;
  void DropExpiredLocked();

  std::chrono::seconds idle_;
  Clock clock_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> sessions_;
  std::unordered_map<std::string, std::string> masters_;
  std::size_t putsSinceSweep_ = 0;
};

// Thrown by a store whose server cannot be reached: the portal answers 503
// ("sessions are unavailable") instead of taking the user as signed out.
struct SessionsUnavailable : std::runtime_error {
  SessionsUnavailable() : std::runtime_error("sessions are unavailable") {}
};

// A small pool of connections, each with connect and command time-outs; a
// connection that failed is dropped and a new one opened on the next use.
// Keys: "lumarest:session:<id>" (a hash) and "lumarest:master:<id>" (a
// text), both with the idle timeout as their expiry.
class RedisSessionStore final : public SessionStore {
 public:
  static constexpr std::size_t kPoolSize = 4;
  // Throws std::runtime_error when the server cannot be reached at start.
  RedisSessionStore(const std::string& hostPort, std::chrono::seconds idle);
  ~RedisSessionStore() override;
  std::optional<SessionVars> Load(const std::string& id) override;
  bool Put(const std::string& id, const SessionVars& values) override;
  void Erase(const std::string& id) override;
  bool SetMasterIndex(const std::string& master, const std::string& id) override;
  std::optional<std::string> SessionForMaster(const std::string& master) override;
  void EraseMasterIndex(const std::string& master) override;

 private:
  // Runs one command on a pooled connection; throws SessionsUnavailable
  // when no connection can be had or the server fails to answer.
  std::shared_ptr<void> Run(const std::vector<std::string>& args);
  redisContext* Borrow();
  void Return(redisContext* ctx, bool broken);
  redisContext* Connect() const;

  std::string host_;
  int port_ = 6379;
  std::chrono::seconds idle_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<redisContext*> idleConnections_;
  std::size_t lent_ = 0;
};

std::unique_ptr<SessionStore> MakeSessionStore(const std::string& redis, std::chrono::seconds idle);

}  // namespace portal
