// Attachment download: SaveAttachment into a file, GetAttachment and
// GetAttachment2 into a byte-array VARIANT.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/mailbox/MailboxFixture.h"

namespace {

using namespace mailbox_testing;
namespace fs = std::filesystem;

std::vector<BYTE> Bytes(std::size_t n, unsigned seed = 7) {
  std::vector<BYTE> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>((i * 31 + seed) & 0xFF);
  return v;
}

std::vector<BYTE> FileBytes(const fs::path& p) {
  std::error_code ec;
  const auto size = fs::file_size(p, ec);
  if (ec) return {};
  std::vector<BYTE> bytes(size);
  std::ifstream in(p, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::u16string Path16(const fs::path& p) { return platform::U16(p.string()); }

class DownloadTest : public MailboxTest {
 protected:
  testing_support::TempDir dir;

  // Message n with attachments numbered ids, each serving the given bytes.
  void AddAttachments(std::uint32_t n, std::vector<LONG> ids, std::vector<BYTE> bytes) {
    auto& m = AddMessage(n);
    for (LONG id : ids) m.attachments.push_back({id, u"C:\\files\\file" + platform::U16(std::to_string(id))});
    m.attachmentBytes = std::move(bytes);
  }
  std::u16string AttachmentCall(std::uint32_t n, int id) const {
    return u"InboxAttachment(" + folder + u"," + MessageIdText(n) + u"," +
           platform::U16(std::to_string(id)) + u")";
  }
};

class SaveAttachmentTest : public DownloadTest {
 protected:
  HRESULT Save(const std::u16string& path, const char16_t* argGuid = u"", const char16_t* argAttach = u"") {
    return inbox->SaveAttachment(CComBSTR(u""), CComBSTR(u""), CComBSTR(argGuid), CComBSTR(argAttach),
                                 CComBSTR(u"ZmlsZQ--"), CComBSTR(path));
  }
};

TEST_F(SaveAttachmentTest, QueryKeysNameTheAttachmentNotTheArguments) {
  AddAttachments(1, {2, 5}, Bytes(1000));
  AddAttachments(9, {5}, Bytes(10, 99));
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"2"}});
  const fs::path out = dir / "out.bin";
  EXPECT_EQ(S_OK, Save(Path16(out), MessageIdText(9).c_str(), u"5"));
  EXPECT_EQ(std::vector<std::u16string>{AttachmentCall(1, 2)}, box->calls);
  EXPECT_EQ(Bytes(1000), FileBytes(out));
  // Nothing goes to the page.
  EXPECT_EQ(u"", host.Body());
  EXPECT_TRUE(target->calls.empty());
}

TEST_F(SaveAttachmentTest, ReplacesAnExistingFile) {
  AddAttachments(1, {0}, Bytes(10));
  const fs::path out = dir / "existing.bin";
  { std::ofstream(out, std::ios::binary) << std::string(5000, 'x'); }
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"0"}});
  EXPECT_EQ(S_OK, Save(Path16(out)));
  EXPECT_EQ(Bytes(10), FileBytes(out));
}

TEST_F(SaveAttachmentTest, ZeroByteAttachmentLeavesAnEmptyFile) {
  AddAttachments(1, {1}, {});
  const fs::path out = dir / "empty.bin";
  { std::ofstream(out, std::ios::binary) << "old content"; }
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"1"}});
  EXPECT_EQ(S_OK, Save(Path16(out)));
  ASSERT_TRUE(fs::exists(out));
  EXPECT_EQ(0u, fs::file_size(out));
}

TEST_F(SaveAttachmentTest, LargeAttachmentIsWrittenWhole) {
  const std::size_t kSize = 64u << 20;
  const std::vector<BYTE> expected = Bytes(kSize);
  AddAttachments(1, {1}, expected);
  const fs::path out = dir / "large.bin";
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"1"}});
  EXPECT_EQ(S_OK, Save(Path16(out)));
  EXPECT_TRUE(expected == FileBytes(out));
}

