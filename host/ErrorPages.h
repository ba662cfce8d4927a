// The HTML error pages carried by the module for the portal: 227 (no mail
// session could be opened) and 228 (web mail not granted). Every literal
// percent sign is doubled, so a page is itself a format string.
#pragma once

#include "platform/WinTypes.h"

inline constexpr UINT kErrorPageNoMailSession = 227;
inline constexpr UINT kErrorPageNoWebMailAccess = 228;

// The page's HTML, or null for an id the module does not carry.
const char16_t* ErrorPageHtml(UINT id);

namespace frame_detail {
struct ErrorPageEntry {
  UINT id;
  const char16_t* html;
};
}  // namespace frame_detail
