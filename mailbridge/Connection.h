// The connection the component talks to: one user's store, its summary
// index, the directory files and the way out for new mail.
#pragma once

#include <memory>
#include <string>

#include "mailbridge/store/Index.h"
#include "mailbridge/MailBridge.h"
#include "mailbridge/mime/Mime.h"
#include "mailbridge/send/Send.h"
#include "mailbridge/store/Store.h"

namespace mailbridge {

class Connection final : public MAPIManaged::MAPINativeConnection {
 public:
  Connection(AccountConfig config, std::unique_ptr<MailStore> store);
  ~Connection() override;

  HRESULT InboxSummary(const char16_t* folder, MAPIManaged::_MAILITEM** items, DWORD* count, int sort) override;
  HRESULT InboxMessage(const char16_t* folder, const GUID& id, MAPIManaged::_MAILMESSAGE** message,
                       MAPIManaged::_MAILMESSAGEATTACHMENTS** attachments, DWORD* attachmentCount,
                       int direction) override;
  HRESULT InboxAttachment(const char16_t* folder, const GUID& id, int attachId, BYTE** buffer,
                          DWORD* length) override;
  HRESULT DeleteMessage(const char16_t* folder, const GUID& id, const char16_t* language) override;
  HRESULT RespondToMeetingRequest(int response, const GUID& id, const char16_t* folder,
                                  const char16_t* language) override;
  HRESULT Contacts(MAPIManaged::_CONTACTITEM** items, DWORD* count, const char16_t* folder,
                   const char16_t* search) override;
  HRESULT GAL(MAPIManaged::_CONTACTITEM** items, DWORD* count, const char16_t* search,
              bool exactMatch) override;
  HRESULT SendMessageW(const char16_t* const* to, DWORD toCount, const char16_t* const* cc, DWORD ccCount,
                       const char16_t* const* bcc, DWORD bccCount, const char16_t* subject,
                       const char16_t* body, const char16_t* const* attachmentPaths,
                       DWORD attachmentCount) override;
  HRESULT InitializeUserCredentials(const char16_t* masterSessionKey, const char16_t* ticket) override;

  // The folder under which attachments of this user are written.
  const std::string& AttachmentCacheDir() const { return cacheDir_; }

 private:
  struct Located {
    std::string folder;
    SummaryRow row;
    std::shared_ptr<const FolderSnapshot> snapshot;  // holds the row's texts
  };
  HRESULT Locate(const char16_t* folder, const GUID& id, int direction, Located& out);
  Status ResolveRecipients(const char16_t* const* items, DWORD count, std::vector<MailAddress>& out);
  Status ReadAttachments(const char16_t* const* paths, DWORD count, std::vector<OutgoingFile>& out);
  Status Transmit(const OutgoingMessage& message, const std::string& raw);
  std::optional<std::string> LocalMaildirFor(const std::string& address) const;
  std::string AttachmentPath(const GUID& id, const MimeAttachment& a) const;
  void Rebind(std::unique_ptr<MailStore> store);

  AccountConfig config_;
  std::unique_ptr<MailStore> store_;
  std::unique_ptr<SummaryIndex> index_;
  GUID userSpace_{};
  std::string cacheDir_;
};

// The code the component expects for a failure of the library.
// MAPI_E_NOT_FOUND and MAPI_E_AMBIGUOUS_RECIP tell it to resolve names, so
// only the recipient stage of a send gives them (SendMessageW translates the
// attachment stage's "not found" on its own).
HRESULT ToHresult(const Status& status);

// How the account reaches its IMAP server.
ImapSettings ImapSettingsFor(const AccountConfig& config);

// The namespace of one user's identifiers in one store.
GUID UserSpace(const std::string& userName, const std::string& storeIdentity);

}  // namespace mailbridge
