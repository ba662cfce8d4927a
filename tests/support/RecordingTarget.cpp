#include "tests/support/RecordingTarget.h"

#include "host/HostKit.h"
#include "platform/Text.h"

namespace testing_support {

namespace {
std::u16string S(BSTR b) { return std::u16string(platform::BstrView(b)); }
std::u16string N(LONG n) { return platform::U16(std::to_string(n)); }
}  // namespace

CComPtr<RecordingTarget> RecordingTarget::Create() {
  return CComPtr<RecordingTarget>(new RecordingTarget);
}

int RecordingTarget::Count(std::u16string_view prefix) const {
  int n = 0;
  for (const auto& c : calls)
    if (c.compare(0, prefix.size(), prefix) == 0) ++n;
  return n;
}

HRESULT RecordingTarget::Record(std::u16string call) {
  if (echo) VWriteResponseText(u"[" + call + u"]");
  calls.push_back(std::move(call));
  return S_OK;
}

HRESULT RecordingTarget::Get(const char16_t* name, LONG value, LONG* out) {
  if (!out) return E_POINTER;
  calls.push_back(name);
  *out = value;
  return S_OK;
}

HRESULT RecordingTarget::get_IsValid(LONG* v) { return Get(u"IsValid", 1, v); }
HRESULT RecordingTarget::get_DisplayWidth(LONG* v) { return Get(u"DisplayWidth", displayWidth, v); }
HRESULT RecordingTarget::get_DisplayHeight(LONG* v) { return Get(u"DisplayHeight", 600, v); }
HRESULT RecordingTarget::get_MaximumColours(LONG* v) { return Get(u"MaximumColours", 65536, v); }
HRESULT RecordingTarget::get_SupportsImages(LONG* v) { return Get(u"SupportsImages", supportsImages, v); }
HRESULT RecordingTarget::StartPage() { return Record(u"StartPage"); }
HRESULT RecordingTarget::EndPage() { return Record(u"EndPage"); }
HRESULT RecordingTarget::get_PageSize(LONG* v) { return Get(u"PageSize", 30, v); }
HRESULT RecordingTarget::put_PageSize(LONG v) { return Record(u"PageSize=" + N(v)); }
HRESULT RecordingTarget::WriteLink(BSTR href, BSTR text, BSTR image, BSTR alt, LONG border,
                                   LONG newWindow) {
  return Record(u"WriteLink(" + S(href) + u"," + S(text) + u"," + S(image) + u"," + S(alt) + u"," +
                N(border) + u"," + N(newWindow) + u")");
}
HRESULT RecordingTarget::WriteLine() { return Record(u"WriteLine"); }
HRESULT RecordingTarget::StartParagraph(LONG wrap, LONG align) {
  return Record(u"StartParagraph(" + N(wrap) + u"," + N(align) + u")");
}
HRESULT RecordingTarget::EndParagraph() { return Record(u"EndParagraph"); }
HRESULT RecordingTarget::StartTable(BSTR name, LONG alignment) {
  return Record(u"StartTable(" + S(name) + u"," + N(alignment) + u")");
}
HRESULT RecordingTarget::EndTable() { return Record(u"EndTable"); }
HRESULT RecordingTarget::StartTableData() { return Record(u"StartTableData"); }
HRESULT RecordingTarget::EndTableData() { return Record(u"EndTableData"); }
HRESULT RecordingTarget::StartTableRow() { return Record(u"StartTableRow"); }
HRESULT RecordingTarget::EndTableRow() { return Record(u"EndTableRow"); }
HRESULT RecordingTarget::WriteText(BSTR text, LONG style) {
  return Record(u"WriteText(" + S(text) + u"," + N(style) + u")");
}
HRESULT RecordingTarget::get_ReducedOutput(LONG* v) { return Get(u"ReducedOutput", !fullOutput, v); }
HRESULT RecordingTarget::put_ReducedOutput(LONG v) { return Record(u"ReducedOutput=" + N(v)); }
HRESULT RecordingTarget::WriteImage(BSTR image, BSTR alt, LONG border) {
  return Record(u"WriteImage(" + S(image) + u"," + S(alt) + u"," + N(border) + u")");
}
HRESULT RecordingTarget::SetTitle(BSTR title) { return Record(u"SetTitle(" + S(title) + u")"); }
HRESULT RecordingTarget::get_SupportsPNG(LONG* v) { return Get(u"SupportsPNG", 1, v); }
HRESULT RecordingTarget::get_UsePNG(LONG* v) { return Get(u"UsePNG", 0, v); }
HRESULT RecordingTarget::put_UsePNG(LONG v) { return Record(u"UsePNG=" + N(v)); }
HRESULT RecordingTarget::StartToolBar() { return Record(u"StartToolBar"); }
HRESULT RecordingTarget::EndToolBar() { return Record(u"EndToolBar"); }
HRESULT RecordingTarget::get_SupportsUpload(LONG* v) { return Get(u"SupportsUpload", 1, v); }
HRESULT RecordingTarget::get_SupportsOpen(LONG* v) { return Get(u"SupportsOpen", 1, v); }
HRESULT RecordingTarget::put_SupportsOpen(LONG v) { return Record(u"SupportsOpen=" + N(v)); }
HRESULT RecordingTarget::WriteUIText(BSTR text, LONG style) {
  return Record(u"WriteUIText(" + S(text) + u"," + N(style) + u")");
}
HRESULT RecordingTarget::get_DoPagination(LONG* v) { return Get(u"DoPagination", 1, v); }
HRESULT RecordingTarget::get_FullOutput(LONG* v) { return Get(u"FullOutput", fullOutput, v); }
HRESULT RecordingTarget::SetOutputFile(BSTR file) { return Record(u"SetOutputFile(" + S(file) + u")"); }
HRESULT RecordingTarget::get_PdaFullOutput(LONG* v) { return Get(u"PdaFullOutput", 0, v); }

}  // namespace testing_support
