#include "portal/ComClasses.h"

#include <sodium.h>

#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/ComObject.h"
#include "portal/PortalHost.h"
#include "portal/Server.h"
#include "portal/Uploads.h"
#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;
using platform::BstrView;
using platform::ComObject;
using platform::CreateForFactory;
using platform::DispatchObject;
using platform::U16;
using platform::U8;

namespace {

// Acts as the signed-in user: the password must be the session's own secret
// (what VGetSessionADPwd hands out) and the user the session's user. While
// it holds, file checks run for that user; Revert or release ends it.
class Impersonator final : public ComObject<IImpersonate> {
 public:
  ~Impersonator() override { Revert(); }
  HRESULT Impersonate(BSTR user, BSTR domain, BSTR password, VARIANT_BOOL, VARIANT_BOOL* result) override {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    auto* ctx = CurrentRequest();
    if (!ctx || !ctx->User() || !ctx->Sess()) return E_ACCESSDENIED;
    std::string name = U8(BstrView(user));
    // "user@domain" names the same user when the domain is the portal's.
    auto at = name.find('@');
    if (at != std::string::npos) name = name.substr(0, at);
    (void)domain;
    std::string secret = ctx->Sess()->Get("_secret");
    std::string given = U8(BstrView(password));
    bool ok = !secret.empty() && given.size() == secret.size() &&
              sodium_memcmp(given.data(), secret.data(), secret.size()) == 0 &&
              EqualsNoCaseAscii(name, ctx->User()->name);
    sodium_memzero(given.data(), given.size());
    if (!ok) return S_OK;
    ctx->impersonated = true;
    active_ = true;
    *result = VARIANT_TRUE;
    return S_OK;
  }
  // Releasing the object ends the impersonation.
  void Revert() {
    if (active_)
      if (auto* ctx = CurrentRequest()) ctx->impersonated = false;
    active_ = false;
  }

 private:
  bool active_ = false;
};

// An internet shortcut read through the shell: TargetPath is the URL= line
// of its [InternetShortcut] section.
class Shortcut final : public DispatchObject<IDispatch> {
 public:
  explicit Shortcut(std::string target) : target_(std::move(target)) {}
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id != DISPID_TargetPath || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = platform::AllocBstr(U16(target_));
    return S_OK;
  }

 private:
  std::string target_;
};

std::string ReadShortcutTarget(const fs::path& path) {
  std::string text;
  if (!ReadFile(path, text) || text.size() > 64 * 1024) return {};
  bool inSection = false;
  for (auto line : Split(text, '\n')) {
    line = Trim(line);
    if (!line.empty() && line[0] == '[') {
      inSection = EqualsNoCaseAscii(line, "[InternetShortcut]");
      continue;
    }
    if (inSection && line.size() > 4 && EqualsNoCaseAscii(line.substr(0, 4), "URL="))
      return Trim(line.substr(4));
  }
  return {};
}

