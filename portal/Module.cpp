#include <dlfcn.h>

#include <stdexcept>

#include "platform/WinTypes.h"
#include "portal/Server.h"

namespace portal {

void RegisterComponentModule(const std::filesystem::path& modulePath) {
  // Kept loaded for the life of the process; the class registry loads the
  // same file again by the path the module registers.
  void* handle = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = ::dlerror();
    throw std::runtime_error("cannot load the component module " + modulePath.string() + ": " +
                             (err ? err : "unknown error"));
  }
  using RegisterFn = HRESULT (*)();
  auto reg = reinterpret_cast<RegisterFn>(::dlsym(handle, "DllRegisterServer"));
  if (!reg) throw std::runtime_error(modulePath.string() + " exports no DllRegisterServer");
  HRESULT hr = reg();
  if (FAILED(hr)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    throw std::runtime_error("DllRegisterServer of " + modulePath.string() + " failed: " + buf);
  }
}

}  // namespace portal
