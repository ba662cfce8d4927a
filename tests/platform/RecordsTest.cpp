#include <gtest/gtest.h>

#include "records/MailRecords.h"

namespace {
using namespace MAPIManaged;

TEST(Records, ArraysReleaseEveryOwnedTextAndNullFieldsAreSkipped) {
  long before = LiveRecordArrays();
  auto* items = new _MAILITEM[3];
  items[0].pszFrom = DupText(u"a");
  items[1].pszSubject = DupText(u"b");  // others stay null
  items[2].pszBody = DupText(u"c", 1);
  auto* contacts = new _CONTACTITEM[1];
  contacts[0].pszOther[10] = DupText(u"eleventh");
  EXPECT_EQ(before + 2, LiveRecordArrays());
  delete[] items;  // the leak checker of the sanitizer build sees any text left behind
  delete[] contacts;
  delete[] static_cast<_MAILMESSAGE*>(nullptr);
  EXPECT_EQ(before, LiveRecordArrays());
  EXPECT_EQ(nullptr, DupText(nullptr));
}

TEST(Records, NaturalLayoutKeepsTheFieldOrder) {
  EXPECT_LT(offsetof(_MAILITEM, bHasAttachments), offsetof(_MAILITEM, bRead));
  EXPECT_LT(offsetof(_MAILITEM, pszBody), offsetof(_MAILITEM, bMeetingRequest));
  EXPECT_LT(offsetof(_MAILMESSAGE, pszHTMLBody), offsetof(_MAILMESSAGE, ftSent));
  EXPECT_EQ(16u, offsetof(_CONTACTITEM, pszName1));
  EXPECT_EQ(sizeof(void*) * 15 + 16, sizeof(_CONTACTITEM));
}

TEST(Records, ContactsSortByDisplayNameIgnoringCase) {
  auto* c = new _CONTACTITEM[4];
  c[0].pszDisplayName = DupText(u"delta");
  c[1].pszDisplayName = DupText(u"Alpha");
  c[2].pszDisplayName = DupText(u"charlie");
  c[3].pszDisplayName = DupText(u"Bravo");
  c[3].pszEmailAddress = DupText(u"b@x");
  SortContactsByDisplayName(c, 4);
  EXPECT_EQ(u"Alpha", std::u16string(c[0].pszDisplayName));
  EXPECT_EQ(u"Bravo", std::u16string(c[1].pszDisplayName));
  EXPECT_EQ(u"b@x", std::u16string(c[1].pszEmailAddress));  // the record moved whole
  EXPECT_EQ(u"charlie", std::u16string(c[2].pszDisplayName));
  EXPECT_EQ(u"delta", std::u16string(c[3].pszDisplayName));
  delete[] c;
}

}  // namespace
