// The module: its exports, the cached class factory, the registration data
// and the module's own string table.
#include <dlfcn.h>

#include <atomic>

#include "inbox/MyInbox.h"
#include "inbox/Registration.h"
#include "platform/ComObject.h"
#include "platform/Guid.h"
#include "platform/Registrar.h"
#include "platform/Text.h"

#define LUMAREST_EXPORT extern "C" __attribute__((visibility("default")))

extern const char kLumarestEnglishStrings[];  // generated from inbox/Strings.en.txt

namespace {
std::atomic<long> g_locks{0};

// The class object: one per module, handed out by DllGetClassObject.
class CMyInboxFactory final : public platform::InterfaceQuery<IClassFactory> {
 public:
  // The factory lives as long as the module; its references count as locks.
  ULONG AddRef() override { return static_cast<ULONG>(++g_locks); }
  ULONG Release() override { return static_cast<ULONG>(--g_locks); }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    platform::ModuleStateGuard state(LumarestModuleHandle());
    return CMyInbox::CreateInstance(outer, riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      ++g_locks;
    else
      --g_locks;
    return S_OK;
  }
};

CMyInboxFactory g_factory;

std::u16string ModulePath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LumarestModuleHandle), &info) && info.dli_fname)
    return platform::Utf8ToUtf16(info.dli_fname);
  return {};
}
}  // namespace

namespace {
// The module's own string table lives while the module is loaded.
struct OwnModule {
  HMODULE handle = platform::CreateStaticModule("LumarestInbox", kLumarestEnglishStrings);
  ~OwnModule() { platform::DestroyStaticModule(handle); }
};
}  // namespace

HMODULE LumarestModuleHandle() {
  static OwnModule module;
  return module.handle;
}

namespace inbox {
long ModuleLockCount() { return g_locks.load(); }
}  // namespace inbox

LUMAREST_EXPORT HRESULT DllCanUnloadNow() {
  return (CMyInbox::ObjectCount() == 0 && g_locks.load() == 0) ? S_OK : S_FALSE;
}

LUMAREST_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_MyInbox) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

LUMAREST_EXPORT HRESULT DllRegisterServer() {
  platform::ModuleStateGuard state(LumarestModuleHandle());
  std::u16string path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  return platform::RegistrarRegister(HKEY_CLASSES_ROOT, inbox::RegistrationKeys(path));
}

LUMAREST_EXPORT HRESULT DllUnregisterServer() {
  platform::ModuleStateGuard state(LumarestModuleHandle());
  return platform::RegistrarUnregister(HKEY_CLASSES_ROOT, inbox::RegistrationKeys(ModulePath()));
}
