// The portal's own in-process classes the component creates: the
// impersonation object, the shell object that reads internet shortcuts, the
// activation host (upload store for forwarded attachments) and the master
// session store. Their interfaces keep the slot order the component calls.
#pragma once

#include "platform/Com.h"

// The interfaces are the ones the component calls through (host/
// headers); the portal's objects implement exactly those.
#include "host/Impersonation.h"
#include "host/ActivationHost.h"
#include "host/MasterSessionStore.h"

// The portal's activation host class, ProgID "ActivationServiceHost.HvnActivationServ".
// {4B0E7A91-5C2D-4E8F-9A61-0D3C8B7F2E14}
constexpr CLSID CLSID_HvnActivationServ = {0x4B0E7A91, 0x5C2D, 0x4E8F, {0x9A, 0x61, 0x0D, 0x3C, 0x8B, 0x7F, 0x2E, 0x14}};
// The shell automation object, ProgID "WScript.Shell".
// {72C24DD5-D70A-438B-8A42-98424B88AFB8}
constexpr CLSID CLSID_WScriptShell = {0x72C24DD5, 0xD70A, 0x438B, {0x8A, 0x42, 0x98, 0x42, 0x4B, 0x88, 0xAF, 0xB8}};

namespace portal {
// Shell members reached through IDispatch.
constexpr DISPID DISPID_CreateShortcut = 1002;
constexpr DISPID DISPID_TargetPath = 1005;

// Registers the four classes for this process and writes the ProgIDs of the
// shell object and the activation host into the registry.
void RegisterHostClasses();
}  // namespace portal
