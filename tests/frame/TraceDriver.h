// A trace driver for tests: answers the register request with its own
// control block and keeps a copy of every record written, with the bytes
// that each descriptor pointed at while the request ran.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

#include "frame/Diagnostics.h"
#include "platform/Device.h"

namespace frame_tests {

struct TraceRecord {
  std::vector<BYTE> raw;  // header and descriptors as sent
  GUID guid{};            // what GuidPtr pointed at
  std::vector<std::vector<BYTE>> data;  // what each descriptor pointed at
  // Argument i read as a terminated UTF-16 text, or as a 32-bit number.
  std::u16string Text(std::size_t i) const {
    return std::u16string(reinterpret_cast<const char16_t*>(data.at(i).data()), data.at(i).size() / 2 - 1);
  }
  LONG Number(std::size_t i) const {
    LONG n = 0;
    std::memcpy(&n, data.at(i).data(), std::min(sizeof n, data.at(i).size()));
    return n;
  }
};

class TraceDriver : public platform::DeviceDriver {
 public:
  trace::ControlBlock block{0x1122334455667788ULL, trace::DTF_ERROR | trace::DTF_INFO, {0, 0, 0}, 5};
  bool refuseRegister = false;
  bool answerNull = false;
  std::vector<TraceRecord> records;
  int registerRequests = 0;
  GUID registeredGuid{};
  std::u16string registeredName;

  bool IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned, DWORD* error) override {
    *returned = 0;
    if (code == trace::kRegisterRequest) {
      ++registerRequests;
      if (refuseRegister || inSize != 2 * sizeof(void*) || outSize != sizeof(void*)) {
        *error = 87;
        return false;
      }
      const GUID* guid;
      const char16_t* name;
      std::memcpy(&guid, in, sizeof(void*));
      std::memcpy(&name, static_cast<const BYTE*>(in) + sizeof(void*), sizeof(void*));
      registeredGuid = *guid;
      registeredName = name;
      const trace::ControlBlock* answer = answerNull ? nullptr : &block;
      std::memcpy(out, &answer, sizeof(void*));
      *returned = sizeof(void*);
      return true;
    }
    if (code == trace::kWriteRequest) {
      TraceRecord r;
      const BYTE* bytes = static_cast<const BYTE*>(in);
      r.raw.assign(bytes, bytes + inSize);
      ULONGLONG guidPtr;
      std::memcpy(&guidPtr, bytes + 24, 8);
      std::memcpy(&r.guid, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(guidPtr)),
                  sizeof(GUID));
      for (std::size_t at = 48; at + 16 <= inSize; at += 16) {
        ULONGLONG ptr;
        ULONG length;
        std::memcpy(&ptr, bytes + at, 8);
        std::memcpy(&length, bytes + at + 8, 4);
        const BYTE* p = reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(ptr));
        r.data.emplace_back(p, p + length);
      }
      records.push_back(std::move(r));
      return true;
    }
    *error = 1;
    return false;
  }
};

// Installs a driver under the trace device's name and opens the channel;
// removes both afterwards.
class TraceChannel {
 public:
  explicit TraceChannel(std::shared_ptr<TraceDriver> driver = std::make_shared<TraceDriver>())
      : driver_(std::move(driver)) {
    trace::TraceResetForTesting();
    platform::InstallDevice(trace::kDeviceName, driver_);
    trace::TraceOpen();
  }
  ~TraceChannel() {
    trace::TraceResetForTesting();
    platform::RemoveDevice(trace::kDeviceName);
  }
  TraceDriver& Driver() { return *driver_; }

 private:
  std::shared_ptr<TraceDriver> driver_;
};

}  // namespace frame_tests
