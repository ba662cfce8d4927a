// Message rows: templates in both output modes, icons, previews, search.
#include <cstdio>
#include <iterator>
#include <random>

#include "listing/ListingSearch.h"
#include "tests/listing/ListingFixture.h"
#include "tests/support/Golden.h"

namespace listing_test {
namespace {

// The view query of message n (TestGuid(n)) at top index 0.
std::u16string ViewQuery(int n) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(n));
  return u"Guid={" + platform::U16(hex) + u"-1111-2222-3031-323334353637}&amp;TI=0&amp;Folder=SW5ib3g-&amp;Store=";
}

// Rows byte for byte (target calls echoed) in tests/golden/.
TEST_F(ListingTest, FullRowsAreExactForReadUnreadAndMeetingRequests) {
  InstallEnglish();
  AddMessages(2);
  auto& read = box->messages[0];
  read.from = u"Bob &amp; Sons";
  read.subject = u"Q3 &lt;draft&gt;";
  read.body = u"Numbers &amp; more";
  read.importance = 0;
  read.hasAttachments = true;
  auto& meeting = box->messages[1];
  meeting.read = false;
  meeting.importance = 2;
  meeting.meetingRequest = true;
  meeting.received = FILETIME{0, 0x01DA0000u};

  const std::u16string body = Run();
  const std::size_t rows = body.find(u"<tr class='Inbox");
  ASSERT_NE(std::u16string::npos, rows);
  EXPECT_TRUE(testing_support::MatchesGolden("listing-rows-full", body.substr(rows)));
}

TEST_F(ListingTest, ReceivedTimeUsesPercentCWithoutALocalizedFormat) {
  AddMessages(1);
  const std::u16string body = Run();
  EXPECT_TRUE(Has(body, u"</span></td><td>" + FormatMailTime(box->messages[0].received, u"%c") +
                            u"</td></tr>"));
}

TEST_F(ListingTest, ReducedRowsLinkWithBoldForUnread) {
  InstallEnglish();
  AddMessages(2);
  box->messages[1].read = false;
  target->fullOutput = 0;
  const std::u16string body = Run();
  EXPECT_TRUE(testing_support::MatchesGolden("listing-rows-reduced", body.substr(body.find(u"[StartTableRow]"))));
}

TEST_F(ListingTest, WithoutAViewUrlRowsShowCannotRead) {
  // A satellite that lacks the view URL: reduced rows show 3143 (bold when read),
  // full rows keep their template with an empty query.
  InstallEnglish({{3141, u""}});
  AddMessages(2);
  box->messages[1].read = false;
  target->fullOutput = 0;
  std::u16string body = Run();
  EXPECT_TRUE(Has(body, u"[StartTableData]<b>Cannot Read This Message!</b>[EndTableData]"));
  EXPECT_TRUE(Has(body, u"[StartTableData]Cannot Read This Message![EndTableData]"));
  target->fullOutput = 1;
  host.ClearResponse();
  body = Run();
  EXPECT_TRUE(Has(body, u"onclick='selectItem(this,\"\",0)' ondblclick='openMessage(\"\")'"));
}

TEST_F(ListingTest, PreviewIsCutAfter156DecodedCharacters) {
  AddMessages(3);
  // Text that was never encoded is cut and encoded all the same.
  box->messages[2].body = std::u16string(155, u'x') + u"\"yz";
  std::u16string exact(150, u'\u00e9');  // é, outside ASCII
  exact += u"&amp;&amp;&amp;&amp;&amp;&amp;";  // 156 decoded characters
  box->messages[0].body = exact;
  box->messages[1].body = u"\u00e9" + exact;  // 157
  const std::u16string body = Run();
  EXPECT_TRUE(Has(body, u"'MessagePreviewRead'>" + exact + u"...[END]</span>"));
  EXPECT_TRUE(Has(body, u"'MessagePreviewRead'>" + std::u16string(151, u'\u00e9') +
                            u"&amp;&amp;&amp;&amp;&amp;...[MORE]</span>"));
  EXPECT_TRUE(Has(body, u"'MessagePreviewRead'>" + std::u16string(155, u'x') + u"&quot;...[MORE]</span>"));
}

