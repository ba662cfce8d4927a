// BSTR, VARIANT and SAFEARRAY behaviour the component relies on.
#include <gtest/gtest.h>

#include "host/Intrinsics.h"
#include "platform/Com.h"
#include "platform/Text.h"

namespace {

TEST(Bstr, KeepsLengthPrefixAndEmbeddedNul) {
  BSTR b = SysAllocStringLen(u"a\0b", 3);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(3u, SysStringLen(b));
  EXPECT_EQ(6u, SysStringByteLen(b));
  EXPECT_EQ(0, b[3]);
  EXPECT_EQ(std::u16string(u"a\0b", 3), std::u16string(platform::BstrView(b)));
  SysFreeString(b);
  EXPECT_EQ(0u, SysStringLen(nullptr));
  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_TRUE(platform::BstrView(nullptr).empty());
}

TEST(Variant, ChangesTypesAsAutomationDoes) {
  CComVariant text(u" 12 ");
  CComVariant out;
  ASSERT_EQ(S_OK, VariantChangeType(&out, &text, 0, VT_I4));
  EXPECT_EQ(VT_I4, out.vt);
  EXPECT_EQ(12, out.lVal);
  CComVariant bad(u"12abc");
  EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&out, &bad, 0, VT_I4));
  EXPECT_EQ(VT_I4, out.vt);  // the destination is untouched on failure
  CComVariant big(u"5000000000");
  EXPECT_EQ(DISP_E_OVERFLOW, VariantChangeType(&out, &big, 0, VT_I4));
  CComVariant number(LONG(-3));
  ASSERT_EQ(S_OK, VariantChangeType(&out, &number, 0, VT_BSTR));
  EXPECT_EQ(u"-3", platform::BstrView(out.bstrVal));
  CComVariant empty;
  ASSERT_EQ(S_OK, VariantChangeType(&out, &empty, 0, VT_BSTR));
  EXPECT_EQ(0u, SysStringLen(out.bstrVal));
}

TEST(SafeArray, ByteVectorsLockBoundAndRefuseDestroyWhileLocked) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 4);
  ASSERT_NE(nullptr, sa);
  LONG lo = -1, hi = -1;
  EXPECT_EQ(S_OK, SafeArrayGetLBound(sa, 1, &lo));
  EXPECT_EQ(S_OK, SafeArrayGetUBound(sa, 1, &hi));
  EXPECT_EQ(0, lo);
  EXPECT_EQ(3, hi);
  void* data = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(sa, &data));
  static_cast<BYTE*>(data)[3] = 9;
  EXPECT_EQ(DISP_E_ARRAYISLOCKED, SafeArrayDestroy(sa));
  EXPECT_EQ(S_OK, SafeArrayUnaccessData(sa));
  EXPECT_EQ(E_UNEXPECTED, SafeArrayUnlock(sa));
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = sa;
  CComVariant copy(v);
  EXPECT_NE(sa, copy.parray);
  EXPECT_EQ(S_OK, VariantClear(&v));
  // Empty vectors and failed creation are checked through the attachment downloads.
}

TEST(Intrinsics, FormFieldsAreListsReadWithoutRegardToCase) {
  auto request = hostkit::CreateRequest({{u"Folder", u"abc"}},
                                        {{u"To", u"a@x"}, {u"Subject", u"s"}, {u"to", u"b@x"}},
                                        {{u"HTTP_ACCEPT_LANGUAGE", u"fr"}});
  CComPtr<IRequestDictionary> form;
  ASSERT_EQ(S_OK, request->get_Form(&form));
  int count = 0;
  form->get_Count(&count);
  EXPECT_EQ(2, count);  // two distinct names
  CComVariant item;
  ASSERT_EQ(S_OK, form->get_Item(CComVariant(u"TO"), &item));
  ASSERT_EQ(VT_DISPATCH, item.vt);
  CComPtr<IStringList> list;
  ASSERT_EQ(S_OK, item.pdispVal->QueryInterface(IID_IStringList, reinterpret_cast<void**>(&list)));
  list->get_Count(&count);
  EXPECT_EQ(2, count);
  CComVariant joined;
  ASSERT_EQ(S_OK, VariantChangeType(&joined, &item, 0, VT_BSTR));
  EXPECT_EQ(u"a@x, b@x", platform::BstrView(joined.bstrVal));
  CComVariant second;
  ASSERT_EQ(S_OK, list->get_Item(CComVariant(LONG(2)), &second));
  EXPECT_EQ(u"b@x", platform::BstrView(second.bstrVal));
  CComVariant beyond;
  EXPECT_EQ(E_INVALIDARG, list->get_Item(CComVariant(LONG(3)), &beyond));

  CComVariant missing;
  ASSERT_EQ(S_OK, form->get_Item(CComVariant(u"Nothing"), &missing));
  CComVariant missingText;
  ASSERT_EQ(S_OK, VariantChangeType(&missingText, &missing, 0, VT_BSTR));
  EXPECT_EQ(0u, SysStringLen(missingText.bstrVal));

  // Only ASCII letters fold: a dotted capital I or a Kelvin sign in a name
  // does not reach the field with the plain letter.
  auto folded = hostkit::CreateRequest({{u"Upload\u0130D", u"x"}, {u"\u212Aey", u"y"}}, {}, {});
  CComPtr<IRequestDictionary> query;
  ASSERT_EQ(S_OK, folded->get_QueryString(&query));
  for (const char16_t* name : {u"UploadID", u"uploadid", u"key"}) {
    CComVariant v, t;
    ASSERT_EQ(S_OK, query->get_Item(CComVariant(name), &v));
    ASSERT_EQ(S_OK, VariantChangeType(&t, &v, 0, VT_BSTR));
    EXPECT_EQ(0u, SysStringLen(t.bstrVal)) << platform::U8(name);
  }

  CComPtr<IRequestDictionary> server;
  ASSERT_EQ(S_OK, request->get_ServerVariables(&server));
  CComVariant lang;
  ASSERT_EQ(S_OK, server->get_Item(CComVariant(u"http_accept_language"), &lang));
  EXPECT_EQ(VT_BSTR, lang.vt);
}

TEST(Intrinsics, ResponseDropsWritesAfterEnd) {
  hostkit::ResponseState* state = nullptr;
  auto response = hostkit::CreateResponse(&state);
  response->Write(CComVariant(u"one"));
  response->Clear();
  response->Write(CComVariant(u"two"));
  response->Redirect(CComBSTR(u"Inbox.asp?Folder="));
  response->End();
  response->Write(CComVariant(u"three"));
  EXPECT_EQ(u"two", state->body);
  EXPECT_EQ(u"Inbox.asp?Folder=", state->redirect);
  EXPECT_TRUE(state->ended);
}

}  // namespace
