// Reading a posted form collection: field texts, button tests, list joins.
// Here rather than in compose/ because name resolution reads the same posts
// and compose/ calls into recipients/, never the other way round.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/Intrinsics.h"

namespace postfields {

// The field's text (its values joined with ", "), empty when it is missing.
std::u16string FormText(IRequestDictionary* form, std::u16string_view name);
// Number of values posted under the name (0 when missing).
int FormValueCount(IRequestDictionary* form, std::u16string_view name);
// A submit button counts as pressed when the field named after its label
// exists and its value equals the label, ignoring case.
bool IsButtonPressed(IRequestDictionary* form, std::u16string_view label);
// Items joined with the given separator, unchanged.
std::u16string JoinWith(const std::vector<std::u16string>& items, std::u16string_view separator);

}  // namespace postfields
