// Reading a posted form collection: field texts, button tests, list joins,
// shared by the compose post handler and name resolution.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/Intrinsics.h"

namespace compose {

// The field's text (its values joined with ", "), empty when it is missing.
std::u16string FormText(IRequestDictionary* form, std::u16string_view name);
// Number of values posted under the name (0 when missing).
int FormValueCount(IRequestDictionary* form, std::u16string_view name);
// A submit button counts as pressed when the field named after its label
// exists and its value equals the label, ignoring case.
bool IsButtonPressed(IRequestDictionary* form, std::u16string_view label);
// Items trimmed and joined with ";" (an empty item after a non-empty one
// still adds its ";"), as lists are stored in the session.
std::u16string JoinList(const std::vector<std::u16string>& items);
// Items joined with the given separator, unchanged.
std::u16string JoinWith(const std::vector<std::u16string>& items, std::u16string_view separator);

}  // namespace compose
