// Compose state: the message being composed lives between requests in seven
// web-session variables (composeSubject, composeBody, composeTo, composeCC,
// composeBCC, FileID, ReturnTo). Lists are stored as their items joined by
// a single ";" with no spaces. Kept in recipients/, below compose/, because
// name resolution reads and writes the same variables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using ComposeList = std::vector<std::u16string>;

// Replaces list with the items of the session variable: the text split at
// every ";", each piece trimmed of white space, empty pieces dropped, the
// rest in order (duplicates kept). A variable that cannot be read is empty.
void ReadSessionList(std::u16string_view name, ComposeList& list);
ComposeList ReadSessionList(std::u16string_view name);

// Stores the list into the session variable: each item trimmed, joined with
// ";". Leading empty items vanish; an empty item after a non-empty one still
// adds its ";". An empty list stores the empty string.
void WriteSessionList(std::u16string_view name, const ComposeList& list);

// The text WriteSessionList stores for a list.
std::u16string JoinSessionList(const ComposeList& list);

// Appends every value of a posted form field, in order, split at each ";"
// without trimming: pieces between two ";" are appended even when empty, the
// text after the last ";" only when it is not empty. A field that is missing
// or not a list of values appends nothing.
void ReadFormList(std::u16string_view field, ComposeList& list);

// Stores the empty string in all seven compose variables, in the order
// composeBody, composeSubject, composeTo, composeCC, composeBCC, FileID, ReturnTo.
void ClearComposeSession();