TEST_F(SaveAttachmentTest, AttachIdTakesLeadingDigitsOnly) {
  AddAttachments(1, {0, 12}, Bytes(3));
  const std::pair<const char16_t*, int> cases[] = {{u"12abc", 12}, {u"abc", 0}, {u"", 0}, {u" 12", 12}};
  for (auto [text, number] : cases) {
    box->calls.clear();
    SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", text}});
    EXPECT_EQ(S_OK, Save(Path16(dir / "a.bin"))) << platform::U8(text);
    EXPECT_EQ(std::vector<std::u16string>{AttachmentCall(1, number)}, box->calls) << platform::U8(text);
  }
}

TEST_F(SaveAttachmentTest, GuidThatDoesNotParseReturnsTheParseFailure) {
  AddAttachments(1, {1}, Bytes(3));
  GUID unused;
  for (const std::u16string& bad : {BareIdText(1), MessageIdText(1) + u"junk", std::u16string(u"{}")}) {
    SetQuery({{u"Guid", bad}, {u"AttachID", u"1"}});
    const HRESULT parse = IIDFromString(bad.c_str(), &unused);
    ASSERT_TRUE(FAILED(parse));
    EXPECT_EQ(parse, Save(Path16(dir / "x.bin"), MessageIdText(1).c_str(), u"1")) << platform::U8(bad);
  }
  EXPECT_FALSE(fs::exists(dir / "x.bin"));
  EXPECT_EQ(0, host.connectionRequests);
  // The policy is not even asked.
  EXPECT_TRUE(host.policyKeys.empty());
}

TEST_F(SaveAttachmentTest, RefusedPolicyOrFailedSetUpSucceedsWithoutAFile) {
  AddAttachments(1, {1}, Bytes(3));
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"1"}});
  host.policyAllows = false;
  EXPECT_EQ(S_OK, Save(Path16(dir / "p.bin")));
  host.policyAllows = true;
  host.mailConfigured = false;
  EXPECT_EQ(S_OK, Save(Path16(dir / "p.bin")));
  EXPECT_FALSE(fs::exists(dir / "p.bin"));
  EXPECT_TRUE(box->calls.empty());
}

TEST_F(SaveAttachmentTest, LibraryFailureIsReturnedWithoutAFile) {
  AddAttachments(1, {1}, Bytes(3));
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"4"}});  // no attachment 4
  EXPECT_EQ(MAPI_E_NOT_FOUND, Save(Path16(dir / "f.bin")));
  box->attachmentResult = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, Save(Path16(dir / "f.bin")));
  EXPECT_FALSE(fs::exists(dir / "f.bin"));
}

TEST_F(SaveAttachmentTest, UnopenableFileGivesTheWin32Error) {
  AddAttachments(1, {1}, Bytes(3));
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"1"}});
  // A missing folder: ERROR_PATH_NOT_FOUND.
  EXPECT_EQ(static_cast<HRESULT>(0x80070003), Save(Path16(dir / "missing" / "f.bin")));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  // An empty name.
  EXPECT_EQ(static_cast<HRESULT>(0x80070003), Save(u""));
  // A folder in place of the file: ERROR_ACCESS_DENIED.
  fs::create_directory(dir / "folder");
  EXPECT_EQ(static_cast<HRESULT>(0x80070005), Save(Path16(dir / "folder")));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

TEST_F(SaveAttachmentTest, ReadOnlyFolderGivesAccessDenied) {
  AddAttachments(1, {1}, Bytes(3));
  SetQuery({{u"Guid", MessageIdText(1)}, {u"AttachID", u"1"}});
  fs::create_directory(dir / "ro");
  fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  fs::path denied = dir / "ro" / "f.bin";
  if (std::FILE* probe = std::fopen(denied.c_str(), "wb")) {
    // Running with rights that ignore folder modes (root): use a folder no one may create in.
    std::fclose(probe);
    fs::remove(denied);
    denied = "/sys/kernel/lumarest-denied.bin";
    std::FILE* second = std::fopen(denied.c_str(), "wb");
    const int err = errno;
    if (second) std::fclose(second);
    if (second || err != EACCES) GTEST_SKIP() << "no folder here refuses file creation";
  }
  EXPECT_EQ(static_cast<HRESULT>(0x80070005), Save(Path16(denied)));
  EXPECT_FALSE(fs::exists(denied));
  fs::permissions(dir / "ro", fs::perms::owner_all);
}

