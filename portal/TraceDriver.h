// The trace driver the component writes its trace records to, installed in
// the process under "\\.\Global\HVNDTF" when the configuration asks for it
// ([trace] enabled = true). It keeps one control block per registered
// module (session handle, enabled classes, level) and writes each record as
// one line of DIR/logs/trace.log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Device.h"

namespace portal {

class TraceDriver final : public platform::DeviceDriver {
 public:
  static constexpr DWORD kRegister = 0x222007;
  static constexpr DWORD kWrite = 0x22200F;

  // The control block as the component reads it: 16 bytes, level last.
  struct ControlBlock {
    std::uint64_t handle;
    std::uint32_t classes;
    std::uint8_t reserved[3];
    std::uint8_t level;
  };

  TraceDriver(std::filesystem::path logFile, std::uint32_t classes, std::uint8_t level);
  bool IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned, DWORD* error) override;

  // For tests: the lines written so far.
  std::vector<std::string> Lines();

 private:
  bool Register(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned, DWORD* error);
  bool Write(const void* in, DWORD inSize, DWORD* error);

  std::filesystem::path logFile_;
  std::uint32_t classes_;
  std::uint8_t level_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ControlBlock>> blocks_;
  std::vector<std::string> modules_;
  std::vector<std::string> lines_;
};

// Installs the driver when [trace] enabled = true; returns it (or null).
std::shared_ptr<TraceDriver> InstallTraceDriver(const std::filesystem::path& dataDir, bool enabled,
                                                std::uint32_t classes, std::uint8_t level);

}  // namespace portal
