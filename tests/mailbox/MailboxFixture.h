// What the mailbox-operation tests share: a host whose policy answer depends
// on the master session key, a fake mail connection whose attachment buffers
// are watched until released, and one CMyInbox object.
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
  const std::u16string folder = u"Inbox/Projects";

  void SetUp() override {
    ForgetBuffers();
    box->onAttachmentBuffer = WatchBuffer;
    host.policyHook = [](bool& allowed, std::u16string_view key) {
      if (key == u"refused-key") allowed = false;  // the policy refuses this master session key
    };
    host.connectionFactory = [this] { return new testing_support::FakeMail(box); };
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

  // Message n in the fake mailbox.
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
  bool Called(std::u16string_view prefix) const {
    for (auto& c : box->calls)
      if (c.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
};

}  // namespace mailbox_testing
