// Device objects opened by name ("\\.\Global\NAME") and driven with I/O
// control requests. A host installs a driver under the device's name; with
// none installed, opening the device fails with ERROR_FILE_NOT_FOUND.
#pragma once

#include <memory>
#include <string>

#include "platform/WinTypes.h"

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
constexpr DWORD OPEN_EXISTING = 3;

namespace platform {
class DeviceDriver {
 public:
  virtual ~DeviceDriver() = default;
  // Returns false (with a Win32 error code in error) when the request fails.
  virtual bool IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned, DWORD* error) = 0;
};
void InstallDevice(std::u16string_view name, std::shared_ptr<DeviceDriver> driver);
void RemoveDevice(std::u16string_view name);
}  // namespace platform

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                     DWORD outSize, DWORD* returned, void* overlapped);
BOOL CloseHandle(HANDLE handle);
