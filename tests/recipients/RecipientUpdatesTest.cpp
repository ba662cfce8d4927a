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
};

// The posted rows, the field, and the one list stored: TTo for field 1, TCC
// for field 2, nothing for any other field.
TEST_F(RecipientUpdatesTest, PostedRowsBecomeTheListOfTheField) {
  struct Case {
    const char* what;
    hostkit::FieldList form;
    INT field;
    const char16_t* stored;  // nullptr: nothing stored
  } const cases[] = {
      {"states 0, 2, 1: typed, skipped, chosen",
       {{u"RCount", u"3"}, {u"RState0", u"0"}, {u"RName0", u"ann"}, {u"RSelectName0", u"Ann Other"},
        {u"RState1", u"2"}, {u"RName1", u"bob"}, {u"RSelectName1", u"Bob Other"},
        {u"RState2", u"1"}, {u"RName2", u"carl"}, {u"RSelectName2", u"Carl Chosen"}},
       1, u"ann ; Carl Chosen ; "},
      {"-1 keeps the typed name; no choice posted",
       {{u"RCount", u"2"}, {u"RState0", u"-1"}, {u"RName0", u"dora"}, {u"RState1", u"1"}, {u"RName1", u"eve"}},
       2, u"dora ;  ; "},
      {"states compared exactly",
       {{u"RCount", u"5"}, {u"RState0", u" 0"}, {u"RName0", u"a"}, {u"RState1", u"1 "}, {u"RName1", u"b"},
        {u"RSelectName1", u"B"}, {u"RState2", u"+1"}, {u"RName2", u"c"}, {u"RSelectName2", u"C"},
        {u"RState3", u"00"}, {u"RName3", u"d"}, {u"RState4", u"0"}, {u"RName4", u"e"}},
       1, u"e ; "},
      {"count 0", {{u"RCount", u"0"}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, 1, u""},
      {"negative count", {{u"RCount", u"-4"}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, 1, u""},
      {"count not a number", {{u"RCount", u"abc"}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, 1, u""},
      {"empty count", {{u"RCount", u""}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, 1, u""},
      {"the count limits the rows, its leading digits count",
       {{u"RCount", u"2 entries"}, {u"RState0", u"0"}, {u"RName0", u"a"}, {u"RState1", u"0"}, {u"RName1", u"b"},
        {u"RState2", u"0"}, {u"RName2", u"c"}},
       1, u"a ; b ; "},
      // A huge count with sparse rows, taken in row order; names written as "%i" only.
      {"row order, not post order",
       {{u"RCount", u"2000000000"}, {u"rstate12", u"0"}, {u"RName12", u"twelve"}, {u"RState3", u"0"},
        {u"RName3", u"three"}, {u"RState03", u"0"}, {u"RName03", u"padded"}, {u"RState1999999999", u"1"},
        {u"RSelectName1999999999", u"last"}},
       1, u"three ; twelve ; last ; "},
      {"field 0", {{u"RCount", u"1"}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, 0, nullptr},
      {"field 3", {{u"RCount", u"1"}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, 3, nullptr},
      {"field -1", {{u"RCount", u"1"}, {u"RState0", u"0"}, {u"RName0", u"ann"}}, -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host.session.clear();
    host.sessionWrites.clear();
    host.form = c.form;
    host.ResetRequest();
    EXPECT_EQ(S_OK, inbox->UpdateResolvedContacts(c.field));
    std::vector<std::pair<std::u16string, std::u16string>> expected;
    if (c.stored) expected.emplace_back(c.field == 1 ? u"TTo" : u"TCC", c.stored);
    EXPECT_EQ(expected, host.sessionWrites);
  }
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
