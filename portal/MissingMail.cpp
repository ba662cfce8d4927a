#include "portal/MissingMail.h"

#include "platform/Text.h"
#include "portal/Util.h"

namespace portal {

namespace {

using namespace MAPIManaged;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x8004010F);

class NoticingConnection : public MAPINativeConnection {
 public:
  NoticingConnection(std::unique_ptr<MAPINativeConnection> inner, std::optional<MissingMail>& missing)
      : inner_(std::move(inner)), missing_(missing) {}

  HRESULT InboxSummary(const char16_t* folder, _MAILITEM** items, DWORD* count, int sort) override {
    HRESULT hr = inner_->InboxSummary(folder, items, count, sort);
    if (hr == kNotFound) Note(MissingMail::Folder, folder);
    return hr;
  }
  HRESULT InboxMessage(const char16_t* folder, const GUID& id, _MAILMESSAGE** message,
                       _MAILMESSAGEATTACHMENTS** attachments, DWORD* attachmentCount,
                       int direction) override {
    HRESULT hr = inner_->InboxMessage(folder, id, message, attachments, attachmentCount, direction);
    if (hr == kNotFound && direction == 0) NoteMessage(folder);
    return hr;
  }
  HRESULT InboxAttachment(const char16_t* folder, const GUID& id, int attachId, BYTE** buffer,
                          DWORD* length) override {
    return inner_->InboxAttachment(folder, id, attachId, buffer, length);
  }
  HRESULT DeleteMessage(const char16_t* folder, const GUID& id, const char16_t* language) override {
    HRESULT hr = inner_->DeleteMessage(folder, id, language);
    if (hr == kNotFound) NoteMessage(folder);
    return hr;
  }
  HRESULT RespondToMeetingRequest(int response, const GUID& id, const char16_t* folder,
                                  const char16_t* language) override {
    // Not found here may be the organiser's address, not the message.
    return inner_->RespondToMeetingRequest(response, id, folder, language);
  }
  HRESULT Contacts(_CONTACTITEM** items, DWORD* count, const char16_t* folder,
                   const char16_t* search) override {
    return inner_->Contacts(items, count, folder, search);
  }
  HRESULT GAL(_CONTACTITEM** items, DWORD* count, const char16_t* search, bool exactMatch) override {
    return inner_->GAL(items, count, search, exactMatch);
  }
  HRESULT SendMessageW(const char16_t* const* to, DWORD toCount, const char16_t* const* cc,
                       DWORD ccCount, const char16_t* const* bcc, DWORD bccCount,
                       const char16_t* subject, const char16_t* body,
                       const char16_t* const* attachmentPaths, DWORD attachmentCount) override {
    return inner_->SendMessageW(to, toCount, cc, ccCount, bcc, bccCount, subject, body,
                                attachmentPaths, attachmentCount);
  }
  HRESULT InitializeUserCredentials(const char16_t* key, const char16_t* ticket) override {
    return inner_->InitializeUserCredentials(key, ticket);
  }

 private:
  void Note(MissingMail::Kind kind, const char16_t* folder) {
    if (!missing_) missing_ = MissingMail{kind, folder ? std::u16string(folder) : std::u16string()};
  }
  // A message is reported missing as such only when its folder is there.
  void NoteMessage(const char16_t* folder) {
    if (missing_) return;
    _MAILITEM* items = nullptr;
    DWORD count = 0;
    HRESULT hr = inner_->InboxSummary(folder, &items, &count, 0);
    delete[] items;
    Note(hr == kNotFound ? MissingMail::Folder : MissingMail::Message, folder);
  }

  std::unique_ptr<MAPINativeConnection> inner_;
  std::optional<MissingMail>& missing_;
};

}  // namespace

std::unique_ptr<MAPINativeConnection> NoticeMissing(std::unique_ptr<MAPINativeConnection> inner,
                                                    std::optional<MissingMail>& missing) {
  if (!inner) return inner;
  return std::make_unique<NoticingConnection>(std::move(inner), missing);
}

std::string MissingMailBody(const MissingMail& missing, const std::string& componentText) {
  std::string folder = platform::Utf16ToUtf8(missing.folder);
  std::string shown = HtmlEscape(folder.empty() ? std::string("Inbox") : folder);
  std::string body = componentText;
  if (missing.kind == MissingMail::Folder) {
    body += "<p class=\"PortalMessage\" id=\"Missing\">There is no folder \"" + shown +
            "\". It may have been renamed or removed.</p>"
            "<p><a class=\"coolButton\" href=\"InboxFolders.asp?Recurse=true&amp;Vis=Inbox\">Your folders</a> "
            "<a class=\"coolButton\" href=\"Inbox.asp\">Inbox</a></p>";
  } else {
    body += "<p class=\"PortalMessage\" id=\"Missing\">This message is no longer in the folder \"" + shown +
            "\". It may have been deleted or moved, perhaps in another window.</p>"
            "<p><a class=\"coolButton\" href=\"Inbox.asp?Folder=" + EncodeUrlSafe(folder) + "\">Back to " +
            shown + "</a></p>";
  }
  return body;
}

}  // namespace portal
