// The trace channel against a test driver, byte for byte, and the
// exception and COM-error reports.
#include "frame/Diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/Exceptions.h"
#include "tests/frame/TraceDriver.h"
#include "tests/support/RecordingHost.h"

namespace {

using frame_tests::TraceChannel;
using frame_tests::TraceDriver;
using frame_tests::TraceRecord;

std::vector<BYTE> Text(std::u16string_view t) {
  std::vector<BYTE> b((t.size() + 1) * 2, 0);
  std::memcpy(b.data(), t.data(), t.size() * 2);
  return b;
}

std::vector<BYTE> Number(std::uint32_t n) {
  std::vector<BYTE> b(4);
  std::memcpy(b.data(), &n, 4);
  return b;
}

// The record's header and descriptors as they must be, the pointers taken
// from the record itself (their targets are checked through the driver's copies).
std::vector<BYTE> ExpectedRaw(const TraceRecord& r, ULONGLONG handle, const GUID* guid) {
  std::size_t descriptors = r.data.size();
  std::vector<BYTE> e(48 + 16 * descriptors, 0);
  USHORT size = static_cast<USHORT>(e.size());
  std::memcpy(&e[0], &size, 2);
  e[4] = 0xFF;
  std::memcpy(&e[8], &handle, 8);
  ULONGLONG guidPtr = reinterpret_cast<std::uintptr_t>(guid);
  std::memcpy(&e[24], &guidPtr, 8);
  ULONG flags = 0x001A0000;
  std::memcpy(&e[44], &flags, 4);
  for (std::size_t i = 0; i < descriptors; ++i) {
    std::size_t at = 48 + 16 * i;
    if (r.raw.size() >= at + 8) std::memcpy(&e[at], &r.raw[at], 8);  // data pointer
    ULONG length = static_cast<ULONG>(r.data[i].size());
    std::memcpy(&e[at + 8], &length, 4);
  }
  return e;
}

TEST(TraceChannelTest, NoDriverNothingIsSentAndNothingIsEnabled) {
  trace::TraceResetForTesting();
  platform::RemoveDevice(trace::kDeviceName);
  trace::TraceOpen();
  for (DWORD bit : {trace::DTF_ERROR, trace::DTF_INFO, trace::DTF_PRIVATE, trace::DTF_ENTRY, trace::DTF_PROFILE})
    EXPECT_FALSE(trace::TraceEnabled(bit));
  // A driver that turns up later is not used: the channel opens once.
  auto driver = std::make_shared<TraceDriver>();
  platform::InstallDevice(trace::kDeviceName, driver);
  trace::TraceOpen();
  trace::TraceMessage(trace::DTF_ERROR, 12, {u"text"});
  EXPECT_EQ(0xC0000008u, trace::TraceWrite(trace::kMessageGuid, 12, {}));
  EXPECT_EQ(0, driver->registerRequests);
  EXPECT_TRUE(driver->records.empty());
  trace::TraceResetForTesting();
  platform::RemoveDevice(trace::kDeviceName);
}

TEST(TraceChannelTest, RegistersOnceWithTheControlGuidAndModuleName) {
  TraceChannel channel;
  auto& d = channel.Driver();
  trace::TraceOpen();
  trace::TraceOpen();
  EXPECT_EQ(1, d.registerRequests);
  EXPECT_EQ(trace::kControlGuid, d.registeredGuid);
  EXPECT_EQ(u"TALQ_LumarestInbox", d.registeredName);
  EXPECT_TRUE(trace::TraceEnabled(trace::DTF_ERROR));
}

TEST(TraceChannelTest, RefusedOrEmptyRegistrationKeepsTracingOff) {
  for (bool refuse : {true, false}) {
    auto driver = std::make_shared<TraceDriver>();
    driver->refuseRegister = refuse;
    driver->answerNull = !refuse;
    TraceChannel channel(driver);
    EXPECT_EQ(1, driver->registerRequests);
    EXPECT_FALSE(trace::TraceEnabled(trace::DTF_ERROR));
    trace::TraceMessage(trace::DTF_ERROR, 12, {});
    EXPECT_TRUE(driver->records.empty());
  }
}

TEST(TraceChannelTest, EnabledTestReadsTheLiveControlBlock) {
  TraceChannel channel;
  auto& block = channel.Driver().block;
  EXPECT_TRUE(trace::TraceEnabled(trace::DTF_ERROR));
  EXPECT_TRUE(trace::TraceEnabled(trace::DTF_INFO));
  EXPECT_FALSE(trace::TraceEnabled(trace::DTF_PRIVATE));
  block.level = 0;
  EXPECT_FALSE(trace::TraceEnabled(trace::DTF_ERROR));
  block.level = 1;
  EXPECT_TRUE(trace::TraceEnabled(trace::DTF_ERROR));
  block.handle = 0;
  EXPECT_FALSE(trace::TraceEnabled(trace::DTF_ERROR));
  block.handle = 7;
  block.enabledClasses = trace::DTF_PROFILE;
  EXPECT_FALSE(trace::TraceEnabled(trace::DTF_ERROR));
  EXPECT_TRUE(trace::TraceEnabled(trace::DTF_PROFILE));
}

TEST(TraceRecordTest, ArgumentEncodings) {
  TraceChannel channel;
  channel.Driver().block.handle = 0x0102030405060708ULL;
  EXPECT_EQ(0u, trace::TraceWrite(trace::kMessageGuid, 14,
                                  {u"Smith", static_cast<const char16_t*>(nullptr), u"", LONG{-2},
                                   DWORD{0x80004005u}}));
  ASSERT_EQ(1u, channel.Driver().records.size());
  const auto& r = channel.Driver().records[0];
  ASSERT_EQ(6u, r.data.size());
  EXPECT_EQ(ExpectedRaw(r, 0x0102030405060708ULL, &trace::kMessageGuid), r.raw);
  EXPECT_EQ((std::vector<BYTE>{14, 0}), r.data[0]);
  EXPECT_EQ(Text(u"Smith"), r.data[1]);
  EXPECT_EQ(Text(u"NULL"), r.data[2]);
  EXPECT_EQ(Text(u"<NULL>"), r.data[3]);
  EXPECT_EQ(Number(0xFFFFFFFEu), r.data[4]);
  EXPECT_EQ(Number(0x80004005u), r.data[5]);
}

TEST(TraceRecordTest, EightArgumentsEachGetADescriptor) {
  TraceChannel channel;
  trace::TraceWrite(trace::kMessageGuid, 15,
                    {LONG{1}, LONG{2}, LONG{3}, LONG{4}, LONG{5}, LONG{6}, LONG{7}, u"eight"});
  const auto& r = channel.Driver().records.at(0);
  ASSERT_EQ(48u + 16u * 9u, r.raw.size());
  EXPECT_EQ(ExpectedRaw(r, 0x1122334455667788ULL, &trace::kMessageGuid), r.raw);
  EXPECT_EQ(Number(7), r.data[7]);
  EXPECT_EQ(Text(u"eight"), r.data[8]);
}

TEST(TraceRecordTest, NineArgumentsArePackedIntoOneDescriptor) {
  TraceChannel channel;
  trace::TraceWrite(trace::kMessageGuid, 16,
                    {LONG{1}, LONG{2}, LONG{3}, LONG{4}, LONG{5}, LONG{6}, LONG{7}, u"ab", LONG{9}});
  const auto& r = channel.Driver().records.at(0);
  ASSERT_EQ(80u, r.raw.size());
  EXPECT_EQ(ExpectedRaw(r, 0x1122334455667788ULL, &trace::kMessageGuid), r.raw);
  std::vector<BYTE> packed;
  auto append = [&packed](const std::vector<BYTE>& b) { packed.insert(packed.end(), b.begin(), b.end()); };
  for (std::uint32_t n = 1; n <= 7; ++n) append(Number(n));
  append(Text(u"ab"));
  append(Number(9));
  EXPECT_EQ((std::vector<BYTE>{16, 0}), r.data[0]);
  EXPECT_EQ(packed, r.data[1]);
}

TEST(TraceRecordTest, MoreThan8192ArgumentBytesAreRefused) {
  TraceChannel channel;
  std::u16string fits(4095, u'x');  // 8190 + 2 = 8192 bytes
  EXPECT_EQ(0u, trace::TraceWrite(trace::kMessageGuid, 13, {fits}));
  std::u16string tooLong(4096, u'x');
  EXPECT_EQ(0xC0000001u, trace::TraceWrite(trace::kMessageGuid, 13, {tooLong}));
  EXPECT_EQ(0xC0000001u, trace::TraceWrite(trace::kMessageGuid, 13, {fits, LONG{1}}));
  ASSERT_EQ(1u, channel.Driver().records.size());
  EXPECT_EQ(8192u, channel.Driver().records[0].data[1].size());
}

TEST(TraceRecordTest, MessagesFollowTheirClassAndStartupUsesItsOwnGuid) {
  TraceChannel channel;
  auto& d = channel.Driver();
  d.block.enabledClasses = trace::DTF_INFO;
  trace::TraceMessage(trace::DTF_ERROR, 12, {u"x"});
  EXPECT_TRUE(d.records.empty());
  trace::TraceMessage(trace::DTF_INFO, 13, {u"x"});
  ASSERT_EQ(1u, d.records.size());
  EXPECT_EQ(trace::kMessageGuid, d.records[0].guid);

  // Start-up: message 10 of the start-up GUID, only when DTF_INFO is on.
  trace::TraceResetForTesting();
  trace::TraceStartup();
  ASSERT_EQ(2u, d.records.size());
  const auto& s = d.records[1];
  EXPECT_EQ(trace::kStartupGuid, s.guid);
  EXPECT_EQ(ExpectedRaw(s, 0x1122334455667788ULL, &trace::kStartupGuid), s.raw);
  EXPECT_EQ((std::vector<BYTE>{10, 0}), s.data.at(0));
  EXPECT_EQ(1u, s.data.size());
  trace::TraceResetForTesting();
  d.block.enabledClasses = trace::DTF_ERROR;
  trace::TraceStartup();
  EXPECT_EQ(2u, d.records.size());
}

TEST(ReportTest, ExceptionReportShape) {
  testing_support::RecordingHost host;
  hostkit::HostScope scope(&host);
  ReportException("MyInbox", 412, 1, u"Out of memory.");
  std::u16string longText(3000, u'e');
  ReportException("frame/Session.cpp", 7, 2, longText);
  ASSERT_EQ(2u, host.events.size());
  EXPECT_EQ(1, host.events[0].type);
  EXPECT_EQ(static_cast<HRESULT>(0xC0004005u), host.events[0].eventId);
  EXPECT_EQ(412, host.events[0].line);
  EXPECT_EQ(u"MyInbox", host.events[0].source);
  EXPECT_EQ(u"Out of memory.", host.events[0].text);
  EXPECT_EQ(2, host.events[1].type);
  EXPECT_EQ(u"frame/Session.cpp", host.events[1].source);
  EXPECT_EQ(1024u, host.events[1].text.size());
}

TEST(ReportTest, ComErrorTexts) {
  EXPECT_EQ(u"Class not registered", CComError(REGDB_E_CLASSNOTREG).ErrorMessage());
  EXPECT_EQ(u"IDispatch error #65023", CComError(static_cast<HRESULT>(0x8004FFFFu)).ErrorMessage());
  EXPECT_EQ(u"Unknown error 0x80990001", CComError(static_cast<HRESULT>(0x80990001u)).ErrorMessage());
}

}  // namespace
