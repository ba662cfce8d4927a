// The output target handed to the component: each ILumarestTarget member
// writes its piece of HTML into the page's response. Full or reduced output
// follows the session's mode.
#pragma once

#include "host/Intrinsics.h"
#include "inbox/Interfaces.h"

namespace portal {

enum class OutputMode { Full, Reduced };

// A new target (reference count 1 held by the returned pointer).
CComPtr<ILumarestTarget> CreateHtmlTarget(IResponse* response, OutputMode mode);

// Width in pixels the component lays its forms out for.
constexpr LONG kFullDisplayWidth = 1024;
constexpr LONG kReducedDisplayWidth = 240;

}  // namespace portal
