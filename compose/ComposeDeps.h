// What the compose form, the post handler and name resolution use from the
// compose state (the web-session variables of a message being written) and
// from the attachment icons of the message view.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inbox/Interfaces.h"

// Compose state: lists are stored as items joined by ";".
void ReadSessionList(std::u16string_view name, std::vector<std::u16string>& list);
void WriteSessionList(std::u16string_view name, const std::vector<std::u16string>& list);
// Every value of a posted field of the current request, split at ";".
void ReadFormList(std::u16string_view field, std::vector<std::u16string>& list);
// Stores "" in all seven compose variables.
void ClearComposeSession();

// Replaces a file name by the path of its file-type icon; false (and empty
// text) when the target shows no images.
bool GetFileIconPath(std::u16string& name, ILumarestTarget* target);

// Send-time link rewriting: bare network paths become "file://" URLs.
void LinkifyUncPaths(std::u16string& text);
