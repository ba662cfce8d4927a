// The output target handed to the component: each ILumarestTarget member
// writes its piece of HTML into the page's response. Full or reduced output
// follows the session's mode.
#pragma once

#include "host/Intrinsics.h"
#include "host/InboxInterfaces.h"

namespace portal {

enum class OutputMode { Full, Reduced };

// A new target (reference count 1 held by the returned pointer).
CComPtr<ILumarestTarget> CreateHtmlTarget(IResponse* response, OutputMode mode);

// The width the component lays its forms out for: in full output it writes
// it as a percentage of the page ("width: 100%"), in reduced output as
// pixels of a small screen ("width=232", the width less 8).
constexpr LONG kFullDisplayWidth = 100;
constexpr LONG kReducedDisplayWidth = 240;

}  // namespace portal
