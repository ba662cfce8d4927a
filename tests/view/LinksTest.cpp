// Link detection and rewriting: HTML anchors of every kind, plain-text
// links, send-time share paths, the BODY wrapper; and agreement with the
// literal rendering of the algorithms on random mail-like text.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
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
  // The rewriters' debugger lines are dropped.
  platform::DebugSink previous = platform::SetDebugSink([](std::u16string_view) {});
  void TearDown() override { platform::SetDebugSink(previous); }
};

// One rewrite per line of tests/golden/links-rewrites.txt: which function,
// the text, what it becomes, and whether the hosted-URL encoder fails.
TEST_F(LinksTest, RewritesByCase) {
  const std::map<std::string, void (*)(std::u16string&)> rewrites = {
      {"html", &RewriteHtmlLinks}, {"plain", &LinkifyPlainText}, {"unc", &LinkifyUncPaths},
      {"body", &WrapBodyContent}, {"target", &AddBlankTarget}};
  std::ifstream in(LUMAREST_GOLDEN_DIR "/links-rewrites.txt", std::ios::binary);
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\t') fields.emplace_back();
      else if (line[i] != '\\') fields.back() += line[i];
      else {
        const char e = line[++i];
        fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
      }
    }
    SCOPED_TRACE(line);
    ASSERT_TRUE(fields.size() >= 3 && rewrites.count(fields[0]));
    host.hostedUrlResult = fields.size() > 3 ? E_FAIL : S_OK;
    std::u16string text = platform::U16(fields[1]);
    rewrites.at(fields[0])(text);
    EXPECT_EQ(fields[2], platform::U8(text));
    ++cases;
  }
  EXPECT_EQ(45, cases);
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
