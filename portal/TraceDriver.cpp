#include "portal/TraceDriver.h"

#include <cstring>
#include <fstream>

#include "platform/Guid.h"
#include "platform/Text.h"

namespace portal {

namespace {
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kDescriptorBytes = 16;

template <class T>
T ReadAt(const unsigned char* p, std::size_t offset) {
  T v;
  std::memcpy(&v, p + offset, sizeof v);
  return v;
}

// A UTF-16 text with its terminator shows as text, anything else as hex.
std::string ShowArgument(const unsigned char* data, std::uint32_t length) {
  if (length >= 2 && length % 2 == 0 && data[length - 2] == 0 && data[length - 1] == 0) {
    std::u16string text((length - 2) / 2, u'\0');
    std::memcpy(text.data(), data, length - 2);
    return "\"" + platform::U8(text) + "\"";
  }
  if (length == 4) return std::to_string(ReadAt<std::int32_t>(data, 0));
  static const char hex[] = "0123456789abcdef";
  std::string out = "0x";
  for (std::uint32_t i = 0; i < length && i < 64; ++i) {
    out.push_back(hex[data[i] >> 4]);
    out.push_back(hex[data[i] & 15]);
  }
  return out;
}
}  // namespace

TraceDriver::TraceDriver(std::filesystem::path logFile, std::uint32_t classes, std::uint8_t level)
    : logFile_(std::move(logFile)), classes_(classes), level_(level) {}

bool TraceDriver::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                            DWORD* returned, DWORD* error) {
  if (returned) *returned = 0;
  if (code == kRegister) return Register(in, inSize, out, outSize, returned, error);
  if (code == kWrite) return Write(in, inSize, error);
  if (error) *error = kErrorInvalidParameter;
  return false;
}

bool TraceDriver::Register(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                           DWORD* error) {
  // Input: a pointer to the control GUID and a pointer to the module name.
  if (!in || inSize < 2 * sizeof(void*)) {
    if (error) *error = kErrorInvalidParameter;
    return false;
  }
  if (!out || outSize < sizeof(void*)) {
    if (error) *error = kErrorInsufficientBuffer;
    return false;
  }
  const GUID* control = nullptr;
  const char16_t* module = nullptr;
  std::memcpy(&control, in, sizeof(void*));
  std::memcpy(&module, static_cast<const char*>(in) + sizeof(void*), sizeof(void*));
  std::lock_guard lock(mutex_);
  auto block = std::make_unique<ControlBlock>();
  block->handle = blocks_.size() + 1;
  block->classes = classes_;
  std::memset(block->reserved, 0, sizeof block->reserved);
  block->level = level_;
  ControlBlock* p = block.get();
  std::memcpy(out, &p, sizeof(void*));
  if (returned) *returned = sizeof(void*);
  std::string name = module ? platform::U8(platform::View(module)) : "";
  modules_.push_back(name);
  blocks_.push_back(std::move(block));
  std::string line = "register module=" + name + " control=" +
                     (control ? platform::U8(platform::GuidToString(*control)) : "null") +
                     " handle=" + std::to_string(p->handle);
  lines_.push_back(line);
  std::ofstream(logFile_, std::ios::app) << line << "\n";
  return true;
}

bool TraceDriver::Write(const void* in, DWORD inSize, DWORD* error) {
  const auto* rec = static_cast<const unsigned char*>(in);
  if (!rec || inSize < kHeaderBytes) {
    if (error) *error = kErrorInvalidParameter;
    return false;
  }
  std::uint16_t size = ReadAt<std::uint16_t>(rec, 0);
  if (size < kHeaderBytes || size > inSize || (size - kHeaderBytes) % kDescriptorBytes) {
    if (error) *error = kErrorInvalidParameter;
    return false;
  }
  std::uint64_t handle = ReadAt<std::uint64_t>(rec, 8);
  const GUID* guid = reinterpret_cast<const GUID*>(ReadAt<std::uintptr_t>(rec, 24));
  std::size_t count = (size - kHeaderBytes) / kDescriptorBytes;
  std::string line = "trace handle=" + std::to_string(handle) + " message=" +
                     (guid ? platform::U8(platform::GuidToString(*guid)) : "null");
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* d = rec + kHeaderBytes + i * kDescriptorBytes;
    const auto* data = reinterpret_cast<const unsigned char*>(ReadAt<std::uintptr_t>(d, 0));
    std::uint32_t length = ReadAt<std::uint32_t>(d, 8);
    if (!data && length) continue;
    if (i == 0 && length == 2)
      line += " number=" + std::to_string(ReadAt<std::uint16_t>(data, 0));
    else
      line += " " + ShowArgument(data, length);
  }
  std::lock_guard lock(mutex_);
  lines_.push_back(line);
  std::ofstream(logFile_, std::ios::app) << line << "\n";
  return true;
}

std::vector<std::string> TraceDriver::Lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::shared_ptr<TraceDriver> InstallTraceDriver(const std::filesystem::path& dataDir, bool enabled,
                                                std::uint32_t classes, std::uint8_t level) {
  if (!enabled) return nullptr;
  auto driver = std::make_shared<TraceDriver>(dataDir / "logs" / "trace.log", classes, level);
  platform::InstallDevice(u"\\\\.\\Global\\HVNDTF", driver);
  return driver;
}

}  // namespace portal
