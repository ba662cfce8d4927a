// Work done as the signed-in user, through the host's impersonation object.
#pragma once

#include <string_view>

#include "host/Impersonation.h"

HRESULT CreateImpersonator(CComPtr<IImpersonate>& object, std::u16string_view component);
// Releases the object before returning; true when the thread now acts as the user.
bool ImpersonateUser(CComPtr<IImpersonate> object, std::u16string_view component);
