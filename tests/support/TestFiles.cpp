#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <fstream>
#include <random>

#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Text.h"

namespace testing_support {

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("lumarest-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TestInstall::TestInstall() {
  platform::SetRegistryPath((dir_.Path() / "registry.reg").string());
  std::filesystem::create_directories(dir_.Path() / "Bin");
  platform::RegWriteText(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ", u"Install",
                         platform::U16(dir_.Path().string() + "/"));
}

TestInstall::~TestInstall() { platform::SetRegistryPath((dir_.Path() / "gone.reg").string()); }

void TestInstall::WriteSatellite(const std::string& base, const std::string& code,
                                 const std::map<UINT, std::u16string>& strings) {
  platform::StringTable table(strings.begin(), strings.end());
  WriteSatelliteText(base, code, platform::WriteStringTable(table));
}

void TestInstall::WriteSatelliteText(const std::string& base, const std::string& code,
                                     const std::string& text) {
  std::ofstream out(dir_.Path() / "Bin" / (base + "_" + code + ".strings"), std::ios::binary);
  out << text;
}

}  // namespace testing_support
