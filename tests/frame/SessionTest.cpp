// Session set-up, the web-mail policy check, and the carried error pages.
#include <gtest/gtest.h>

#include "frame/Encoding.h"
#include "host/ErrorPages.h"
#include "inbox/MyInbox.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "tests/frame/TraceDriver.h"
#include "tests/support/FakeMail.h"
#include "tests/support/InboxAccess.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RecordingHost;
using testing_support::TestInstall;

class SessionTest : public ::testing::Test {
 protected:
  TestInstall install;
  RecordingHost host;
  hostkit::HostScope scope{&host};
  std::shared_ptr<testing_support::FakeMailbox> box = std::make_shared<testing_support::FakeMailbox>();
  CComPtr<IMyInbox> object;
  CMyInbox* inbox = nullptr;
  void SetUp() override {
    host.connectionFactory = [this] { return new testing_support::FakeMail(box); };
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&object)));
    inbox = static_cast<CMyInbox*>(object.p);
  }
  // An English satellite with the web-mail texts, loaded as a data file.
  HMODULE LoadEnglish() {
    install.WriteSatellite("quorraFax", "en", {{3230, u"Web mail"}, {3232, u"No connection"}});
    return LoadLibraryExW(platform::U16((install.InstallDir() / "Bin" / "quorraFax_en.strings").string()).c_str(),
                          nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
};

TEST_F(SessionTest, PolicyAnswerAuditsAndDenialsAreReported) {
  // An audit (type 1, always logged) when allowed with auditing on; a denial
  // (type 2) carries the logging flag whatever the auditing.
  struct {
    bool allows, auditing, logDenials;
    int type;  // -1: no report
    bool log;
  } cases[] = {{true, false, true, -1, false}, {true, true, false, 1, true},
               {false, true, false, 2, false}, {false, false, true, 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.allows) + std::to_string(c.auditing) + std::to_string(c.logDenials));
    host.messages.clear();
    host.policyAllows = c.allows;
    host.auditing = c.auditing;
    host.logDenials = c.logDenials;
    EXPECT_EQ(c.allows, inbox->DoWebEmailPolicyCheck());
    EXPECT_TRUE(host.events.empty());
    if (c.type < 0) {
      EXPECT_TRUE(host.messages.empty());
      continue;
    }
    ASSERT_EQ(1u, host.messages.size());
    const auto& m = host.messages[0];
    EXPECT_EQ(c.type, m.type);
    EXPECT_EQ(c.log, m.log);
    EXPECT_EQ(u"Email Interface", m.component);
    EXPECT_EQ(u"Web Email - Messages", m.feature);
    EXPECT_EQ(u"", m.detail);
  }
  EXPECT_EQ((std::vector<std::u16string>(4, u"master-session-1")), host.policyKeys);
}

TEST_F(SessionTest, NoMasterSessionIsAnInvalidSession) {
  host.hasMasterSession = false;
  EXPECT_FALSE(inbox->DoWebEmailPolicyCheck());
  ASSERT_EQ(1u, host.events.size());
  EXPECT_EQ(1, host.events[0].type);
  EXPECT_EQ(static_cast<HRESULT>(0xC0004005u), host.events[0].eventId);
  EXPECT_EQ(u"MyInbox", host.events[0].source);
  EXPECT_EQ(u"Invalid session ", host.events[0].text);
  EXPECT_GT(host.events[0].line, 0);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SessionTest, FrameworkExceptionInThePolicyCheckIsReported) {
  host.policyHook = [](bool&, std::u16string_view) { throw CInvalidArgException(u"policy store unreadable"); };
  EXPECT_FALSE(inbox->DoWebEmailPolicyCheck());
  ASSERT_EQ(1u, host.events.size());
  EXPECT_EQ(u"policy store unreadable", host.events[0].text);
  EXPECT_EQ(u"MyInbox", host.events[0].source);
}

TEST_F(SessionTest, PolicyCheckLoadsTheObjectsLibraryOnceByBrowserLanguages) {
  install.WriteSatellite("quorraFax", "fr", {{1, u"fr"}});
  install.WriteSatellite("quorraFax", "de", {{1, u"de"}});
  host.serverVariables = {{u"HTTP_ACCEPT_LANGUAGE", u"de-at,fr"}};
  EXPECT_TRUE(inbox->CheckEmailPolicy(u"id"));
  HMODULE first = CMyInboxTestAccess::ResourceLibrary(*inbox);
  EXPECT_EQ(u"de", platform::LoadString(first, 1));
  EXPECT_TRUE(inbox->CheckEmailPolicy(u"id"));
  EXPECT_EQ(first, CMyInboxTestAccess::ResourceLibrary(*inbox));
}

