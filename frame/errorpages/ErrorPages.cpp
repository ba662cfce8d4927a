#include "host/ErrorPages.h"

namespace frame_detail {
extern const ErrorPageEntry kErrorPages[];
extern const unsigned kErrorPageCount;
}  // namespace frame_detail

const char16_t* ErrorPageHtml(UINT id) {
  for (unsigned i = 0; i < frame_detail::kErrorPageCount; ++i)
    if (frame_detail::kErrorPages[i].id == id) return frame_detail::kErrorPages[i].html;
  return nullptr;
}
