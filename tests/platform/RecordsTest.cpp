#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

// Pinned texts belong to their block: arrays pointing at them free nothing
// of it (the sanitizer build would report a bad free), and the block lives
// until the last array holding it is released.
TEST(Records, PinnedTextsOutliveEveryArrayThatSharesThem) {
  const std::u16string texts[] = {u"", u"a", u"odd", u"four"};
  std::size_t bytes = 0;
  for (const auto& t : texts) bytes += PinnedTextBytes(t.size());
  auto block = std::shared_ptr<std::uint32_t[]>(new std::uint32_t[bytes / 4]);
  std::vector<const char16_t*> placed;
  auto* at = reinterpret_cast<unsigned char*>(block.get());
  for (const auto& t : texts) {
    placed.push_back(PlaceText(at, t.data(), t.size()));
    at += PinnedTextBytes(t.size());
  }
  std::weak_ptr<std::uint32_t[]> watch = block;
  _MAILITEM* first = NewMailItems(4, block);
  _MAILITEM* second = NewMailItems(4, block);
  block.reset();
  for (_MAILITEM* items : {first, second}) {
    for (std::size_t i = 0; i < 4; ++i) {
      items[i].pszFrom = const_cast<char16_t*>(placed[i]);
      items[i].pszSubject = DupText(u"own");  // owned and pinned side by side
    }
  }
  delete[] first;
  ASSERT_FALSE(watch.expired());
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(texts[i], std::u16string(second[i].pszFrom));
  delete[] second;
  EXPECT_TRUE(watch.expired());
}

TEST(Records, ContactsSortByDisplayNameIgnoringCase) {
  auto* c = new _CONTACTITEM[4];
  c[0].pszDisplayName = DupText(u"delta");
  c[1].pszDisplayName = DupText(u"Alpha");
  c[2].pszDisplayName = DupText(u"charlie");
  c[3].pszDisplayName = DupText(u"Bravo");
  c[3].pszEmailAddress = DupText(u"b@x");
  SortContactsByDisplayName(c, 4);
  const char16_t* sorted[] = {u"Alpha", u"Bravo", u"charlie", u"delta"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sorted[i], std::u16string(c[i].pszDisplayName));
  EXPECT_EQ(u"b@x", std::u16string(c[1].pszEmailAddress));  // the record moved whole
  delete[] c;
}

}  // namespace
