// ViewMessageEx end to end: the frame and its failures, the activation path,
// the HTML-only answer, both tool bars (golden pages) in both output modes,
// the header table and the two body forms.
#include "tests/frame/TraceDriver.h"
#include "tests/view/ViewFixture.h"
#include "tests/support/Golden.h"

namespace view_tests {
namespace {

using Strings = std::vector<std::u16string>;

using ViewMessageTest = ViewFixture;

TEST_F(ViewMessageTest, PolicyRefusalOrNoSatelliteWritesNothing) {
  host.policyAllows = false;
  EXPECT_EQ(E_FAIL, View());
  host.policyAllows = true;
  {
    testing_support::TestInstall bare;  // a fresh install folder without libraries
    EXPECT_EQ(E_FAIL, View());
  }
  EXPECT_TRUE(target->calls.empty());
  EXPECT_EQ(u"", Body());
  EXPECT_EQ(0, host.connectionRequests);
}

TEST_F(ViewMessageTest, FailuresAfterThePageBeganLeaveStartAndEndPageOnly) {
  for (const char16_t* bad : {u"", u"not-a-guid", u"{00000007-0000-0000-0000-00000000000}"}) {
    host.query = {{u"Guid", bad}};
    host.ResetRequest();
    target->calls.clear();
    EXPECT_EQ(E_FAIL, View());
    EXPECT_EQ((Strings{u"StartPage", u"EndPage"}), Calls());
  }
  EXPECT_EQ(0, host.connectionRequests);  // no session for a bad Guid
  EXPECT_TRUE(box->calls.empty());

  host.query = {{u"Guid", guidText}};
  host.ResetRequest();
  target->calls.clear();
  box->messageResult = MakeHr(0x8004010F);
  EXPECT_EQ(MakeHr(0x8004010F), View());
  EXPECT_EQ((Strings{u"StartPage", u"EndPage"}), Calls());
  EXPECT_EQ(u"", Body());
}

TEST_F(ViewMessageTest, NoMailConnectionFailsAfterStartPage) {
  host.connectionFactory = nullptr;
  EXPECT_EQ(E_FAIL, View());
  EXPECT_EQ((Strings{u"StartPage", u"EndPage"}), Calls());
}

TEST_F(ViewMessageTest, DirectionOfAnyTextAndStepsPastTheEnd) {
  host.query = {{u"Guid", guidText}, {u"Folder", folder}, {u"Direction", u"abc"}};
  EXPECT_EQ(S_OK, View());
  host.query = {{u"Guid", guidText}, {u"Direction", u"1"}};
  host.ResetRequest();
  target->calls.clear();
  EXPECT_EQ(E_FAIL, View());  // the last message has no next one
  EXPECT_EQ((Strings{u"StartPage", u"EndPage"}), Calls());
  EXPECT_EQ((std::vector<std::u16string>{u"InboxMessage(Inbox," + guidText + u",0)",
                                         u"InboxMessage(Inbox," + guidText + u",1)"}),
            box->calls);
}

TEST_F(ViewMessageTest, ViewMessageIsViewMessageExInEnglish) {
  EXPECT_EQ(S_OK, object->ViewMessage());
  const std::u16string first = Body();
  const Strings firstCalls = target->calls;
  host.ClearResponse();
  target->calls.clear();
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ(first, Body());
  EXPECT_EQ(firstCalls, target->calls);
}

TEST_F(ViewMessageTest, ActivationPathOpensTheFileAndNothingElse) {
  frame_tests::TraceChannel channel;
  host.displayChoiceResult = 0;
  const std::u16string path = u"C:\\Temp\\Bericht ä.doc";
  host.query = {{u"Guid", u"bad"}, {u"ComponentID", u"2"}, {u"FileName", EncodeUrlSafe(path)}};
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ((Strings{u"DisplayChoice(2," + path + u"," + path + u",0,1,0,1)"}), host.activationCalls);
  EXPECT_EQ((Strings{u"StartPage"}), Calls());  // no EndPage on this path
  EXPECT_EQ(0, host.connectionRequests);
  EXPECT_TRUE(box->calls.empty());
  EXPECT_EQ(u"", Body());

  // Record 11 (information) and, as the service answered 0, record 12 (error).
  auto& records = channel.Driver().records;
  ASSERT_EQ(2u, records.size());
  ASSERT_EQ(4u, records[0].data.size());
  EXPECT_EQ(11, records[0].data[0][0]);
  EXPECT_EQ(2, records[0].Number(1));
  EXPECT_EQ(path, records[0].Text(2));
  EXPECT_EQ(u"<NULL>", records[0].Text(3));  // the empty Options text
  ASSERT_EQ(4u, records[1].data.size());
  EXPECT_EQ(12, records[1].data[0][0]);
  EXPECT_EQ(path, records[1].Text(2));
  EXPECT_EQ(0, records[1].Number(3));

  // Options given and the service succeeding: only record 11.
  records.clear();
  host.displayChoiceResult = 1;
  host.activationCalls.clear();
  host.query = {{u"ComponentID", u"2"}, {u"Options", u"5"}, {u"FileName", u"+/+"}};
  host.ResetRequest();
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ((Strings{u"DisplayChoice(2,,,5,1,0,1)"}), host.activationCalls);  // decodes to nothing
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(u"5", records[0].Text(3));
}

TEST_F(ViewMessageTest, OtherComponentIdsShowTheMessage) {
  host.query = {{u"Guid", guidText}, {u"Folder", folder}, {u"ComponentID", u"1"}};
  EXPECT_EQ(S_OK, View());
  EXPECT_TRUE(host.activationCalls.empty());
  EXPECT_EQ(1, target->Count(u"EndPage"));
}

// Whole pages in tests/golden/: both tool bars, in both output modes.
TEST_F(ViewMessageTest, ToolbarsAreExactInBothModes) {
  for (bool meeting : {false, true}) {
    Message().meetingRequest = meeting;
    if (meeting) Message().attachments = {{1, u"C:\\att\\agenda.doc"}};
    for (LONG full : {1, 0}) {
      SCOPED_TRACE(std::to_string(meeting) + std::to_string(full));
      host.ClearResponse();
      target->calls.clear();
      target->fullOutput = full;
      EXPECT_EQ(S_OK, View());
      const std::string name = std::string("view-") + (meeting ? "meeting-" : "") + (full ? "full" : "reduced");
      EXPECT_TRUE(testing_support::MatchesGolden(name, Body()));
      // The tool bar starts the page a second time.
      EXPECT_EQ(2, target->Count(u"StartPage"));
      EXPECT_EQ(1, target->Count(u"EndPage"));
      // A meeting request lists no attachments: the cell stays empty.
      EXPECT_EQ(0, target->Count(u"WriteImage"));
      EXPECT_TRUE(host.activationCalls.empty());
    }
  }
}

// The page with the target's calls echoed, in tests/golden/: the header
// table's labels, the trimmed recipients and an empty CC row.
TEST_F(ViewMessageTest, HeaderRowsWithLabelsTrimmedRecipientsAndCc) {
  target->echo = true;
  Message().to = u"Bob; Carol;; ";
  Message().cc = u"; ";
  EXPECT_EQ(S_OK, View());
  EXPECT_TRUE(testing_support::MatchesGolden("view-header-echo", Body()));

  // No CC row for an empty CC; labels missing from the request's library
  // leave their cells empty, while the page's own strings still load.
  install.WriteSatellite("quorraFax", "de", {{3120, u"Gesendet:"}});
  Message().cc.clear();
  host.ClearResponse();
  EXPECT_EQ(S_OK, object->ViewMessageEx(CComBSTR(u"de")));
  EXPECT_TRUE(testing_support::MatchesGolden("view-header-de-echo", Body()));
}

TEST_F(ViewMessageTest, HtmlBodyGoesToTheInlineFrameOnlyInFullOutputWithTheFlag) {
  Message().htmlBody = u"<html><body><script>alert(1)</script>Hi</body></html>";
  EXPECT_EQ(S_OK, View());
  const std::u16string url = u"/HalvornSLV/ViewInboxMessage.asp?DownloadHTMLOnly=1&Guid=" + guidText +
                             u"&Folder=" + folder + u"&Store=";
  EXPECT_NE(std::u16string::npos,
            Body().find(u"<br><IFRAME class='ContentIFrame' SRC='" + url + u"'></IFRAME>"));
  EXPECT_EQ(std::u16string::npos, Body().find(u"alert"));  // the HTML body never enters the page
  EXPECT_EQ(0, target->Count(u"WriteLine"));
  EXPECT_EQ((Strings{u"URL to get HTML content - ", url}), debug);

  // Reduced output, or the html flag off: the plain body, in both modes.
  for (auto [full, html] : {std::pair{0, true}, std::pair{1, false}, std::pair{0, false}}) {
    host.ClearResponse();
      target->fullOutput = full;
    host.htmlEnabled = html;
    EXPECT_EQ(S_OK, View());
    EXPECT_EQ(std::u16string::npos, Body().find(u"IFRAME"));
    EXPECT_NE(std::u16string::npos, Body().find(u"<div class='ContentBody'>Hello Bob</div>"));
  }
}

TEST_F(ViewMessageTest, EmptyHtmlBodyTextUsesThePlainBody) {
  MAPIManaged::_MAILMESSAGE message;
  message.pszBody = MAPIManaged::DupText(u"plain");
  message.pszHTMLBody = MAPIManaged::DupText(u"");
  inbox->WriteMessageView(message, nullptr, 0);
  EXPECT_EQ(u"<br><div class='ContentBody'>plain</div>", Body());
}

TEST_F(ViewMessageTest, PlainBodyIsLinkedWithBreaksInPiecesOf2000) {
  // 2500 non-ASCII characters, a line break and a link: the linked text is
  // written in pieces of at most 2000 characters that join up again.
  std::u16string text(2500, u'ü');
  Message().body = text + u"\r\nsee http://a.b/ now\n<b>";
  EXPECT_EQ(S_OK, View());
  const std::u16string expectedBody =
      text + u"\r<br>see <a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fa.b%2F\">http://a.b/</a> now<br>&lt;b&gt;";
  EXPECT_NE(std::u16string::npos, Body().find(u"<div class='ContentBody'>" + expectedBody + u"</div>"));
  const auto& writes = host.writes;
  auto first = std::find(writes.begin(), writes.end(), u"<div class='ContentBody'>");
  ASSERT_NE(writes.end(), first);
  EXPECT_EQ(expectedBody.substr(0, 2000), *(first + 1));
  EXPECT_EQ(expectedBody.substr(2000), *(first + 2));
  EXPECT_EQ(u"</div>", *(first + 3));
}

TEST_F(ViewMessageTest, HtmlOnlyAnswerIsWrappedRewrittenAndPieced) {
  host.query = {{u"Guid", guidText}, {u"Folder", folder}, {u"DownloadHTMLOnly", u"1"}};
  Message().htmlBody = u"<body><a href=\"http://x.y/\">x</a></body>";
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ(u"<body><DIV class=ContentBodyPreview><a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fx.y%2F\">x</a></DIV></body>",
            Body());
  EXPECT_EQ((Strings{u"StartPage", u"EndPage"}), Calls());
  EXPECT_EQ(u"Returning HTML content from message - Hello", debug.front());

  // Exactly 2000 characters: one write; 2001: two.
  for (std::size_t n : {2000u, 2001u}) {
    host.ClearResponse();
      Message().htmlBody = std::u16string(n, u'é');
    EXPECT_EQ(S_OK, View());
    const auto& writes = host.writes;
    ASSERT_EQ(n == 2000 ? 1u : 2u, writes.size());
    EXPECT_EQ(2000u, writes[0].size());
    EXPECT_EQ(Message().htmlBody, Body());
  }

  // No HTML body: nothing between StartPage and EndPage.
  host.ClearResponse();
  Message().htmlBody.clear();
  target->calls.clear();
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ(u"", Body());
  EXPECT_EQ((Strings{u"StartPage", u"EndPage"}), Calls());
}

TEST_F(ViewMessageTest, HtmlOnlyIsSelectedByOneAlone) {
  host.query = {{u"Guid", guidText}, {u"Folder", folder}, {u"DownloadHTMLOnly", u"true"}};
  Message().htmlBody = u"<b>x</b>";
  EXPECT_EQ(S_OK, View());
  EXPECT_NE(std::u16string::npos, Body().find(u"coolBar"));
  EXPECT_NE(std::u16string::npos, Body().find(u"<IFRAME"));
}

TEST_F(ViewMessageTest, FrameworkExceptionIsReportedWithoutEndPage) {
  Message().attachments = {{1, u"C:\\a\\x.txt"}};
  int configReads = 0;  // the second, the html flag, is asked while the page is being written
  host.configHook = [&] {
    if (++configReads == 2) throw CInvalidArgException(u"configuration unreadable");
  };
  EXPECT_EQ(S_OK, View());    // the result reached: InboxMessage's
  EXPECT_EQ(0, target->Count(u"EndPage"));
  ASSERT_EQ(1u, host.events.size());
  EXPECT_EQ(1, host.events[0].type);
  EXPECT_EQ(u"MyInbox", host.events[0].source);
  EXPECT_EQ(u"configuration unreadable", host.events[0].text);
  // The records were released all the same (checked in TearDown).
}

}  // namespace
}  // namespace view_tests
