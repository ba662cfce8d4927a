// The registry: a small store of keys and text values kept in one text file
// in the .reg style. Its path comes from LUMAREST_REGISTRY, or SetRegistryPath.
// Keys and value names compare without regard to case.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, PHKEY result);
LONG RegCloseKey(HKEY key);
// data/size in bytes as Win32 has them; REG_SZ data includes the terminator.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
// Deletes a key with all its subkeys and values.
LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey);

namespace platform {
void SetRegistryPath(const std::string& path);
// Drops the in-memory copy; the next access reads the file again.
void ReloadRegistry();

// Convenience for text values: false when the key or value is missing.
bool RegReadText(HKEY root, std::u16string_view subKey, std::u16string_view name,
                 std::u16string& value);
bool RegWriteText(HKEY root, std::u16string_view subKey, std::u16string_view name,
                  std::u16string_view value);
bool RegKeyExists(HKEY root, std::u16string_view subKey);
}  // namespace platform
