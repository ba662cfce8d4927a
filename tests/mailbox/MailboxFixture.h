// What the mailbox-operation tests share: a host whose policy answer depends
// on the master session key, a mail connection that watches the attachment
// buffers it hands out (and can be told to throw), and one CMyInbox object.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Guid.h"
#include "platform/Text.h"
#include "tests/support/FakeMail.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/RecordingTarget.h"
#include "tests/support/TestFiles.h"

namespace mailbox_testing {

// Attachment buffers handed out and not yet released with delete[].
// (This test program replaces the array allocation functions to know.)
void WatchBuffer(const void* buffer);
int UnreleasedBuffers();
void ForgetBuffers();

// A FakeMail whose attachment buffers are watched, and which raises a
// framework exception from the operation named in throwIn.
class WatchedMail final : public MAPIManaged::MAPINativeConnection {
 public:
  WatchedMail(std::shared_ptr<testing_support::FakeMailbox> box, std::u16string throwIn)
      : inner_(std::move(box)), throwIn_(std::move(throwIn)) {}

  HRESULT InboxSummary(const char16_t* f, MAPIManaged::_MAILITEM** i, DWORD* c, int s) override {
    return inner_.InboxSummary(f, i, c, s);
  }
  HRESULT InboxMessage(const char16_t* f, const GUID& id, MAPIManaged::_MAILMESSAGE** m,
                       MAPIManaged::_MAILMESSAGEATTACHMENTS** a, DWORD* c, int d) override {
    Raise(u"InboxMessage");
    return inner_.InboxMessage(f, id, m, a, c, d);
  }
  HRESULT InboxAttachment(const char16_t* f, const GUID& id, int n, BYTE** b, DWORD* l) override {
    HRESULT hr = inner_.InboxAttachment(f, id, n, b, l);
    if (SUCCEEDED(hr)) WatchBuffer(*b);
    return hr;
  }
  HRESULT DeleteMessage(const char16_t* f, const GUID& id, const char16_t* lang) override {
    return inner_.DeleteMessage(f, id, lang);
  }
  HRESULT RespondToMeetingRequest(int r, const GUID& id, const char16_t* f,
                                  const char16_t* lang) override {
    HRESULT hr = inner_.RespondToMeetingRequest(r, id, f, lang);
    Raise(u"RespondToMeetingRequest");
    return hr;
  }
  HRESULT Contacts(MAPIManaged::_CONTACTITEM** i, DWORD* c, const char16_t* f,
                   const char16_t* s) override {
    return inner_.Contacts(i, c, f, s);
  }
  HRESULT GAL(MAPIManaged::_CONTACTITEM** i, DWORD* c, const char16_t* s, bool e) override {
    return inner_.GAL(i, c, s, e);
  }
  HRESULT SendMessageW(const char16_t* const* to, DWORD tc, const char16_t* const* cc, DWORD cc2,
                       const char16_t* const* bcc, DWORD bc, const char16_t* s, const char16_t* b,
                       const char16_t* const* a, DWORD ac) override {
    return inner_.SendMessageW(to, tc, cc, cc2, bcc, bc, s, b, a, ac);
  }
  HRESULT InitializeUserCredentials(const char16_t* k, const char16_t* t) override {
    return inner_.InitializeUserCredentials(k, t);
  }

 private:
  void Raise(std::u16string_view op);
  testing_support::FakeMail inner_;
  std::u16string throwIn_;
};

inline GUID MessageId(std::uint32_t n) { return testing_support::TestGuid(n); }
inline std::u16string MessageIdText(std::uint32_t n) { return platform::GuidToString(MessageId(n)); }
// The registry form without its braces.
inline std::u16string BareIdText(std::uint32_t n) {
  std::u16string s = MessageIdText(n);
  return s.substr(1, s.size() - 2);
}

class MailboxTest : public ::testing::Test {
 protected:
  testing_support::TestInstall install;
  testing_support::RecordingHost host;
  hostkit::HostScope scope{&host};
  std::shared_ptr<testing_support::FakeMailbox> box = std::make_shared<testing_support::FakeMailbox>();
  CComPtr<testing_support::RecordingTarget> target = testing_support::RecordingTarget::Create();
  CComPtr<IMyInbox> inbox;
  std::u16string throwIn;  // operation of the connection that raises an exception
  const std::u16string folder = u"Inbox/Projects";

  void SetUp() override {
    ForgetBuffers();
    host.policyHook = [](bool& allowed, std::u16string_view key) {
      if (key == u"refused-key") allowed = false;  // the policy refuses this master session key
    };
    host.connectionFactory = [this] { return new WatchedMail(box, throwIn); };
    host.query = {{u"Folder", EncodeUrlSafe(folder)}};
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
    ASSERT_EQ(S_OK, inbox->SetTarget(target));
  }
  void TearDown() override {
    inbox.Release();
    EXPECT_EQ(0, MAPIManaged::LiveRecordArrays());
    EXPECT_EQ(0, UnreleasedBuffers());
    EXPECT_EQ(0, box->connectionsAlive);
  }

  // A message in the fake mailbox with one attachment (id attachId) of the given bytes.
  testing_support::FakeMessage& AddMessage(std::uint32_t n, bool meeting = false) {
    testing_support::FakeMessage m;
    m.id = MessageId(n);
    m.meetingRequest = meeting;
    box->messages.push_back(m);
    return box->messages.back();
  }
  void SetQuery(std::initializer_list<std::pair<std::u16string, std::u16string>> extra) {
    host.query = {{u"Folder", EncodeUrlSafe(folder)}};
    for (auto& kv : extra) host.query.push_back(kv);
    host.ResetRequest();
  }
  std::u16string ListingUrl() const { return u"Inbox.asp?Folder=" + EncodeUrlSafe(folder); }
  // The calls the mail library saw, joined for readable failures.
  std::u16string Calls() const {
    std::u16string all;
    for (auto& c : box->calls) all += c + u"\n";
    return all;
  }
  bool Called(std::u16string_view prefix) const {
    for (auto& c : box->calls)
      if (c.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
};

}  // namespace mailbox_testing
