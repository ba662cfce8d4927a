#include "platform/Registry.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/Text.h"

namespace {

struct Value {
  std::u16string name;  // as written
  DWORD type = REG_SZ;
  std::u16string text;
  DWORD number = 0;
};

struct Key {
  std::u16string path;                 // full path as written, root included
  std::map<std::u16string, Value> values;  // by lower-cased name ("" = default)
};

struct Store {
  std::mutex mutex;
  std::string path;
  bool loaded = false;
  time_t mtime = 0;
  long mtimeNs = 0;
  std::map<std::u16string, Key> keys;  // by lower-cased full path
};

Store& TheStore() {
  static Store store;
  return store;
}

struct OpenKey {
  std::u16string path;
};

std::u16string RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  return {};
}

bool IsRoot(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

std::u16string BasePath(HKEY key) {
  if (IsRoot(key)) return RootName(key);
  return key ? reinterpret_cast<OpenKey*>(key)->path : std::u16string();
}

std::u16string Normalise(std::u16string_view path) {
  // Collapse separators and drop leading/trailing backslashes.
  std::u16string out;
  for (char16_t c : path) {
    if (c == u'\\' && (out.empty() || out.back() == u'\\')) continue;
    out.push_back(c);
  }
  while (!out.empty() && out.back() == u'\\') out.pop_back();
  return out;
}

std::u16string Join(HKEY key, LPCWSTR sub) {
  std::u16string base = BasePath(key);
  std::u16string_view s = platform::View(sub);
  if (s.empty()) return base;
  return Normalise(base + u"\\" + std::u16string(s));
}

std::u16string Lower(std::u16string_view s) { return platform::ToLower(s); }

std::string DefaultPath() {
  if (const char* env = std::getenv("LUMAREST_REGISTRY"); env && *env) return env;
  return LUMAREST_DEFAULT_REGISTRY;
}

std::u16string Escape(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    if (c == u'\n') {
      out += u"\\n";
      continue;
    }
    out.push_back(c);
  }
  return out;
}

// Reads a quoted text starting at pos (at the opening quote); advances pos.
bool ReadQuoted(const std::u16string& line, std::size_t& pos, std::u16string& out) {
  if (pos >= line.size() || line[pos] != u'"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char16_t c = line[pos++];
    if (c == u'"') return true;
    if (c == u'\\' && pos < line.size()) {
      char16_t n = line[pos++];
      out.push_back(n == u'n' ? u'\n' : n);
    } else {
      out.push_back(c);
    }
  }
  return false;
}

void LoadLocked(Store& st) {
  if (st.path.empty()) st.path = DefaultPath();
  struct stat sb {};
  bool exists = ::stat(st.path.c_str(), &sb) == 0;
  if (st.loaded && exists && sb.st_mtim.tv_sec == st.mtime && sb.st_mtim.tv_nsec == st.mtimeNs)
    return;
  if (st.loaded && !exists) return;
  st.keys.clear();
  st.loaded = true;
  if (!exists) return;
  st.mtime = sb.st_mtim.tv_sec;
  st.mtimeNs = sb.st_mtim.tv_nsec;
  std::ifstream in(st.path, std::ios::binary);
  std::string raw;
  Key* current = nullptr;
  while (std::getline(in, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    std::u16string line = platform::Utf8ToUtf16(raw);
    if (line.empty() || line[0] == u';' || line[0] == u'#') continue;
    if (line[0] == u'[' && line.back() == u']') {
      std::u16string path = Normalise(line.substr(1, line.size() - 2));
      Key& k = st.keys[Lower(path)];
      k.path = path;
      current = &k;
      continue;
    }
    if (!current) continue;
    Value v;
    std::size_t pos = 0;
    if (line[0] == u'@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, v.name)) {
      continue;
    }
    if (pos >= line.size() || line[pos] != u'=') continue;
    ++pos;
    if (line.compare(pos, 6, u"dword:") == 0) {
      v.type = REG_DWORD;
      v.number = static_cast<DWORD>(std::strtoul(platform::Utf16ToUtf8(line.substr(pos + 6)).c_str(), nullptr, 16));
    } else if (!ReadQuoted(line, pos, v.text)) {
      continue;
    }
    current->values[Lower(v.name)] = v;
  }
}

bool SaveLocked(Store& st) {
  std::ostringstream out;
  out << "; LumarestInbox registry\n";
  for (auto& [lower, key] : st.keys) {
    out << "\n[" << platform::Utf16ToUtf8(key.path) << "]\n";
    for (auto& [vn, v] : key.values) {
      if (v.name.empty())
        out << "@=";
      else
        out << "\"" << platform::Utf16ToUtf8(Escape(v.name)) << "\"=";
      if (v.type == REG_DWORD) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v.number);
        out << buf << "\n";
      } else {
        out << "\"" << platform::Utf16ToUtf8(Escape(v.text)) << "\"\n";
      }
    }
  }
  std::string tmp = st.path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << out.str();
    if (!f.flush()) return false;
  }
  if (std::rename(tmp.c_str(), st.path.c_str()) != 0) return false;
  struct stat sb {};
  if (::stat(st.path.c_str(), &sb) == 0) {
    st.mtime = sb.st_mtim.tv_sec;
    st.mtimeNs = sb.st_mtim.tv_nsec;
  }
  return true;
}

