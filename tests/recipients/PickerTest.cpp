// The contacts picker, opened by posts to the compose page: source choice,
// sorting, the filter, the 100-entry cap and the page in both output modes.
#include "tests/compose/ComposeFormTestSupport.h"
#include "tests/support/Golden.h"

namespace {

using namespace compose_test;
using testing_support::FakeContact;

class PickerTest : public ComposeFixture {
 protected:
  // A picker post from the picker page itself (its search button).
  void PostSearch(const std::u16string& search, const std::u16string& source) {
    host.form = {{u"ContactSource", source}, {u"Search", search}};
    host.ResetRequest();
  }
  void AddContacts(int n, const std::u16string& prefix) {
    for (int i = 0; i < n; ++i) {
      std::u16string num = platform::U16(std::to_string(1000 + i));
      box->contacts.push_back({u"", u"", prefix + num, prefix + num + u"@example.org"});
    }
  }
  int Options() const {
    std::u16string body = host.Body();
    int n = 0;
    for (std::size_t at = 0; (at = body.find(u"<option value='", at)) != std::u16string::npos; ++at)
      ++n;
    return n;
  }
};

TEST_F(PickerTest, FullOutputPageWithSortedFilteredContacts) {
  target->echo = true;
  box->contacts = {{u"", u"", u"zed Anna", u"zed@example.org"},
                   {u"", u"", u"Annabel", u""},
                   {u"", u"", u"", u"noname@example.org"},
                   {u"", u"", u"Bob", u"anna@example.org"},
                   {u"", u"", u"ANNE &amp; co", u"anne@example.org"}};
  PostSearch(u"  ann ", u"0");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());

  EXPECT_TRUE(testing_support::MatchesGolden("picker-full", host.Body()));
  ASSERT_FALSE(box->calls.empty());
  EXPECT_EQ(u"Contacts(,ann)", box->calls.back());
}

TEST_F(PickerTest, ReducedOutputUsesNavigationBarAndWidthLessEight) {
  target->echo = true;
  target->fullOutput = 0;
  target->displayWidth = 240;
  box->gal = {{u"", u"", u"Carl", u"carl@example.org"}};
  host.form = {{u"To", u"to"}, {u"ContactSource", u"1"}};  // the To button, any letter case
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_TRUE(testing_support::MatchesGolden("picker-reduced", host.Body()));
  // Not the Find button, no search text: the address list is not asked for an exact match.
  EXPECT_EQ(u"GAL(,false)", box->calls.back());
}

TEST_F(PickerTest, CapAtOneHundredWritesTheNotice) {
  struct Case {
    int entries;
    int options;
    bool notice;
  } cases[] = {{99, 99, false}, {100, 100, true}, {150, 100, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    box->contacts.clear();
    AddContacts(c.entries, u"Person");
    host.ClearResponse();
    PostSearch(u"person", u"0");
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_EQ(c.options, Options());
    EXPECT_EQ(c.notice, host.Body().find(u"<p>Stopped after 100 items.</p>") != std::u16string::npos);
  }
}

TEST_F(PickerTest, FilterLooksAtDecodedDisplayNameOnly) {
  box->contacts = {{u"", u"", u"Zoe", u"ann@example.org"},        // address matches, name not
                   {u"", u"", u"J&#111;anna", u"jo@example.org"},  // matches once decoded
                   {u"ann", u"ann", u"Kim", u"kim@example.org"}};  // other names do not count
  PostSearch(u"oAN", u"0");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(1, Options());
  EXPECT_NE(std::u16string::npos,
            host.Body().find(u"<option value='jo@example.org'>J&#111;anna</option>"));
}

TEST_F(PickerTest, FindButtonAsksForExactMatchAndFailureShowsTheForm) {
  host.form = {{u"Find", u"Find"}, {u"ContactSource", u"2"}, {u"Search", u"carl"}};
  box->galResult = E_FAIL;
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"GAL(carl,true)", box->calls.back());
  // The query failed: no picker, the compose form is shown instead.
  EXPECT_EQ(std::u16string::npos, host.Body().find(u"Add BCC"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"name=IsCompose"));
}

TEST_F(PickerTest, MissingFormStringLeavesTheFormOut) {
  WriteStrings({{3239, u""}});
  box->contacts = {{u"", u"", u"Ann", u"ann@example.org"}};
  PostSearch(u"ann", u"0");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"LocationFiller"));
  EXPECT_EQ(std::u16string::npos, host.Body().find(u"<option"));
  EXPECT_EQ(1, target->Count(u"EndTable"));
}

}  // namespace
