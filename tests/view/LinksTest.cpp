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
};

// One rewrite per case: which function, the text, what it becomes, and
// whether the hosted-URL encoder fails.
struct LinkCase {
  void (*rewrite)(std::u16string&);
  const char16_t* text;
  const char* expected;
  bool encoderFails = false;
};

TEST_F(LinksTest, RewritesByCase) {
  const std::string browse = "href=\"/HalvornSLV/Folder.asp?LFE=false&ClearName=";
  const std::string fileLink = "<a target='_blank' href =\"Folder.asp?LFE=false&ClearName=%5C%5Csrv";
  const std::string nonAscii = platform::U8(
      u"Grüße → <a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fm%C3%BCnchen.de\">http://münchen.de</a> 日本");
  const std::string b1 = "<a target='_blank' " + browse + "\\\\server/share/doc.txt\">";
  const std::string b2 = "<a target='_blank' " + browse + "\\\\srv\\x\">";
  const std::string b3 = "<a target='_blank' " + browse + "\\\\srv\\s\">";
  const std::string b4 = "<a target='_blank' " + browse + "//srv/s\">";
  const std::string f1 = "open " + fileLink + "%5Cshare%5Cf.doc\">\\\\srv\\share\\f.doc</a> now";
  const std::string f2 = fileLink + "%5Ca%5Cb.txt\">FILE://srv/a/b.txt</a>!";
  const std::string f3 = fileLink + "%5Cx\">file://\\\\srv\\x</a>\t";
  auto* html = &RewriteHtmlLinks;
  auto* plain = &LinkifyPlainText;
  auto* unc = &LinkifyUncPaths;
  const LinkCase cases[] = {
      // Web anchors go through the hosted URL in either quote style.
      {html, u"<p><a href=\"http://example.com/x\">t</a></p>",
       "<p><a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fexample.com%2Fx\">t</a></p>"},
      {html, u"<A HREF='https://e.org'>e</A>", "<A target='_blank' HREF='LinkOut.asp?u=https%3A%2F%2Fe.org'>e</A>"},
      // Without quotes the link ends at a blank.
      {html, u"<a href=HTTP://a.b class=x>", "<a target='_blank' href=LinkOut.asp?u=HTTP%3A%2F%2Fa.b class=x>"},
      // Every occurrence of the link inside the tag is replaced.
      {html, u"<a href=\"http://a.b\" title='http://a.b'>",
       "<a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\" title='LinkOut.asp?u=http%3A%2F%2Fa.b'>"},
      // A named anchor is left alone and the scan goes on after it.
      {html, u"<a name=\"top\">x</a><a href=\"http://a.b\">",
       "<a name=\"top\">x</a><a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">"},
      // An unquoted web link directly before '>' has no end.
      {html, u"<a href=http://a.b>x</a>", "<a href=http://a.b>x</a>"},
      // Tags that only begin like an anchor, text that only looks like a link, a relative link.
      {html, u"<ABBR title=x>http://a.b</ABBR><area href=\"#x\">", "<ABBR title=x>http://a.b</ABBR><area href=\"#x\">"},
      {html, u"<a href=\"page.htm\">", "<a href=\"page.htm\">"},
      // An unclosed anchor keeps the earlier rewrites and the rest.
      {html, u"x <a href=\"http://a.b\">y</a> <a href=\"http://c",
       "x <a target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">y</a> <a href=\"http://c"},
      // Only targets written with apostrophes count.
      {html, u"<a target='_self' href=\"http://a.b\">", "<a target='_self' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">"},
      {html, u"<a target=\"_self\" href=\"http://a.b\">",
       "<a target=\"_self\" target='_blank' href=\"LinkOut.asp?u=http%3A%2F%2Fa.b\">"},
      // Mail anchors open the compose page in the mail window.
      {html, u"<a href=\"mailto:bob@x.org\">Bob</a>",
       "<a target='HvnsEmailWindow'href=\"/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=bob@x.org\">Bob</a>"},
      {html, u"<A HREF='MAILTO:Bob@X.org'>",
       "<A target='HvnsEmailWindow'HREF='/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=Bob@X.org'>"},
      // File forms become file-browser links.
      {html, u"<a href=\"file://server/share/doc.txt\">", b1.c_str()},
      {html, u"<a href=\"FILE:///\\\\srv\\x\">", b2.c_str()},
      {html, u"<a href=\"File://\\\\srv\\x\">", b2.c_str()},
      {html, u"<a href=\"\\\\srv\\s\">", b3.c_str()},
      {html, u"<a href=\"//srv/s\">", b4.c_str()},
      // "file:" before a drive letter loses its scheme and leaves no share path.
      {html, u"<a href=\"file:c:\\x\">", "<a href=\"file:c:\\x\">"},
      // A link in an attribute before href is the one taken.
      {html, u"<a title=\"see hTTp://t.org\" href=\"http://real.org\">",
       "<a title=\"see LinkOut.asp?u=hTTp%3A%2F%2Ft.org\" target='_blank' href=\"http://real.org\">"},
      // A failing encoder leaves no direct link.
      {html, u"<a href=\"http://evil.example/\">x</a>", "<a target='_blank' href=\"\">x</a>", true},
      // Plain text: a '.' before a blank stays in the visible text but not in the URL.
      {plain, u"see http://a.b/c. Next",
       "see <a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fa.b%2Fc\">http://a.b/c.</a> Next"},
      // A link at the very end has no end character and gets no anchor.
      {plain, u"go http://a.b", "go http://a.b"},
      // An entity after a link: the link ends before the entity's ';'.
      {plain, u"https://a.b<x\n",
       "<a target='_blank' href =\"LinkOut.asp?u=https%3A%2F%2Fa.b%26lt\">https://a.b&lt</a>;x\n"},
      {plain, u"http://a\r\nHTTP://b)",
       "<a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fa\">http://a</a>\r\n"
       "<a target='_blank' href =\"LinkOut.asp?u=HTTP%3A%2F%2Fb\">HTTP://b</a>)"},
      // Plain text is made HTML-safe; markup smuggled into a link cannot leave the href.
      {plain, u"<script>alert('x')</script> & &amp;", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &amp;"},
      {plain, u"http://x\"><b ",
       "<a target='_blank' href =\"LinkOut.asp?u=http%3A%2F%2Fx%26quot\">http://x&quot</a>;&gt;&lt;b "},
      {plain, u"http://a.b ", "<a target='_blank' href =\"http://a.b\">http://a.b</a> ", true},
      {plain, u"open \\\\srv\\share\\f.doc now", f1.c_str()},
      {plain, u"FILE://srv/a/b.txt!", f2.c_str()},
      {plain, u"file://\\\\srv\\x\t", f3.c_str()},
      {plain, u"Grüße → http://münchen.de 日本", nonAscii.c_str()},
      // Send-time share paths; without an end character nothing changes.
      {unc, u"see \\\\srv\\share\\x.doc. ok", "see file://\\\\srv\\share\\x.doc. ok"},
      {unc, u"//srv/share/x ok", "file://\\\\srv\\share\\x ok"},
      {unc, u"http://a//b ok https://c\n file://srv/x ok", "http://a//b ok https://c\n file://srv/x ok"},
      {unc, u"see \\\\srv\\share\\x.doc.", "see \\\\srv\\share\\x.doc."},
      {unc, u"a \\\\s\\b;//t/c\n", "a file://\\\\s\\b;file://\\\\t\\c\n"},
      // The BODY wrapper; a stray closing tag before the element does not split it.
      {&WrapBodyContent, u"<html><Body bgcolor=x>hi</bODY></html>",
       "<html><Body bgcolor=x><DIV class=ContentBodyPreview>hi</DIV></bODY></html>"},
      {&WrapBodyContent, u"<p>no body</p>", "<p>no body</p>"},
      {&WrapBodyContent, u"<body>rest", "<body><DIV class=ContentBodyPreview>rest</DIV>"},
      {&WrapBodyContent, u"<body x=", "<body x="},
      {&WrapBodyContent, u"</body><body>x</body>", "</body><body><DIV class=ContentBodyPreview>x</DIV></body>"},
      // A blank target goes before href, once; a tag without href keeps none.
      {&AddBlankTarget, u"<a class=x Href=\"y\">", "<a class=x target='_blank' Href=\"y\">"},
      {&AddBlankTarget, u"<a class=x target='_blank' Href=\"y\">", "<a class=x target='_blank' Href=\"y\">"},
      {&AddBlankTarget, u"<a name=y>", "<a name=y>"},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(platform::U8(c.text));
    host.hostedUrlResult = c.encoderFails ? E_FAIL : S_OK;
    std::u16string text = c.text;
    c.rewrite(text);
    EXPECT_EQ(c.expected, platform::U8(text));
  }
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
