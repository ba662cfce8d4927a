#include "tests/mailbox/MailboxFixture.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace mailbox_testing {

namespace {
// A fixed table, so that watching never allocates inside the allocator.
constexpr int kSlots = 64;
std::mutex g_mutex;
const void* g_watched[kSlots];
int g_count = 0;

void Forget(const void* p) {
  if (!p) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (int i = 0; i < g_count; ++i) {
    if (g_watched[i] == p) {
      g_watched[i] = g_watched[--g_count];
      return;
    }
  }
}
}  // namespace

void WatchBuffer(const void* buffer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (buffer && g_count < kSlots) g_watched[g_count++] = buffer;
}

int UnreleasedBuffers() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_count;
}

void ForgetBuffers() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_count = 0;
}

}  // namespace mailbox_testing

// Array allocation for the whole test program, so that delete[] of a
// watched attachment buffer is seen.
void* operator new[](std::size_t bytes) {
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return std::malloc(bytes ? bytes : 1);
}
void operator delete[](void* p) noexcept {
  mailbox_testing::Forget(p);
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  mailbox_testing::Forget(p);
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  mailbox_testing::Forget(p);
  std::free(p);
}
