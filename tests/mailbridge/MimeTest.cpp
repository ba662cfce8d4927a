// MIME to data: header decoding, body choice, attachments, meeting
// requests and the malformed input real mail brings.
#include <glib.h>
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "mailbridge/mime/Meeting.h"
#include "mailbridge/mime/Mime.h"

using namespace mailbridge;
using mbtest::Message;
using namespace std::string_literals;

namespace {

// Encoded words: a character split across two words (B or Q) decodes whole,
// words of different charsets are decoded each by its own, raw 8-bit
// bytes read as Windows-1252, an unknown charset keeps the text.
TEST(HeaderDecoding, EncodedWordsAndCharsets) {
  struct {
    const char* raw;
    const char* text;
  } cases[] = {
      {"=?UTF-8?B?5Lit5g==?= =?UTF-8?B?lofmtYvor5U=?=", "中文测试"},
      {"=?utf-8?Q?Gr=C3?= =?utf-8?Q?=BC=C3=9Fe?=", "Grüße"},
      {"=?iso-8859-1?Q?Gr=FC=DFe?= and =?koi8-r?B?8NLJ18XU?=", "Grüße and Привет"},
      {"=?utf-8?B?QQ==?= =?iso-8859-1?B?Qg==?=", "AB"},
      {"=?utf-8?B?w6k=?= =?iso-8859-1?B?6Q==?=", "éé"},  // merged, the Latin-1 byte would break the UTF-8
      {"Caf\xe9", "Café"},
      {"=?x-no-such-charset?Q?abc?=", "abc"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeHeaderText(c.raw), c.text) << c.raw;
  ParsedMessage m = ParseMessage(Message({"Subject: =?UTF-8?B?5Lit5g==?=\n =?UTF-8?B?lofmtYvor5U=?= end"}, "x"));
  EXPECT_EQ(m.subject, "中文测试 end");
  EXPECT_EQ(ToUtf8("\xcf\xf0\xe8", "x-unknown"), "Ïðè");
  EXPECT_EQ(ToUtf8("\xcf\xf0\xe8", "windows-1251"), "При");
}

TEST(HeaderDecoding, AddressesWithEncodedNamesCommentsAndGroups) {
  const std::pair<const char*, const char*> cases[] = {
      {"=?utf-8?B?SsO8cmdlbg==?= <j@example.org>, \"Doe, Ann\" <ann@example.org>",
       "Jürgen|j@example.org;Doe, Ann|ann@example.org;"},
      {"bob@example.org (Bob Builder)", "Bob Builder|bob@example.org;"},
      {"Team: a@x.org, b@x.org;", "|a@x.org;|b@x.org;"},
  };
  for (const auto& [header, expected] : cases) {
    std::string got;
    for (const auto& a : DecodeAddressList(header)) got += a.name + "|" + a.address + ";";
    EXPECT_EQ(got, expected) << header;
  }
}

TEST(Importance, FromImportanceXPriorityAndPriority) {
  const std::pair<const char*, int> cases[] = {
      {"Importance: High", 2}, {"Importance: low", 0},    {"X-Priority: 1 (Highest)", 2}, {"X-Priority: 5", 0},
      {"X-Priority: 3", 1},    {"Priority: urgent", 2},   {"Subject: none", 1},
  };
  for (const auto& [header, importance] : cases) EXPECT_EQ(ParseMessage(Message({header}, "")).importance, importance) << header;
}


TEST(Bodies, PlainAndHtmlAlternativesAreBothKept) {
  ParsedMessage m = ParseMessage(mbtest::Data("alternative.eml"));
  EXPECT_EQ(m.plainBody, "Café au lait");
  EXPECT_NE(m.htmlBody.find("<b>au</b>"), std::string::npos);
  EXPECT_TRUE(m.attachments.empty());
}

TEST(Bodies, HtmlOnlyMessageGetsAPlainTextDerivedFromIt) {
  ParsedMessage m = ParseMessage(Message(
      {"Content-Type: text/html; charset=utf-8"},
      "<html><head><style>p{color:red}</style><script>alert(1)</script></head>"
      "<body><p>Hello&nbsp;<i>there</i></p><p>Second &amp; last</p></body></html>"));
  EXPECT_EQ(m.plainBody, "Hello\xc2\xa0there\nSecond & last");
  EXPECT_NE(m.htmlBody.find("<script>"), std::string::npos);
}

const std::string kWithAttachments = mbtest::Data("attachments.eml");

TEST(Attachments, LeavesWithoutDispositionAndEmbeddedMessagesCount) {
  ParsedMessage m = ParseMessage(kWithAttachments);
  ASSERT_EQ(m.attachments.size(), 3u);
  EXPECT_EQ(m.attachments[0].id, 1);
  EXPECT_EQ(m.attachments[0].fileName, "报告.pdf");  // RFC 2231
  EXPECT_EQ(m.attachments[1].fileName, "attachment2.png");
  EXPECT_EQ(m.attachments[2].fileName, "inner.eml");
  EXPECT_EQ(m.plainBody, "see files");
  std::string bytes;
  MimeAttachment info;
  ASSERT_TRUE(ExtractAttachment(kWithAttachments, 1, bytes, info));
  EXPECT_EQ(bytes, "%PDF-1.4\n");
  ASSERT_TRUE(ExtractAttachment(kWithAttachments, 3, bytes, info));
  EXPECT_NE(bytes.find("inner body"), std::string::npos);
  EXPECT_FALSE(ExtractAttachment(kWithAttachments, 4, bytes, info));
  EXPECT_FALSE(ExtractAttachment(kWithAttachments, 0, bytes, info));
  int seen = 0;
  ForEachAttachment(kWithAttachments, [&](const MimeAttachment& a, const std::string& b) {
    ++seen;
    if (a.id == 2) {
      EXPECT_EQ(b.substr(1, 3), "PNG");
    }
  });
  EXPECT_EQ(seen, 3);
}

TEST(Meetings, CalendarRequestIsDetectedAndReplyIsNot) {
  const std::pair<std::string, bool> cases[] = {
      {Message({"Content-Type: text/calendar; charset=utf-8"},
               "BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:1\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"),
       true},
      {Message({"Content-Type: text/calendar; method=REPLY"}, "BEGIN:VCALENDAR\nMETHOD:REPLY\nEND:VCALENDAR\n"), false},
      {Message({"Content-Type: multipart/alternative; boundary=q"},  // the method as a parameter only
               "--q\nContent-Type: text/plain\n\nhi\n--q\nContent-Type: text/calendar; method=request\n\n"
               "BEGIN:VCALENDAR\nEND:VCALENDAR\n--q--\n"),
       true},
  };
  for (const auto& [raw, request] : cases) {
    ParsedMessage m = ParseMessage(raw);
    EXPECT_EQ(m.meetingRequest, request) << raw;
    EXPECT_TRUE(m.attachments.empty()) << raw;
  }
}

// The reply speaks the first language of the list that it has; English else.
TEST(Meetings, ReplyLanguageFromTheLanguageList) {
  struct {
    const char* list;
    const char* language;
  } cases[] = {
      {"fr-CH, fr;q=0.9, en;q=0.8", "fr"}, {"DE-de", "de"},          {"es,de;q=0.5", "de"},
      {"es, it", "en"},                    {"", "en"},               {"fr;q=0, de;q=0.7", "de"},
      {"fr;q=0.000,en", "en"},             {" de ;q=1.0", "de"},     {"f", "en"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeetingReplyLanguage(c.list), c.language) << c.list;
  MeetingReplyText de = MeetingReplyWording(MeetingAnswer::Decline, "de", "Planung", "Alice");
  EXPECT_EQ(de.subject, "Abgelehnt: Planung");
  EXPECT_EQ(de.body, "Alice hat diese Einladung abgelehnt.");
  EXPECT_EQ(MeetingReplyWording(MeetingAnswer::Tentative, "it", "Plan", "Bo").subject, "Tentative: Plan");
}

// Malformed input: each gives a best-effort record, never a crash.
TEST(BadInput, MissingBoundaryLyingLengthNoHeadersAndInvalidText) {
  struct {
    std::string raw;
    const char* subject;  // how the subject begins
    const char* body;     // found in the plain body
  } cases[] = {
      {"Content-Type: multipart/mixed; boundary=ZZ\n\n--ZZ\nContent-Type: text/plain\n\nunterminated body", "",
       "unterminated"},
      {"Content-Type: multipart/mixed\n\nbody without parts\n", "", ""},
      {"Content-Length: 99999\nSubject: lies\n\nshort\n", "lies", "short\n"},
      {"", "", ""},
      {"just some text\nwithout any headers at all\n", "", "without any headers"},
      {Message({"Content-Type: text/plain; charset=utf-8"}, "ok \xff\xfe bytes"), "", "bytes"},
      {"Subject: nul\0here\nContent-Type: multipart/mixed; boundary=n\n\n--n\n"
       "Content-Disposition: attachment; filename=\"../../etc/pa\0sswd\"\n\ndata\n--n--\n"s,
       "nul", ""},
  };
  for (const auto& c : cases) {
    ParsedMessage m = ParseMessage(c.raw);
    EXPECT_EQ(m.subject.rfind(c.subject, 0), 0u) << c.raw;
    EXPECT_NE(m.plainBody.find(c.body), std::string::npos) << c.raw;
    EXPECT_TRUE(g_utf8_validate(m.plainBody.c_str(), -1, nullptr)) << c.raw;
    EXPECT_EQ(m.subject.find('\0'), std::string::npos);
    for (const auto& a : m.attachments) EXPECT_EQ(a.fileName.find('\0'), std::string::npos);
  }
  EXPECT_EQ(ParseMessage(cases[2].raw).plainBody, "short\n");  // the length is not believed
  std::string badB64 = "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/octet-stream\n"
                       "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=x.bin\n\n"
                       "!!!!not*base64@@@@QUJD\n--b--\n";
  std::string bytes;
  MimeAttachment info;
  ASSERT_TRUE(ExtractAttachment(badB64, 1, bytes, info));
  EXPECT_FALSE(bytes.empty());  // the decoder skips what is not base64
}

TEST(BadInput, HundredLevelsOfNesting) {
  std::string raw = "Subject: deep\n";
  for (int i = 0; i < 100; ++i) {
    raw += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
  }
  raw += "Content-Type: text/plain\n\ninnermost\n";
  for (int i = 99; i >= 0; --i) raw += "--b" + std::to_string(i) + "--\n";
  ParsedMessage m = ParseMessage(raw);
  EXPECT_EQ(m.subject, "deep");
  // Past the depth limit the innermost text is not reached, but nothing breaks.
  EXPECT_LE(m.attachments.size(), 1u);
}

}  // namespace
