// The search and preview rules of the listing rows.
#pragma once

#include <string>
#include <string_view>

namespace listing {

// A search posted from the search bar: the lower-cased text and the type
// (0 sender, 1 body, 2 subject); type -1 when no search was posted.
struct PostedSearch {
  std::u16string text;
  int type = -1;
};

// Reads the posted form of the current request ("Show All", "SearchText",
// "SearchType").
PostedSearch ReadPostedSearch();

// Whether an HTML-encoded record text, lower-cased and then decoded, holds
// the (lower-case) search text. A null or empty text never matches. scratch is
// reused across calls so that plain texts need no allocation.
bool FieldMatches(const char16_t* field, std::u16string_view search, std::u16string& scratch);

// The preview under a subject: the body in full with "...[END]", or its first
// 156 decoded characters, encoded again, with "...[MORE]".
std::u16string BuildPreview(const char16_t* body);

}  // namespace listing
