// What the compose form, the post handler and name resolution use from the
// compose state (the web-session variables of a message being written) and
// from the message view (attachment icons, send-time link rewriting).
#pragma once

#include <string>

#include "compose/ComposeState.h"
#include "inbox/Interfaces.h"
#include "view/Links.h"

// Replaces a file name by the path of its file-type icon; false (and empty
// text) when the target shows no images. Weak until the message view's
// attachment links join the tree: without them the form shows no icon.
bool GetFileIconPath(std::u16string& name, ILumarestTarget* target) __attribute__((weak));

// Weak until the credentials code joins the tree; without it nothing can be
// done as the signed-in user, so those steps fail.
#include "frame/Credentials.h"
HRESULT CreateImpersonator(CComPtr<IImpersonate>& object, std::u16string_view component)
    __attribute__((weak));
bool ImpersonateUser(CComPtr<IImpersonate> object, std::u16string_view component)
    __attribute__((weak));
inline bool CredentialsAvailable() { return &CreateImpersonator && &ImpersonateUser; }
