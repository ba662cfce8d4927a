#include "host/Intrinsics.h"

#include "platform/ComObject.h"
#include "platform/Text.h"

namespace hostkit {

namespace {

// Field names compare by ASCII case only, the rule the portal validates by:
// no other letter folds, so no name can reach a field the portal did not check.
std::u16string FoldName(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

// The intrinsic objects answer only their default member (DISPID 0,
// property get) through Invoke.
template <class Interface>
class DispatchObject : public platform::DispatchObject<Interface> {
 public:
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    return DefaultValue(params, result);
  }

 protected:
  virtual HRESULT DefaultValue(DISPPARAMS* params, VARIANT* result) = 0;
};

class StringList final : public DispatchObject<IStringList> {
 public:
  explicit StringList(std::vector<std::u16string> values) : values_(std::move(values)) {}
  HRESULT get_Item(VARIANT index, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (index.vt == VT_EMPTY) return Joined(value);
    CComVariant i;
    if (FAILED(VariantChangeType(&i, &index, 0, VT_I4))) return E_INVALIDARG;
    if (i.lVal < 1 || static_cast<std::size_t>(i.lVal) > values_.size()) return E_INVALIDARG;
    value->vt = VT_BSTR;
    value->bstrVal = platform::AllocBstr(values_[i.lVal - 1]);
    return S_OK;
  }
  HRESULT get_Count(int* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<int>(values_.size());
    return S_OK;
  }

 protected:
  HRESULT DefaultValue(DISPPARAMS* params, VARIANT* result) override {
    if (params && params->cArgs == 1) return get_Item(params->rgvarg[0], result);
    return Joined(result);
  }

 private:
  HRESULT Joined(VARIANT* value) {
    std::u16string all;
    for (std::size_t k = 0; k < values_.size(); ++k) {
      if (k) all += u", ";
      all += values_[k];
    }
    if (values_.empty()) {
      value->vt = VT_EMPTY;  // a missing field reads as empty
      return S_OK;
    }
    value->vt = VT_BSTR;
    value->bstrVal = platform::AllocBstr(all);
    return S_OK;
  }
  std::vector<std::u16string> values_;
};

class Dictionary final : public DispatchObject<IRequestDictionary> {
 public:
  Dictionary(FieldList fields, bool lists) : fields_(std::move(fields)), lists_(lists) {
    for (auto& [name, value] : fields_) {
      std::u16string key = FoldName(name);
      bool seen = false;
      for (auto& n : names_)
        if (FoldName(n) == key) seen = true;
      if (!seen) names_.push_back(name);
    }
  }
  HRESULT get_Item(VARIANT key, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    std::u16string name;
    if (key.vt == VT_BSTR) {
      name = std::u16string(platform::BstrView(key.bstrVal));
    } else {
      CComVariant i;
      if (FAILED(VariantChangeType(&i, &key, 0, VT_I4))) return E_INVALIDARG;
      if (i.lVal < 1 || static_cast<std::size_t>(i.lVal) > names_.size()) return E_INVALIDARG;
      name = names_[i.lVal - 1];
    }
    std::vector<std::u16string> values;
    std::u16string lower = FoldName(name);
    for (auto& [n, v] : fields_)
      if (FoldName(n) == lower) values.push_back(v);
    if (lists_) {
      value->vt = VT_DISPATCH;
      value->pdispVal = new StringList(std::move(values));
      value->pdispVal->AddRef();
    } else if (!values.empty()) {
      value->vt = VT_BSTR;
      value->bstrVal = platform::AllocBstr(values.front());
    }
    return S_OK;
  }
  HRESULT get_Count(int* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<int>(names_.size());
    return S_OK;
  }
  HRESULT get_Key(VARIANT index, VARIANT* key) override {
    if (!key) return E_POINTER;
    VariantInit(key);
    CComVariant i;
    if (FAILED(VariantChangeType(&i, &index, 0, VT_I4))) return E_INVALIDARG;
    if (i.lVal < 1 || static_cast<std::size_t>(i.lVal) > names_.size()) return E_INVALIDARG;
    key->vt = VT_BSTR;
    key->bstrVal = platform::AllocBstr(names_[i.lVal - 1]);
    return S_OK;
  }

 protected:
  HRESULT DefaultValue(DISPPARAMS* params, VARIANT* result) override {
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    return get_Item(params->rgvarg[0], result);
  }

 private:
  FieldList fields_;
  std::vector<std::u16string> names_;
  bool lists_;
};

class Request final : public DispatchObject<IRequest> {
 public:
  Request(FieldList q, FieldList f, FieldList s)
      : query_(new Dictionary(std::move(q), true)),
        form_(new Dictionary(std::move(f), true)),
        server_(new Dictionary(std::move(s), false)) {}
  HRESULT get_QueryString(IRequestDictionary** v) override { return Hand(query_, v); }
  HRESULT get_Form(IRequestDictionary** v) override { return Hand(form_, v); }
  HRESULT get_ServerVariables(IRequestDictionary** v) override { return Hand(server_, v); }

 protected:
  HRESULT DefaultValue(DISPPARAMS*, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }

 private:
  static HRESULT Hand(const CComPtr<IRequestDictionary>& d, IRequestDictionary** out) {
    if (!out) return E_POINTER;
    *out = d.p;
    d.p->AddRef();
    return S_OK;
  }
  CComPtr<IRequestDictionary> query_, form_, server_;
};

}  // namespace

class Response final : public DispatchObject<IResponse> {
 public:
  // A page's text is written in many pieces: room for a typical page at once.
  Response() { state_.body.reserve(32768); }
  HRESULT Write(VARIANT text) override {
    if (state_.ended) return S_OK;
    if (text.vt == VT_BSTR) {
      state_.body.append(platform::BstrView(text.bstrVal));
      return S_OK;
    }
    CComVariant s;
    HRESULT hr = VariantChangeType(&s, &text, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    state_.body.append(platform::BstrView(s.bstrVal));
    return S_OK;
  }
  void Append(std::u16string_view text) {
    if (!state_.ended) state_.body.append(text);
  }
  HRESULT Clear() override {
    if (!state_.ended) state_.body.clear();
    return S_OK;
  }
  HRESULT Redirect(BSTR url) override {
    if (state_.ended) return S_OK;
    state_.redirect = std::u16string(platform::BstrView(url));
    state_.ended = true;  // a redirect ends the response, as the web server does
    return S_OK;
  }
  HRESULT End() override {
    state_.ended = true;
    return S_OK;
  }
  ResponseState state_;

 protected:
  HRESULT DefaultValue(DISPPARAMS*, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
};

CComPtr<IRequest> CreateRequest(FieldList query, FieldList form, FieldList serverVariables) {
  return CComPtr<IRequest>(new Request(std::move(query), std::move(form), std::move(serverVariables)));
}

HRESULT WriteResponse(IResponse* response, std::u16string_view text) {
  if (auto* own = dynamic_cast<Response*>(response)) {
    own->Append(text);
    return S_OK;
  }
  CComVariant v(text);
  return response->Write(v);
}

CComPtr<IResponse> CreateResponse(ResponseState** state) {
  auto* r = new Response;
  if (state) *state = &r->state_;
  return CComPtr<IResponse>(r);
}

}  // namespace hostkit
