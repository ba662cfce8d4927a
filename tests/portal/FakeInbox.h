// A small stand-in for the component, registered in-process under the
// module's CLSID and ProgID, so that the portal's pages, services and
// security checks can be tested without the real module. It reaches the
// portal only the way the component does: HostKit, the target and the
// portal's COM classes.
#pragma once

namespace portal_test {
// Registers the class for this process and its ProgID in the registry.
void RegisterFakeInbox();
}  // namespace portal_test
