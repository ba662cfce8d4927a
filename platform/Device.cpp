#include "platform/Device.h"

#include <map>
#include <mutex>

#include "platform/Resources.h"
#include "platform/Text.h"

namespace {
std::mutex g_mutex;
std::map<std::u16string, std::shared_ptr<platform::DeviceDriver>> g_devices;

struct DeviceHandle {
  std::shared_ptr<platform::DeviceDriver> driver;
};
}  // namespace

namespace platform {
void InstallDevice(std::u16string_view name, std::shared_ptr<DeviceDriver> driver) {
  std::lock_guard lock(g_mutex);
  g_devices[ToLower(name)] = std::move(driver);
}
void RemoveDevice(std::u16string_view name) {
  std::lock_guard lock(g_mutex);
  g_devices.erase(ToLower(name));
}
}  // namespace platform

HANDLE CreateFileW(LPCWSTR name, DWORD, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
  if (!name || disposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard lock(g_mutex);
  auto it = g_devices.find(platform::ToLower(platform::View(name)));
  if (it == g_devices.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return new DeviceHandle{it->second};
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                     DWORD outSize, DWORD* returned, void*) {
  if (!device || device == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD error = ERROR_SUCCESS, got = 0;
  bool ok = static_cast<DeviceHandle*>(device)->driver->IoControl(code, in, inSize, out, outSize,
                                                                  &got, &error);
  if (returned) *returned = got;
  if (!ok) {
    SetLastError(error ? error : ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return FALSE;
  delete static_cast<DeviceHandle*>(handle);
  return TRUE;
}
