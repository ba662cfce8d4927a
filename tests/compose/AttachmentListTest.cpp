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

TEST_F(AttachmentListTest, LaterRepeatsGoFromTheBackWithOneReportEach) {
  // Items compare decoded ("-" padding is skipped, so both spellings name one
  // file) and case-sensitively.
  const std::u16string a = Enc(u"a"), b = Enc(u"b"), c = Enc(u"c"), up = Enc(u"UPLOADIDabc|Report.doc");
  const std::u16string padded = Enc(u"a.txt"), unpadded = padded.substr(0, padded.find_last_not_of(u'-') + 1);
  ASSERT_NE(padded, unpadded);
  struct {
    ComposeList list, kept;
    std::vector<std::u16string> removed;  // in report order
  } cases[] = {
      {{Enc(u"C:\\docs\\plan.txt"), up, up}, {Enc(u"C:\\docs\\plan.txt"), up}, {u"UPLOADIDabc|Report.doc"}},
      {{padded, Enc(u"A.TXT"), unpadded, Enc(u"a.TXT")}, {padded, Enc(u"A.TXT"), Enc(u"a.TXT")}, {u"a.txt"}},
      {{a, b, a, c, b, a}, {a, b, c}, {u"a", u"b", u"a"}},
      {{a, a}, {a}, {u"a"}},
      {{b, a}, {b, a}, {}},
      {{a}, {a}, {}},
      {{}, {}, {}},
  };
  for (auto& c : cases) {
    host.events.clear();
    EXPECT_TRUE(Object().RemoveDuplicateAttachments(c.list));
    EXPECT_EQ(c.kept, c.list);
    ASSERT_EQ(c.removed.size(), host.events.size());
    for (std::size_t i = 0; i < c.removed.size(); ++i) {
      EXPECT_EQ(2, host.events[i].type);
      EXPECT_EQ(u"CMyInbox::RemoveDuplicateAttachments", host.events[i].source);
      EXPECT_EQ(u"Duplicate Attachment " + c.removed[i] + u" removed.\n", host.events[i].text);
    }
  }
}

TEST_F(AttachmentListTest, ListAttachmentsWritesOneOptionPerItem) {
  const std::u16string path = Enc(u"\\\\server\\share\\Budget 2024.xls");
  const std::u16string upload = Enc(u"UPLOADIDtok3n|Report.doc");
  const std::u16string local = Enc(u"C:\\Users\\ann\\notes");
  const std::u16string list = u";" + path + u";;" + upload + u";" + local + u";";
  EXPECT_EQ(S_OK, inbox->ListAttachments(nullptr));
  EXPECT_EQ(u"", host.Body());
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u""},
      {u";;", u""},
      {u"a+b", u"<OPTION value='a+b'></OPTION>"},  // "+" is outside the alphabet: no name
      {list, u"<OPTION value='" + path + u"'>Budget 2024.xls</OPTION><OPTION value='" + upload +
                 u"'>Report.doc</OPTION><OPTION value='" + local + u"'>notes</OPTION>"}};
  for (const auto& [items, options] : cases) {
    host.ClearResponse();
    EXPECT_EQ(S_OK, inbox->ListAttachments(CComBSTR(items)));
    EXPECT_EQ(options, host.Body());
  }
}

TEST_F(AttachmentListTest, ShownNameIsTextAfterFirstBar) {
  EXPECT_EQ(u"Report.doc", AttachmentShownName(u"UPLOADIDtoken|Report.doc"));
  EXPECT_EQ(u"b|c.txt", AttachmentShownName(u"UPLOADIDa|b|c.txt"));
  EXPECT_EQ(u".txt", AttachmentShownName(u"UPLOADIDtoken|.txt"));
  EXPECT_EQ(u"plan.v2.txt", AttachmentShownName(u"C:\\dir.x\\plan.v2.txt"));
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