class Shell final : public DispatchObject<IDispatch> {
 public:
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    if (id != DISPID_CreateShortcut || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (!result) return E_POINTER;
    VariantInit(result);
    CComVariant arg;
    if (FAILED(VariantChangeType(&arg, &params->rgvarg[0], 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
    fs::path path(U8(BstrView(arg.bstrVal)));
    // Only shortcuts inside the user's own roots are read.
    auto* ctx = CurrentRequest();
    if (!ctx || !ctx->MayOpen(path)) return E_ACCESSDENIED;
    auto* sc = new Shortcut(ReadShortcutTarget(path));
    sc->AddRef();
    result->vt = VT_DISPATCH;
    result->pdispVal = sc;
    return S_OK;
  }
};

class ActivationServ final : public DispatchObject<IHvnActivationServ> {
 public:
  HRESULT get_Version(BSTR* version) override {
    if (!version) return E_POINTER;
    *version = platform::AllocBstr(u"LumarestInbox portal 1.0");
    return S_OK;
  }
  HRESULT Upload(BSTR, BSTR service, BSTR fileName, VARIANT bytes, VARIANT* result, BSTR*,
                 LONG* status) override {
    if (!result || !status) return E_POINTER;
    VariantInit(result);
    *status = 1;
    auto* ctx = CurrentRequest();
    if (!ctx || !ctx->User()) return E_ACCESSDENIED;
    if (BstrView(service) != u"ssupload") return E_INVALIDARG;
    if (bytes.vt != (VT_ARRAY | VT_UI1) || !bytes.parray) return DISP_E_TYPEMISMATCH;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(bytes.parray, 1, &lo);
    SafeArrayGetUBound(bytes.parray, 1, &hi);
    std::size_t size = hi >= lo ? static_cast<std::size_t>(hi - lo + 1) : 0;
    if (size > ctx->Host().Cfg().maxUploadBytes) {
      *status = 2;
      return S_OK;
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(bytes.parray, &data))) return E_FAIL;
    std::string content(static_cast<const char*>(data), size);
    SafeArrayUnaccessData(bytes.parray);
    std::string name = fs::path(U8(BstrView(fileName))).filename().string();
    auto limits = UploadLimits::From(ctx->Host().Cfg().ini);
    fs::path store = ctx->User()->Uploads();
    UploadStore::Expire(store, limits.expiry,
                        UploadStore::TokensIn(ctx->Sess() ? ctx->Sess()->Get("FileID") : std::string()));
    if (UploadStore::UsedBytes(store) + size > limits.quota) {
      *status = 2;  // refused, as an oversized file is
      return S_OK;
    }
    auto id = UploadStore::Save(store, name, content);
    if (!id) return S_OK;
    SAFEARRAY* out = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(id->size() + 1));
    if (!out) return E_OUTOFMEMORY;
    void* outData = nullptr;
    SafeArrayAccessData(out, &outData);
    std::memcpy(outData, id->c_str(), id->size() + 1);
    SafeArrayUnaccessData(out);
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = out;
    *status = 0;
    return S_OK;
  }
};

// Values for one master session. Writes for the request's own session go
// into the request's session copy (saved when the request ends), so that
// the same request reads them back; writes for another session of the same
// user go to the session store on Commit. Another user's session is refused.
// A name "Halvorn.Slv.X" is also stored as "X", the name the component
// reads the compose fields by. Names beginning with "_" are the portal's.
class MasterSession final : public DispatchObject<IMasterSessionStore> {
 public:
  HRESULT Open(BSTR id) override {
    auto* ctx = CurrentRequest();
    if (!ctx || !ctx->User() || !ctx->Sess()) return E_ACCESSDENIED;
    std::string master = U8(BstrView(id));
    if (master.empty()) return E_INVALIDARG;
    pending_.clear();
    if (master == ctx->Sess()->Master()) {
      own_ = true;
    } else {
      auto& store = ctx->Host().Store();
      std::optional<std::string> sid;
      std::optional<SessionVars> vars;
      try {
        sid = store.SessionForMaster(master);
        if (!sid) return E_INVALIDARG;
        vars = store.Load(*sid);
      } catch (const SessionsUnavailable&) {
        return E_FAIL;  // no exception crosses into the component
      }
      if (!vars || (*vars)["_user"] != ctx->User()->name) return E_ACCESSDENIED;
      foreignId_ = *sid;
      own_ = false;
    }
    master_ = master;
    open_ = true;
    return S_OK;
  }
  HRESULT Close() override {
    open_ = false;
    pending_.clear();
    return S_OK;
  }
  HRESULT get_IsOpen(VARIANT_BOOL* open) override {
    if (!open) return E_POINTER;
    *open = open_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT GetValue(BSTR name, BSTR* value) override {
    if (!value) return E_POINTER;
    *value = nullptr;
    std::string v;
    HRESULT hr = Read(U8(BstrView(name)), v);
    if (SUCCEEDED(hr)) *value = platform::AllocBstr(U16(v));
    return hr;
  }
  HRESULT DeleteValue(BSTR name) override { return SetValue(name, nullptr); }
  HRESULT HasValue(BSTR name, VARIANT_BOOL* present) override {
    if (!present) return E_POINTER;
    std::string v;
    HRESULT hr = Read(U8(BstrView(name)), v);
    *present = SUCCEEDED(hr) && !v.empty() ? VARIANT_TRUE : VARIANT_FALSE;
    return FAILED(hr) ? hr : S_OK;
  }
  HRESULT get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    if (!open_) return E_UNEXPECTED;
    *count = static_cast<LONG>(Names().size());
    return S_OK;
  }
  HRESULT GetName(LONG index, BSTR* name) override {
    if (!name) return E_POINTER;
    *name = nullptr;
    if (!open_) return E_UNEXPECTED;
    auto names = Names();
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) return E_INVALIDARG;
    *name = platform::AllocBstr(U16(names[static_cast<std::size_t>(index)]));
    return S_OK;
  }
  HRESULT Clear() override {
    if (!open_) return E_UNEXPECTED;
    for (const auto& n : Names()) pending_[n] = "";
    return S_OK;
  }
  HRESULT Refresh() override {
    if (!open_) return E_UNEXPECTED;
    pending_.clear();
    return S_OK;
  }
  HRESULT get_MasterSessionID(BSTR* id) override {
    if (!id) return E_POINTER;
    *id = open_ ? platform::AllocBstr(U16(master_)) : nullptr;
    return open_ ? S_OK : E_UNEXPECTED;
  }
  HRESULT GetValueVariant(BSTR name, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    std::string v;
    HRESULT hr = Read(U8(BstrView(name)), v);
    if (FAILED(hr)) return hr;
    value->vt = VT_BSTR;
    value->bstrVal = platform::AllocBstr(U16(v));
    return S_OK;
  }
  HRESULT SetValueVariant(BSTR name, VARIANT value) override {
    CComVariant text;
    if (value.vt != VT_EMPTY && FAILED(VariantChangeType(&text, &value, 0, VT_BSTR)))
      return DISP_E_TYPEMISMATCH;
    return SetValue(name, value.vt == VT_EMPTY ? nullptr : text.bstrVal);
  }
  HRESULT SetValue(BSTR name, BSTR value) override {
    if (!open_) return E_UNEXPECTED;
    std::string n = U8(BstrView(name));
    // The name the value also lands under, with the prefix stripped, must not
    // be one of the portal's own either ("Halvorn.Slv._user").
    static const std::string prefix = "Halvorn.Slv.";
    bool prefixed = n.size() > prefix.size() && n.compare(0, prefix.size(), prefix) == 0;
    std::string bare = prefixed ? n.substr(prefix.size()) : n;
    if (n.empty() || n[0] == '_' || bare.empty() || bare[0] == '_') return E_INVALIDARG;
    std::string v = U8(BstrView(value));
    pending_[n] = v;
    if (prefixed) pending_[bare] = v;
    return S_OK;
  }
  HRESULT Commit() override {
    if (!open_) return E_UNEXPECTED;
    auto* ctx = CurrentRequest();
    if (!ctx) return E_UNEXPECTED;
    if (own_) {
      for (const auto& [k, v] : pending_) ctx->Sess()->Set(k, v);
    } else {
      try {
        if (!ctx->Host().Store().Put(foreignId_, pending_)) return E_FAIL;
      } catch (const SessionsUnavailable&) {
        return E_FAIL;
      }
    }
    pending_.clear();
    return S_OK;
  }

