// A recording stand-in for the component, registered in-process under the
// module's CLSID and ProgID. Each page method records its name, its text
// arguments and what the host showed it, then writes a short marker through
// the target the portal handed it. A test may give a method a script of its
// own (a redirect, a failure, bytes, a file choice) to see how the portal
// turns it into an HTTP answer; the script runs inside the request, so it
// may call the host's functions.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/HostKit.h"

namespace portal_test {

struct InboxCall {
  std::string method;
  std::vector<std::string> args;          // the method's text and number arguments
  std::string user, query, language;      // the session's user, QUERY_STRING, Accept-Language
  VARIANT* result = nullptr;              // GetAttachment2's answer
  BSTR* out = nullptr;                    // RemoveAttachment's answer
};

// The marker a call writes unless scripted: "[Method arg|arg]".
std::string Marker(const InboxCall& call);

class RecordingInbox {
 public:
  using Script = std::function<HRESULT(InboxCall&)>;
  // Registers the class for this process and its ProgID; forgets calls and scripts.
  static void Register();
  static void On(const std::string& method, Script script);
  static std::vector<InboxCall> Calls();
};

// Script helpers, for use inside a script.
void RedirectTo(const std::u16string& url);
void AttachmentBytes(InboxCall& call, const std::string& bytes);
// As the component does for ComponentID=2: offers or serves the file named by
// FileName (URL-safe encoded) with the Options of the query.
HRESULT OfferFile(InboxCall& call);

}  // namespace portal_test
