// What the compose form, the post handler and name resolution use from the
// compose state (the web-session variables of a message being written) and
// from the message view (attachment icons, send-time link rewriting).
#pragma once

#include <string>

#include "compose/ComposeState.h"
#include "inbox/Interfaces.h"

// Replaces a file name by the path of its file-type icon; false (and empty
// text) when the target shows no images.
bool GetFileIconPath(std::u16string& name, ILumarestTarget* target);

// Send-time link rewriting: bare network paths become "file://" URLs.
void LinkifyUncPaths(std::u16string& text);
