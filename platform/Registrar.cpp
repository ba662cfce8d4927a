#include "platform/Registrar.h"

namespace platform {

namespace {
HRESULT WriteKey(HKEY root, const std::u16string& parent, const RegistrarKey& key) {
  std::u16string path = parent.empty() ? key.name : parent + u"\\" + key.name;
  if (key.forceRemove) RegDeleteTreeW(root, path.c_str());
  HKEY h = nullptr;
  LONG r = RegCreateKeyExW(root, path.c_str(), &h);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
  auto set = [&](const std::u16string& name, const std::u16string& text) {
    return RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  };
  if (key.hasDefault) r = set(u"", key.defaultValue);
  for (const auto& v : key.values)
    if (r == ERROR_SUCCESS) r = set(v.name, v.text);
  RegCloseKey(h);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
  for (const auto& child : key.children) {
    HRESULT hr = WriteKey(root, path, child);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void RemoveKey(HKEY root, const std::u16string& parent, const RegistrarKey& key) {
  std::u16string path = parent.empty() ? key.name : parent + u"\\" + key.name;
  if (key.noRemove) {
    for (const auto& child : key.children) RemoveKey(root, path, child);
    return;
  }
  RegDeleteTreeW(root, path.c_str());
}
}  // namespace

HRESULT RegistrarRegister(HKEY root, const std::vector<RegistrarKey>& keys) {
  for (const auto& k : keys) {
    HRESULT hr = WriteKey(root, u"", k);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT RegistrarUnregister(HKEY root, const std::vector<RegistrarKey>& keys) {
  for (const auto& k : keys) RemoveKey(root, u"", k);
  return S_OK;
}

}  // namespace platform
