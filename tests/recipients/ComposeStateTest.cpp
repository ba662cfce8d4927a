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

TEST_F(ComposeStateTest, ReadSessionListTrimsAndDropsEmptyPieces) {
  host.session[u"composeTo"] = u"a; ;b;";
  EXPECT_EQ((ComposeList{u"a", u"b"}), ReadSessionList(u"composeTo"));

  host.session[u"composeTo"] = u" ann \t;;bob;ann;\r\n";
  EXPECT_EQ((ComposeList{u"ann", u"bob", u"ann"}), ReadSessionList(u"composeTo"));

  host.session[u"composeTo"] = u";;;";
  EXPECT_TRUE(ReadSessionList(u"composeTo").empty());
  EXPECT_TRUE(ReadSessionList(u"neverStored").empty());
}

TEST_F(ComposeStateTest, ReadSessionListReplacesWhatTheListHeld) {
  host.session[u"FileID"] = u"x;y";
  ComposeList list{u"old"};
  ReadSessionList(u"FileID", list);
  EXPECT_EQ((ComposeList{u"x", u"y"}), list);
}

TEST_F(ComposeStateTest, ReadSessionListWithoutHostIsEmpty) {
  hostkit::HostScope none(nullptr);
  ComposeList list{u"old"};
  ReadSessionList(u"composeTo", list);
  EXPECT_TRUE(list.empty());
}

TEST_F(ComposeStateTest, WriteSessionListJoinsTrimmedItems) {
  WriteSessionList(u"composeTo", {u"a", u"", u"b"});
  EXPECT_EQ(u"a;;b", host.session[u"composeTo"]);

  WriteSessionList(u"composeTo", {u"", u"a"});
  EXPECT_EQ(u"a", host.session[u"composeTo"]);

  WriteSessionList(u"composeTo", {u" a ", u"  ", u"\tb"});
  EXPECT_EQ(u"a;;b", host.session[u"composeTo"]);

  WriteSessionList(u"composeTo", {u"a", u""});
  EXPECT_EQ(u"a;", host.session[u"composeTo"]);
}

TEST_F(ComposeStateTest, EmptyListStoresEmptyStringAndReadsBackEmpty) {
  host.session[u"composeCC"] = u"previous";
  WriteSessionList(u"composeCC", {});
  ASSERT_EQ(1u, host.sessionWrites.size());
  EXPECT_EQ(u"composeCC", host.sessionWrites[0].first);
  EXPECT_EQ(u"", host.sessionWrites[0].second);
  EXPECT_TRUE(ReadSessionList(u"composeCC").empty());
}

TEST_F(ComposeStateTest, WrittenListReadsBackWithoutItsEmptyItems) {
  WriteSessionList(u"FileID", {u"QUJD", u"", u"REVG"});
  EXPECT_EQ((ComposeList{u"QUJD", u"REVG"}), ReadSessionList(u"FileID"));
}

TEST_F(ComposeStateTest, ReadFormListSplitsEveryValueWithoutTrimming) {
  host.form = {{u"TTo", u"a;;b;"}};
  ComposeList list;
  ReadFormList(u"TTo", list);
  EXPECT_EQ((ComposeList{u"a", u"", u"b"}), list);
}

TEST_F(ComposeStateTest, ReadFormListReadsRepeatedFieldsInOrderAndAppends) {
  // Field names compare without regard to case, as the web server does.
  host.form = {{u"Contacts", u" ann ; bob"}, {u"Other", u"x"}, {u"contacts", u""},
               {u"CONTACTS", u";carl"}, {u"Contacts", u"dave, eve"}};
  ComposeList list{u"kept"};
  ReadFormList(u"Contacts", list);
  EXPECT_EQ((ComposeList{u"kept", u" ann ", u" bob", u"", u"carl", u"dave, eve"}), list);
}

TEST_F(ComposeStateTest, ReadFormListOfMissingFieldOrNoRequestAddsNothing) {
  host.form = {{u"TCC", u"a"}};
  ComposeList list;
  ReadFormList(u"TTo", list);
  EXPECT_TRUE(list.empty());

  hostkit::HostScope none(nullptr);
  ReadFormList(u"TCC", list);
  EXPECT_TRUE(list.empty());
}

TEST_F(ComposeStateTest, ClearComposeSessionEmptiesAllSevenInOrder) {
  for (const char16_t* name : {u"composeSubject", u"composeBody", u"composeTo", u"composeCC",
                               u"composeBCC", u"FileID", u"ReturnTo"})
    host.session[name] = u"something";
  ClearComposeSession();
  const std::vector<std::u16string> expected{u"composeBody", u"composeSubject", u"composeTo",
                                             u"composeCC",   u"composeBCC",     u"FileID",
                                             u"ReturnTo"};
  ASSERT_EQ(expected.size(), host.sessionWrites.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i], host.sessionWrites[i].first);
    EXPECT_EQ(u"", host.sessionWrites[i].second);
  }
  for (auto& [name, value] : host.session) EXPECT_EQ(u"", value) << platform::U8(name);
}

}  // namespace
