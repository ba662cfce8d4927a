// Plumbing for objects that implement one interface: interlocked reference
// counting, QueryInterface, and an IDispatch whose members are reached
// through Invoke only where an object overrides it.
#pragma once

#include <utility>

#include "platform/Com.h"

namespace platform {

// QueryInterface alone, for an object that counts its references its own way
// (a class object whose references are the module's locks). Interface is the
// object's main interface; extra IIDs answer with it too.
template <class Interface>
class InterfaceQuery : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == __uuidof(Interface) || Answers(riid)) {
      *ppv = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

 protected:
  virtual bool Answers(REFIID) { return false; }
};

// A heap object: QueryInterface, and interlocked counts that delete the
// object at zero.
template <class Interface>
class ComObject : public InterfaceQuery<Interface> {
 public:
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG n = refs_.Decrement();
    if (n == 0) delete this;
    return n;
  }
  virtual ~ComObject() = default;

 protected:
  ULONG References() const { return refs_.Get(); }

 private:
  CRefCount refs_;
};

// For objects whose interface derives from IDispatch.
template <class Interface>
class DispatchObject : public ComObject<Interface> {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  bool Answers(REFIID riid) override { return riid == IID_IDispatch; }
};

// Creates an object for a class factory function: aggregation refused.
template <class T, class... Args>
HRESULT CreateForFactory(IUnknown* outer, REFIID riid, void** ppv, Args&&... args) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* obj = new T(std::forward<Args>(args)...);
  obj->AddRef();
  HRESULT hr = obj->QueryInterface(riid, ppv);
  obj->Release();
  return hr;
}

}  // namespace platform
