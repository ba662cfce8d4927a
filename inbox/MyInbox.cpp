#include "inbox/MyInbox.h"

#include <cstring>
#include <vector>

#include "inbox/TypeLibrary.h"
#include "platform/Text.h"

namespace {
std::atomic<long> g_objects{0};
}

long CMyInbox::ObjectCount() { return g_objects.load(); }

CMyInbox::CMyInbox(IUnknown* outer) {
  m_inner.owner = this;
  m_pOuter = outer ? outer : static_cast<IUnknown*>(&m_inner);
  ++g_objects;
}

CMyInbox::~CMyInbox() {
  // Destruction order: the resource library, the mail connection, the
  // texts, then the target.
  if (m_hResourceLib) {
    FreeLibrary(m_hResourceLib);
    m_hResourceLib = nullptr;
  }
  if (m_mapi) {
    delete m_mapi;
    m_mapi = nullptr;
  }
  m_strFileID.clear();
  m_bstrStore.Empty();
  m_strFolder.clear();
  m_bstrTableName.Empty();
  m_pTarget.Release();
  --g_objects;
}

HRESULT CMyInbox::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  CMyInbox* object = nullptr;
  try {
    object = new CMyInbox(outer);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // Hold a reference while asking for the interface, so a failed request frees the object.
  object->m_inner.AddRef();
  HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
  object->m_inner.Release();
  return hr;
}

