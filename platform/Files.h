// Paths and files: path splitting, attributes, errno to Win32 error codes, and
// a small file writer that reports failures as Win32-style codes.
#pragma once

#include <cstdio>
#include <string>

#include "platform/WinTypes.h"

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr std::size_t MAX_PATH = 260;

DWORD GetFileAttributesW(LPCWSTR path);
// A UNC path begins with two backslashes (or, on this platform, two slashes).
BOOL PathIsUNCW(LPCWSTR path);

// The shell's file-type lookup, for type names only: with
// SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME no file is opened and the name
// comes from the extension of path (the class registry's HKEY_CLASSES_ROOT
// "<ext>" -> ProgID -> default value, then a table of common types, then
// "<EXT> File", or "File" without extension). Other requests fail (0).
constexpr UINT SHGFI_TYPENAME = 0x400;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x10;
struct SHFILEINFOW {
  void* hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
};
std::uintptr_t SHGetFileInfoW(LPCWSTR path, DWORD fileAttributes, SHFILEINFOW* info, UINT infoSize,
                              UINT flags);

namespace platform {

// How many times SHGetFileInfoW was called in this process (for tests).
unsigned long ShellFileInfoCalls();

DWORD Win32ErrorFromErrno(int err);

struct PathParts {
  std::u16string drive, dir, fname, ext;
};
// Splits like _wsplitpath: both '\\' and '/' separate folders; the extension
// starts at the last '.' of the last component. Each part is cut to MAX_PATH-1.
PathParts SplitPath(std::u16string_view path);

// Creates or truncates a file for writing; errors are Win32 codes.
class CFile {
 public:
  CFile() = default;
  ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  // false on failure; GetLastError() then holds the Win32 code.
  bool OpenForWrite(std::u16string_view path);
  // Throw CFileException on failure.
  void Write(const void* data, std::size_t bytes);
  void Flush();
  void Close();
  bool IsOpen() const { return f_ != nullptr; }

 private:
  std::FILE* f_ = nullptr;
  std::u16string path_;
};

}  // namespace platform
