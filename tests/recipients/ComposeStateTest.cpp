// The compose state in the web session: list reading and writing, form
// lists, and clearing.
#include <gtest/gtest.h>

#include "platform/Text.h"
#include "recipients/ComposeState.h"
#include "tests/support/RecordingHost.h"

namespace {

using testing_support::RecordingHost;

class ComposeStateTest : public ::testing::Test {
 protected:
  RecordingHost host;
  hostkit::HostScope scope{&host};
};

// A list read from the session replaces what the list held, trimmed, without
// empty pieces; without a host it is empty.
TEST_F(ComposeStateTest, ReadSessionListTrimsAndDropsEmptyPieces) {
  const std::pair<const char16_t*, ComposeList> cases[] = {
      {u"a; ;b;", {u"a", u"b"}}, {u" ann \t;;bob;ann;\r\n", {u"ann", u"bob", u"ann"}}, {u";;;", {}}, {nullptr, {}}};
  for (const auto& [stored, expected] : cases) {
    host.session.clear();
    if (stored) host.session[u"FileID"] = stored;
    ComposeList list{u"old"};
    ReadSessionList(u"FileID", list);
    EXPECT_EQ(expected, list) << (stored ? platform::U8(stored) : "absent");
  }
  hostkit::HostScope none(nullptr);
  ComposeList list{u"old"};
  ReadSessionList(u"composeTo", list);
  EXPECT_TRUE(list.empty());
}

// A written list is stored trimmed and joined (empty inner items kept, leading
// ones dropped), and reads back without its empty items.
TEST_F(ComposeStateTest, WriteSessionListJoinsTrimmedItems) {
  struct Case {
    ComposeList items;
    const char16_t* stored;
    ComposeList readBack;
  } const cases[] = {{{u"a", u"", u"b"}, u"a;;b", {u"a", u"b"}},
                     {{u"", u"a"}, u"a", {u"a"}},
                     {{u" a ", u"  ", u"\tb"}, u"a;;b", {u"a", u"b"}},
                     {{u"a", u""}, u"a;", {u"a"}},
                     {{}, u"", {}}};
  for (const auto& c : cases) {
    host.session[u"composeCC"] = u"previous";
    host.sessionWrites.clear();
    WriteSessionList(u"composeCC", c.items);
    const std::vector<std::pair<std::u16string, std::u16string>> writes{{u"composeCC", c.stored}};
    EXPECT_EQ(writes, host.sessionWrites) << platform::U8(c.stored);
    EXPECT_EQ(c.readBack, ReadSessionList(u"composeCC")) << platform::U8(c.stored);
  }
}

// Every value of the field, its name compared without regard to case as the
// web server does, split untrimmed and appended in order; a missing field adds nothing.
TEST_F(ComposeStateTest, ReadFormListAppendsEveryValueOfTheFieldSplit) {
  host.form = {{u"Contacts", u" ann ; bob"}, {u"Other", u"x"}, {u"contacts", u""},
               {u"CONTACTS", u";carl;;d;"}, {u"Contacts", u"dave, eve"}};
  ComposeList list{u"kept"};
  ReadFormList(u"Contacts", list);
  ReadFormList(u"TTo", list);
  EXPECT_EQ((ComposeList{u"kept", u" ann ", u" bob", u"", u"carl", u"", u"d", u"dave, eve"}), list);
  hostkit::HostScope none(nullptr);
  ReadFormList(u"Contacts", list);
  EXPECT_EQ(8u, list.size());
}

TEST_F(ComposeStateTest, ClearComposeSessionEmptiesAllSevenInOrder) {
  for (const char16_t* name : {u"composeSubject", u"composeBody", u"composeTo", u"composeCC",
                               u"composeBCC", u"FileID", u"ReturnTo"})
    host.session[name] = u"something";
  ClearComposeSession();
  std::vector<std::pair<std::u16string, std::u16string>> expected;
  for (const char16_t* name : {u"composeBody", u"composeSubject", u"composeTo", u"composeCC", u"composeBCC",
                               u"FileID", u"ReturnTo"})
    expected.emplace_back(name, u"");
  EXPECT_EQ(expected, host.sessionWrites);
  for (auto& [name, value] : host.session) EXPECT_EQ(u"", value) << platform::U8(name);
}

}  // namespace
