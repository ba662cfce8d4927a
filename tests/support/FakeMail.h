// A mail connection for tests: messages and contacts held in memory, results
// that a test can script, and a record of every call. Arrays it hands out are
// counted by the records library (MAPIManaged::LiveRecordArrays), so a test
// can check that the component released each one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/MAPINativeConnection.h"

namespace testing_support {

struct FakeMessage {
  GUID id{};
  std::u16string from = u"Alice Example";
  std::u16string fromAddress = u"alice@example.org";
  std::u16string to = u"Bob Example; ";
  std::u16string toAddresses = u"bob@example.org;";
  std::u16string cc, ccAddresses;
  std::u16string subject = u"Hello";
  std::u16string body = u"Hello Bob";
  std::u16string htmlBody;
  FILETIME received{0x2A3B4C00u, 0x01D9F000u};
  FILETIME sent{0x2A3B4C00u, 0x01D9F000u};
  bool read = false;
  bool hasAttachments = false;
  bool meetingRequest = false;
  LONG importance = 1;
  std::vector<std::pair<LONG, std::u16string>> attachments;  // id, server path
  std::vector<BYTE> attachmentBytes;                         // served for every attachment id
};

struct FakeContact {
  std::u16string name1, name2, displayName, email;
};

// The shared state behind one or more FakeMail connections.
struct FakeMailbox {
  std::vector<FakeMessage> messages;
  std::vector<FakeContact> contacts;
  std::vector<FakeContact> gal;

  // Scripted results (S_OK unless a test sets them).
  HRESULT summaryResult = S_OK;
  HRESULT messageResult = S_OK;
  HRESULT attachmentResult = S_OK;
  HRESULT deleteResult = S_OK;
  HRESULT respondResult = S_OK;
  HRESULT contactsResult = S_OK;
  HRESULT galResult = S_OK;
  HRESULT sendResult = S_OK;

  // The operation named here raises the mail library's exception (a
  // CSimpleException) once its call is recorded.
  std::u16string throwIn;
  // Sees every attachment buffer handed out.
  std::function<void(const void*)> onAttachmentBuffer;

  // Calls in order, as text such as "InboxSummary(folder,3)".
  std::vector<std::u16string> calls;
  // What the last SendMessageW was given.
  std::vector<std::u16string> sentTo, sentBcc, sentAttachments;
  std::u16string sentSubject, sentBody;
  int connectionsAlive = 0;
};

class FakeMail final : public MAPIManaged::MAPINativeConnection {
 public:
  explicit FakeMail(std::shared_ptr<FakeMailbox> box);
  ~FakeMail() override;

  HRESULT InboxSummary(const char16_t* folder, MAPIManaged::_MAILITEM** items, DWORD* count,
                       int sort) override;
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
  HRESULT SendMessageW(const char16_t* const* to, DWORD toCount, const char16_t* const* cc,
                       DWORD ccCount, const char16_t* const* bcc, DWORD bccCount,
                       const char16_t* subject, const char16_t* body,
                       const char16_t* const* attachmentPaths, DWORD attachmentCount) override;
  HRESULT InitializeUserCredentials(const char16_t* key, const char16_t* ticket) override;

 private:
  // Records the call and raises when told to; answers the scripted result.
  HRESULT Enter(std::u16string call, HRESULT scripted);
  std::shared_ptr<FakeMailbox> box_;
};

// A GUID whose first field is n, for readable tests.
GUID TestGuid(std::uint32_t n);

}  // namespace testing_support
