// libFuzzer target for the mail-body link rewriters. Each input is run
// through the product code and through the literal rendering of the
// algorithms; both must agree. AddressSanitizer catches any read or write
// outside the text, and libFuzzer's -timeout catches a scan that does not end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/HostKit.h"
#include "platform/Text.h"
#include "tests/view/LinksReference.h"
#include "view/Links.h"

namespace {

// The hosted-URL encoder as the portal gives it, or failing.
class FuzzHost : public hostkit::HostContext {
 public:
  bool fail = false;
  HRESULT EncodeHostedUrl(std::u16string_view link, std::u16string_view,
                          std::u16string& out) override {
    if (fail) return E_FAIL;
    out = u"LinkOut.asp?u=" + VURLEncodeW(link);
    return S_OK;
  }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

std::u16string Without(std::u16string text, std::u16string_view what) {
  for (std::size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at))
    text.erase(at, what.size());
  return text;
}

// Every '<'...'>' span removed: after HTML encoding only the anchors have one.
std::u16string WithoutMarkup(const std::u16string& text) {
  std::u16string out;
  bool inTag = false;
  for (char16_t c : text) {
    if (!inTag && c == u'<') inTag = true;
    else if (inTag && c == u'>') inTag = false;
    else if (!inTag) out.push_back(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FuzzHost host;
  host.fail = (data[0] & 1) != 0;
  hostkit::HostScope scope(&host);
  // The literal rendering is quadratic; keep inputs to mail-paragraph size.
  std::u16string input = platform::Utf8ToUtf16(
      std::string_view(reinterpret_cast<const char*>(data) + 1, std::min<std::size_t>(size - 1, 4096)));

  std::u16string a = input, b = input;
  RewriteHtmlLinks(a);
  reference::RewriteHtmlLinks(b);
  Check(a == b);

  a = b = input;
  LinkifyPlainText(a);
  reference::LinkifyPlainText(b);
  Check(a == b);
  Check(WithoutMarkup(a) == WithoutMarkup(VHTMLEncodeString3(VHTMLDecodeString(input))));

  a = b = input;
  LinkifyUncPaths(a);
  reference::LinkifyUncPaths(b);
  Check(a == b);
  Check(a.size() >= input.size());

  a = input;
  WrapBodyContent(a);
  Check(a.size() == input.size() || a.size() == input.size() + 36);
  const std::u16string_view open = u"<DIV class=ContentBodyPreview>", close = u"</DIV>";
  Check(Without(Without(a, open), close) == Without(Without(input, open), close));
  return 0;
}