class SearchTest : public ListingTest {
 protected:
  void SetUp() override {
    ListingTest::SetUp();
    AddMessages(3);
    box->messages[0].from = u"Bob &amp; Sons";
    box->messages[0].subject = u"Quarterly";
    box->messages[0].body = u"numbers attached";
    box->messages[1].from = u"Carol";
    box->messages[1].subject = u"Lunch &lt;today&gt; \u00c9t\u00c9";
    box->messages[1].body = u"see you at NOON";
    box->messages[2].from = u"Dave";
    box->messages[2].subject = u"Re: bob";
    box->messages[2].body = u"Bob&#39;s report";
  }
  // Which of the three messages the page lists, as "1", "13" and so on.
  std::string Listed(hostkit::FieldList form) {
    host.form = std::move(form);
    host.ResetRequest();
    host.ClearResponse();
    const std::u16string body = Run();
    std::string listed;
    for (int i = 1; i <= 3; ++i)
      if (Has(body, u"onclick='selectItem(this,\"" + ViewQuery(i))) listed += std::to_string(i);
    sortable = Has(body, u"class='ContentHeaderItem'>From</td></a>");
    return listed;
  }
  bool sortable = false;
};

TEST_F(SearchTest, EachTypeSearchesItsFieldDecodedAndWithoutCase) {
  EXPECT_EQ("1", Listed({{u"SearchText", u"BOB"}, {u"SearchType", u"0"}}));
  EXPECT_FALSE(sortable);
  EXPECT_EQ("1", Listed({{u"SearchText", u"b & s"}, {u"SearchType", u"0"}}));
  EXPECT_EQ("1", Listed({{u"SearchText", u"bob"}, {u"SearchType", u""}}));  // empty type: sender
  EXPECT_EQ("2", Listed({{u"SearchText", u"Noon"}, {u"SearchType", u"1"}}));
  EXPECT_EQ("3", Listed({{u"SearchText", u"bob's"}, {u"SearchType", u"1"}}));
  EXPECT_EQ("2", Listed({{u"SearchText", u"<TODAY>"}, {u"SearchType", u"2"}}));
  EXPECT_EQ("2", Listed({{u"SearchText", u"\u00e9t\u00e9"}, {u"SearchType", u"2"}}));
  EXPECT_EQ("3", Listed({{u"SearchText", u"bob"}, {u"SearchType", u"2 and more"}}));
  // Repeated fields read as their values joined with ", ".
  EXPECT_EQ("2", Listed({{u"SearchText", u"noon"}, {u"SearchType", u"1"}, {u"SearchType", u"0"}}));
  EXPECT_EQ("", Listed({{u"SearchText", u"bob"}, {u"SearchText", u"x"}, {u"SearchType", u"0"}}));
  EXPECT_EQ("", Listed({{u"SearchText", u"nobody"}, {u"SearchType", u"0"}}));
  EXPECT_FALSE(sortable);
}

TEST_F(SearchTest, UnknownTypeEmptyTextAndShowAllListEverything) {
  EXPECT_EQ("123", Listed({{u"SearchText", u"bob"}, {u"SearchType", u"7"}}));
  EXPECT_FALSE(sortable);  // a search was posted, even if it filters nothing
  EXPECT_EQ("123", Listed({{u"SearchText", u""}, {u"SearchType", u"1"}}));
  EXPECT_TRUE(sortable);
  EXPECT_EQ("123", Listed({{u"SearchText", u"bob"}, {u"SearchType", u"0"}, {u"Show All", u"SHOW ALL"}}));
  EXPECT_TRUE(sortable);
  EXPECT_EQ("123", Listed({{u"SearchType", u"0"}}));
  EXPECT_EQ("123", Listed({}));
  EXPECT_TRUE(sortable);
}

TEST_F(ListingTest, SearchListsAtMost30MatchesFromTheTop) {
  AddMessages(70);
  for (int i = 0; i < 70; i += 2) box->messages[i].body = u"the KEY word";
  host.form = {{u"SearchText", u"key"}, {u"SearchType", u"1"}};
  const std::u16string body = Run();
  EXPECT_EQ(30, CountOf(body, u"<tr class='Inbox"));
  EXPECT_TRUE(Has(body, ViewQuery(59)));
  EXPECT_FALSE(Has(body, ViewQuery(61)));
  EXPECT_FALSE(Has(body, ViewQuery(2)));
}

TEST_F(ListingTest, BodyOfStrayAmpersandsIsPreviewedAndSearched) {
  // A hostile body: two million ampersands that start no entity. The search
  // in bodies finds the word after them and the preview shows the first 156,
  // encoded again; the page is written.
  AddMessages(1);
  box->messages[0].body = std::u16string(2000000, u'&') + u" Needle";
  host.form = {{u"SearchText", u"needle"}, {u"SearchType", u"1"}};
  std::u16string preview;
  for (int i = 0; i < 156; ++i) preview += u"&amp;";
  const std::u16string body = Run();
  EXPECT_EQ(1, CountOf(body, u"<tr class='InboxRead'"));
  EXPECT_TRUE(Has(body, u"<span class='MessagePreviewRead'>" + preview + u"...[MORE]</span>"));
}

