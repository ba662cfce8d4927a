// Recipient updates posted by the portal's pages: UpdateResolvedContacts
// and AddAddress.
#include <gtest/gtest.h>

#include "inbox/MyInbox.h"
#include "platform/Text.h"
#include "tests/support/InboxAccess.h"
#include "tests/support/RecordingHost.h"

namespace {

using testing_support::RecordingHost;

class RecipientUpdatesTest : public ::testing::Test {
 protected:
  RecordingHost host;
  hostkit::HostScope scope{&host};
  CComPtr<IMyInbox> inbox;

  void SetUp() override {
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
  }
  CMyInbox& Object() { return *static_cast<CMyInbox*>(inbox.p); }
  bool Stored(const char16_t* name) const { return host.session.count(name) != 0; }
  std::u16string Session(const char16_t* name) { return host.session[name]; }
};

TEST_F(RecipientUpdatesTest, StatesZeroTwoOneKeepTypedAndChosenNames) {
  host.form = {{u"RCount", u"3"},
               {u"RState0", u"0"},  {u"RName0", u"ann"},  {u"RSelectName0", u"Ann Other"},
               {u"RState1", u"2"},  {u"RName1", u"bob"},  {u"RSelectName1", u"Bob Other"},
               {u"RState2", u"1"},  {u"RName2", u"carl"}, {u"RSelectName2", u"Carl Chosen"}};
  EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(1));
  EXPECT_EQ(u"ann ; Carl Chosen ; ", Session(u"TTo"));
  EXPECT_FALSE(Stored(u"TCC"));
}

TEST_F(RecipientUpdatesTest, MinusOneKeepsTypedNameAndIFieldTwoWritesTCC) {
  host.form = {{u"RCount", u"2"}, {u"RState0", u"-1"}, {u"RName0", u"dora"},
               {u"RState1", u"1"}, {u"RName1", u"eve"}};  // no RSelectName1 posted
  EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(2));
  EXPECT_EQ(u"dora ;  ; ", Session(u"TCC"));
  EXPECT_FALSE(Stored(u"TTo"));
}

TEST_F(RecipientUpdatesTest, StateComparisonsAreExact) {
  host.form = {{u"RCount", u"5"},
               {u"RState0", u" 0"}, {u"RName0", u"a"},
               {u"RState1", u"1 "}, {u"RName1", u"b"}, {u"RSelectName1", u"B"},
               {u"RState2", u"+1"}, {u"RName2", u"c"}, {u"RSelectName2", u"C"},
               {u"RState3", u"00"}, {u"RName3", u"d"},
               {u"RState4", u"0"},  {u"RName4", u"e"}};
  EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(1));
  EXPECT_EQ(u"e ; ", Session(u"TTo"));
}

TEST_F(RecipientUpdatesTest, CountZeroOrBadStoresEmptyText) {
  for (const char16_t* count : {u"0", u"-4", u"abc", u""}) {
    host.session.clear();
    host.form = {{u"RCount", count}, {u"RState0", u"0"}, {u"RName0", u"ann"}};
    host.ResetRequest();
    EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(1)) << platform::U8(count);
    ASSERT_TRUE(Stored(u"TTo")) << platform::U8(count);
    EXPECT_EQ(u"", Session(u"TTo")) << platform::U8(count);
  }
}

TEST_F(RecipientUpdatesTest, CountLimitsEntriesAndLeadingDigitsCount) {
  host.form = {{u"RCount", u"2 entries"}, {u"RState0", u"0"}, {u"RName0", u"a"},
               {u"RState1", u"0"}, {u"RName1", u"b"}, {u"RState2", u"0"}, {u"RName2", u"c"}};
  EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(1));
  EXPECT_EQ(u"a ; b ; ", Session(u"TTo"));
}

TEST_F(RecipientUpdatesTest, EntriesFollowEntryOrderNotPostOrder) {
  // A huge count with sparse entries; names written as "%i" only.
  host.form = {{u"RCount", u"2000000000"},
               {u"rstate12", u"0"}, {u"RName12", u"twelve"},
               {u"RState3", u"0"},  {u"RName3", u"three"},
               {u"RState03", u"0"}, {u"RName03", u"padded"},
               {u"RState1999999999", u"1"}, {u"RSelectName1999999999", u"last"}};
  EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(1));
  EXPECT_EQ(u"three ; twelve ; last ; ", Session(u"TTo"));
}

TEST_F(RecipientUpdatesTest, OtherFieldsStoreNothing) {
  host.form = {{u"RCount", u"1"}, {u"RState0", u"0"}, {u"RName0", u"ann"}};
  for (INT field : {0, 3, -1}) EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(field));
  EXPECT_TRUE(host.sessionWrites.empty());
}

TEST_F(RecipientUpdatesTest, UnreadableCountFails) {
  hostkit::HostScope none(nullptr);
  EXPECT_EQ(E_FAIL, inbox->UpdateResolvedContacts(1));
  EXPECT_TRUE(host.sessionWrites.empty());
}

TEST_F(RecipientUpdatesTest, AddAddressAppendsToTheListOfItsType) {
  EXPECT_EQ(S_OK, inbox->AddAddress(1, CComBSTR(u"ann@example.org")));
  EXPECT_EQ(S_OK, inbox->AddAddress(2, CComBSTR(u"bob")));
  EXPECT_EQ(S_OK, inbox->AddAddress(1, nullptr));
  EXPECT_EQ(S_OK, inbox->AddAddress(0, CComBSTR(u"zero")));
  EXPECT_EQ(S_OK, inbox->AddAddress(3, CComBSTR(u"three")));
  EXPECT_EQ((std::vector<std::u16string>{u"ann@example.org", u""}), CMyInboxTestAccess::PendingAddresses(Object(), 1));
  EXPECT_EQ((std::vector<std::u16string>{u"bob"}), CMyInboxTestAccess::PendingAddresses(Object(), 2));
  // Nothing reaches the response or the session.
  EXPECT_EQ(u"", host.Body());
  EXPECT_TRUE(host.sessionWrites.empty());
}

}  // namespace
