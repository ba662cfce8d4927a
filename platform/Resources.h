// Resource modules and string tables.
//
// A string table is a UTF-8 text file, one entry a line:
//     # comment
//     3106 = "Inbox"
//     3198 = "<p><b>...</b></p>"
// Inside the quotes \" \\ \n \r \t and \uXXXX are escapes; every other
// character stands as it is. A satellite resource library is such a file,
// loaded as a data file; a module's own table is compiled in from the same
// format. Ids missing from a table load as empty text.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/WinTypes.h"

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;

namespace platform {

using StringTable = std::unordered_map<UINT, std::u16string>;

// A malformed table: what() names the file and line.
class StringTableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a table; source names the file in error messages.
StringTable ParseStringTable(std::string_view text, const std::string& source);

// Writes a table in the same format (for tools and tests).
std::string WriteStringTable(const StringTable& table);

// The extension satellite files carry in place of ".dll".
inline constexpr std::u16string_view kSatelliteExtension = u".strings";

// A module that carries its own table (the component module, for example).
HMODULE CreateStaticModule(std::string_view name, std::string_view tableText);
// Frees such a module when its owner unloads.
void DestroyStaticModule(HMODULE module);

}  // namespace platform

// Loads a string-table file as a data-file module (LOAD_LIBRARY_AS_DATAFILE);
// null when the file is missing or malformed (GetLastError says which).
HMODULE LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags);
BOOL FreeLibrary(HMODULE module);
// Copies string id into buffer (cut to fit); returns the characters copied.
int LoadStringW(HMODULE module, UINT id, LPWSTR buffer, int bufferChars);

// The current resource module of this thread: string loads by id without
// a module come from it.
HMODULE AfxGetResourceHandle();
void AfxSetResourceHandle(HMODULE module);

// Per-thread last error, as Win32 keeps it.
DWORD GetLastError();
void SetLastError(DWORD error);

namespace platform {
// Text of a string id from a module; empty when the id or module is missing.
std::u16string LoadString(HMODULE module, UINT id);
// From the current resource module.
std::u16string LoadString(UINT id);
// Whether a module's table holds the id (even as an empty text).
bool HasString(HMODULE module, UINT id);
// The path the module was loaded from ("" for static modules).
std::string ModulePath(HMODULE module);

// Switches the thread's current module state to a module and restores the
// previous one on every way out (the resource handle goes with it).
class ModuleStateGuard {
 public:
  explicit ModuleStateGuard(HMODULE module);
  ~ModuleStateGuard();
  ModuleStateGuard(const ModuleStateGuard&) = delete;
  ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

 private:
  HMODULE previous_;
};
}  // namespace platform
