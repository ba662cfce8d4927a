// Forwarding a message with attachments: each attachment's bytes go to the
// activation host, and the returned upload references join the attachment list.
#include "recipients/ComposeState.h"
#include "tests/compose/ComposeFormTestSupport.h"

namespace {

using namespace compose_test;

class ForwardAttachmentsTest : public ComposeFixture {
 protected:
  testing_support::FakeMessage& Forwarded(int attachments) {
    auto& m = AddMessage(9);
    for (int i = 1; i <= attachments; ++i)
      m.attachments.push_back({i * 10, u"C:\\store\\file" + platform::U16(std::to_string(i)) + u".doc"});
    m.attachmentBytes = {'a', 'b', 'c'};
    host.query = {{u"Type", u"Fwd"}, {u"Guid", platform::GuidToString(testing_support::TestGuid(9))}};
    host.ResetRequest();
    return m;
  }
  std::vector<std::u16string> StoredList() {
    std::vector<std::u16string> list;
    hostkit::HostScope scope(&host);
    ReadSessionList(u"FileID", list);
    return list;
  }
};

TEST_F(ForwardAttachmentsTest, SecondUploadFailingAddsFirstAndThirdInOrder) {
  Forwarded(3);
  Activation().answers.resize(3);
  Activation().answers[0].id = "first|file1.doc";
  Activation().answers[1].status = 5;
  Activation().answers[2].id = "third";
  EXPECT_EQ(S_OK, inbox->ComposeMessage());

  ASSERT_EQ(3u, Activation().calls.size());
  EXPECT_TRUE(Activation().running);
  for (const auto& call : Activation().calls) {
    EXPECT_EQ(u"<context></context>", call.context);
    EXPECT_EQ(u"ssupload", call.service);
    EXPECT_EQ(VT_ARRAY | VT_UI1, call.bytesType);
    EXPECT_EQ((std::vector<BYTE>{'a', 'b', 'c'}), call.bytes);
  }
  EXPECT_EQ(u"C:\\store\\file2.doc", Activation().calls[1].fileName);
  EXPECT_EQ((std::vector<std::u16string>{EncodeUrlSafe(u"UPLOADIDfirst|file1.doc"),
                                         EncodeUrlSafe(u"UPLOADIDthird")}),
            StoredList());
  // One user report for the failed upload, with the title and lead text.
  ASSERT_EQ(1u, host.messages.size());
  EXPECT_EQ(0, host.messages[0].type);
  EXPECT_TRUE(host.messages[0].log);
  EXPECT_EQ(u"Email", host.messages[0].component);
  EXPECT_EQ(u"Attachment could not be forwarded", host.messages[0].feature);
  EXPECT_EQ(u"Upload failed", host.messages[0].detail);
}

TEST_F(ForwardAttachmentsTest, EveryFailedOutcomeLeavesTheAttachmentOut) {
  Forwarded(3);
  Activation().answers.resize(3);
  Activation().answers[0].hr = E_FAIL;            // the call fails
  Activation().answers[1].byteArray = false;      // a result that is no byte array
  Activation().answers[2].hr = S_FALSE;           // success code with status 0 counts
  Activation().answers[2].id = "ok";
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ((std::vector<std::u16string>{EncodeUrlSafe(u"UPLOADIDok")}), StoredList());
  EXPECT_EQ(2u, host.messages.size());
}

TEST_F(ForwardAttachmentsTest, EmptyAttachmentIsPassedAsEmptyArray) {
  auto& m = Forwarded(1);
  m.attachmentBytes.clear();
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  ASSERT_EQ(1u, Activation().calls.size());
  EXPECT_EQ(VT_ARRAY | VT_UI1, Activation().calls[0].bytesType);
  EXPECT_TRUE(Activation().calls[0].bytes.empty());
  EXPECT_EQ(1u, StoredList().size());
}

TEST_F(ForwardAttachmentsTest, UnreadableAttachmentIsSkippedSilently) {
  Forwarded(2);
  box->attachmentResult = E_FAIL;
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_TRUE(Activation().calls.empty());
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(u"", Session(u"FileID"));  // cleared by the prefill, nothing added
}

TEST_F(ForwardAttachmentsTest, ArrayThatCannotBeMadeIsReportedWithItsSize) {
  Forwarded(2);
  platform::testing::FailSafeArrayCreates(1);
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  ASSERT_EQ(1u, Activation().calls.size());
  EXPECT_EQ(u"C:\\store\\file2.doc", Activation().calls[0].fileName);
  ASSERT_EQ(1u, host.messages.size());
  EXPECT_EQ(u"Cannot copy attachment of bytes: 3", host.messages[0].detail);
}

TEST_F(ForwardAttachmentsTest, MissingReportTextsSendNoReport) {
  WriteStrings({{3231, u""}});
  Forwarded(1);
  Activation().answers.resize(1);
  Activation().answers[0].status = 1;
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(ForwardAttachmentsTest, NoActivationHostFailsWithoutAPage) {
  Forwarded(1);
  RevokeFakeActivationHost();
  EXPECT_EQ(E_FAIL, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.Body());
  EXPECT_EQ(u"", Session(u"FileID"));  // cleared by the prefill, nothing stored after

  // The ProgID not registered at all.
  RegDeleteTreeW(HKEY_CLASSES_ROOT, u"ActivationServiceHost.HvnActivationServ");
  EXPECT_EQ(E_FAIL, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.Body());
}

TEST_F(ForwardAttachmentsTest, ForwardWithoutAttachmentsNeedsNoHost) {
  Forwarded(0);
  RevokeFakeActivationHost();
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"value=\"FW:Hello\""));
}

}  // namespace
