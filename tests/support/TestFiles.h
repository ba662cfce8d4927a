// Temporary folders, a private registry file per test, and satellite string
// tables installed where the component looks for them.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "platform/WinTypes.h"

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Points the registry at a fresh file in its own folder, with the install
// folder set; restores an empty registry afterwards.
class TestInstall {
 public:
  TestInstall();
  ~TestInstall();
  const std::filesystem::path& InstallDir() const { return dir_.Path(); }
  // Writes <install>/Bin/<base>_<code>.strings with the given entries.
  void WriteSatellite(const std::string& base, const std::string& code,
                      const std::map<UINT, std::u16string>& strings);
  void WriteSatelliteText(const std::string& base, const std::string& code, const std::string& text);

 private:
  TempDir dir_;
};

}  // namespace testing_support
