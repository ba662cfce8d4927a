#include "tests/portal/RecordingInbox.h"

#include <cstring>
#include <map>
#include <mutex>

#include "host/InboxInterfaces.h"
#include "platform/ComObject.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "portal/Util.h"

namespace portal_test {

namespace {

using platform::U16;
using platform::U8;

std::mutex mu;
std::vector<InboxCall> calls;
std::map<std::string, RecordingInbox::Script> scripts;

std::string Arg(BSTR b) { return U8(platform::BstrView(b)); }

std::string Server(const char16_t* name) {
  std::u16string v;
  return VGetRequestVariable(name, v), U8(v);
}

class Stand final : public platform::DispatchObject<IMyInbox> {
 public:
  HRESULT SetTarget(ILumarestTarget* t) override { return target_ = t, S_OK; }
  HRESULT DisplayMessages() override { return Page("DisplayMessages", {}); }
  HRESULT DisplayMessagesEx(BSTR lang) override { return Page("DisplayMessagesEx", {Arg(lang)}); }
  HRESULT ViewMessage() override { return Page("ViewMessage", {}); }
  HRESULT ViewMessageEx(BSTR lang) override { return Page("ViewMessageEx", {Arg(lang)}); }
  HRESULT ComposeMessage() override { return Page("ComposeMessage", {}); }
  HRESULT DeleteMessage(BSTR guid) override { return Page("DeleteMessage", {Arg(guid)}); }
  HRESULT MeetingResponse() override { return Page("MeetingResponse", {}); }
  HRESULT ListAttachments(BSTR list) override { return Page("ListAttachments", {Arg(list)}); }
  HRESULT UpdateResolvedContacts(INT field) override { return Page("UpdateResolvedContacts", {std::to_string(field)}); }
  HRESULT RemoveAttachment(BSTR name, BSTR list, BSTR* out) override {
    return Page("RemoveAttachment", {Arg(name), Arg(list)}, nullptr, out);
  }
  HRESULT GetAttachment2(BSTR key, BSTR, BSTR, BSTR, BSTR msg, BSTR id, BSTR, VARIANT* result) override {
    return Page("GetAttachment2", {Arg(key), Arg(msg), Arg(id)}, result);
  }
  // Not reached by the portal's pages.
  HRESULT FaxFile() override { return E_NOTIMPL; }
  HRESULT EnumContacts(BSTR, INT) override { return E_NOTIMPL; }
  HRESULT get_FileID(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_FileID(BSTR) override { return E_NOTIMPL; }
  HRESULT AddAddress(LONG, BSTR) override { return E_NOTIMPL; }
  HRESULT ResolveContacts(INT) override { return E_NOTIMPL; }
  HRESULT Destroy() override { return S_OK; }
  HRESULT SaveAttachment(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT GetAttachment(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, VARIANT*) override { return E_NOTIMPL; }

 private:
  HRESULT Page(const char* method, std::vector<std::string> args, VARIANT* result = nullptr, BSTR* out = nullptr) {
    if (result) VariantInit(result);
    std::u16string user;
    VGetSessionVariable(u"Halvorn.Slv.ADUserName", user);
    InboxCall call{method, std::move(args), U8(user), Server(u"QUERY_STRING"), Server(u"HTTP_ACCEPT_LANGUAGE"),
                   nullptr, nullptr};
    RecordingInbox::Script script;
    {
      std::lock_guard<std::mutex> lock(mu);
      calls.push_back(call);
      if (auto it = scripts.find(method); it != scripts.end()) script = it->second;
    }
    call.result = result;
    call.out = out;
    if (script) return script(call);
    CComBSTR marker(U16(Marker(call)));
    return target_->WriteText(marker, 0);
  }

  CComPtr<ILumarestTarget> target_;
};

}  // namespace

std::string Marker(const InboxCall& call) {
  std::string text = "[" + call.method;
  for (std::size_t i = 0; i < call.args.size(); ++i) text += (i ? "|" : " ") + call.args[i];
  return text + "]";
}

void RecordingInbox::Register() {
  {
    std::lock_guard<std::mutex> lock(mu);
    calls.clear();
    scripts.clear();
  }
  platform::RegisterProcessClass(CLSID_MyInbox, [](IUnknown* outer, REFIID riid, void** ppv) {
    return platform::CreateForFactory<Stand>(outer, riid, ppv);
  });
  platform::RegWriteText(HKEY_CLASSES_ROOT, u"LumarestInbox.MyInbox\\CLSID", u"",
                         platform::GuidToString(CLSID_MyInbox));
}

void RecordingInbox::On(const std::string& method, Script script) {
  std::lock_guard<std::mutex> lock(mu);
  scripts[method] = std::move(script);
}

std::vector<InboxCall> RecordingInbox::Calls() {
  std::lock_guard<std::mutex> lock(mu);
  return calls;
}

void RedirectTo(const std::u16string& url) {
  CComPtr<IResponse> response;
  if (FAILED(VGetIISObject(response))) return;
  CComBSTR u(url);
  response->Redirect(u);
  response->End();
}

void AttachmentBytes(InboxCall& call, const std::string& bytes) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(a, &data);
  std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(a);
  call.result->vt = VT_ARRAY | VT_UI1;
  call.result->parray = a;
}

HRESULT OfferFile(InboxCall&) {
  std::u16string file = U16(portal::DecodeUrlSafe(U8(VGetQueryStringVar(u"FileName"))));
  int options = static_cast<int>(platform::ParseLongPrefix(VGetQueryStringVar(u"Options")));
  HvnChoiceActivate activate;
  activate.DisplayChoice(2, file, nullptr, file, nullptr, options, true, true, true);
  return S_OK;
}

}  // namespace portal_test