HRESULT CMyInbox::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
  } else if (riid == IID_IMyInbox || riid == IID_IDispatch) {
    *ppv = static_cast<IMyInbox*>(owner);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

ULONG CMyInbox::InnerUnknown::AddRef() { return owner->m_refs.Increment(); }

ULONG CMyInbox::InnerUnknown::Release() {
  ULONG n = owner->m_refs.Decrement();
  if (n == 0) delete owner;
  return n;
}

HRESULT CMyInbox::QueryInterface(REFIID riid, void** ppv) { return m_pOuter->QueryInterface(riid, ppv); }
ULONG CMyInbox::AddRef() { return m_pOuter->AddRef(); }
ULONG CMyInbox::Release() { return m_pOuter->Release(); }

// ---- IDispatch ----

HRESULT CMyInbox::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

// Built from the member table that GetIDsOfNames and Invoke use.
HRESULT CMyInbox::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  try {
    return inbox::CreateIMyInboxTypeInfo(info);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CMyInbox::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const inbox::MemberInfo* member = nullptr;
  for (const auto& m : inbox::IMyInboxMembers()) {
    if (platform::EqualsNoCase(m.name, platform::View(names[0]))) {
      member = &m;
      break;
    }
  }
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->dispid;
  // Further names are parameter names; each resolves to its position.
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    bool found = false;
    for (std::size_t k = 0; k < member->params.size(); ++k) {
      if (platform::EqualsNoCase(member->params[k].name, platform::View(names[i]))) {
        ids[i] = static_cast<DISPID>(k);
        found = true;
        break;
      }
    }
    if (!found) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

namespace {
// One converted argument; owns what the conversion made.
struct Arg {
  CComVariant holder;
  BSTR bstr = nullptr;
  LONG number = 0;
  CComPtr<ILumarestTarget> target;
  VARIANT* out = nullptr;
};

HRESULT ConvertArg(const inbox::ParamInfo& p, VARIANT& raw, Arg& arg) {
  VARIANT* v = &raw;
  if (v->vt == (VT_BYREF | VT_VARIANT) && p.kind != inbox::ParamKind::OutVariant) {
    if (!v->pvarVal) return DISP_E_TYPEMISMATCH;
    v = v->pvarVal;
  }
  switch (p.kind) {
    case inbox::ParamKind::InBstr:
      if (v->vt == VT_BSTR) {
        arg.bstr = v->bstrVal;
        return S_OK;
      }
      if (v->vt == VT_NULL || FAILED(VariantChangeType(&arg.holder, v, 0, VT_BSTR)))
        return DISP_E_TYPEMISMATCH;
      arg.bstr = arg.holder.bstrVal;
      return S_OK;
    case inbox::ParamKind::InInt:
      if (FAILED(VariantChangeType(&arg.holder, v, 0, VT_I4))) return DISP_E_TYPEMISMATCH;
      arg.number = arg.holder.lVal;
      return S_OK;
    case inbox::ParamKind::InTarget:
      if (v->vt == VT_EMPTY || v->vt == VT_NULL) return S_OK;
      if (v->vt != VT_DISPATCH && v->vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
      if (!v->punkVal) return S_OK;
      if (FAILED(v->punkVal->QueryInterface(IID_ILumarestTarget, reinterpret_cast<void**>(&arg.target))))
        return DISP_E_TYPEMISMATCH;
      return S_OK;
    case inbox::ParamKind::OutVariant:
      if (v->vt != (VT_BYREF | VT_VARIANT) || !v->pvarVal) return DISP_E_TYPEMISMATCH;
      arg.out = v->pvarVal;
      return S_OK;
    case inbox::ParamKind::RetvalBstr:
      return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}
}  // namespace

HRESULT CMyInbox::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* excep, UINT* argErr) {
  const inbox::MemberInfo* member = inbox::FindMember(id);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if (result) VariantInit(result);

  bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put && !member->property) return DISP_E_MEMBERNOTFOUND;
  if (!put && !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  UINT named = params->cNamedArgs;
  if (put) {
    if (named != 1 || !params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTFOUND;
  } else if (named) {
    return DISP_E_NONAMEDARGS;
  }

  HRESULT hr = S_OK;
  if (member->property) {  // FileID
    if (put) {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      Arg a;
      inbox::ParamInfo p{u"newVal", inbox::ParamKind::InBstr};
      if (FAILED(ConvertArg(p, params->rgvarg[0], a))) {
        if (argErr) *argErr = 0;
        return DISP_E_TYPEMISMATCH;
      }
      hr = put_FileID(a.bstr);
    } else {
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      BSTR value = nullptr;
      hr = get_FileID(&value);
      if (SUCCEEDED(hr) && result) {
        result->vt = VT_BSTR;
        result->bstrVal = value;
      } else {
        SysFreeString(value);
      }
    }
  } else {
    std::size_t expected = 0;
    for (const auto& p : member->params)
      if (p.kind != inbox::ParamKind::RetvalBstr) ++expected;
    if (params->cArgs != expected) return DISP_E_BADPARAMCOUNT;
    std::vector<Arg> args(member->params.size());
    for (std::size_t i = 0; i < expected; ++i) {
      UINT position = static_cast<UINT>(expected - 1 - i);  // arguments arrive in reverse order
      if (FAILED(ConvertArg(member->params[i], params->rgvarg[position], args[i]))) {
        if (argErr) *argErr = position;
        return DISP_E_TYPEMISMATCH;
      }
    }
    BSTR retval = nullptr;
    IMyInbox* self = this;  // members are called through the interface, as a script would
    switch (id) {
      case 2: hr = self->DisplayMessages(); break;
      case 3: hr = self->SetTarget(args[0].target); break;
      case 4: hr = self->ViewMessage(); break;
      case 20: hr = self->ComposeMessage(); break;
      case 24: hr = self->FaxFile(); break;
      case 25: hr = self->DeleteMessage(args[0].bstr); break;
      case 26: hr = self->EnumContacts(args[0].bstr, args[1].number); break;
      case 28: hr = self->AddAddress(args[0].number, args[1].bstr); break;
      case 29: hr = self->ResolveContacts(args[0].number); break;
      case 30: hr = self->UpdateResolvedContacts(args[0].number); break;
      case 31: hr = self->Destroy(); break;
      case 32:
        hr = self->SaveAttachment(args[0].bstr, args[1].bstr, args[2].bstr, args[3].bstr,
                                  args[4].bstr, args[5].bstr);
        break;
      case 34: hr = self->ListAttachments(args[0].bstr); break;
      case 35: hr = self->MeetingResponse(); break;
      case 36: hr = self->ViewMessageEx(args[0].bstr); break;
      case 37: hr = self->DisplayMessagesEx(args[0].bstr); break;
      case 38:
        hr = self->GetAttachment(args[0].bstr, args[1].bstr, args[2].bstr, args[3].bstr,
                                 args[4].bstr, args[5].bstr, args[6].out);
        break;
      case 39: hr = self->RemoveAttachment(args[0].bstr, args[1].bstr, &retval); break;
      case 40:
        hr = self->GetAttachment2(args[0].bstr, args[1].bstr, args[2].bstr, args[3].bstr,
                                  args[4].bstr, args[5].bstr, args[6].bstr, args[7].out);
        break;
      default: return DISP_E_MEMBERNOTFOUND;
    }
    if (retval) {
      if (SUCCEEDED(hr) && result) {
        result->vt = VT_BSTR;
        result->bstrVal = retval;
      } else {
        SysFreeString(retval);
      }
    }
  }
  if (FAILED(hr) && excep) {
    // A failing member is reported as an exception carrying its code.
    std::memset(excep, 0, sizeof(EXCEPINFO));
    excep->scode = hr;
    return DISP_E_EXCEPTION;
  }
  return hr;
}

// ---- Thin methods ----

HRESULT CMyInbox::DisplayMessages() {
  AFX_MANAGE_STATE_MODULE();
  CComBSTR language(u"en");
  return static_cast<IMyInbox*>(this)->DisplayMessagesEx(language);
}

HRESULT CMyInbox::ViewMessage() {
  AFX_MANAGE_STATE_MODULE();
  CComBSTR language(u"en");
  return static_cast<IMyInbox*>(this)->ViewMessageEx(language);
}

HRESULT CMyInbox::SetTarget(ILumarestTarget* pTarget) {
  AFX_MANAGE_STATE_MODULE();
  m_pTarget = pTarget;  // AddRef the new one, then Release the old; nothing when the same
  return S_OK;
}

HRESULT CMyInbox::FaxFile() { return S_OK; }

HRESULT CMyInbox::EnumContacts(BSTR, INT) { return S_OK; }

HRESULT CMyInbox::get_FileID(BSTR* pVal) {
  AFX_MANAGE_STATE_MODULE();
  if (!pVal) return E_POINTER;
  *pVal = platform::AllocBstr(m_strFileID);
  return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMyInbox::put_FileID(BSTR newVal) {
  AFX_MANAGE_STATE_MODULE();
  try {
    m_strFileID = std::u16string(platform::BstrView(newVal));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CMyInbox::ResolveContacts(INT) { return E_NOTIMPL; }

HRESULT CMyInbox::Destroy() {
  AFX_MANAGE_STATE_MODULE();
  return S_OK;
}