class GetAttachmentTest : public DownloadTest {
 protected:
  CComVariant result;
  HRESULT Get(const char16_t* key, std::u16string id, const char16_t* attach) {
    result.Clear();
    return inbox->GetAttachment(CComBSTR(key), CComBSTR(u"store"), CComBSTR(u"folder"),
                                CComBSTR(id), CComBSTR(attach), CComBSTR(u"name"), &result);
  }
  HRESULT Get2(const char16_t* key, const char16_t* ticket, std::u16string id, const char16_t* attach) {
    result.Clear();
    return inbox->GetAttachment2(CComBSTR(key), ticket ? CComBSTR(ticket) : CComBSTR(), CComBSTR(u"store"),
                                 CComBSTR(u"folder"), CComBSTR(id), CComBSTR(attach), CComBSTR(u"name"),
                                 &result);
  }
  std::vector<BYTE> Result() {
    EXPECT_EQ(VT_ARRAY | VT_UI1, result.vt);
    if (result.vt != (VT_ARRAY | VT_UI1)) return {};
    SAFEARRAY* sa = result.parray;
    EXPECT_EQ(1u, SafeArrayGetDim(sa));
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(sa, &vt);
    EXPECT_EQ(VT_UI1, vt);
    LONG lower = -1, upper = -2;
    SafeArrayGetLBound(sa, 1, &lower);
    SafeArrayGetUBound(sa, 1, &upper);
    EXPECT_EQ(0, lower);
    EXPECT_EQ(0u, sa->cLocks);
    void* data = nullptr;
    SafeArrayAccessData(sa, &data);
    std::vector<BYTE> bytes(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + (upper - lower + 1));
    SafeArrayUnaccessData(sa);
    return bytes;
  }
};

TEST_F(GetAttachmentTest, ReturnsTheBytesAsAByteVector) {
  AddAttachments(1, {3}, Bytes(4096));
  EXPECT_EQ(S_OK, Get(u"key-1", MessageIdText(1), u"3"));
  EXPECT_EQ(Bytes(4096), Result());
  const std::vector<std::u16string> expected{u"InitializeUserCredentials(key-1,)", AttachmentCall(1, 3)};
  EXPECT_EQ(expected, box->calls);
  // The given key is what the policy is asked about; the session's is not consulted.
  EXPECT_EQ(std::vector<std::u16string>{u"key-1"}, host.policyKeys);
  EXPECT_EQ(0, std::count(host.calls.begin(), host.calls.end(), "GetMasterSessionID"));
  EXPECT_EQ(u"", host.Body());
  EXPECT_TRUE(target->calls.empty());
}

TEST_F(GetAttachmentTest, TicketIsPassedWithTheKey) {
  AddAttachments(1, {3}, Bytes(8));
  EXPECT_EQ(S_OK, Get2(u"key-1", u"ticket-9", MessageIdText(1), u"3"));
  EXPECT_EQ(Bytes(8), Result());
  EXPECT_EQ(u"InitializeUserCredentials(key-1,ticket-9)", box->calls.at(0));
}

TEST_F(GetAttachmentTest, EmptyTicketBehavesAsGetAttachment) {
  AddAttachments(1, {3}, Bytes(20));
  EXPECT_EQ(S_OK, Get(u"key-1", MessageIdText(1), u"3"));
  const std::vector<BYTE> first = Result();
  const auto firstCalls = box->calls;
  for (const char16_t* ticket : {u"", static_cast<const char16_t*>(nullptr)}) {
    box->calls.clear();
    EXPECT_EQ(S_OK, Get2(u"key-1", ticket, MessageIdText(1), u"3"));
    EXPECT_EQ(first, Result());
    EXPECT_EQ(firstCalls, box->calls);
  }
}