 private:
  // The session's values as they stand now, pending writes included.
  SessionVars Current() {
    SessionVars vars;
    auto* ctx = CurrentRequest();
    if (own_ && ctx && ctx->Sess()) {
      vars = ctx->Sess()->All();
    } else if (ctx) {
      try {
        if (auto loaded = ctx->Host().Store().Load(foreignId_)) vars = *loaded;
      } catch (const SessionsUnavailable&) {
      }
    }
    for (const auto& [k, v] : pending_) vars[k] = v;
    return vars;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (const auto& [k, v] : Current())
      if (!k.empty() && k[0] != '_') out.push_back(k);
    return out;
  }
  HRESULT Read(const std::string& name, std::string& value) {
    if (!open_) return E_UNEXPECTED;
    if (name.empty() || name[0] == '_') return E_INVALIDARG;
    auto vars = Current();
    auto it = vars.find(name);
    value = it == vars.end() ? std::string() : it->second;
    return S_OK;
  }

  bool open_ = false;
  bool own_ = false;
  std::string master_;
  std::string foreignId_;
  SessionVars pending_;
};

void RegisterProgId(std::u16string_view progId, REFCLSID clsid) {
  std::u16string text = platform::GuidToString(clsid);
  platform::RegWriteText(HKEY_CLASSES_ROOT, std::u16string(progId) + u"\\CLSID", u"", text);
}

}  // namespace

void RegisterHostClasses() {
  platform::RegisterProcessClass(CLSID_Impersonate, [](IUnknown* outer, REFIID riid, void** ppv) {
    return CreateForFactory<Impersonator>(outer, riid, ppv);
  });
  platform::RegisterProcessClass(CLSID_WScriptShell, [](IUnknown* outer, REFIID riid, void** ppv) {
    return CreateForFactory<Shell>(outer, riid, ppv);
  });
  platform::RegisterProcessClass(CLSID_HvnActivationServ, [](IUnknown* outer, REFIID riid, void** ppv) {
    return CreateForFactory<ActivationServ>(outer, riid, ppv);
  });
  platform::RegisterProcessClass(CLSID_MasterSessionStore, [](IUnknown* outer, REFIID riid, void** ppv) {
    return CreateForFactory<MasterSession>(outer, riid, ppv);
  });
  RegisterProgId(u"WScript.Shell", CLSID_WScriptShell);
  RegisterProgId(kActivationHostProgId, CLSID_HvnActivationServ);
}

}  // namespace portal
