// Debugger output. Lines go to a sink the host or a test installs; without
// one they go to standard error when LUMAREST_DEBUG_OUTPUT is set, else nowhere.
#pragma once

#include <functional>
#include <string_view>

#include "platform/WinTypes.h"

void OutputDebugStringW(LPCWSTR text);

namespace platform {
using DebugSink = std::function<void(std::u16string_view)>;
// Returns the previous sink.
DebugSink SetDebugSink(DebugSink sink);
}  // namespace platform
