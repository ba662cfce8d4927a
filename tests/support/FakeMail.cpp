#include "tests/support/FakeMail.h"

#include <cstring>

#include "platform/Exceptions.h"
#include "platform/Guid.h"
#include "platform/Text.h"

namespace testing_support {

using namespace MAPIManaged;

namespace {
char16_t* Dup(const std::u16string& s) { return DupText(s.c_str(), s.size()); }
std::u16string Text(const char16_t* p) { return p ? std::u16string(platform::View(p)) : u"(null)"; }
std::u16string Num(long long n) { return platform::U16(std::to_string(n)); }

_CONTACTITEM* MakeContacts(const std::vector<FakeContact>& list, DWORD* count) {
  *count = static_cast<DWORD>(list.size());
  if (list.empty()) return nullptr;
  auto* items = new _CONTACTITEM[list.size()];
  for (std::size_t i = 0; i < list.size(); ++i) {
    items[i].pszName1 = Dup(list[i].name1);
    items[i].pszName2 = Dup(list[i].name2);
    items[i].pszDisplayName = Dup(list[i].displayName);
    items[i].pszEmailAddress = Dup(list[i].email);
  }
  return items;
}

std::vector<std::u16string> List(const char16_t* const* items, DWORD count) {
  std::vector<std::u16string> out;
  for (DWORD i = 0; items && i < count; ++i) out.push_back(Text(items[i]));
  return out;
}
}  // namespace

GUID TestGuid(std::uint32_t n) {
  GUID g{};
  g.Data1 = n;
  g.Data2 = 0x1111;
  g.Data3 = 0x2222;
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(0x30 + i);
  return g;
}

FakeMail::FakeMail(std::shared_ptr<FakeMailbox> box) : box_(std::move(box)) { ++box_->connectionsAlive; }
FakeMail::~FakeMail() { --box_->connectionsAlive; }

HRESULT FakeMail::Enter(std::u16string call, HRESULT scripted) {
  box_->calls.push_back(call);
  if (!box_->throwIn.empty() && call.compare(0, call.find(u'('), box_->throwIn) == 0)
    throw CSimpleException(u"The mail library failed in " + box_->throwIn + u".");
  return scripted;
}

HRESULT FakeMail::InboxSummary(const char16_t* folder, _MAILITEM** items, DWORD* count, int sort) {
  HRESULT hr = Enter(u"InboxSummary(" + Text(folder) + u"," + Num(sort) + u")",
                     box_->summaryResult);
  if (FAILED(hr)) return hr;
  *count = static_cast<DWORD>(box_->messages.size());
  *items = nullptr;
  if (box_->messages.empty()) return box_->summaryResult;
  *items = new _MAILITEM[box_->messages.size()];
  for (std::size_t i = 0; i < box_->messages.size(); ++i) {
    const auto& m = box_->messages[i];
    auto& r = (*items)[i];
    r.guidID = m.id;
    r.bHasAttachments = m.hasAttachments;
    r.bRead = m.read;
    r.nImportance = m.importance;
    r.pszFrom = Dup(m.from);
    r.pszSubject = Dup(m.subject);
    r.ftReceived = m.received;
    r.pszBody = Dup(m.body);
    r.bMeetingRequest = m.meetingRequest;
  }
  return box_->summaryResult;
}

HRESULT FakeMail::InboxMessage(const char16_t* folder, const GUID& id, _MAILMESSAGE** message,
                               _MAILMESSAGEATTACHMENTS** attachments, DWORD* attachmentCount,
                               int direction) {
  HRESULT hr = Enter(u"InboxMessage(" + Text(folder) + u"," + platform::GuidToString(id) + u"," + Num(direction) + u")",
                     box_->messageResult);
  if (FAILED(hr)) return hr;
  std::size_t index = box_->messages.size();
  for (std::size_t i = 0; i < box_->messages.size(); ++i)
    if (box_->messages[i].id == id) index = i;
  if (index == box_->messages.size()) return MAPI_E_NOT_FOUND;
  long target = static_cast<long>(index) + direction;
  if (target < 0 || target >= static_cast<long>(box_->messages.size())) return E_FAIL;
  const auto& m = box_->messages[static_cast<std::size_t>(target)];
  auto* r = new _MAILMESSAGE[1];
  r->guidID = m.id;
  r->pszFrom = Dup(m.from);
  r->pszFromAddress = Dup(m.fromAddress);
  r->pszTo = Dup(m.to);
  r->pszToAddresses = Dup(m.toAddresses);
  r->pszCC = Dup(m.cc);
  r->pszCCAddresses = Dup(m.ccAddresses);
  r->pszSubject = Dup(m.subject);
  r->pszBody = Dup(m.body);
  r->pszHTMLBody = m.htmlBody.empty() ? nullptr : Dup(m.htmlBody);
  r->ftSent = m.sent;
  r->bMeetingRequest = m.meetingRequest;
  *message = r;
  *attachmentCount = static_cast<DWORD>(m.attachments.size());
  *attachments = nullptr;
  if (!m.attachments.empty()) {
    *attachments = new _MAILMESSAGEATTACHMENTS[m.attachments.size()];
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
      (*attachments)[i].nAttachID = m.attachments[i].first;
      (*attachments)[i].pszFileName = Dup(m.attachments[i].second);
    }
  }
  return box_->messageResult;
}

