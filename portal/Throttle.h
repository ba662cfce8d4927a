// Sign-in throttling: failures are counted per account and per client
// address; five within ten minutes lock the key out for a while that doubles
// with every further lock-out (one minute, two, four... at most an hour).
// Password hashing runs in a few slots only, so a flood of sign-ins cannot
// take every CPU from the pages.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <semaphore>
#include <string>
#include <unordered_map>
#include <vector>

namespace portal {

class SignInThrottle {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr int kFailures = 5;
  static constexpr std::chrono::minutes kWindow{10};

  explicit SignInThrottle(Clock clock = nullptr);

  // Seconds until a sign-in for this account from this address may be tried
  // again; 0 when it may be tried now.
  long RetryAfter(const std::string& account, const std::string& address);

  // A lock-out that a failure started: the key ("user NAME" or
  // "address ADDR") and its length.
  struct LockOut {
    std::string key;
    long seconds;
  };
  // Records a failed sign-in; returns the lock-outs it started.
  std::vector<LockOut> Failed(const std::string& account, const std::string& address);
  // A good password clears the account's failures (not the address's).
  void Succeeded(const std::string& account);

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Entry {
    std::deque<TimePoint> failures;
    int lockOuts = 0;
    TimePoint lockedUntil{};
    TimePoint last{};
  };
  TimePoint Now() const;
  long Remaining(const std::string& key, TimePoint now);
  void Sweep(TimePoint now);

  Clock clock_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
};

// A counting semaphore for password hashing.
class HashSlots {
 public:
  explicit HashSlots(int slots) : slots_(slots) {}
  // Waits up to the given time for a slot; false when none came free.
  bool Acquire(std::chrono::milliseconds wait) { return slots_.try_acquire_for(wait); }
  void Release() { slots_.release(); }

 private:
  std::counting_semaphore<64> slots_;
};

}  // namespace portal
