#include "tests/portal/FakeInbox.h"

#include <string>

#include "host/HostKit.h"
#include "host/InboxInterfaces.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/ComObject.h"
#include "portal/ComClasses.h"
#include "portal/Util.h"

namespace portal_test {

namespace {

using platform::U16;
using platform::U8;

std::u16string Decode(const std::u16string& s) { return U16(portal::DecodeUrlSafe(U8(s))); }

bool PolicyAllows() {
  std::u16string master;
  if (FAILED(VGetMasterSessionID(master))) return false;
  bool allowed = false;
  VerifyPolicyAccessToEmail(allowed, master);
  return allowed;
}

int FormCount() {
  CComPtr<IRequest> request;
  if (FAILED(VGetIISObject(request))) return 0;
  CComPtr<IRequestDictionary> form;
  if (FAILED(request->get_Form(&form)) || !form) return 0;
  int n = 0;
  form->get_Count(&n);
  return n;
}

void RedirectTo(const char16_t* url) {
  CComPtr<IResponse> response;
  if (FAILED(VGetIISObject(response))) return;
  response->Clear();
  CComBSTR u(url);
  response->Redirect(u);
  response->End();
}

class FakeInbox final : public platform::DispatchObject<IMyInbox> {
 public:
  HRESULT DisplayMessages() override { return DisplayMessagesEx(nullptr); }
  HRESULT SetTarget(ILumarestTarget* t) override {
    target_ = t;
    return S_OK;
  }
  HRESULT ViewMessage() override { return ViewMessageEx(nullptr); }
  HRESULT ComposeMessage() override {
    if (FormCount() > 0) {
      std::u16string button;
      VGetRequestFormVariable(u"Attachments", button);
      if (button == u"Attachments") {
        RedirectTo(u"DoAttachments.asp");
        return S_OK;
      }
      std::u16string body, master;
      VGetRequestFormVariable(u"MessageText", body);
      // Saves the posted text through the master session store.
      if (SUCCEEDED(VGetMasterSessionID(master))) {
        CComPtr<IMasterSessionStore> store;
        if (SUCCEEDED(store.CoCreateInstance(CLSID_MasterSessionStore))) {
          CComBSTR id(master), name(u"Halvorn.Slv.composeBody"), value(body);
          if (SUCCEEDED(store->Open(id))) {
            store->SetValue(name, value);
            store->Commit();
          }
        }
      }
      VGetRequestFormVariable(u"Send", button);
      if (button == u"Send") {
        RedirectTo(u"SendOK.asp?Success=true");
        return S_OK;
      }
    }
    std::u16string files;
    VGetSessionVariable(u"FileID", files);
    std::u16string upload = VGetQueryStringVar(u"UploadID");
    if (!upload.empty()) {
      files += (files.empty() ? u"" : u";") + upload;
      VPutSessionVariable(u"FileID", files);
    }
    std::u16string body;
    VGetSessionVariable(u"composeBody", body);
    VWriteResponseString(u"<form id=compose><input name=TTo value=\"%s\"><textarea>%s</textarea></form>",
                         VGetQueryStringVar(u"To"), body);
    VWriteResponseString(u"<p id=files>%s</p>", files);
    std::u16string type = VGetQueryStringVar(u"Type");
    if (type == u"SendFile") WriteImpersonation();
    return S_OK;
  }
  HRESULT FaxFile() override { return S_OK; }
  HRESULT DeleteMessage(BSTR) override {
    if (!PolicyAllows()) return E_FAIL;
    GUID g;
    std::u16string guid = VGetQueryStringVar(u"Guid");
    if (FAILED(IIDFromString(guid.c_str(), &g))) {
      VWriteResponseString(u"<p>The message could not be deleted.</p>");
      return S_OK;
    }
    RedirectTo((u"Inbox.asp?Folder=" + VGetQueryStringVar(u"Folder")).c_str());
    return S_OK;
  }
  HRESULT EnumContacts(BSTR, INT) override { return S_OK; }
  HRESULT get_FileID(BSTR* v) override {
    *v = SysAllocString(u"");
    return S_OK;
  }
  HRESULT put_FileID(BSTR) override { return S_OK; }
  HRESULT AddAddress(LONG, BSTR) override { return S_OK; }
  HRESULT ResolveContacts(INT) override { return E_NOTIMPL; }
  HRESULT UpdateResolvedContacts(INT) override { return S_OK; }
  HRESULT Destroy() override { return S_OK; }
  HRESULT SaveAttachment(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR) override { return S_OK; }
  HRESULT ListAttachments(BSTR list) override {
    for (const auto& item : portal::Split(U8(platform::BstrView(list)), ';')) {
      if (item.empty()) continue;
      std::string decoded = portal::DecodeUrlSafe(item);
      auto bar = decoded.find('|');
      std::string shown = bar == std::string::npos ? decoded : decoded.substr(bar + 1);
      VWriteResponseString(u"<OPTION value='%s'>%s</OPTION>", U16(item), U16(shown));
    }
    return S_OK;
  }
  HRESULT MeetingResponse() override {
    if (!PolicyAllows()) return E_FAIL;
    std::u16string type = VGetQueryStringVar(u"Type");
    if (type != u"AcceptMeeting" && type != u"DeclineMeeting" && type != u"TentativeMeeting") {
      VWriteResponseString(u"<p>Unable to respond to meeting request.</p>");
      return S_OK;
    }
    RedirectTo(u"Inbox.asp?Folder=");
    return S_OK;
  }
  HRESULT ViewMessageEx(BSTR) override {
    if (!PolicyAllows()) return E_FAIL;
    target_->StartPage();
    if (VGetQueryStringVar(u"ComponentID") == u"2") {
      std::u16string file = Decode(VGetQueryStringVar(u"FileName"));
      int options = static_cast<int>(platform::ParseLongPrefix(VGetQueryStringVar(u"Options")));
      HvnChoiceActivate activate;
      activate.DisplayChoice(2, file, nullptr, file, nullptr, options, true, true, true);
      return S_OK;
    }
    GUID g;
    std::u16string guid = VGetQueryStringVar(u"Guid");
    if (FAILED(IIDFromString(guid.c_str(), &g))) {
      target_->EndPage();
      return E_FAIL;
    }
    if (VGetQueryStringVar(u"DownloadHTMLOnly") == u"1") {
      VWriteResponseString(u"<p>message html</p><script>alert(1)</script>");
      return S_OK;
    }
    auto* mapi = MAPIManaged::VGetMAPINative();
    if (!mapi) {
      target_->EndPage();
      return E_FAIL;
    }
    delete mapi;
    return S_OK;
  }
  HRESULT DisplayMessagesEx(BSTR) override {
    if (!PolicyAllows()) return E_FAIL;
    target_->StartPage();
    std::u16string user, lang;
    VGetSessionVariable(u"Halvorn.Slv.ADUserName", user);
    VGetRequestVariable(u"HTTP_ACCEPT_LANGUAGE", lang);
    VWriteResponseString(u"<p id=listing>user=%s folder=%s lang=%s</p>", user,
                         Decode(VGetQueryStringVar(u"Folder")), lang);
    std::u16string search;
    VGetRequestFormVariable(u"SearchText", search);
    if (!search.empty()) VWriteResponseString(u"<p id=search>%s</p>", search);
    CComBSTR table(u"class='box' width='100%'");
    target_->StartTable(table, 0);
    target_->StartTableRow();
    target_->StartTableData();
    CComBSTR img(u"gifs/Mail.gif"), alt(u"Mail");
    target_->WriteImage(img, alt, 0);
    target_->EndTableData();
    target_->EndTableRow();
    target_->EndTable();
    auto* mapi = MAPIManaged::VGetMAPINative();
    if (!mapi) {
      VWriteResponseString(u"<p id=nomail>no mailbox</p>");
    } else {
      MAPIManaged::_MAILITEM* items = nullptr;
      DWORD count = 0;
      std::u16string folder = Decode(VGetQueryStringVar(u"Folder"));
      if (SUCCEEDED(mapi->InboxSummary(folder.c_str(), &items, &count, 0))) {
        VWriteResponseString(u"<p id=count>%d</p>", static_cast<int>(count));
        for (DWORD i = 0; i < count; ++i)
          VWriteResponseString(u"<p class=subject>%s</p>", platform::View(items[i].pszSubject));
      }
      delete[] items;
      delete mapi;
    }
    target_->EndPage();
    return S_OK;
  }
  HRESULT GetAttachment(BSTR key, BSTR store, BSTR folder, BSTR msg, BSTR id, BSTR name,
                        VARIANT* result) override {
    return GetAttachment2(key, nullptr, store, folder, msg, id, name, result);
  }
  HRESULT RemoveAttachment(BSTR fileName, BSTR list, BSTR* out) override {
    std::u16string l(platform::BstrView(list)), f(platform::BstrView(fileName));
    if (f.empty()) return S_OK;
    auto pos = l.find(f);
    if (pos != std::u16string::npos) l.erase(pos, f.size());
    *out = platform::AllocBstr(l);
    return S_OK;
  }
  HRESULT GetAttachment2(BSTR key, BSTR, BSTR, BSTR, BSTR msg, BSTR id, BSTR, VARIANT* result) override {
    VariantInit(result);
    bool allowed = false;
    VerifyPolicyAccessToEmail(allowed, platform::BstrView(key));
    if (!allowed) return S_OK;
    std::string bytes = "ATTACHMENT:" + U8(platform::BstrView(msg)) + ":" + U8(platform::BstrView(id));
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    SafeArrayAccessData(a, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(a);
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = a;
    return S_OK;
  }

 private:
  void WriteImpersonation() {
    std::u16string user, domain;
    VGetSessionVariable(u"Halvorn.Slv.ADUserName", user);
    VGetSessionVariable(u"Halvorn.Slv.ADDomain", domain);
    CPasswordString pwd;
    VGetSessionADPwd(pwd);
    CComPtr<IImpersonate> imp;
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (SUCCEEDED(imp.CoCreateInstance(CLSID_Impersonate))) {
      CComBSTR u(user), d(domain), p(pwd.Get());
      imp->Impersonate(u, d, p, VARIANT_TRUE, &ok);
      std::u16string file = Decode(VGetQueryStringVar(u"Filename"));
      bool readable = ok == VARIANT_TRUE && CheckReadAccess(file);
      VWriteResponseString(u"<p id=impersonated>%s %s</p>", ok == VARIANT_TRUE ? u"yes" : u"no",
                           readable ? u"readable" : u"unreadable");
    }
  }

  CComPtr<ILumarestTarget> target_;
};

}  // namespace

void RegisterFakeInbox() {
  platform::RegisterProcessClass(CLSID_MyInbox, [](IUnknown* outer, REFIID riid, void** ppv) {
    return platform::CreateForFactory<FakeInbox>(outer, riid, ppv);
  });
  platform::RegWriteText(HKEY_CLASSES_ROOT, u"LumarestInbox.MyInbox\\CLSID", u"",
                         platform::GuidToString(CLSID_MyInbox));
}

}  // namespace portal_test
