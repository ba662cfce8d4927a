// A listing page under test: a recording host whose cache-context calls
// show in the response, a fake mailbox, an echoing target, and an English
// satellite built from the module's own table.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Text.h"
#include "records/MailRecords.h"
#include "tests/support/FakeMail.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/RecordingTarget.h"
#include "tests/support/TestFiles.h"

namespace listing_test {

class ListingTest : public ::testing::Test {
 protected:
  testing_support::RecordingHost host;
  hostkit::HostScope hostScope{&host};
  std::shared_ptr<testing_support::FakeMailbox> box =
      std::make_shared<testing_support::FakeMailbox>();
  CComPtr<testing_support::RecordingTarget> target = testing_support::RecordingTarget::Create();
  CComPtr<IMyInbox> inbox;
  long arraysAtStart = MAPIManaged::LiveRecordArrays();
  std::unique_ptr<testing_support::TestInstall> install;

  void SetUp() override {
    host.connectionFactory = [b = box] { return new testing_support::FakeMail(b); };
    // The cache-context calls show in the response.
    host.cacheHook = [](bool begin) { VWriteResponseText(begin ? u"[CacheBegin]" : u"[CacheEnd]"); };
    host.query = {{u"Folder", EncodeUrlSafe(u"Inbox")}};
    target->echo = true;
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
    inbox->SetTarget(target);
  }
  void TearDown() override {
    inbox.Release();
    EXPECT_EQ(arraysAtStart, MAPIManaged::LiveRecordArrays()) << "a record array was not released";
  }

  // Installs an English satellite holding the module's own listing texts
  // (the toolbar captions come from the object's satellite library), plus
  // a date format and any extra entries.
  void InstallEnglish(std::map<UINT, std::u16string> extra = {}) {
    std::map<UINT, std::u16string> table;
    for (UINT id : {3106u, 3107u, 3108u, 3109u, 3129u, 3130u, 3141u, 3142u, 3143u, 3189u, 3190u,
                    3195u, 3198u, 3199u, 3200u, 3204u, 3205u, 3206u, 3208u, 3213u, 3214u, 3215u})
      table[id] = platform::LoadString(LumarestModuleHandle(), id);
    table[3247] = u"%Y-%m-%d %H:%M";
    for (auto& [id, text] : extra) table[id] = text;
    install = std::make_unique<testing_support::TestInstall>();
    install->WriteSatellite("quorraFax", "en", table);
  }

  // Adds n messages with ids 1..n, subjects "Subject 1".., all read.
  void AddMessages(int n) {
    for (int i = 1; i <= n; ++i) {
      testing_support::FakeMessage m;
      m.id = testing_support::TestGuid(static_cast<std::uint32_t>(box->messages.size() + 1));
      m.subject = u"Subject " + platform::U16(std::to_string(box->messages.size() + 1));
      m.read = true;
      box->messages.push_back(m);
    }
  }

  void Query(std::u16string topIndex, std::u16string sort = u"") {
    host.query = {{u"Folder", EncodeUrlSafe(u"Inbox")}};
    if (!topIndex.empty()) host.query.push_back({u"TopIndex", topIndex});
    if (!sort.empty()) host.query.push_back({u"Sort", sort});
    host.ResetRequest();
  }

  std::u16string Run(HRESULT expected = S_OK) {
    EXPECT_EQ(expected, inbox->DisplayMessagesEx(CComBSTR(u"en")));
    return host.Body();
  }
};

inline bool Has(const std::u16string& body, std::u16string_view part) {
  return body.find(part) != std::u16string::npos;
}
inline int CountOf(const std::u16string& body, std::u16string_view part) {
  int n = 0;
  for (std::size_t at = body.find(part); at != std::u16string::npos; at = body.find(part, at + 1))
    ++n;
  return n;
}

}  // namespace listing_test
