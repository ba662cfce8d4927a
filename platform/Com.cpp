#include "platform/Com.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/ComObject.h"
#include "platform/Debug.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void CoTaskMemFree(void* p) { std::free(p); }

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

struct LoadedModule {
  void* handle = nullptr;
  GetClassObjectFn getClassObject = nullptr;
};

struct ClassTable {
  std::mutex mutex;
  std::map<CLSID, platform::ClassFactoryFn> process;
  std::map<std::string, LoadedModule> modules;  // by path
};

ClassTable& Table() {
  static ClassTable table;
  return table;
}

// A class factory around a process-registered creation function.
class FunctionFactory final : public platform::ComObject<IClassFactory> {
 public:
  explicit FunctionFactory(platform::ClassFactoryFn fn) : fn_(std::move(fn)) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return fn_(outer, riid, ppv);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  platform::ClassFactoryFn fn_;
};

}  // namespace

namespace platform {

void RegisterProcessClass(REFCLSID clsid, ClassFactoryFn factory) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  t.process[clsid] = std::move(factory);
}

void RevokeProcessClass(REFCLSID clsid) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  t.process.erase(clsid);
}

HRESULT ClsidFromName(std::u16string_view name, CLSID& clsid) {
  std::u16string text(name);
  if (!text.empty() && text[0] == u'{') return CLSIDFromString(text.c_str(), &clsid);
  return CLSIDFromProgID(text.c_str(), &clsid);
}

HRESULT InvokeByDispid(IDispatch* disp, DISPID id, WORD flags, std::initializer_list<VARIANT> args,
                       VARIANT* result) {
  if (!disp) return E_POINTER;
  std::vector<VARIANT> reversed(args.begin(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(),
                    (flags & DISPATCH_PROPERTYPUT) ? &named : nullptr,
                    static_cast<UINT>(reversed.size()), (flags & DISPATCH_PROPERTYPUT) ? 1u : 0u};
  return disp->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

}  // namespace platform

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  std::u16string value;
  if (!platform::RegReadText(HKEY_CLASSES_ROOT, std::u16string(platform::View(progId)) + u"\\CLSID",
                             u"", value))
    return CO_E_CLASSSTRING;
  return CLSIDFromString(value.c_str(), clsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD ctx, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!(ctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  auto& t = Table();
  {
    std::lock_guard lock(t.mutex);
    auto it = t.process.find(clsid);
    if (it != t.process.end()) {
      auto* factory = new FunctionFactory(it->second);
      factory->AddRef();
      HRESULT hr = factory->QueryInterface(riid, ppv);
      factory->Release();
      return hr;
    }
  }
  std::u16string path;
  if (!platform::RegReadText(HKEY_CLASSES_ROOT,
                             u"CLSID\\" + platform::GuidToString(clsid) + u"\\InprocServer32", u"",
                             path) ||
      path.empty())
    return REGDB_E_CLASSNOTREG;
  std::string file = platform::Utf16ToUtf8(path);
  GetClassObjectFn getClassObject = nullptr;
  {
    std::lock_guard lock(t.mutex);
    auto& mod = t.modules[file];
    if (!mod.handle) {
      mod.handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!mod.handle) {
        const char* err = ::dlerror();
        OutputDebugStringW(platform::Utf8ToUtf16(std::string("CoGetClassObject: ") +
                                                 (err ? err : "cannot load module"))
                               .c_str());
        t.modules.erase(file);
        return CO_E_DLLNOTFOUND;
      }
      mod.getClassObject = reinterpret_cast<GetClassObjectFn>(::dlsym(mod.handle, "DllGetClassObject"));
      if (!mod.getClassObject) {
        ::dlclose(mod.handle);
        t.modules.erase(file);
        return CO_E_ERRORINDLL;
      }
    }
    getClassObject = mod.getClassObject;
  }
  return getClassObject(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD ctx, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return E_INVALIDARG;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, ctx, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  // The factory is released even when a host's class raises instead of returning.
  CComPtr<IClassFactory> holder;
  holder.Attach(factory);
  return holder->CreateInstance(outer, riid, ppv);
}

HRESULT OleRun(IUnknown* unknown) {
  if (!unknown) return E_INVALIDARG;
  IRunnableObject* runnable = nullptr;
  if (FAILED(unknown->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable))))
    return S_OK;
  HRESULT hr = runnable->Run(nullptr);
  runnable->Release();
  return hr;
}