TEST_F(SessionTest, InitTakesFolderAndConnectionOncePerObject) {
  host.query = {{u"Folder", EncodeUrlSafe(u"Posteingang/Entw\u00FCrfe")}};
  EXPECT_EQ(S_OK, inbox->InitMailSession());
  EXPECT_EQ(u"Posteingang/Entw\u00FCrfe", CMyInboxTestAccess::Folder(*inbox));
  ASSERT_NE(nullptr, CMyInboxTestAccess::Connection(*inbox));
  auto* connection = CMyInboxTestAccess::Connection(*inbox);

  host.query = {{u"Folder", EncodeUrlSafe(u"Other")}};
  host.ResetRequest();
  host.calls.clear();
  host.mailConfigured = false;  // would fail if the set-up ran again
  EXPECT_EQ(S_OK, inbox->InitMailSession());
  EXPECT_EQ(u"Posteingang/Entw\u00FCrfe", CMyInboxTestAccess::Folder(*inbox));
  EXPECT_EQ(connection, CMyInboxTestAccess::Connection(*inbox));
  EXPECT_EQ(1, host.connectionRequests);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SessionTest, OpeningOptionInAnyCaseOpensWebMail) {
  host.mailConfigured = false;
  host.sendAttachmentsEnabled = true;
  for (const char16_t* option : {u"DivedOzuvizizi", u"divedozuvizizi", u"DIVEDOZUVIZIZI", u"dIvEdOzUvIzIzI"}) {
    CComPtr<IMyInbox> fresh;
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&fresh)));
    host.sendAttachmentOption = option;
    EXPECT_EQ(S_OK, static_cast<CMyInbox*>(fresh.p)->InitMailSession()) << platform::U8(option);
  }
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SessionTest, NotConfiguredAndNotOpenedIsDenied) {
  platform::ModuleStateGuard state(LumarestModuleHandle());
  HMODULE satellite = LoadEnglish();
  ASSERT_NE(nullptr, satellite);
  AfxSetResourceHandle(satellite);  // as inside a resource scope

  host.mailConfigured = false;
  host.logDenials = false;
  host.sendAttachmentsEnabled = true;
  host.sendAttachmentOption = u"DivedOzuvizizi2";
  EXPECT_EQ(E_FAIL, inbox->InitMailSession());
  host.sendAttachmentsEnabled = false;
  host.sendAttachmentOption = u"DivedOzuvizizi";
  EXPECT_EQ(E_FAIL, inbox->InitMailSession());
  ASSERT_EQ(2u, host.messages.size());
  for (const auto& m : host.messages) {
    EXPECT_EQ(2, m.type);
    EXPECT_FALSE(m.log);
    EXPECT_EQ(u"Web mail", m.component);
    EXPECT_EQ(u"Web mail", m.feature);
    EXPECT_EQ(u"", m.detail);
  }
  EXPECT_EQ(nullptr, CMyInboxTestAccess::Connection(*inbox));
  EXPECT_EQ(0, host.connectionRequests);
  AfxSetResourceHandle(LumarestModuleHandle());
  FreeLibrary(satellite);
}

TEST_F(SessionTest, NoConnectionReportsOnlyWhenTheTextLoads) {
  host.connectionFactory = nullptr;
  // Outside a satellite 3230 and 3232 are empty: nothing to report.
  {
    platform::ModuleStateGuard state(LumarestModuleHandle());
    EXPECT_EQ(E_FAIL, inbox->InitMailSession());
  }
  EXPECT_TRUE(host.messages.empty());

  HMODULE satellite = LoadEnglish();
  platform::ModuleStateGuard state(satellite);
  EXPECT_EQ(E_FAIL, inbox->InitMailSession());
  ASSERT_EQ(1u, host.messages.size());
  EXPECT_EQ(0, host.messages[0].type);
  EXPECT_TRUE(host.messages[0].log);
  EXPECT_EQ(u"Web mail", host.messages[0].component);
  EXPECT_EQ(u"Web mail", host.messages[0].feature);
  EXPECT_EQ(u"No connection", host.messages[0].detail);
  // A failed set-up is tried again by the next page method.
  host.connectionFactory = [this] { return new testing_support::FakeMail(box); };
  EXPECT_EQ(S_OK, inbox->InitMailSession());
  FreeLibrary(satellite);
}

TEST_F(SessionTest, LibraryLoadFailureWritesTraceEventTen) {
  frame_tests::TraceChannel channel;
  EXPECT_FALSE(inbox->LoadResourceLibrary(u"fr"));
  EXPECT_EQ(nullptr, CMyInboxTestAccess::ResourceLibrary(*inbox));
  ASSERT_EQ(1u, channel.Driver().records.size());
  const auto& record = channel.Driver().records[0];
  EXPECT_EQ(trace::kMessageGuid, record.guid);
  ASSERT_EQ(1u, record.data.size());
  EXPECT_EQ((std::vector<BYTE>{10, 0}), record.data[0]);
  // With DTF_ERROR off nothing is written.
  channel.Driver().block.enabledClasses = trace::DTF_INFO;
  EXPECT_FALSE(inbox->LoadResourceLibrary(u"fr"));
  EXPECT_EQ(1u, channel.Driver().records.size());
}

TEST(ErrorPages, BothPagesWithDoubledPercentSigns) {
  EXPECT_EQ(nullptr, ErrorPageHtml(226));
  EXPECT_EQ(nullptr, ErrorPageHtml(229));
  for (UINT id : {kErrorPageNoMailSession, kErrorPageNoWebMailAccess}) {
    ASSERT_NE(nullptr, ErrorPageHtml(id));
    std::u16string page = ErrorPageHtml(id);
    // Every percent sign is doubled: formatting the page gives single ones.
    std::u16string shown = platform::FormatW(page);
    EXPECT_NE(std::u16string::npos, shown.find(u"width=\"100%\""));
    EXPECT_EQ(std::u16string::npos, shown.find(u"%%"));
  }
}

}  // namespace
