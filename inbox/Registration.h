// The class registration the module writes under HKEY_CLASSES_ROOT.
#pragma once

#include <string>
#include <vector>

#include "platform/Registrar.h"

namespace inbox {
// The keys for a module installed at modulePath.
std::vector<platform::RegistrarKey> RegistrationKeys(const std::u16string& modulePath);
long ModuleLockCount();
}  // namespace inbox
