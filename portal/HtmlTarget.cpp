#include "portal/HtmlTarget.h"

#include "platform/Bstr.h"
#include "platform/ComObject.h"
#include "platform/Text.h"

namespace portal {

using platform::DispatchObject;
using platform::HtmlEscape;

namespace {

class HtmlTarget final : public DispatchObject<ILumarestTarget> {
 public:
  HtmlTarget(IResponse* response, OutputMode mode) : response_(response), mode_(mode) {}

  HRESULT get_IsValid(LONG* v) override { return Put(v, 1); }
  HRESULT get_DisplayWidth(LONG* v) override { return Put(v, Full() ? kFullDisplayWidth : kReducedDisplayWidth); }
  HRESULT get_DisplayHeight(LONG* v) override { return Put(v, Full() ? 768 : 320); }
  HRESULT get_MaximumColours(LONG* v) override { return Put(v, Full() ? 16777216 : 65536); }
  HRESULT get_SupportsImages(LONG* v) override { return Put(v, 1); }
  // The page frame around the component's output is the portal page's own;
  // the page's start and end write nothing.
  HRESULT StartPage() override { return S_OK; }
  HRESULT EndPage() override { return S_OK; }
  HRESULT get_PageSize(LONG* v) override { return Put(v, pageSize_); }
  HRESULT put_PageSize(LONG v) override {
    pageSize_ = v;
    return S_OK;
  }
  HRESULT WriteLink(BSTR href, BSTR text, BSTR image, BSTR alt, LONG border, LONG newWindow) override {
    std::u16string s = u"<a href='" + HtmlEscape(View(href)) + u"'";
    if (newWindow) s += u" target='_blank' rel='noopener noreferrer'";
    s += u">";
    if (!View(image).empty())
      s += u"<img src='" + HtmlEscape(View(image)) + u"' alt='" + HtmlEscape(View(alt)) +
           u"' border='" + Num(border) + u"' align='absmiddle'>&nbsp;";
    s += View(text);
    s += u"</a>";
    return Write(s);
  }
  HRESULT WriteLine() override { return Write(u"<br>\r\n"); }
  HRESULT StartParagraph(LONG wrap, LONG align) override {
    std::u16string s = u"<p";
    if (align == 1) s += u" align='center'";
    if (align == 2) s += u" align='right'";
    if (!wrap) s += u" style='white-space:nowrap'";
    return Write(s + u">");
  }
  HRESULT EndParagraph() override { return Write(u"</p>\r\n"); }
  HRESULT StartTable(BSTR name, LONG align) override {
    // The component passes table attributes as the table's name.
    std::u16string s = u"<table";
    if (!View(name).empty()) s += u" " + std::u16string(View(name));
    if (align == 1) s += u" align='center'";
    return Write(s + u">\r\n");
  }
  HRESULT EndTable() override { return Write(u"</table>\r\n"); }
  HRESULT StartTableData() override { return Write(u"<td>"); }
  HRESULT EndTableData() override { return Write(u"</td>"); }
  HRESULT StartTableRow() override { return Write(u"<tr>"); }
  HRESULT EndTableRow() override { return Write(u"</tr>\r\n"); }
  HRESULT WriteText(BSTR text, LONG style) override {
    // Texts arrive as HTML already; style 1 is a heading.
    if (style == 1) return Write(u"<b>" + std::u16string(View(text)) + u"</b><br>");
    return Write(View(text));
  }
  HRESULT get_ReducedOutput(LONG* v) override { return Put(v, Full() ? 0 : 1); }
  HRESULT put_ReducedOutput(LONG v) override {
    mode_ = v ? OutputMode::Reduced : OutputMode::Full;
    return S_OK;
  }
  HRESULT WriteImage(BSTR path, BSTR alt, LONG border) override {
    if (View(path).empty()) return S_OK;
    return Write(u"<img src='" + HtmlEscape(View(path)) + u"' alt='" + HtmlEscape(View(alt)) +
                 u"' border='" + Num(border) + u"'>");
  }
  HRESULT SetTitle(BSTR title) override {
    return Write(u"<div class='PageTitle'>" + HtmlEscape(View(title)) + u"</div>");
  }
  HRESULT get_SupportsPNG(LONG* v) override { return Put(v, 1); }
  HRESULT get_UsePNG(LONG* v) override { return Put(v, usePng_); }
  HRESULT put_UsePNG(LONG v) override {
    usePng_ = v;
    return S_OK;
  }
  HRESULT StartToolBar() override {
    return Write(Full() ? u"<table width='100%' class='coolBar'><tr valign='middle'>"
                        : u"<table width='100%' border=0 bgcolor='#D4D0C8'><tr valign='middle'>");
  }
  HRESULT EndToolBar() override { return Write(u"</tr></table>\r\n"); }
  HRESULT get_SupportsUpload(LONG* v) override { return Put(v, 1); }
  HRESULT get_SupportsOpen(LONG* v) override { return Put(v, supportsOpen_); }
  HRESULT put_SupportsOpen(LONG v) override {
    supportsOpen_ = v;
    return S_OK;
  }
  HRESULT WriteUIText(BSTR text, LONG style) override { return WriteText(text, style); }
  HRESULT get_DoPagination(LONG* v) override { return Put(v, 1); }
  HRESULT get_FullOutput(LONG* v) override { return Put(v, Full() ? 1 : 0); }
  HRESULT SetOutputFile(BSTR) override { return E_NOTIMPL; }
  HRESULT get_PdaFullOutput(LONG* v) override { return Put(v, Full() ? 0 : 1); }

 private:
  bool Full() const { return mode_ == OutputMode::Full; }
  static std::u16string_view View(BSTR b) { return platform::BstrView(b); }
  static std::u16string Num(LONG n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  }
  static HRESULT Put(LONG* out, LONG value) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
  }
  HRESULT Write(std::u16string_view text) {
    if (!response_) return E_FAIL;
    CComVariant v(text);
    return response_->Write(v);
  }

  CComPtr<IResponse> response_;
  OutputMode mode_;
  LONG pageSize_ = 30;
  LONG usePng_ = 0;
  LONG supportsOpen_ = 1;
};

}  // namespace

CComPtr<ILumarestTarget> CreateHtmlTarget(IResponse* response, OutputMode mode) {
  return CComPtr<ILumarestTarget>(new HtmlTarget(response, mode));
}

}  // namespace portal
