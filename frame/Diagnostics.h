// Diagnostics: the binary trace channel to the host's trace driver, and
// exception reports.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace trace {

// Trace classes, in bit order.
constexpr DWORD DTF_ERROR = 0x1;
constexpr DWORD DTF_INFO = 0x2;
constexpr DWORD DTF_PRIVATE = 0x4;
constexpr DWORD DTF_ENTRY = 0x8;
constexpr DWORD DTF_PROFILE = 0x10;

inline constexpr char16_t kDeviceName[] = u"\\\\.\\Global\\HVNDTF";
inline constexpr char16_t kModuleName[] = u"TALQ_LumarestInbox";
inline constexpr char16_t kClassList[] =
    u" DTF_ERROR DTF_INFO DTF_PRIVATE DTF_ENTRY DTF_PROFILE DTF_RESERVED5 DTF_RESERVED6 "
    u"DTF_RESERVED7 DTF_RESERVED8 DTF_RESERVED9 DTF_RESERVED10 DTF_RESERVED11";
constexpr DWORD kRegisterRequest = 0x222007;
constexpr DWORD kWriteRequest = 0x22200F;
// {526C00DD-DA6E-4B59-8CA1-E06664C3C818}
inline constexpr GUID kControlGuid = {0x526C00DD, 0xDA6E, 0x4B59, {0x8C, 0xA1, 0xE0, 0x66, 0x64, 0xC3, 0xC8, 0x18}};
// {72328F76-ECB1-01F2-7E36-2B3A3E43270D}
inline constexpr GUID kMessageGuid = {0x72328F76, 0xECB1, 0x01F2, {0x7E, 0x36, 0x2B, 0x3A, 0x3E, 0x43, 0x27, 0x0D}};
// {157545F8-41C5-F04B-4B4C-66AB4E763BD8}
inline constexpr GUID kStartupGuid = {0x157545F8, 0x41C5, 0xF04B, {0x4B, 0x4C, 0x66, 0xAB, 0x4E, 0x76, 0x3B, 0xD8}};

// Message numbers of the component's trace records. Fixed: the trace reader
// decodes a record's arguments by its number.
constexpr USHORT kMsgStartup = 10;  // of kStartupGuid, no arguments
constexpr USHORT kMsgNoResourceLibrary = 10;
constexpr USHORT kMsgActivation = 11;            // component, file name, options text
constexpr USHORT kMsgActivationFailed = 12;      // component, file name, options
constexpr USHORT kMsgAttachmentRefused = 13;     // path
constexpr USHORT kMsgGalLookupFailed = 14;       // name, HRESULT
constexpr USHORT kMsgNoActivationHost = 15;      // text
constexpr USHORT kMsgAttachmentCopyFailed = 16;  // text
constexpr USHORT kMsgUploadFailed = 17;          // text
constexpr USHORT kMsgNoActivationOptions = 18;   // component, encoded path, "true"

// The driver's control block, as the component reads it.
struct ControlBlock {
  ULONGLONG handle;  // 0 = no trace session
  DWORD enabledClasses;
  BYTE reserved[3];
  BYTE level;  // byte 15
};
static_assert(sizeof(ControlBlock) == 16);

// One trace argument: its bytes as sent. Texts are UTF-16 with the
// terminator; a null text is "NULL", an empty text "<NULL>"; numbers are 4 bytes.
class Arg {
 public:
  Arg(const char16_t* text);
  Arg(const std::u16string& text) : Arg(text.c_str()) {}
  Arg(LONG number);
  Arg(DWORD number);
  const std::vector<BYTE>& Bytes() const { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// Opens the device once per process and registers; no driver: tracing stays off.
// The register request's input is the control GUID's address and the module
// name's address, each a pointer (8 bytes on 32-bit builds, 16 on 64-bit);
// its output is one pointer, the driver's control block or 0.
void TraceOpen();
bool TraceEnabled(DWORD classBit);
// Start-up of the application object: opens the channel and, when DTF_INFO
// is enabled, writes message 10 of the start-up GUID without arguments.
void TraceStartup();
// Builds and sends one record; 0 on success, 0xC0000001 when the arguments
// exceed 8192 bytes, 0xC0000017 when memory runs out, 0xC0000008 when no
// channel is open, else the Win32 error of the failed write request.
DWORD TraceWrite(const GUID& messageGuid, USHORT number, std::initializer_list<Arg> args);
// Writes a component message when its class is enabled.
void TraceMessage(DWORD classBit, USHORT number, std::initializer_list<Arg> args);
// Forgets the channel (for tests that install and remove drivers).
void TraceResetForTesting();

}  // namespace trace

// Source name and event types of the component's event reports. Fixed: the
// host files the reports of every page method under this one source name
// and sorts them by type, whatever file the code lives in.
inline constexpr char kReportSource[] = "MyInbox";
constexpr int kEventException = 1;  // a caught exception or a failed step
constexpr int kEventNotice = 2;     // something the component corrected on its own
constexpr HRESULT kExceptionEventId = static_cast<HRESULT>(0xC0004005u);

// Reports an exception or failure through the host's event report.
void ReportException(const char* sourceFile, int line, int eventType, std::u16string_view text);
