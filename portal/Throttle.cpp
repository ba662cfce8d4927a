#include "portal/Throttle.h"

#include <algorithm>

namespace portal {

namespace {
constexpr std::chrono::seconds kFirstLockOut{60};
constexpr std::chrono::seconds kLongestLockOut{3600};
// An entry quiet for this long starts over: lock-outs stop growing.
constexpr std::chrono::hours kForget{6};
constexpr std::size_t kSweepAbove = 100000;
}  // namespace

SignInThrottle::SignInThrottle(Clock clock) : clock_(std::move(clock)) {}

SignInThrottle::TimePoint SignInThrottle::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

long SignInThrottle::Remaining(const std::string& key, TimePoint now) {
  auto it = entries_.find(key);
  if (it == entries_.end() || it->second.lockedUntil <= now) return 0;
  auto left = std::chrono::ceil<std::chrono::seconds>(it->second.lockedUntil - now);
  return std::max<long>(1, static_cast<long>(left.count()));
}

long SignInThrottle::RetryAfter(const std::string& account, const std::string& address) {
  std::lock_guard lock(mutex_);
  auto now = Now();
  return std::max(Remaining("user " + account, now), Remaining("address " + address, now));
}

std::vector<SignInThrottle::LockOut> SignInThrottle::Failed(const std::string& account,
                                                            const std::string& address) {
  std::lock_guard lock(mutex_);
  auto now = Now();
  if (entries_.size() > kSweepAbove) Sweep(now);
  std::vector<LockOut> started;
  for (const std::string& key : {"user " + account, "address " + address}) {
    Entry& e = entries_[key];
    if (e.last != TimePoint{} && now - e.last > kForget) e = Entry{};
    e.last = now;
    while (!e.failures.empty() && now - e.failures.front() >= kWindow) e.failures.pop_front();
    e.failures.push_back(now);
    if (static_cast<int>(e.failures.size()) < kFailures || e.lockedUntil > now) continue;
    // Each lock-out lasts twice the one before.
    auto length = kFirstLockOut * (1L << std::min(e.lockOuts, 12));
    if (length > kLongestLockOut) length = kLongestLockOut;
    ++e.lockOuts;
    e.lockedUntil = now + length;
    started.push_back({key, static_cast<long>(length.count())});
  }
  return started;
}

void SignInThrottle::Succeeded(const std::string& account) {
  std::lock_guard lock(mutex_);
  entries_.erase("user " + account);
}

void SignInThrottle::Sweep(TimePoint now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    bool idle = it->second.lockedUntil <= now &&
                (it->second.failures.empty() || now - it->second.failures.back() >= kWindow);
    it = idle ? entries_.erase(it) : std::next(it);
  }
}

}  // namespace portal
