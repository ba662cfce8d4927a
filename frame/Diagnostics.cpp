// The trace channel to the host's trace driver, and exception reports.
#include "frame/Diagnostics.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "host/HostKit.h"
#include "platform/Device.h"
#include "platform/Text.h"

namespace {

constexpr DWORD kFileAttributeNormal = 0x80;
constexpr DWORD kStatusUnsuccessful = 0xC0000001;
constexpr DWORD kStatusInvalidHandle = 0xC0000008;
constexpr DWORD kStatusNoMemory = 0xC0000017;
constexpr std::size_t kMaxArgumentBytes = 0x2000;
constexpr std::size_t kMaxDescriptorArgs = 8;
constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kDescriptorBytes = 16;
// WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_GUID_PTR | WNODE_FLAG_USE_MOF_PTR
constexpr DWORD kRecordFlags = 0x001A0000;

// The process-wide channel: opened once under g_openFlag.
std::atomic<long> g_openFlag{0};
std::atomic<HANDLE> g_device{nullptr};
std::atomic<const trace::ControlBlock*> g_block{nullptr};

// The register request's input: two pointers.
struct RegisterInput {
  const GUID* controlGuid;
  const char16_t* moduleName;
};

template <class T>
void Put(BYTE* at, T value) {
  std::memcpy(at, &value, sizeof(T));
}

ULONGLONG Address(const void* p) { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(p)); }

void PutDescriptor(BYTE* at, const void* data, std::size_t length) {
  Put<ULONGLONG>(at, Address(data));
  Put<ULONG>(at + 8, static_cast<ULONG>(length));
  Put<ULONG>(at + 12, 0);
}

void AppendText(std::vector<BYTE>& bytes, std::u16string_view text) {
  bytes.resize((text.size() + 1) * sizeof(char16_t));
  std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
  // the terminator is already zero
}

// The application object: created when the module loads, it opens the trace
// channel and writes the start-up message.
class CLumarestInboxApp {
 public:
  CLumarestInboxApp() { trace::TraceStartup(); }
};
CLumarestInboxApp theApp;

}  // namespace

namespace trace {

Arg::Arg(const char16_t* text) {
  if (!text)
    AppendText(bytes_, u"NULL");
  else if (!*text)
    AppendText(bytes_, u"<NULL>");
  else
    AppendText(bytes_, platform::View(text));
}

Arg::Arg(LONG number) : bytes_(sizeof(LONG)) { std::memcpy(bytes_.data(), &number, sizeof(LONG)); }

Arg::Arg(DWORD number) : bytes_(sizeof(DWORD)) { std::memcpy(bytes_.data(), &number, sizeof(DWORD)); }

void TraceOpen() {
  long expected = 0;
  if (!g_openFlag.compare_exchange_strong(expected, 1)) return;
  HANDLE device = CreateFileW(kDeviceName, 0, 0, nullptr, OPEN_EXISTING, kFileAttributeNormal, nullptr);
  if (device == INVALID_HANDLE_VALUE || !device) return;
  RegisterInput input{&kControlGuid, kModuleName};
  const ControlBlock* block = nullptr;
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(device, kRegisterRequest, &input, sizeof(input), &block, sizeof(block),
                            &returned, nullptr);
  if (!ok || !block) {
    CloseHandle(device);
    return;
  }
  g_device.store(device);
  g_block.store(block);
}

void TraceStartup() {
  TraceOpen();
  if (TraceEnabled(DTF_INFO)) TraceWrite(kStartupGuid, kMsgStartup, {});
}

bool TraceEnabled(DWORD classBit) {
  const ControlBlock* block = g_block.load();
  if (!block) return false;
  // The driver changes the block at any time: read each field afresh.
  const volatile ControlBlock* live = block;
  return live->handle != 0 && (live->enabledClasses & classBit) != 0 && live->level >= 1;
}

DWORD TraceWrite(const GUID& messageGuid, USHORT number, std::initializer_list<Arg> args) {
  std::size_t total = 0;
  for (const Arg& a : args) total += a.Bytes().size();
  if (total > kMaxArgumentBytes) return kStatusUnsuccessful;
  HANDLE device = g_device.load();
  const ControlBlock* block = g_block.load();
  if (!device || !block) return kStatusInvalidHandle;

  // Header, the message number's descriptor, then up to 8 argument
  // descriptors, or one descriptor over all argument bytes packed together.
  BYTE record[kHeaderBytes + kDescriptorBytes * (1 + kMaxDescriptorArgs)] = {};
  BYTE* packed = nullptr;
  std::size_t descriptors = 1;
  BYTE* at = record + kHeaderBytes;
  PutDescriptor(at, &number, sizeof(number));
  at += kDescriptorBytes;
  if (args.size() <= kMaxDescriptorArgs) {
    for (const Arg& a : args) {
      PutDescriptor(at, a.Bytes().data(), a.Bytes().size());
      at += kDescriptorBytes;
      ++descriptors;
    }
  } else {
    packed = static_cast<BYTE*>(std::malloc(total ? total : 1));
    if (!packed) return kStatusNoMemory;
    std::size_t offset = 0;
    for (const Arg& a : args) {
      std::memcpy(packed + offset, a.Bytes().data(), a.Bytes().size());
      offset += a.Bytes().size();
    }
    PutDescriptor(at, packed, total);
    ++descriptors;
  }

  const std::size_t size = kHeaderBytes + kDescriptorBytes * descriptors;
  Put<USHORT>(record + 0, static_cast<USHORT>(size));
  record[4] = 0xFF;  // Class.Type
  Put<ULONGLONG>(record + 8, static_cast<const volatile ControlBlock*>(block)->handle);
  Put<ULONGLONG>(record + 24, Address(&messageGuid));  // GuidPtr
  Put<ULONG>(record + 44, kRecordFlags);

  DWORD returned = 0;
  BOOL ok = DeviceIoControl(device, kWriteRequest, record, static_cast<DWORD>(size), nullptr, 0,
                            &returned, nullptr);
  DWORD status = ok ? 0 : GetLastError();
  std::free(packed);
  return status;
}

void TraceMessage(DWORD classBit, USHORT number, std::initializer_list<Arg> args) {
  if (TraceEnabled(classBit)) TraceWrite(kMessageGuid, number, args);
}

void TraceResetForTesting() {
  HANDLE device = g_device.exchange(nullptr);
  g_block.store(nullptr);
  if (device) CloseHandle(device);
  g_openFlag.store(0);
}

}  // namespace trace

void ReportException(const char* sourceFile, int line, int eventType, std::u16string_view text) {
  constexpr std::size_t kMaxText = 1024;
  std::u16string source = platform::Utf8ToUtf16(sourceFile ? sourceFile : "");
  VReportEvent(eventType, kExceptionEventId, line, source, text.substr(0, kMaxText));
}
