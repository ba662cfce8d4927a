#include "platform/Resources.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/Debug.h"
#include "platform/Files.h"
#include "platform/Text.h"

struct HINSTANCE__ {
  std::string path;
  std::shared_ptr<const platform::StringTable> table;
  bool isStatic = false;
};

namespace {
thread_local HMODULE t_resource = nullptr;
thread_local DWORD t_lastError = 0;

// Parsed satellite files, shared between loads while the file is unchanged.
struct CacheEntry {
  time_t mtime = 0;
  long mtimeNs = 0;
  off_t size = 0;
  std::shared_ptr<const platform::StringTable> table;
};
std::mutex g_cacheMutex;
std::map<std::string, CacheEntry> g_cache;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

namespace platform {

StringTable ParseStringTable(std::string_view text, const std::string& source) {
  StringTable table;
  std::size_t lineNo = 0, pos = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;  // byte-order mark
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto fail = [&](const std::string& why) -> StringTableError {
      return StringTableError(source + ":" + std::to_string(lineNo) + ": " + why);
    };
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size() || line[i] == '#') continue;
    unsigned long id = 0;
    std::size_t digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
      id = id * 10 + static_cast<unsigned>(line[i] - '0');
      if (++digits > 5) throw fail("string id too long");
      ++i;
    }
    if (digits == 0) throw fail("expected a string id");
    if (id > 65535) throw fail("string id above 65535");
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size() || line[i] != '=') throw fail("expected '=' after the id");
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size() || line[i] != '"') throw fail("expected a quoted text");
    ++i;
    std::string value;
    bool closed = false;
    while (i < line.size()) {
      char c = line[i++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c != '\\') {
        value.push_back(c);
        continue;
      }
      if (i == line.size()) throw fail("escape at the end of the line");
      char e = line[i++];
      switch (e) {
        case '"': value.push_back('"'); break;
        case '\\': value.push_back('\\'); break;
        case 'n': value.push_back('\n'); break;
        case 'r': value.push_back('\r'); break;
        case 't': value.push_back('\t'); break;
        case 'u': {
          if (i + 4 > line.size()) throw fail("short \\u escape");
          unsigned cp = 0;
          for (int k = 0; k < 4; ++k) {
            int h = HexDigit(line[i + k]);
            if (h < 0) throw fail("bad \\u escape");
            cp = cp * 16 + static_cast<unsigned>(h);
          }
          i += 4;
          value += Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(cp)));
          break;
        }
        default:
          throw fail(std::string("unknown escape \\") + e);
      }
    }
    if (!closed) throw fail("text not closed with '\"'");
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i != line.size() && line[i] != '#') throw fail("unexpected text after the closing quote");
    if (table.count(static_cast<UINT>(id))) throw fail("string id " + std::to_string(id) + " given twice");
    table[static_cast<UINT>(id)] = Utf8ToUtf16(value);
  }
  return table;
}

std::string WriteStringTable(const StringTable& table) {
  std::map<UINT, std::u16string> sorted(table.begin(), table.end());
  std::string out;
  for (auto& [id, text] : sorted) {
    out += std::to_string(id) + " = \"";
    for (char c : Utf16ToUtf8(text)) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out.push_back(c);
      }
    }
    out += "\"\n";
  }
  return out;
}

HMODULE CreateStaticModule(std::string_view name, std::string_view tableText) {
  auto* m = new HINSTANCE__;
  m->isStatic = true;
  m->table = std::make_shared<const StringTable>(ParseStringTable(tableText, std::string(name)));
  return m;
}

void DestroyStaticModule(HMODULE module) {
  if (module && module->isStatic) delete module;
}

std::u16string LoadString(HMODULE module, UINT id) {
  if (!module || !module->table) return {};
  auto it = module->table->find(id);
  return it == module->table->end() ? std::u16string() : it->second;
}

std::u16string LoadString(UINT id) { return LoadString(AfxGetResourceHandle(), id); }

bool HasString(HMODULE module, UINT id) {
  return module && module->table && module->table->count(id) > 0;
}

std::string ModulePath(HMODULE module) { return module ? module->path : std::string(); }

ModuleStateGuard::ModuleStateGuard(HMODULE module) : previous_(t_resource) {
  t_resource = module;
}
ModuleStateGuard::~ModuleStateGuard() { t_resource = previous_; }

}  // namespace platform

HMODULE LoadLibraryExW(LPCWSTR path, HANDLE, DWORD flags) {
  if (!path || !(flags & LOAD_LIBRARY_AS_DATAFILE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string file = platform::Utf16ToUtf8(platform::View(path));
  struct stat sb {};
  if (::stat(file.c_str(), &sb) != 0) {
    SetLastError(platform::Win32ErrorFromErrno(errno));
    return nullptr;
  }
  if (!S_ISREG(sb.st_mode) || sb.st_size > 16 * 1024 * 1024) {
    SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
  }
  std::shared_ptr<const platform::StringTable> table;
  {
    std::lock_guard lock(g_cacheMutex);
    auto it = g_cache.find(file);
    if (it != g_cache.end() && it->second.mtime == sb.st_mtim.tv_sec &&
        it->second.mtimeNs == sb.st_mtim.tv_nsec && it->second.size == sb.st_size)
      table = it->second.table;
  }
  if (!table) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    try {
      table = std::make_shared<const platform::StringTable>(platform::ParseStringTable(ss.str(), file));
    } catch (const platform::StringTableError& e) {
      OutputDebugStringW(platform::Utf8ToUtf16(e.what()).c_str());
      SetLastError(ERROR_BAD_FORMAT);
      return nullptr;
    }
    std::lock_guard lock(g_cacheMutex);
    g_cache[file] = CacheEntry{sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec, sb.st_size, table};
  }
  auto* m = new HINSTANCE__;
  m->path = file;
  m->table = std::move(table);
  return m;
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) return FALSE;
  if (module->isStatic) return TRUE;  // a module's own table lives as long as the module
  delete module;
  return TRUE;
}

int LoadStringW(HMODULE module, UINT id, LPWSTR buffer, int bufferChars) {
  if (!buffer || bufferChars <= 0) return 0;
  std::u16string s = platform::LoadString(module, id);
  std::size_t n = std::min<std::size_t>(s.size(), static_cast<std::size_t>(bufferChars - 1));
  std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n), buffer);
  buffer[n] = 0;
  return static_cast<int>(n);
}

HMODULE AfxGetResourceHandle() { return t_resource; }
void AfxSetResourceHandle(HMODULE module) { t_resource = module; }

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }
