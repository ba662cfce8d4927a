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

namespace platform {

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
