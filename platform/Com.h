// The COM pieces the component and its hosts use: IUnknown, IDispatch, class
// factories, CComPtr, and creation through the class registry.
#pragma once

#include <atomic>
#include <memory>
#include <functional>
#include <string>
#include <utility>

#include "platform/Variant.h"

struct ITypeInfo;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

struct DISPPARAMS {
  VARIANTARG* rgvarg;  // arguments in reverse order
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  SCODE scode;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep, UINT* argErr) = 0;

 protected:
  ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct IRunnableObject : IUnknown {
  virtual HRESULT Run(void* bindContext) = 0;

 protected:
  ~IRunnableObject() = default;
};

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IRunnableObject = {0x00000126, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID CLSID_PSDispatch = {0x00020424, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

template <class T>
struct InterfaceId;  // specialised per interface: static constexpr IID value
template <>
struct InterfaceId<IUnknown> {
  static constexpr IID value = IID_IUnknown;
};
template <>
struct InterfaceId<IDispatch> {
  static constexpr IID value = IID_IDispatch;
};
template <>
struct InterfaceId<IClassFactory> {
  static constexpr IID value = IID_IClassFactory;
};
template <>
struct InterfaceId<IRunnableObject> {
  static constexpr IID value = IID_IRunnableObject;
};
#define __uuidof(T) (InterfaceId<T>::value)

// A counted reference to an interface.
template <class T>
class CComPtr {
 public:
  T* p = nullptr;

  CComPtr() = default;
  CComPtr(T* ptr) : p(ptr) {
    if (p) p->AddRef();
  }
  CComPtr(const CComPtr& o) : CComPtr(o.p) {}
  CComPtr(CComPtr&& o) noexcept : p(o.p) { o.p = nullptr; }
  ~CComPtr() {
    if (p) p->Release();
  }
  CComPtr& operator=(T* ptr) {
    if (ptr != p) {
      if (ptr) ptr->AddRef();
      T* old = p;
      p = ptr;
      if (old) old->Release();
    }
    return *this;
  }
  CComPtr& operator=(const CComPtr& o) { return *this = o.p; }
  CComPtr& operator=(CComPtr&& o) noexcept {
    if (std::addressof(o) != this) {
      T* old = p;
      p = o.p;
      o.p = nullptr;
      if (old) old->Release();
    }
    return *this;
  }
  T* operator->() const { return p; }
  operator T*() const { return p; }
  T** operator&() { return &p; }
  explicit operator bool() const { return p != nullptr; }
  void Release() {
    T* old = p;
    p = nullptr;
    if (old) old->Release();
  }
  void Attach(T* ptr) {
    if (p) p->Release();
    p = ptr;
  }
  T* Detach() {
    T* r = p;
    p = nullptr;
    return r;
  }
  template <class Q>
  HRESULT QueryInterface(Q** out) const {
    if (!p) return E_POINTER;
    return p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(out));
  }
  HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD ctx = 0x17);
  HRESULT CoCreateInstance(LPCOLESTR progIdOrClsid, IUnknown* outer = nullptr, DWORD ctx = 0x17);
};

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL = 0x17;

void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* p);

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
// Finds the class: first the process's own registered classes, then the class
// registry (HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32), loading the module.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD ctx, void* reserved, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD ctx, REFIID riid, void** ppv);
// Runs an object that supports IRunnableObject; others are running already.
HRESULT OleRun(IUnknown* unknown);

namespace platform {
using ClassFactoryFn = std::function<HRESULT(IUnknown* outer, REFIID riid, void** ppv)>;
// The host's own in-process classes, registered for this process only.
void RegisterProcessClass(REFCLSID clsid, ClassFactoryFn factory);
void RevokeProcessClass(REFCLSID clsid);
// "{...}" is parsed as a CLSID, anything else is looked up as a ProgID.
HRESULT ClsidFromName(std::u16string_view name, CLSID& clsid);
}  // namespace platform

template <class T>
HRESULT CComPtr<T>::CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD ctx) {
  Release();
  return ::CoCreateInstance(clsid, outer, ctx, __uuidof(T), reinterpret_cast<void**>(&p));
}
template <class T>
HRESULT CComPtr<T>::CoCreateInstance(LPCOLESTR name, IUnknown* outer, DWORD ctx) {
  CLSID clsid;
  HRESULT hr = platform::ClsidFromName(name ? std::u16string_view(name) : u"", clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, outer, ctx);
}

// Interlocked reference counting for objects that implement interfaces.
class CRefCount {
 public:
  ULONG Increment() { return ++count_; }
  ULONG Decrement() { return --count_; }
  ULONG Get() const { return count_.load(); }

 private:
  std::atomic<ULONG> count_{0};
};

// Helpers for IDispatch callers.
namespace platform {
// Calls a member by DISPID with the given arguments (in natural order).
HRESULT InvokeByDispid(IDispatch* disp, DISPID id, WORD flags, std::initializer_list<VARIANT> args,
                       VARIANT* result);
}  // namespace platform
