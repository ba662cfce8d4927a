// The attachment list of a message being composed: duplicate removal,
// the option list of the attachments page, and removing one item.
#include <gtest/gtest.h>

#include "compose/AttachmentList.h"
#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Text.h"
#include "recipients/ComposeState.h"
#include "tests/support/RecordingHost.h"

namespace {

using testing_support::RecordingHost;

class AttachmentListTest : public ::testing::Test {
 protected:
  RecordingHost host;
  hostkit::HostScope scope{&host};
  CComPtr<IMyInbox> inbox;

  void SetUp() override {
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
  }
  CMyInbox& Object() { return *static_cast<CMyInbox*>(inbox.p); }

  std::u16string Remove(const char16_t* name, const char16_t* list) {
    CComBSTR result;
    EXPECT_EQ(S_OK, inbox->RemoveAttachment(CComBSTR(name), CComBSTR(list), &result));
    return result.Str();
  }
};

std::u16string Enc(std::u16string_view text) { return EncodeUrlSafe(text); }

TEST_F(AttachmentListTest, SecondCopyOfAnUploadGoesWithOneReport) {
  ComposeList list{Enc(u"C:\\docs\\plan.txt"), Enc(u"UPLOADIDabc|Report.doc"),
                   Enc(u"UPLOADIDabc|Report.doc")};
  const ComposeList expected(list.begin(), list.begin() + 2);
  EXPECT_TRUE(Object().RemoveDuplicateAttachments(list));
  EXPECT_EQ(expected, list);
  ASSERT_EQ(1u, host.events.size());
  EXPECT_EQ(2, host.events[0].type);
  EXPECT_EQ(u"CMyInbox::RemoveDuplicateAttachments", host.events[0].source);
  EXPECT_EQ(u"Duplicate Attachment UPLOADIDabc|Report.doc removed.\n", host.events[0].text);
}

TEST_F(AttachmentListTest, DuplicatesCompareDecodedAndCaseSensitively) {
  // "-" padding is skipped when decoding, so both spellings name one file.
  const std::u16string padded = Enc(u"a.txt");
  std::u16string unpadded = padded;
  unpadded.erase(unpadded.find_last_not_of(u'-') + 1);
  ASSERT_NE(padded, unpadded);
  ComposeList list{padded, Enc(u"A.TXT"), unpadded, Enc(u"a.TXT")};
  Object().RemoveDuplicateAttachments(list);
  EXPECT_EQ((ComposeList{padded, Enc(u"A.TXT"), Enc(u"a.TXT")}), list);
  ASSERT_EQ(1u, host.events.size());
  EXPECT_EQ(u"Duplicate Attachment a.txt removed.\n", host.events[0].text);
}

TEST_F(AttachmentListTest, EveryLaterRepeatGoesFromTheBack) {
  const std::u16string a = Enc(u"a"), b = Enc(u"b"), c = Enc(u"c");
  ComposeList list{a, b, a, c, b, a};
  Object().RemoveDuplicateAttachments(list);
  EXPECT_EQ((ComposeList{a, b, c}), list);
  ASSERT_EQ(3u, host.events.size());
  EXPECT_EQ(u"Duplicate Attachment a removed.\n", host.events[0].text);
  EXPECT_EQ(u"Duplicate Attachment b removed.\n", host.events[1].text);
  EXPECT_EQ(u"Duplicate Attachment a removed.\n", host.events[2].text);

  ComposeList empty, one{a};
  EXPECT_TRUE(Object().RemoveDuplicateAttachments(empty));
  EXPECT_TRUE(Object().RemoveDuplicateAttachments(one));
  EXPECT_EQ(ComposeList{a}, one);
}

TEST_F(AttachmentListTest, ListAttachmentsOfEmptyListWritesNothing) {
  EXPECT_EQ(S_OK, inbox->ListAttachments(CComBSTR(u"")));
  EXPECT_EQ(S_OK, inbox->ListAttachments(nullptr));
  EXPECT_EQ(S_OK, inbox->ListAttachments(CComBSTR(u";;")));
  EXPECT_EQ(u"", host.Body());
}

TEST_F(AttachmentListTest, ListAttachmentsWritesOneOptionPerItem) {
  const std::u16string path = Enc(u"\\\\server\\share\\Budget 2024.xls");
  const std::u16string upload = Enc(u"UPLOADIDtok3n|Report.doc");
  const std::u16string local = Enc(u"C:\\Users\\ann\\notes");
  const std::u16string list = u";" + path + u";;" + upload + u";" + local + u";";
  EXPECT_EQ(S_OK, inbox->ListAttachments(CComBSTR(list)));
  EXPECT_EQ(u"<OPTION value='" + path + u"'>Budget 2024.xls</OPTION>"
            u"<OPTION value='" + upload + u"'>Report.doc</OPTION>"
            u"<OPTION value='" + local + u"'>notes</OPTION>",
            host.Body());
}

TEST_F(AttachmentListTest, ShownNameIsTextAfterFirstBar) {
  EXPECT_EQ(u"Report.doc", AttachmentShownName(u"UPLOADIDtoken|Report.doc"));
  EXPECT_EQ(u"b|c.txt", AttachmentShownName(u"UPLOADIDa|b|c.txt"));
  EXPECT_EQ(u".txt", AttachmentShownName(u"UPLOADIDtoken|.txt"));
  EXPECT_EQ(u"plan.v2.txt", AttachmentShownName(u"C:\\dir.x\\plan.v2.txt"));
}

TEST_F(AttachmentListTest, ListAttachmentsShowsUndecodableItemsAsEmptyNames) {
  // "+" is outside the alphabet: the item decodes to nothing but is listed.
  EXPECT_EQ(S_OK, inbox->ListAttachments(CComBSTR(u"a+b")));
  EXPECT_EQ(u"<OPTION value='a+b'></OPTION>", host.Body());
}

TEST_F(AttachmentListTest, RemovingMiddleItemLeavesBothSeparators) {
  const std::u16string a = Enc(u"a.txt"), b = Enc(u"b.txt"), c = Enc(u"c.txt");
  const std::u16string result = Remove(b.c_str(), (a + u";" + b + u";" + c).c_str());
  EXPECT_EQ(a + u";;" + c, result);
  host.session[u"FileID"] = result;
  EXPECT_EQ((ComposeList{a, c}), ReadSessionList(u"FileID"));
}

TEST_F(AttachmentListTest, RemoveTakesFirstPlainCaseSensitiveMatch) {
  EXPECT_EQ(u"x;;abc", Remove(u"abc", u"x;abc;abc"));
  EXPECT_EQ(u"x;abc", Remove(u"ABC", u"x;abc"));
  // A plain substring search: part of an item goes too.
  EXPECT_EQ(u"xyz;c", Remove(u"b", u"xyzb;c"));
  EXPECT_EQ(u"", Remove(u"abc", nullptr));
}

TEST_F(AttachmentListTest, RemoveWithEmptyNameLeavesResultUntouched) {
  BSTR sentinel = SysAllocString(u"untouched");
  BSTR result = sentinel;
  EXPECT_EQ(S_OK, inbox->RemoveAttachment(CComBSTR(u""), CComBSTR(u"a;b"), &result));
  EXPECT_EQ(sentinel, result);
  EXPECT_EQ(S_OK, inbox->RemoveAttachment(nullptr, CComBSTR(u"a;b"), &result));
  EXPECT_EQ(sentinel, result);
  SysFreeString(sentinel);
  EXPECT_EQ(E_POINTER, inbox->RemoveAttachment(CComBSTR(u"a"), CComBSTR(u"a;b"), nullptr));
}

}  // namespace
