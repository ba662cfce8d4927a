#include "platform/Files.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/Exceptions.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Text.h"

DWORD GetFileAttributesW(LPCWSTR path) {
  if (!path) return INVALID_FILE_ATTRIBUTES;
  struct stat sb {};
  if (::stat(platform::Utf16ToUtf8(platform::View(path)).c_str(), &sb) != 0) {
    SetLastError(platform::Win32ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attrs = S_ISDIR(sb.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
  if (!(sb.st_mode & S_IWUSR)) attrs |= FILE_ATTRIBUTE_READONLY;
  return attrs ? attrs : FILE_ATTRIBUTE_NORMAL;
}

BOOL PathIsUNCW(LPCWSTR path) {
  auto v = platform::View(path);
  return v.size() >= 2 && ((v[0] == u'\\' && v[1] == u'\\') || (v[0] == u'/' && v[1] == u'/'));
}

namespace platform {

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_PATH_NOT_FOUND;  // refined by callers that know which part is missing
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EIO: return ERROR_WRITE_FAULT;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    default: return ERROR_INVALID_FUNCTION;
  }
}

PathParts SplitPath(std::u16string_view path) {
  PathParts parts;
  auto cut = [](std::u16string s) {
    if (s.size() > MAX_PATH - 1) s.resize(MAX_PATH - 1);
    return s;
  };
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == u':') {
    parts.drive = std::u16string(path.substr(0, 2));
    start = 2;
  }
  std::size_t lastSep = path.find_last_of(u"\\/");
  std::u16string_view name = path.substr(start);
  if (lastSep != std::u16string_view::npos && lastSep >= start) {
    parts.dir = std::u16string(path.substr(start, lastSep + 1 - start));
    name = path.substr(lastSep + 1);
  }
  std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) {
    parts.fname = std::u16string(name.substr(0, dot));
    parts.ext = std::u16string(name.substr(dot));
  } else {
    parts.fname = std::u16string(name);
  }
  parts.drive = cut(parts.drive);
  parts.dir = cut(parts.dir);
  parts.fname = cut(parts.fname);
  parts.ext = cut(parts.ext);
  return parts;
}

CFile::~CFile() {
  if (f_) std::fclose(f_);
}

bool CFile::OpenForWrite(std::u16string_view path) {
  Close();
  path_ = std::u16string(path);
  std::string file = Utf16ToUtf8(path);
  f_ = std::fopen(file.c_str(), "wb");
  if (!f_) {
    int err = errno;
    DWORD code = Win32ErrorFromErrno(err);
    // A missing folder is "path not found"; a missing file in an existing
    // folder cannot happen when creating, so ENOENT always means the folder.
    if (err == ENOENT) code = ERROR_PATH_NOT_FOUND;
    SetLastError(code);
    return false;
  }
  return true;
}

void CFile::Write(const void* data, std::size_t bytes) {
  if (!f_) throw CFileException(ERROR_INVALID_HANDLE, path_);
  if (bytes && std::fwrite(data, 1, bytes, f_) != bytes)
    throw CFileException(Win32ErrorFromErrno(errno), path_);
}

void CFile::Flush() {
  if (!f_) throw CFileException(ERROR_INVALID_HANDLE, path_);
  if (std::fflush(f_) != 0) throw CFileException(Win32ErrorFromErrno(errno), path_);
}

void CFile::Close() {
  if (!f_) return;
  std::FILE* f = f_;
  f_ = nullptr;
  if (std::fclose(f) != 0) throw CFileException(Win32ErrorFromErrno(errno), path_);
}

}  // namespace platform

namespace {
std::atomic<unsigned long> g_shellFileInfoCalls{0};

std::u16string TypeNameOf(std::u16string_view ext) {
  if (!ext.empty()) {
    std::u16string progId, name;
    if (platform::RegReadText(HKEY_CLASSES_ROOT, ext, u"", progId) && !progId.empty() &&
        platform::RegReadText(HKEY_CLASSES_ROOT, progId, u"", name) && !name.empty())
      return name;
  }
  static constexpr struct {
    std::u16string_view ext, name;
  } kTypes[] = {
      {u".txt", u"Text Document"},          {u".htm", u"HTML Document"},
      {u".html", u"HTML Document"},         {u".doc", u"Microsoft Word Document"},
      {u".docx", u"Microsoft Word Document"}, {u".xls", u"Microsoft Excel Worksheet"},
      {u".xlsx", u"Microsoft Excel Worksheet"}, {u".pdf", u"PDF Document"},
      {u".jpg", u"JPEG Image"},             {u".jpeg", u"JPEG Image"},
      {u".gif", u"GIF Image"},              {u".png", u"PNG Image"},
      {u".zip", u"Compressed (zipped) Folder"}, {u".wav", u"Wave Sound"},
      {u".url", u"Internet Shortcut"},      {u".eml", u"Internet E-Mail Message"},
      {u".exe", u"Application"},
  };
  for (const auto& t : kTypes)
    if (platform::EqualsNoCase(ext, t.ext)) return std::u16string(t.name);
  if (ext.size() <= 1) return u"File";
  return platform::ToUpper(ext.substr(1)) + u" File";
}
}  // namespace

std::uintptr_t SHGetFileInfoW(LPCWSTR path, DWORD, SHFILEINFOW* info, UINT infoSize, UINT flags) {
  ++g_shellFileInfoCalls;
  if (!info || infoSize < sizeof(SHFILEINFOW)) return 0;
  *info = SHFILEINFOW{};
  // Only the type name by extension: this stand-in never looks at files.
  if ((flags & (SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME)) !=
      (SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME))
    return 0;
  std::u16string name = TypeNameOf(platform::SplitPath(platform::View(path)).ext);
  std::size_t n = std::min<std::size_t>(name.size(), std::size(info->szTypeName) - 1);
  std::copy_n(name.data(), n, info->szTypeName);
  info->szTypeName[n] = 0;
  return 1;
}

namespace platform {
unsigned long ShellFileInfoCalls() { return g_shellFileInfoCalls.load(); }
}  // namespace platform
