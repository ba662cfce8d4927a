// Link detection and rewriting: HTML anchors of every kind, plain-text
// links, send-time share paths, the BODY wrapper; and agreement with the
// literal rendering of the algorithms on random mail-like text.
#include <gtest/gtest.h>

#include <random>

#include "platform/Debug.h"
#include "platform/Text.h"
#include "tests/support/RecordingHost.h"
#include "tests/view/LinksReference.h"
#include "view/Links.h"

namespace {

using testing_support::RecordingHost;

class LinksTest : public ::testing::Test {
 protected:
  RecordingHost host;
  hostkit::HostScope scope{&host};
  std::vector<std::u16string> debug;
  platform::DebugSink previous;
  void SetUp() override {
    previous = platform::SetDebugSink([this](std::u16string_view t) { debug.emplace_back(t); });
  }
  void TearDown() override { platform::SetDebugSink(previous); }

  std::string Html(std::u16string text) {
    RewriteHtmlLinks(text);
    return platform::U8(text);
  }
  std::string Plain(std::u16string text) {
    LinkifyPlainText(text);
    return platform::U8(text);
  }
  std::string Unc(std::u16string text) {
    LinkifyUncPaths(text);
    return platform::U8(text);
  }
};

TEST_F(LinksTest, WebAnchorsGoThroughTheHostedUrlInEitherQuoteStyle) {
  EXPECT_EQ("<p><a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fexample.com%2Fx\">t</a></p>",
            Html(u"<p><a href=\"http://example.com/x\">t</a></p>"));
  EXPECT_EQ("<A target='_blank' HREF='LinkOut.asp?u=https%3A%2F%2Fe.org'>e</A>",
            Html(u"<A HREF='https://e.org'>e</A>"));
  // Without quotes the link ends at a blank.
  EXPECT_EQ("<a target='_blank' href=LinkOut.asp?u=HTTP%3A%2F%2Fa.b class=x>",
            Html(u"<a href=HTTP://a.b class=x>"));
  // Every occurrence of the link inside the tag is replaced.
  EXPECT_EQ("<a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\" title='LinkOut.asp?u=http%3A%2F%2Fa.b'>",
            Html(u"<a href=\"http://a.b\" title='http://a.b'>"));
}

TEST_F(LinksTest, AnchorsThatAreNotRewritten) {
  // A named anchor is left alone and the scan goes on after it.
  EXPECT_EQ("<a name=\"top\">x</a><a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">",
            Html(u"<a name=\"top\">x</a><a href=\"http://a.b\">"));
  // An unquoted web link directly before '>' has no end.
  EXPECT_EQ("<a href=http://a.b>x</a>", Html(u"<a href=http://a.b>x</a>"));
  // Tags that only begin like an anchor, and text that only looks like a link.
  EXPECT_EQ("<ABBR title=x>http://a.b</ABBR><area href=\"#x\">",
            Html(u"<ABBR title=x>http://a.b</ABBR><area href=\"#x\">"));
  // A relative link is no kind the rewriter knows.
  EXPECT_EQ("<a href=\"page.htm\">", Html(u"<a href=\"page.htm\">"));
}

TEST_F(LinksTest, UnclosedAnchorKeepsEarlierRewritesAndTheRest) {
  EXPECT_EQ("x <a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">y</a> <a href=\"http://c",
            Html(u"x <a href=\"http://a.b\">y</a> <a href=\"http://c"));
}

TEST_F(LinksTest, TargetsWrittenWithApostrophesOnlyCount) {
  EXPECT_EQ("<a target='_self' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">",
            Html(u"<a target='_self' href=\"http://a.b\">"));
  EXPECT_EQ("<a target=\"_self\" target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">",
            Html(u"<a target=\"_self\" href=\"http://a.b\">"));
}

TEST_F(LinksTest, MailAnchorsOpenTheComposePageInTheMailWindow) {
  EXPECT_EQ("<a target='HvnsEmailWindow'href=\"/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=bob@x.org\">Bob</a>",
            Html(u"<a href=\"mailto:bob@x.org\">Bob</a>"));
  EXPECT_EQ("<A target='HvnsEmailWindow'HREF='/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=Bob@X.org'>",
            Html(u"<A HREF='MAILTO:Bob@X.org'>"));
}

TEST_F(LinksTest, FileFormsBecomeFileBrowserLinks) {
  const std::string browse = "href=\"/HalvornSLV/Folder.asp?LFE=false&ClearName=";
  EXPECT_EQ("<a target='_blank' " + browse + "\\\\server/share/doc.txt\">",
            Html(u"<a href=\"file://server/share/doc.txt\">"));
  EXPECT_EQ("<a target='_blank' " + browse + "\\\\srv\\x\">", Html(u"<a href=\"FILE:///\\\\srv\\x\">"));
  EXPECT_EQ("<a target='_blank' " + browse + "\\\\srv\\x\">", Html(u"<a href=\"File://\\\\srv\\x\">"));
  EXPECT_EQ("<a target='_blank' " + browse + "\\\\srv\\s\">", Html(u"<a href=\"\\\\srv\\s\">"));
  EXPECT_EQ("<a target='_blank' " + browse + "//srv/s\">", Html(u"<a href=\"//srv/s\">"));
  // "file:" before a drive letter loses its scheme, which leaves no share
  // path: the body keeps the anchor as it was.
  EXPECT_EQ("<a href=\"file:c:\\x\">", Html(u"<a href=\"file:c:\\x\">"));
}

TEST_F(LinksTest, LinkInAnAttributeBeforeHrefIsTheOneTaken) {
  EXPECT_EQ("<a title=\"see LinkOut.asp?u=hTTp%3A%2F%2Ft.org\" target='_blank' href=\"http://real.org\">",
            Html(u"<a title=\"see hTTp://t.org\" href=\"http://real.org\">"));
}

TEST_F(LinksTest, FailingEncoderLeavesNoDirectLink) {
  host.hostedUrlResult = E_FAIL;
  EXPECT_EQ("<a target='_blank' href=\"\">x</a>", Html(u"<a href=\"http://evil.example/\">x</a>"));
}

TEST_F(LinksTest, RewriteWritesDebuggerLines) {
  Html(u"<a name=x><a href=\"mailto:a@b\">");
  const std::vector<std::u16string> expected = {
      u"Found HREF - ", u"<a name=x>", u"This is not exactly a HREF. Ignoring it",
      u"Found HREF - ", u"<a href=\"mailto:a@b\">", u"Found Link - ", u"mailto:a@b",
      u"Replacing link with - ",
      u"/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=a@b", u"New HREF - ",
      u"<a target='HvnsEmailWindow'href=\"/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=a@b\">"};
  EXPECT_EQ(expected, debug);
  debug.clear();
  Html(u"<a href=http://x>");
  EXPECT_EQ(u"Unable to find end of link in this HREF. Ignoring...", debug.back());
}

TEST_F(LinksTest, AddBlankTarget) {
  std::u16string tag = u"<a class=x Href=\"y\">";
  AddBlankTarget(tag);
  EXPECT_EQ(u"<a class=x target='_blank' Href=\"y\">", tag);
  AddBlankTarget(tag);
  EXPECT_EQ(u"<a class=x target='_blank' Href=\"y\">", tag);
  std::u16string noHref = u"<a name=y>";
  AddBlankTarget(noHref);
  EXPECT_EQ(u"<a name=y>", noHref);
}

TEST_F(LinksTest, PlainTextWebLinks) {
  // A '.' before a blank stays in the visible text but not in the URL.
  EXPECT_EQ("see <a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fa.b%2Fc\">http://a.b/c.</a> Next",
            Plain(u"see http://a.b/c. Next"));
  // A link at the very end has no end character and gets no anchor.
  EXPECT_EQ("go http://a.b", Plain(u"go http://a.b"));
  // An entity after a link: the link ends before the entity's ';'.
  EXPECT_EQ("<a target='_blank' href =\"LinkOut.asp?u=https%3A%2F%2Fa.b%26lt\">https://a.b&lt</a>;x\n",
            Plain(u"https://a.b<x\n"));
  // Two links, the second after a line break.
  EXPECT_EQ("<a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fa\">http://a</a>\r\n"
            "<a target='_blank' href =\"LinkOut.asp?u=HTTP%3A%2F%2Fb\">HTTP://b</a>)",
            Plain(u"http://a\r\nHTTP://b)"));
}

TEST_F(LinksTest, PlainTextIsMadeHtmlSafe) {
  EXPECT_EQ("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &amp;", Plain(u"<script>alert('x')</script> & &amp;"));
  // Markup smuggled into a link cannot leave the href attribute.
  EXPECT_EQ("<a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fx%26quot\">http://x&quot</a>;&gt;&lt;b ",
            Plain(u"http://x\"><b "));
  host.hostedUrlResult = E_FAIL;
  EXPECT_EQ("<a target='_blank' href =\"http://a.b\">http://a.b</a> ", Plain(u"http://a.b "));
}

TEST_F(LinksTest, PlainTextOfStrayAmpersandsIsEncodedInOnePass) {
  // A hostile body: two million ampersands that start no entity, then one
  // entity. Each stray '&' becomes "&amp;", the entity is still decoded, and
  // the page is written (the decoder looks for an entity's ';' only in the
  // ten characters after its '&', not to the end of the body).
  std::u16string text(2000000, u'&');
  text += u"&lt;";
  LinkifyPlainText(text);
  ASSERT_EQ(5u * 2000000 + 4, text.size());
  EXPECT_EQ(u"&lt;", text.substr(text.size() - 4));
  EXPECT_EQ(std::u16string::npos, text.find(u"&&"));
}

TEST_F(LinksTest, PlainTextFileLinks) {
  EXPECT_EQ("open <a target='_blank' href =\"Folder.asp?LFE=false&ClearName=%5C%5Csrv%5Cshare%5Cf.doc\">\\\\srv\\share\\f.doc</a> now",
            Plain(u"open \\\\srv\\share\\f.doc now"));
  EXPECT_EQ("<a target='_blank' href =\"Folder.asp?LFE=false&ClearName=%5C%5Csrv%5Ca%5Cb.txt\">FILE://srv/a/b.txt</a>!",
            Plain(u"FILE://srv/a/b.txt!"));
  EXPECT_EQ("<a target='_blank' href =\"Folder.asp?LFE=false&ClearName=%5C%5Csrv%5Cx\">file://\\\\srv\\x</a>\t",
            Plain(u"file://\\\\srv\\x\t"));
}

TEST_F(LinksTest, PlainTextKeepsNonAsciiText) {
  EXPECT_EQ(platform::U8(u"Grüße → <a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fm%C3%BCnchen.de\">http://münchen.de</a> 日本"),
            Plain(u"Grüße → http://münchen.de 日本"));
}

TEST_F(LinksTest, SendTimeSharePaths) {
  EXPECT_EQ("see file://\\\\srv\\share\\x.doc. ok", Unc(u"see \\\\srv\\share\\x.doc. ok"));
  EXPECT_EQ("file://\\\\srv\\share\\x ok", Unc(u"//srv/share/x ok"));
  EXPECT_EQ("http://a//b ok https://c\n file://srv/x ok", Unc(u"http://a//b ok https://c\n file://srv/x ok"));
  // Without an end character nothing changes.
  EXPECT_EQ("see \\\\srv\\share\\x.doc.", Unc(u"see \\\\srv\\share\\x.doc."));
  EXPECT_EQ("a file://\\\\s\\b;file://\\\\t\\c\n", Unc(u"a \\\\s\\b;//t/c\n"));
}

TEST_F(LinksTest, WrapBodyContent) {
  std::u16string html = u"<html><Body bgcolor=x>hi</bODY></html>";
  WrapBodyContent(html);
  EXPECT_EQ(u"<html><Body bgcolor=x><DIV class=ContentBodyPreview>hi</DIV></bODY></html>", html);
  std::u16string none = u"<p>no body</p>";
  WrapBodyContent(none);
  EXPECT_EQ(u"<p>no body</p>", none);
  std::u16string open = u"<body>rest";
  WrapBodyContent(open);
  EXPECT_EQ(u"<body><DIV class=ContentBodyPreview>rest</DIV>", open);
  std::u16string unclosed = u"<body x=";
  WrapBodyContent(unclosed);
  EXPECT_EQ(u"<body x=", unclosed);
  // A stray closing tag before the BODY element does not split the wrapper.
  std::u16string stray = u"</body><body>x</body>";
  WrapBodyContent(stray);
  EXPECT_EQ(u"</body><body><DIV class=ContentBodyPreview>x</DIV></body>", stray);
}

// Random mail-like text built from the pieces the rewriters react to.
std::u16string RandomMail(std::mt19937& rng, int pieces) {
  static const char16_t* const kPieces[] = {
      u"<a ", u"<A", u"href=", u"HREF", u"\"", u"'", u" ", u">", u"<", u"http://", u"HTTPS://",
      u"file:", u"FILE://", u"file:///\\", u"\\\\", u"//", u"/", u"mailto:", u"target='",
      u"x", u"y.z", u".", u";", u"&lt;", u"&amp", u"\n", u"\r", u"!", u"ü", u"<body>", u"</BODY>"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  std::u16string s;
  for (int i = 0; i < pieces; ++i) s += kPieces[pick(rng)];
  return s;
}

TEST_F(LinksTest, AgreesWithTheLiteralAlgorithmOnRandomText) {
  std::mt19937 rng(20261205);
  for (int round = 0; round < 3000; ++round) {
    const std::u16string input = RandomMail(rng, 1 + round % 60);
    host.hostedUrlResult = round % 7 == 0 ? E_FAIL : S_OK;
    std::u16string a = input, b = input;
    RewriteHtmlLinks(a);
    reference::RewriteHtmlLinks(b);
    ASSERT_EQ(platform::U8(b), platform::U8(a)) << "html: " << platform::U8(input);
    a = b = input;
    LinkifyPlainText(a);
    reference::LinkifyPlainText(b);
    ASSERT_EQ(platform::U8(b), platform::U8(a)) << "plain: " << platform::U8(input);
    a = b = input;
    LinkifyUncPaths(a);
    reference::LinkifyUncPaths(b);
    ASSERT_EQ(platform::U8(b), platform::U8(a)) << "unc: " << platform::U8(input);
  }
}

}  // namespace