TEST_F(ListingTest, RecordsWithNullTextsWriteEmptyCells) {
  // Records straight from a library that leaves texts null.
  auto* items = new MAPIManaged::_MAILITEM[2];
  items[0].guidID = testing_support::TestGuid(1);
  items[1].guidID = testing_support::TestGuid(2);
  auto* self = static_cast<CMyInbox*>(inbox.p);
  platform::ModuleStateGuard moduleState(LumarestModuleHandle());
  host.form = {{u"SearchText", u"x"}, {u"SearchType", u"1"}};
  self->WriteListingRows(items, 2, 0);
  EXPECT_EQ(0, CountOf(host.Body(), u"<tr class='Inbox"));  // nothing to search in
  host.form.clear();
  host.ResetRequest();
  host.ClearResponse();
  self->WriteListingRows(items, 2, 0);
  EXPECT_EQ(2, CountOf(host.Body(), u"<td></td><td><br><span class='MessagePreviewUnread'>...[END]</span>"));
  target->fullOutput = 0;
  host.ClearResponse();
  self->WriteListingRows(items, 2, 0);
  EXPECT_EQ(2, CountOf(host.Body(), u"\"> - </a></b>"));
  host.ClearResponse();
  self->WriteListingRows(nullptr, 5, 0);  // a count without an array lists nothing
  EXPECT_EQ(u"<div class='ContentBody'>[StartTable(class='box' width='100%',0)][EndTable]</div>[WriteLine]",
            host.Body());
  delete[] items;
}

}  // namespace
}  // namespace listing_test

namespace listing_test {
namespace {

// The preview decodes only as much of a body as the cut needs; it must agree
// with cutting the whole decoded body, wherever entities fall.
const std::u16string kPieces[] = {u"a",     u"\u00e9", u"&amp;",  u"&lt;",   u"&#233;",   u"&",
                                  u";",     u"&#x41;", u"&bogus;", u"&nbsp;", u"&verylongentityname;",
                                  u" word ", u"W", u"\u00c9", u"\u212a"};

TEST(PreviewTest, PartialDecodingAgreesWithDecodingTheWholeBody) {
  const auto& pieces = kPieces;
  // An entity straddling the first decoding window, right at the cut.
  std::u16string straddling;
  for (int i = 0; i < 114; ++i) straddling += u"&amp;";
  straddling += u"&#233;&#233;" + std::u16string(38, u'a');  // 620 stored, 154 decoded
  straddling += u"&nbsp;" + std::u16string(200, u'b');
  EXPECT_EQ(VHTMLEncodeString2(VHTMLDecodeString(straddling).substr(0, 156)) + u"...[MORE]",
            listing::BuildPreview(straddling.c_str()));
  std::mt19937 random(20261205);
  for (int round = 0; round < 2000; ++round) {
    std::u16string body;
    const std::size_t length = 100 + random() % 1200;
    while (body.size() < length) body += pieces[random() % std::size(pieces)];
    std::u16string decoded = VHTMLDecodeString(body);
    const std::u16string expected =
        decoded.size() > 156 ? VHTMLEncodeString2(decoded.substr(0, 156)) + u"...[MORE]"
                             : body + u"...[END]";
    ASSERT_EQ(expected, listing::BuildPreview(body.c_str())) << platform::U8(body);
  }
}

// The search skips lowering and decoding where it can; what it finds must be
// what lowering, decoding and searching the whole text finds, at any place
// in a text of any length and with or without entities.
TEST(SearchMatchTest, AgreesWithLoweringAndDecodingTheWholeText) {
  const std::u16string needles[] = {u"a",  u"word", u"\u00e9a", u"&",      u"<a", u"w a",
                                    u"aw", u"k",    u"d wor",   u"\u00a0w", u";a"};
  std::mt19937 random(20261206);
  std::u16string scratch;
  int found = 0;
  for (int round = 0; round < 4000; ++round) {
    std::u16string body;
    const std::size_t length = random() % 300;
    const bool plain = round % 2 == 0;  // half without any "&"
    while (body.size() < length) {
      const std::u16string& piece = kPieces[random() % std::size(kPieces)];
      if (!plain || piece.find(u'&') == std::u16string::npos) body += piece;
    }
    // Texts start at every alignment: the scan reads in aligned blocks.
    std::u16string stored = std::u16string(random() % 8, u'x') + body;
    const char16_t* text = stored.c_str() + (stored.size() - body.size());
    const std::u16string decoded = VHTMLDecodeString(platform::ToLower(body));
    for (const auto& needle : needles) {
      const bool expected = !body.empty() && decoded.find(needle) != std::u16string::npos;
      found += expected;
      ASSERT_EQ(expected, listing::FieldMatches(text, needle, scratch))
          << platform::U8(body) << " / " << platform::U8(needle);
    }
  }
  EXPECT_GT(found, 1000);
}

}  // namespace
}  // namespace listing_test
