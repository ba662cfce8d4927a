// The listing's tool bar, paging, search bar and column header row.
#include "tests/listing/ListingFixture.h"
#include "tests/support/Golden.h"

namespace listing_test {
namespace {

const std::u16string kBarClose =
    u"<TD class=\"coolFiller\" id=\"LocationFiller\">&nbsp;</TD></TR></TABLE>\r\n";

std::u16string Script(std::u16string_view script, std::u16string_view image,
                      std::u16string_view caption) {
  return u"<td class='coolButton' nowrap=\"true\" onclick=\"" + std::u16string(script) +
         u"\"><img border='0' src='" + std::u16string(image) + u"' align='absmiddle'>&nbsp;" +
         std::u16string(caption) + u"</td>\r\n";
}
std::u16string Location(std::u16string_view url, std::u16string_view image,
                        std::u16string_view caption) {
  return Script(u"self.location='" + std::u16string(url) + u"'", image, caption);
}
std::u16string ReducedLink(std::u16string_view url, std::u16string_view image,
                           std::u16string_view caption) {
  return u"<td align=center><a href='" + std::u16string(url) + u"'><img border='0' src='" +
         std::u16string(image) + u"'><br><small>" + std::u16string(caption) +
         u"</small></a></td>\r\n";
}

// The page up to the message table.
std::u16string Toolbar(const std::u16string& body) {
  return body.substr(0, body.find(u"<div class='ContentBody'>"));
}

TEST_F(ListingTest, FullToolbarAtFirstPageIsExact) {
  InstallEnglish();
  AddMessages(45);
  const std::u16string expected =
      u"[CacheBegin][StartPage][StartPage]"
      u"<TABLE width=\"100%\" class=\"coolBar\"><TR valign=\"middle\">\r\n" +
      Script(u"ComposeMessage('NewMsg', 'ParentType=2&amp;Parent=0&amp;Folder=SW5ib3g-&amp;Store=');",
             u"gifs/new.gif", u"Compose") +
      Location(u"Inbox.asp?Folder=SW5ib3g-&amp;Store=", u"gifs/refresh.gif", u"Refresh") +
      Script(u"OpenMessage()", u"gifs/openmail.gif", u"Open") +
      Script(u"ComposeMessage('Reply')", u"gifs/reply.gif", u"Reply") +
      Script(u"ComposeMessage('ReplyAll')", u"gifs/replytoall.gif", u"Reply&nbsp;to&nbsp;All") +
      Script(u"ComposeMessage('Fwd')", u"gifs/forward.gif", u"Forward") +
      Script(u"DeleteSelectedMsg()", u"gifs/delete.gif", u"Delete") +
      u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='gifs/previous.gif' "
      u"align='absmiddle'>&nbsp;Previous</td>\r\n" +
      Location(u"Inbox.asp?TopIndex=30&amp;Folder=SW5ib3g-&amp;Store=&amp;Sort=0", u"gifs/next.gif",
               u"Next") +
      kBarClose + u"<TABLE width=\"100%\" class=\"coolBar\"><TR valign=\"middle\">\r\n" +
      u"<form id=searchForm name=searchForm method='POST' action='Inbox.asp?Folder=SW5ib3g-'>" +
      u"<td class='coolDisabled' nowrap=\"true\" >&nbsp;Search&nbsp;for&nbsp;messages:</td>\r\n" +
      u"<td class='coolButton' nowrap=\"true\" align=center><input type='text' id=SearchText "
      u"name=SearchText size='13'></td>\r\n" +
      u"<td class='coolButton' nowrap=\"true\" ><input class='inputbutton' type=submit "
      u"style='background-image: url(gifs/Find.gif); background-repeat : no-repeat; "
      u"background-position-x : left; padding-left: 14px; padding-top: 5px; cursor: hand; "
      u"white-space:nowrap;' name='Go' value='Go'></td>\r\n" +
      u"</form><script>document.searchForm.SearchText.focus();</script>" + kBarClose;
  const std::u16string body = Run();
  EXPECT_EQ(expected, Toolbar(body));
  EXPECT_TRUE(testing_support::MatchesGolden("listing-toolbar-full", Toolbar(body)));
}

TEST_F(ListingTest, ReducedToolbarHoldsComposeRefreshAndPagingOnly) {
  InstallEnglish();
  AddMessages(45);
  target->fullOutput = 0;
  Query(u"30", u"2");
  const std::u16string body = Run();
  const std::u16string expected =
      u"[CacheBegin][StartPage][StartPage]"
      u"<table width=100% border=0 bgcolor='#D4D0C8'><tr>"
      u"<td align=center><a href='Inbox.asp'><img border=0 src='gifs/Inbox.gif'><br><small>Inbox"
      u"</small></a></td><td align=center><a href='InboxFolders.asp?Recurse=true&amp;Vis=Inbox'>"
      u"<img border=0 src='gifs/Inbox.gif'><br><small>Mailboxes</small></a></td>"
      u"<td align=center><a href='MyFiles.asp?Recurse=true&amp;Vis=Files'><img border=0 "
      u"src='gifs/My_Computer.gif'><br><small>My Files</small></a></td><td align=center><a "
      u"href='Logout.asp'><img border=0 src='gifs/Logout.gif'><br><small>Logout</small></a></td>"
      u"</tr></table>"
      u"<TABLE width=\"100%\" border=0 bgcolor=\"#D4D0C8\"><TR valign=\"middle\">\r\n" +
      ReducedLink(u"ComposeMessage.asp?Type=NewMsg&amp;ParentType=2&amp;Parent=30&amp;Folder=SW5ib3g-&amp;Store=",
                  u"gifs/new.gif", u"Compose") +
      ReducedLink(u"Inbox.asp?Folder=SW5ib3g-&amp;Store=", u"gifs/refresh.gif", u"Refresh") +
      ReducedLink(u"Inbox.asp?TopIndex=0&amp;Folder=SW5ib3g-&amp;Store=&amp;Sort=2",
                  u"gifs/previous.gif", u"Previous") +
      u"<td align=center><img border='0' src='gifs/next.gif'><br><small>Next</small></td>\r\n" +
      kBarClose;
  EXPECT_EQ(expected, Toolbar(body));
  EXPECT_TRUE(testing_support::MatchesGolden("listing-toolbar-reduced", Toolbar(body)));
  // No column header row in reduced output: the table opens on the first row.
  EXPECT_TRUE(Has(body, u"<div class='ContentBody'>[StartTable(class='box' width='100%',0)][StartTableRow]"));
  EXPECT_FALSE(Has(body, u"ContentHeader"));
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
    auto link = [](const char16_t* top) {
      return u"Inbox.asp?TopIndex=" + std::u16string(top) + u"&amp;Folder=SW5ib3g-&amp;Store=&amp;Sort=3";
    };
    if (c.previous)
      EXPECT_TRUE(Has(body, Location(link(c.previous), u"gifs/previous.gif", u"Previous")));
    else
      EXPECT_TRUE(Has(body, u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='gifs/previous.gif'"));
    if (c.next)
      EXPECT_TRUE(Has(body, Location(link(c.next), u"gifs/next.gif", u"Next")));
    else
      EXPECT_TRUE(Has(body, u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='gifs/next.gif'"));
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
    auto a = [](int code) {
      return u"<a href=\"Inbox.asp?Folder=SW5ib3g-&amp;Store=&amp;Sort=" +
             platform::U16(std::to_string(code)) + u"\">";
    };
    const std::u16string expected =
        u"<tr width=\"100%\" class='ContentHeader'><td class='ContentHeaderItemNoSort'><img alt=\"\" "
        u"src=\"gifs/Important.gif\" border=\"0\"></td><td class='ContentHeaderItemNoSort'><img alt=\"\" "
        u"src=\"gifs/Mail.gif\" border=\"0\"></td><td class='ContentHeaderItemNoSort'><img alt=\"\" "
        u"src=\"gifs/Attachment.gif\" border=\"0\"></td>" +
        a(c.from) + u"<td width=130 class='ContentHeaderItem'>From</td></a>" + a(c.subject) +
        u"<td class='ContentHeaderItem'>Subject</td></a>" + a(c.received) +
        u"<td width=130 class='ContentHeaderItem'>Received</td></a></tr>";
    EXPECT_TRUE(Has(body, u"[StartTable(class='box' width='100%',0)]" + expected + u"<tr class="));
    EXPECT_EQ(u"InboxSummary(Inbox," + platform::U16(std::to_string(platform::ParseLongPrefix(c.sort))) + u")",
              box->calls.back());
  }
}

TEST_F(ListingTest, SearchCellComesOnlyFromTheSatellite) {
  InstallEnglish({{3240, u"<select name=SearchType><option value=0>From</option></select>"}});
  AddMessages(2);
  const std::u16string body = Run();
  EXPECT_TRUE(Has(body, u"&nbsp;Search&nbsp;for&nbsp;messages:</td>\r\n"
                        u"<td class='coolButton' nowrap=\"true\" align=center><select name=SearchType>"
                        u"<option value=0>From</option></select></td>\r\n"
                        u"<td class='coolButton' nowrap=\"true\" align=center><input type='text'"));
}

TEST_F(ListingTest, EmptyFolderGetsToolbarAndHeaderOnly) {
  InstallEnglish();
  const std::u16string body = Run();
  EXPECT_TRUE(Has(body, u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='gifs/previous.gif'"));
  EXPECT_TRUE(Has(body, u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='gifs/next.gif'"));
  EXPECT_TRUE(Has(body, u"Received</td></a></tr>[EndTable]</div>[WriteLine][EndPage][CacheEnd]"));
  EXPECT_EQ(0, CountOf(body, u"<tr class='Inbox"));
}

}  // namespace
}  // namespace listing_test
