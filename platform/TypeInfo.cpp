#include "platform/TypeInfo.h"

#include <new>
#include <string>
#include <vector>

#include "platform/ComObject.h"
#include "platform/Text.h"

namespace platform {

namespace {

class DispTypeInfo : public ComObject<ITypeInfo> {
 public:
  DispTypeInfo(const INTERFACEDATA& data, REFIID iid, const OLECHAR* name, WORD major, WORD minor, LCID lcid)
      : iid_(iid), name_(name ? name : u""), major_(major), minor_(minor), lcid_(lcid) {
    // A copy of the table: the type information may outlive what described it.
    names_.reserve(data.cMembers);
    params_.reserve(data.cMembers);
    for (UINT i = 0; i < data.cMembers; ++i) {
      const METHODDATA& m = data.pmethdata[i];
      auto& texts = names_.emplace_back();
      texts.emplace_back(m.szName ? m.szName : u"");
      auto& list = params_.emplace_back();
      for (UINT k = 0; k < m.cArgs; ++k) {
        texts.emplace_back(m.ppdata[k].szName ? m.ppdata[k].szName : u"");
        list.push_back(m.ppdata[k]);
      }
    }
    for (UINT i = 0; i < data.cMembers; ++i) {
      METHODDATA m = data.pmethdata[i];
      m.szName = names_[i][0].c_str();
      for (UINT k = 0; k < m.cArgs; ++k) params_[i][k].szName = names_[i][k + 1].c_str();
      m.ppdata = params_[i].data();
      methods_.push_back(m);
    }
    data_ = {methods_.data(), static_cast<UINT>(methods_.size())};
  }

  HRESULT GetTypeAttr(TYPEATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    *attr = new (std::nothrow) TYPEATTR{iid_, lcid_, TKIND_DISPATCH, static_cast<WORD>(data_.cMembers), 0, 1,
                                        static_cast<WORD>(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE), major_, minor_};
    return *attr ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override {
    if (!desc) return E_INVALIDARG;
    *desc = nullptr;
    if (index >= data_.cMembers) return TYPE_E_ELEMENTNOTFOUND;
    const METHODDATA& m = data_.pmethdata[index];
    auto* f = new (std::nothrow) FUNCDESC{};
    if (!f) return E_OUTOFMEMORY;
    if (m.cArgs) {
      f->lprgelemdescParam = new (std::nothrow) ELEMDESC[m.cArgs];
      if (!f->lprgelemdescParam) {
        delete f;
        return E_OUTOFMEMORY;
      }
      for (UINT i = 0; i < m.cArgs; ++i)
        f->lprgelemdescParam[i] = {{m.ppdata[i].vt}, {m.ppdata[i].wParamFlags}};
    }
    f->memid = m.dispid;
    f->funckind = FUNC_DISPATCH;
    f->invkind = static_cast<INVOKEKIND>(m.wFlags);
    f->callconv = m.cc;
    f->cParams = static_cast<SHORT>(m.cArgs);
    f->oVft = static_cast<SHORT>((7 + m.iMeth - 1) * sizeof(void*));
    f->elemdescFunc = {{m.vtReturn}, {PARAMFLAG_NONE}};
    *desc = f;
    return S_OK;
  }

  HRESULT GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    const METHODDATA* m = Find(id);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    for (UINT i = 0; i <= m->cArgs && *count < max; ++i) {
      const OLECHAR* text = i == 0 ? m->szName : m->ppdata[i - 1].szName;
      names[(*count)++] = SysAllocString(text);
    }
    return S_OK;
  }

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
    const METHODDATA* m = nullptr;
    for (UINT i = 0; i < data_.cMembers && !m; ++i)
      if (EqualsNoCase(View(data_.pmethdata[i].szName), View(names[0]))) m = &data_.pmethdata[i];
    if (!m) return DISP_E_UNKNOWNNAME;
    ids[0] = m->dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
      for (UINT k = 0; k < m->cArgs; ++k)
        if (EqualsNoCase(View(m->ppdata[k].szName), View(names[i]))) ids[i] = static_cast<MEMBERID>(k);
      if (ids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override {
    const OLECHAR* text = name_.c_str();
    if (id != MEMBERID_NIL) {
      const METHODDATA* m = Find(id);
      if (!m) return TYPE_E_ELEMENTNOTFOUND;
      text = m->szName;
    }
    if (name) *name = SysAllocString(text);
    if (doc) *doc = nullptr;
    if (helpContext) *helpContext = 0;
    if (helpFile) *helpFile = nullptr;
    return S_OK;
  }

  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void ReleaseFuncDesc(FUNCDESC* desc) override {
    if (!desc) return;
    delete[] desc->lprgelemdescParam;
    delete desc;
  }

 private:
  const METHODDATA* Find(MEMBERID id) const {
    for (UINT i = 0; i < data_.cMembers; ++i)
      if (data_.pmethdata[i].dispid == id) return &data_.pmethdata[i];
    return nullptr;
  }

  std::vector<std::vector<std::u16string>> names_;
  std::vector<std::vector<PARAMDATA>> params_;
  std::vector<METHODDATA> methods_;
  INTERFACEDATA data_{};
  IID iid_;
  std::u16string name_;
  WORD major_, minor_;
  LCID lcid_;
};

}  // namespace

HRESULT CreateDispTypeInfo(const INTERFACEDATA& data, REFIID iid, const OLECHAR* name, WORD majorVersion,
                           WORD minorVersion, LCID lcid, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = new (std::nothrow) DispTypeInfo(data, iid, name, majorVersion, minorVersion, lcid);
  if (!*info) return E_OUTOFMEMORY;
  (*info)->AddRef();
  return S_OK;
}

}  // namespace platform
