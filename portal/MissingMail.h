// Telling a folder or message that is not there (a stale link, a message
// deleted in another window) from a fault: the mail connection handed to the
// component notes which of the two was missing, and the page answers 404
// with a page that names it and links back to the folder.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/MAPINativeConnection.h"

namespace portal {

struct MissingMail {
  enum Kind { Folder, Message } kind = Message;
  std::u16string folder;  // as the component named it; empty is the Inbox
};

// Wraps a connection; every call goes through unchanged. When the mail
// library answers MAPI_E_NOT_FOUND for a folder's listing, or for a message
// asked for itself (not for a neighbour past the end of the list), `missing`
// is set, once, to what was not there.
std::unique_ptr<MAPIManaged::MAPINativeConnection> NoticeMissing(
    std::unique_ptr<MAPIManaged::MAPINativeConnection> inner, std::optional<MissingMail>& missing);

// The body of the 404 page: what is missing and links back. The text the
// component wrote (its one-line failure message) goes above it.
std::string MissingMailBody(const MissingMail& missing, const std::string& componentText);

}  // namespace portal