HKEY MakeHandle(const std::u16string& path) { return reinterpret_cast<HKEY>(new OpenKey{path}); }

bool HasSubkeys(Store& st, const std::u16string& lowerPath) {
  std::u16string prefix = lowerPath + u"\\";
  auto it = st.keys.lower_bound(prefix);
  return it != st.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (!result || !key) return ERROR_INVALID_PARAMETER;
  std::u16string path = Join(key, subKey);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  LoadLocked(st);
  std::u16string lower = Lower(path);
  if (path.find(u'\\') != std::u16string::npos && !st.keys.count(lower) && !HasSubkeys(st, lower))
    return ERROR_FILE_NOT_FOUND;
  *result = MakeHandle(path);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, PHKEY result) {
  if (!result || !key) return ERROR_INVALID_PARAMETER;
  std::u16string path = Join(key, subKey);
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  LoadLocked(st);
  // Create every missing key on the way, as Win32 does.
  std::size_t pos = path.find(u'\\');
  bool changed = false;
  while (pos != std::u16string::npos || !path.empty()) {
    std::u16string part = pos == std::u16string::npos ? path : path.substr(0, pos);
    Key& k = st.keys[Lower(part)];
    if (k.path.empty()) {
      k.path = part;
      changed = true;
    }
    if (pos == std::u16string::npos) break;
    pos = path.find(u'\\', pos + 1);
  }
  if (changed && !SaveLocked(st)) return ERROR_WRITE_FAULT;
  *result = MakeHandle(path);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!IsRoot(key)) delete reinterpret_cast<OpenKey*>(key);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  if (!key) return ERROR_INVALID_HANDLE;
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  LoadLocked(st);
  auto k = st.keys.find(Lower(BasePath(key)));
  if (k == st.keys.end()) return ERROR_FILE_NOT_FOUND;
  auto v = k->second.values.find(Lower(platform::View(name)));
  if (v == k->second.values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->second.type;
  DWORD needed = v->second.type == REG_DWORD
                     ? 4
                     : static_cast<DWORD>((v->second.text.size() + 1) * sizeof(char16_t));
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (v->second.type == REG_DWORD) {
    std::memcpy(data, &v->second.number, 4);
  } else {
    std::memcpy(data, v->second.text.c_str(), needed);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (!key || IsRoot(key)) return ERROR_INVALID_HANDLE;
  if (type != REG_SZ && type != REG_DWORD) return ERROR_INVALID_PARAMETER;
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  LoadLocked(st);
  std::u16string path = BasePath(key);
  Key& k = st.keys[Lower(path)];
  if (k.path.empty()) k.path = path;
  Value v;
  v.name = std::u16string(platform::View(name));
  v.type = type;
  if (type == REG_DWORD) {
    if (size < 4 || !data) return ERROR_INVALID_PARAMETER;
    std::memcpy(&v.number, data, 4);
  } else {
    std::u16string text(size / sizeof(char16_t), 0);
    if (data && size) std::memcpy(text.data(), data, text.size() * sizeof(char16_t));
    while (!text.empty() && text.back() == 0) text.pop_back();
    v.text = text;
  }
  k.values[Lower(v.name)] = v;
  return SaveLocked(st) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  LoadLocked(st);
  auto k = st.keys.find(Lower(BasePath(key)));
  if (k == st.keys.end()) return ERROR_FILE_NOT_FOUND;
  if (!k->second.values.erase(Lower(platform::View(name)))) return ERROR_FILE_NOT_FOUND;
  return SaveLocked(st) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  std::u16string lower = Lower(Join(key, subKey));
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  LoadLocked(st);
  bool found = st.keys.erase(lower) > 0;
  std::u16string prefix = lower + u"\\";
  for (auto it = st.keys.lower_bound(prefix);
       it != st.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
    it = st.keys.erase(it);
    found = true;
  }
  if (!found) return ERROR_FILE_NOT_FOUND;
  return SaveLocked(st) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

namespace platform {

void SetRegistryPath(const std::string& path) {
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  st.path = path;
  st.loaded = false;
  st.keys.clear();
}

void ReloadRegistry() {
  auto& st = TheStore();
  std::lock_guard lock(st.mutex);
  st.loaded = false;
  st.keys.clear();
}

bool RegReadText(HKEY root, std::u16string_view subKey, std::u16string_view name,
                 std::u16string& value) {
  HKEY key = nullptr;
  std::u16string sub(subKey), nm(name);
  if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  bool ok = false;
  if (RegQueryValueExW(key, nm.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::u16string buf(size / sizeof(char16_t), 0);
    if (RegQueryValueExW(key, nm.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                         &size) == ERROR_SUCCESS) {
      while (!buf.empty() && buf.back() == 0) buf.pop_back();
      value = buf;
      ok = true;
    }
  }
  RegCloseKey(key);
  return ok;
}

bool RegWriteText(HKEY root, std::u16string_view subKey, std::u16string_view name,
                  std::u16string_view value) {
  HKEY key = nullptr;
  std::u16string sub(subKey), nm(name), val(value);
  if (RegCreateKeyExW(root, sub.c_str(), &key) != ERROR_SUCCESS) return false;
  LONG r = RegSetValueExW(key, nm.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(val.c_str()),
                          static_cast<DWORD>((val.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, std::u16string_view subKey) {
  HKEY key = nullptr;
  std::u16string sub(subKey);
  if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace platform
