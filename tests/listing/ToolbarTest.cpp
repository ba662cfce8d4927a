// The listing's tool bar, paging, search bar and column header row.
#include "tests/listing/ListingFixture.h"
#include "tests/support/Golden.h"

namespace listing_test {
namespace {

// Where the Previous or Next cell (by its image) goes: the TopIndex of its
// link, or "" when the cell is disabled.
std::u16string PageLink(const std::u16string& body, std::u16string_view image) {
  const std::size_t at = body.find(u"src='" + std::u16string(image) + u"'");
  if (at == std::u16string::npos) return u"<missing>";
  const std::size_t start = body.rfind(u"<td", at);
  const std::u16string cell = body.substr(start, at - start);
  if (cell.find(u"coolDisabled") != std::u16string::npos) return u"";
  const std::size_t top = cell.find(u"TopIndex=");
  if (top == std::u16string::npos) return u"<no TopIndex>";
  return cell.substr(top + 9, cell.find(u"&amp;", top) - top - 9);
}

// The page up to the message table.
std::u16string Toolbar(const std::u16string& body) {
  return body.substr(0, body.find(u"<div class='ContentBody'>"));
}

// The page up to the message table, with the target's calls echoed, in tests/golden/.
TEST_F(ListingTest, FullToolbarAtFirstPageIsExact) {
  InstallEnglish();
  AddMessages(45);
  EXPECT_TRUE(testing_support::MatchesGolden("listing-toolbar-full", Toolbar(Run())));
}

TEST_F(ListingTest, ReducedToolbarHoldsComposeRefreshAndPagingOnly) {
  InstallEnglish();
  AddMessages(45);
  target->fullOutput = 0;
  Query(u"30", u"2");
  const std::u16string body = Run();
  EXPECT_TRUE(testing_support::MatchesGolden("listing-toolbar-reduced", Toolbar(body)));
  // No column header row in reduced output: the table opens on the first row.
  EXPECT_TRUE(Has(body, u"<div class='ContentBody'>[StartTable(class='box' width='100%',0)][StartTableRow]"));
}

// Paging: Previous and Next for the top index and count of each case.
struct PagingCase {
  int messages;
  const char16_t* topIndex;
  const char16_t* previous;  // URL TopIndex, or null when disabled
  const char16_t* next;
  int rows;
};

TEST_F(ListingTest, PagingLinksFollowTopIndexAndCount) {
  InstallEnglish();
  const PagingCase cases[] = {
      {45, u"", nullptr, u"30", 30},          {45, u"30", u"0", nullptr, 15},
      {30, u"0", nullptr, nullptr, 30},       {31, u"0", nullptr, u"30", 30},
      {45, u"10", u"-20", u"40", 30},         {45, u"-10", nullptr, u"20", 0},
      {0, u"", nullptr, nullptr, 0},          {45, u"45", u"15", nullptr, 0},
      {45, u"2147483647", u"2147483617", nullptr, 0},
      {45, u"12abc", u"-18", u"42", 30},      {45, u"junk", nullptr, u"30", 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::U8(c.topIndex) + " of " + std::to_string(c.messages));
    box->messages.clear();
    AddMessages(c.messages);
    Query(c.topIndex, u"3");
    host.ClearResponse();
    const std::u16string body = Run();
    EXPECT_EQ(platform::U8(c.previous ? c.previous : u""), platform::U8(PageLink(body, u"gifs/previous.gif")));
    EXPECT_EQ(platform::U8(c.next ? c.next : u""), platform::U8(PageLink(body, u"gifs/next.gif")));
    for (const char16_t* top : {c.previous, c.next}) {  // the links keep folder and sort
      if (top) {
        EXPECT_TRUE(Has(body, u"TopIndex=" + std::u16string(top) + u"&amp;Folder=SW5ib3g-&amp;Store=&amp;Sort=3'"));
      }
    }
    EXPECT_EQ(c.rows, CountOf(body, u"<tr class='Inbox"));
    // The header keeps its sort links and Refresh drops TopIndex and Sort.
    EXPECT_TRUE(Has(body, u"onclick=\"self.location='Inbox.asp?Folder=SW5ib3g-&amp;Store='\""));
    EXPECT_EQ(1, CountOf(body, u"class='ContentHeader'"));
  }
}

TEST_F(ListingTest, HeaderLinksToggleTheCurrentSortCode) {
  AddMessages(1);
  // Without a satellite the header comes from the module's own table.
  struct {
    const char16_t* sort;
    int from, subject, received;
  } cases[] = {{u"", 2, 4, 1}, {u"0", 2, 4, 1}, {u"1", 2, 4, 0}, {u"2", 3, 4, 0},
               {u"3", 2, 4, 0}, {u"4", 2, 5, 0}, {u"5", 2, 4, 0}, {u"7", 2, 4, 0},
               {u"-2", 2, 4, 0}, {u"99999999999", 2, 4, 0}, {u"4x", 2, 5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::U8(c.sort));
    Query(u"", c.sort);
    host.ClearResponse();
    const std::u16string body = Run();
    // The header row as it stands between the table's start and the first row.
    const std::size_t from = body.find(u"[StartTable(class='box' width='100%',0)]");
    ASSERT_NE(std::u16string::npos, from);
    const std::u16string header = body.substr(from, body.find(u"<tr class=", from) - from);
    if (!*c.sort) {
      EXPECT_TRUE(testing_support::MatchesGolden("listing-header", header));
    }
    std::vector<long> codes;  // the sort codes of the From, Subject and Received links
    for (std::size_t at = header.find(u"Sort="); at != std::u16string::npos; at = header.find(u"Sort=", at + 1))
      codes.push_back(platform::ParseLongPrefix(header.substr(at + 5)));
    EXPECT_EQ((std::vector<long>{c.from, c.subject, c.received}), codes);
    EXPECT_EQ(u"InboxSummary(Inbox," + platform::U16(std::to_string(platform::ParseLongPrefix(c.sort))) + u")",
              box->calls.back());
  }
}

TEST_F(ListingTest, SearchCellComesOnlyFromTheSatellite) {
  InstallEnglish({{3240, u"<select name=SearchType><option value=0>From</option></select>"}});
  AddMessages(2);
  const std::u16string body = Run();
  // The satellite's cell stands between the caption and the text box.
  const std::size_t caption = body.find(u"Search&nbsp;for&nbsp;messages:");
  const std::size_t cell = body.find(u"<select name=SearchType><option value=0>From</option></select>");
  EXPECT_LT(caption, cell);  // a missing part fails one of the two: npos is the largest
  EXPECT_LT(cell, body.find(u"id=SearchText"));
}

}  // namespace
}  // namespace listing_test
