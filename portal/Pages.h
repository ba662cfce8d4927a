// The pages under /HalvornSLV/: sign-in and sign-out, the pages that host
// the component, the attachment pages, the folder and file browsers and the
// link-out page.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/Intrinsics.h"
#include "portal/Accounts.h"
#include "portal/PortalHost.h"

struct IMyInbox;

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace portal {

class Portal;

// One request to a page.
struct PageEnv {
  Portal& portal;
  const httplib::Request& req;
  httplib::Response& res;
  std::string page;  // lower-case page name, e.g. "inbox.asp"
  hostkit::FieldList query;
  hostkit::FieldList form;  // url-encoded or multipart fields (not files)
  std::optional<Account> account;
  std::unique_ptr<Session> session;

  std::string Query(const std::string& name) const;
  std::string Form(const std::string& name) const;
  bool IsPost() const;
};

// Answers a request for a page; false when no page has that name.
bool ServePage(PageEnv& env);

// The name of the session cookie.
inline constexpr const char* kSessionCookie = "LumarestSession";

// Whether the request comes from this site: every one of Origin,
// Sec-Fetch-Site and Referer that is present names it, and one at least is.
bool SameOrigin(const httplib::Request& req, const std::string& publicOrigin);

// Full or reduced output for a browser that did not choose.
bool IsSmallDevice(const std::string& userAgent);

// The two error pages: 227 mail set-up failed, 228 web mail not granted.
std::string ErrorPage(int id);

// For the pages kept in files of their own (RecipientPages.cpp).
namespace pagekit {
// A portal page around body (its navigation, style sheet and script).
void SendPage(PageEnv& env, int status, const std::string& title, const std::string& body);
void SendMessage(PageEnv& env, int status, const std::string& text);
void SendRedirect(PageEnv& env, const std::string& location);
// False when the answer (sign-in or refusal) has been sent.
bool SignedIn(PageEnv& env);
bool FromThisSite(PageEnv& env);
// The one rule for a value that may become a recipient: no markup, no quote,
// no control character (the compose form writes recipients as they stand).
bool HasUnsafeRecipientChar(const std::string& text);
// Runs fn on a new MyInbox with this form; the session's changes are saved.
// Returns what the component wrote.
std::string RunComponent(PageEnv& env, const std::function<HRESULT(IMyInbox*)>& fn,
                         hostkit::FieldList form, HRESULT* result = nullptr);
}  // namespace pagekit

// The recipient pages (RecipientPages.cpp); false when the name is none of them.
bool ServeRecipientPage(PageEnv& env);
// The portal's bar under the component's compose form.
std::string ComposeFormExtras();

}  // namespace portal
