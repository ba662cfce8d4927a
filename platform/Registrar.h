// Writes and removes a tree of registry keys the way a registrar script
// describes it: ForceRemove keys are deleted before they are written,
// NoRemove keys survive unregistration (only what is below them goes).
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace platform {

struct RegistrarValue {
  std::u16string name;  // "" is the key's default value
  std::u16string text;
};

struct RegistrarKey {
  std::u16string name;
  bool forceRemove = false;
  bool noRemove = false;
  bool hasDefault = false;
  std::u16string defaultValue;
  std::vector<RegistrarValue> values;
  std::vector<RegistrarKey> children;
};

// Returns S_OK or the failing registry code as an HRESULT.
HRESULT RegistrarRegister(HKEY root, const std::vector<RegistrarKey>& keys);
HRESULT RegistrarUnregister(HKEY root, const std::vector<RegistrarKey>& keys);

}  // namespace platform
