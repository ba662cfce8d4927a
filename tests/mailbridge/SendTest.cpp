// Composing and SMTP: a small sink on a loopback port records what the
// library's SMTP client hands over.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "SmtpSink.h"
#include "mailbridge/store/Index.h"
#include "mailbridge/mime/Mime.h"
#include "mailbridge/send/Send.h"

using namespace mbtest;

namespace {

TEST(Compose, SevenBitCrlfAndBccOutOfTheHeaders) {
  mailbridge::OutgoingMessage m;
  m.from = {"Ålice", "alice@example.org"};
  m.to = {{"Bøb", "bob@example.org"}};
  m.bcc = {{"", "secret@example.org"}};
  m.subject = "Grüße aus Köln";
  m.body = "Line 1\nÜmlaut line\n.leading dot\n";
  m.files.push_back({"bin.dat", std::string("\x00\xff\x10", 3)});
  std::string raw = mailbridge::ComposeMessage(m);
  EXPECT_EQ(NotSevenBitCrlf(raw), std::string::npos);
  EXPECT_EQ(raw.find("secret"), std::string::npos);
  mailbridge::ParsedMessage back = mailbridge::ParseMessage(raw);
  EXPECT_EQ(back.subject, "Grüße aus Köln");
  EXPECT_EQ(back.from.name, "Ålice");
  EXPECT_EQ(back.to.at(0).name, "Bøb");
  EXPECT_NE(back.plainBody.find("Ümlaut line"), std::string::npos);
  ASSERT_EQ(back.attachments.size(), 1u);
  std::string bytes;
  mailbridge::MimeAttachment info;
  ASSERT_TRUE(mailbridge::ExtractAttachment(raw, 1, bytes, info));
  EXPECT_EQ(bytes, std::string("\x00\xff\x10", 3));
  EXPECT_FALSE(back.messageId.empty());
  EXPECT_NE(back.sent, 0);
  EXPECT_EQ(mailbridge::EnvelopeRecipients(m),
            (std::vector<std::string>{"bob@example.org", "secret@example.org"}));
}

class SmtpSend : public ::testing::Test {
 protected:
  void SetUp() override {
    mailbridge::DropSummaryCache();
    config.userName = "alice";
    config.emailAddress = "alice@example.org";
    config.maildir = dir.path() + "/alice";
    MakeMaildir(config.maildir);
  }
  HRESULT Send(const std::string& url) {
    config.smtpUrl = url;
    auto c = mailbridge::OpenConnection(config);
    const char16_t* to[] = {u"Bob <bob@example.org>"};
    const char16_t* bcc[] = {u"hidden@example.org"};
    return c->SendMessageW(to, 1, nullptr, 0, bcc, 1, u"Via SMTP", u"text\n.\nafter a lone dot", nullptr, 0);
  }
  TempDir dir;
  mailbridge::AccountConfig config;
};

TEST_F(SmtpSend, EnvelopeHasBccDataDoesNot) {
  SmtpSink sink;
  ASSERT_EQ(Send(sink.Url()), S_OK);
  EXPECT_EQ(sink.transactions.load(), 1);
  EXPECT_NE(sink.from.find("<alice@example.org>"), std::string::npos);
  EXPECT_EQ(sink.rcpts, (std::vector<std::string>{"<bob@example.org>", "<hidden@example.org>"}));
  EXPECT_EQ(sink.data.find("hidden"), std::string::npos);
  EXPECT_NE(sink.data.find("Subject: Via SMTP"), std::string::npos);
  EXPECT_NE(sink.data.find("\r\n..\r\n"), std::string::npos);  // dot-stuffed on the wire
  EXPECT_EQ(FilesIn(config.maildir + "/.Sent/cur").size(), 1u);
}

// A refused recipient, or no server listening: nothing sent, no sent copy.
TEST_F(SmtpSend, RefusedRecipientOrNoServerFailsTheWholeSend) {
  SmtpSink sink({"hidden@"});
  for (const std::string& url : {sink.Url(), "smtp://127.0.0.1:" + std::to_string(FreePort())}) {
    EXPECT_TRUE(FAILED(Send(url))) << url;
  }
  EXPECT_EQ(sink.transactions.load(), 0);
  EXPECT_TRUE(FilesIn(config.maildir + "/.Sent/cur").empty());
}

}  // namespace
