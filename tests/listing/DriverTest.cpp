// DisplayMessagesEx: frame order, failure paths, the exception path.
#include "tests/listing/ListingFixture.h"

namespace listing_test {
namespace {

const std::u16string kSessionFailed =
    u"<p><b><br><br>There was a critical problem connecting to your mailbox.  Details of the "
    u"failure have been reported in the application event log on the Server.  Please contact your "
    u"System Administrator</b></p>";

TEST_F(ListingTest, FrameRunsInOrderAroundTheWriters) {
  AddMessages(3);
  const std::u16string body = Run();
  EXPECT_EQ(0u, body.find(u"[CacheBegin][StartPage][StartPage]<TABLE"));
  EXPECT_TRUE(body.ends_with(u"</tr>[EndTable]</div>[WriteLine][EndPage][CacheEnd]"));
  EXPECT_EQ(2, target->Count(u"StartPage"));
  EXPECT_EQ(1, target->Count(u"EndPage"));
  ASSERT_EQ(1u, box->calls.size());
  EXPECT_EQ(u"InboxSummary(Inbox,0)", box->calls[0]);
}

TEST_F(ListingTest, DisplayMessagesWritesTheSamePageForAnyLanguage) {
  AddMessages(2);
  const std::u16string ex = Run();
  host.ClearResponse();
  EXPECT_EQ(S_OK, inbox->DisplayMessages());
  EXPECT_EQ(ex, host.Body());
  host.ClearResponse();
  EXPECT_EQ(S_OK, inbox->DisplayMessagesEx(CComBSTR(u"fr")));
  EXPECT_EQ(ex, host.Body());
  EXPECT_EQ(1, host.connectionRequests);  // the connection is opened once per object
}

TEST_F(ListingTest, PolicyRefusalWritesNothing) {
  AddMessages(2);
  host.policyAllows = false;
  EXPECT_EQ(u"", Run(E_FAIL));
  EXPECT_TRUE(target->calls.empty());
  EXPECT_EQ(0, host.cacheBegins);
  EXPECT_TRUE(box->calls.empty());
  host.policyAllows = true;
  host.hasMasterSession = false;
  EXPECT_EQ(u"", Run(E_FAIL));
}

TEST_F(ListingTest, FailedSessionSetUpWritesTheConnectionMessage) {
  host.connectionFactory = [] { return nullptr; };
  EXPECT_EQ(u"[CacheBegin][StartPage]" + kSessionFailed + u"[EndPage][CacheEnd]", Run(S_OK));
  host.ClearResponse();
  host.mailConfigured = false;
  EXPECT_EQ(u"[CacheBegin][StartPage]" + kSessionFailed + u"[EndPage][CacheEnd]", Run(S_OK));
}

TEST_F(ListingTest, FailedSummaryRedirectsReducedOutputOnly) {
  AddMessages(2);
  box->summaryResult = E_ACCESSDENIED;
  EXPECT_EQ(u"[CacheBegin][StartPage][EndPage][CacheEnd]", Run(E_ACCESSDENIED));
  EXPECT_EQ(u"", host.RedirectUrl());

  target->fullOutput = 0;
  target->calls.clear();
  host.ClearResponse();
  Run(E_ACCESSDENIED);
  EXPECT_EQ(u"MyFiles.asp?StaticTree=true", host.RedirectUrl());
  EXPECT_TRUE(host.Ended());
  EXPECT_EQ(u"", host.Body());  // cleared, and nothing written after End
  EXPECT_EQ(1, target->Count(u"EndPage"));
  EXPECT_EQ(2, host.cacheEnds);
}

TEST_F(ListingTest, ExceptionSkipsEndPageAndIsReported) {
  // A satellite whose view URL format wants a number where the component
  // passes text: formatting raises an invalid-argument exception mid-table.
  InstallEnglish({{3141, u"ViewInboxMessage.asp?Guid=%d"}});
  AddMessages(5);
  const std::u16string body = Run(S_OK);
  EXPECT_TRUE(Has(body, u"[StartTable(class='box' width='100%',0)]"));
  EXPECT_FALSE(Has(body, u"[EndPage]"));
  EXPECT_FALSE(Has(body, u"[CacheEnd]"));
  EXPECT_EQ(0, host.cacheEnds);
  ASSERT_EQ(1u, host.events.size());
  EXPECT_EQ(1, host.events[0].type);
  EXPECT_EQ(u"MyInbox", host.events[0].source);
  EXPECT_EQ(static_cast<HRESULT>(0xC0004005), host.events[0].eventId);
  EXPECT_FALSE(host.events[0].text.empty());
  // The summary array is released all the same (checked on tear-down).
}

}  // namespace
}  // namespace listing_test
