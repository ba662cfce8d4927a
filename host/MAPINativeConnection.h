// The mail library's connection, as the component calls it. The host's mail
// library derives from this class; the component owns what VGetMAPINative
// returns and deletes it. Every operation returns an HRESULT; on failure
// no out-parameter is read.
#pragma once

#include "records/MailRecords.h"

namespace MAPIManaged {

class MAPINativeConnection {
 public:
  virtual ~MAPINativeConnection() = default;

  // The folder's messages in the order given by the sort code.
  virtual HRESULT InboxSummary(const char16_t* folder, _MAILITEM** items, DWORD* count,
                               int sort) = 0;
  // One message (direction 0), or its neighbour in the default listing
  // (-1 above, 1 below), with its attachments.
  virtual HRESULT InboxMessage(const char16_t* folder, const GUID& id, _MAILMESSAGE** message,
                               _MAILMESSAGEATTACHMENTS** attachments, DWORD* attachmentCount,
                               int direction) = 0;
  // An attachment's bytes as one new[] BYTE array.
  virtual HRESULT InboxAttachment(const char16_t* folder, const GUID& id, int attachId,
                                  BYTE** buffer, DWORD* length) = 0;
  virtual HRESULT DeleteMessage(const char16_t* folder, const GUID& id,
                                const char16_t* language) = 0;
  // response: 3 accept, 4 decline, 2 tentative.
  virtual HRESULT RespondToMeetingRequest(int response, const GUID& id, const char16_t* folder,
                                          const char16_t* language) = 0;
  // Personal contacts; folder and search both null means all of them.
  virtual HRESULT Contacts(_CONTACTITEM** items, DWORD* count, const char16_t* folder,
                           const char16_t* search) = 0;
  // Global address list entries matching the search text.
  virtual HRESULT GAL(_CONTACTITEM** items, DWORD* count, const char16_t* search,
                      bool exactMatch) = 0;
  // Lists of zero items are passed as null.
  virtual HRESULT SendMessageW(const char16_t* const* to, DWORD toCount,
                               const char16_t* const* cc, DWORD ccCount,
                               const char16_t* const* bcc, DWORD bccCount,
                               const char16_t* subject, const char16_t* body,
                               const char16_t* const* attachmentPaths,
                               DWORD attachmentCount) = 0;
  virtual HRESULT InitializeUserCredentials(const char16_t* masterSessionKey,
                                            const char16_t* ticket) = 0;
};

}  // namespace MAPIManaged