TEST_F(GetAttachmentTest, ZeroByteAttachmentGivesAnEmptyVector) {
  AddAttachments(1, {1}, {});
  EXPECT_EQ(S_OK, Get(u"key", MessageIdText(1), u"1"));
  EXPECT_TRUE(Result().empty());
  EXPECT_EQ(S_OK, Get2(u"key", u"t", MessageIdText(1), u"1"));
  EXPECT_TRUE(Result().empty());
}

TEST_F(GetAttachmentTest, LargeAttachmentIsCopiedWhole) {
  const std::size_t kSize = 64u << 20;
  const std::vector<BYTE> expected = Bytes(kSize, 3);
  AddAttachments(1, {1}, expected);
  EXPECT_EQ(S_OK, Get2(u"key", u"t", MessageIdText(1), u"1"));
  EXPECT_TRUE(expected == Result());
}

TEST_F(GetAttachmentTest, AttachIdTakesLeadingDigitsOnly) {
  AddAttachments(1, {0, 12}, Bytes(2));
  EXPECT_EQ(S_OK, Get(u"k", MessageIdText(1), u"12abc"));
  EXPECT_EQ(S_OK, Get(u"k", MessageIdText(1), u"abc"));
  EXPECT_EQ(AttachmentCall(1, 12), box->calls.at(1));
  EXPECT_EQ(AttachmentCall(1, 0), box->calls.at(3));
}

TEST_F(GetAttachmentTest, FailuresLeaveTheResultEmpty) {
  AddAttachments(1, {1}, Bytes(2));
  // Identifier without braces, or with junk: nothing else happens.
  EXPECT_EQ(S_OK, Get(u"k", BareIdText(1), u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  EXPECT_EQ(S_OK, Get2(u"k", u"t", MessageIdText(1) + u"}", u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  EXPECT_TRUE(host.policyKeys.empty());
  EXPECT_EQ(0, host.connectionRequests);

  // A refused key.
  EXPECT_EQ(S_OK, Get(u"refused-key", MessageIdText(1), u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  EXPECT_EQ(0, host.connectionRequests);

  // Session set-up fails.
  host.mailConfigured = false;
  EXPECT_EQ(S_OK, Get(u"k", MessageIdText(1), u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  host.mailConfigured = true;

  // The library has no such attachment, or fails.
  EXPECT_EQ(S_OK, Get(u"k", MessageIdText(1), u"2"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  box->attachmentResult = E_FAIL;
  EXPECT_EQ(S_OK, Get2(u"k", u"t", MessageIdText(1), u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
}

TEST_F(GetAttachmentTest, VectorThatCannotBeCreatedGivesFalse) {
  AddAttachments(1, {1}, Bytes(100));
  platform::testing::FailSafeArrayCreates(1);
  EXPECT_EQ(S_FALSE, Get(u"k", MessageIdText(1), u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  EXPECT_EQ(0, UnreleasedBuffers());
  // The next download works again.
  EXPECT_EQ(S_OK, Get(u"k", MessageIdText(1), u"1"));
  EXPECT_EQ(Bytes(100), Result());
}

TEST_F(GetAttachmentTest, ResultIsEmptiedFirstAndNullIsRefused) {
  AddAttachments(1, {1}, Bytes(2));
  VARIANT raw;
  raw.vt = VT_I4;
  raw.lVal = 42;
  EXPECT_EQ(S_OK, inbox->GetAttachment(CComBSTR(u"refused-key"), nullptr, nullptr,
                                       CComBSTR(MessageIdText(1)), CComBSTR(u"1"), nullptr, &raw));
  EXPECT_EQ(VT_EMPTY, raw.vt);
  EXPECT_EQ(E_POINTER, inbox->GetAttachment2(CComBSTR(u"k"), nullptr, nullptr, nullptr,
                                             CComBSTR(MessageIdText(1)), CComBSTR(u"1"), nullptr, nullptr));
}

}  // namespace
