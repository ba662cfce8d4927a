#include "platform/Debug.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/Text.h"

namespace {
std::mutex g_mutex;
platform::DebugSink g_sink;
}  // namespace

void OutputDebugStringW(LPCWSTR text) {
  std::u16string_view view = platform::View(text);
  platform::DebugSink sink;
  {
    std::lock_guard lock(g_mutex);
    sink = g_sink;
  }
  if (sink) {
    sink(view);
  } else if (const char* env = std::getenv("LUMAREST_DEBUG_OUTPUT"); env && *env == '1') {
    std::fprintf(stderr, "%s\n", platform::Utf16ToUtf8(view).c_str());
  }
}

namespace platform {
DebugSink SetDebugSink(DebugSink sink) {
  std::lock_guard lock(g_mutex);
  DebugSink old = std::move(g_sink);
  g_sink = std::move(sink);
  return old;
}
}  // namespace platform