HRESULT FakeMail::InboxAttachment(const char16_t* folder, const GUID& id, int attachId,
                                  BYTE** buffer, DWORD* length) {
  HRESULT hr = Enter(u"InboxAttachment(" + Text(folder) + u"," + platform::GuidToString(id) + u"," +
                         Num(attachId) + u")",
                     box_->attachmentResult);
  if (FAILED(hr)) return hr;
  for (const auto& m : box_->messages) {
    if (m.id != id) continue;
    for (const auto& a : m.attachments) {
      if (a.first != attachId) continue;
      *length = static_cast<DWORD>(m.attachmentBytes.size());
      *buffer = new BYTE[m.attachmentBytes.size()];
      if (!m.attachmentBytes.empty())
        std::memcpy(*buffer, m.attachmentBytes.data(), m.attachmentBytes.size());
      if (box_->onAttachmentBuffer) box_->onAttachmentBuffer(*buffer);
      return S_OK;
    }
  }
  return MAPI_E_NOT_FOUND;
}

HRESULT FakeMail::DeleteMessage(const char16_t* folder, const GUID& id, const char16_t* language) {
  return Enter(u"DeleteMessage(" + Text(folder) + u"," + platform::GuidToString(id) + u"," + Text(language) + u")",
               box_->deleteResult);
}

HRESULT FakeMail::RespondToMeetingRequest(int response, const GUID& id, const char16_t* folder,
                                          const char16_t* language) {
  return Enter(u"RespondToMeetingRequest(" + Num(response) + u"," + platform::GuidToString(id) + u"," +
                   Text(folder) + u"," + Text(language) + u")",
               box_->respondResult);
}

HRESULT FakeMail::Contacts(_CONTACTITEM** items, DWORD* count, const char16_t* folder,
                           const char16_t* search) {
  HRESULT hr = Enter(u"Contacts(" + Text(folder) + u"," + Text(search) + u")",
                     box_->contactsResult);
  if (FAILED(hr)) return hr;
  *items = MakeContacts(box_->contacts, count);
  return S_OK;
}

HRESULT FakeMail::GAL(_CONTACTITEM** items, DWORD* count, const char16_t* search, bool exactMatch) {
  HRESULT hr = Enter(u"GAL(" + Text(search) + u"," + (exactMatch ? u"true" : u"false") + u")",
                     box_->galResult);
  if (FAILED(hr)) return hr;
  *items = MakeContacts(box_->gal, count);
  return S_OK;
}

HRESULT FakeMail::SendMessageW(const char16_t* const* to, DWORD toCount, const char16_t* const*,
                               DWORD ccCount, const char16_t* const* bcc, DWORD bccCount,
                               const char16_t* subject, const char16_t* body,
                               const char16_t* const* attachmentPaths, DWORD attachmentCount) {
  HRESULT hr = Enter(u"SendMessageW(" + Num(toCount) + u"," + Num(ccCount) + u"," + Num(bccCount) + u"," +
                         Num(attachmentCount) + u")",
                     S_OK);
  if (FAILED(hr)) return hr;
  box_->sentTo = List(to, toCount);
  box_->sentBcc = List(bcc, bccCount);
  box_->sentAttachments = List(attachmentPaths, attachmentCount);
  box_->sentSubject = Text(subject);
  box_->sentBody = Text(body);
  return box_->sendResult;
}

HRESULT FakeMail::InitializeUserCredentials(const char16_t* key, const char16_t* ticket) {
  return Enter(u"InitializeUserCredentials(" + Text(key) + u"," + Text(ticket) + u")", S_OK);
}

}  // namespace testing_support
