// Attachment download: SaveAttachment into a file, GetAttachment and
// GetAttachment2 into a byte-array VARIANT.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

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
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  std::vector<BYTE> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0).read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

std::u16string Path16(const fs::path& p) { return platform::U16(p.string()); }

// The three ways to download: into a file named by the caller (message and
// attachment from the query), or into a VARIANT (from the arguments), with a
// ticket or without.
enum class Way { Save, Get, Get2, Get2NoTicket };
const char* Name(Way w) {
  static const char* names[] = {"SaveAttachment", "GetAttachment", "GetAttachment2", "GetAttachment2 without ticket"};
  return names[static_cast<int>(w)];
}
constexpr Way kWays[] = {Way::Save, Way::Get, Way::Get2, Way::Get2NoTicket};

class DownloadTest : public MailboxTest {
 protected:
  testing_support::TempDir dir;
  const fs::path file = dir / "out.bin";
  CComVariant result;

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
  // Downloads attachment `attach` of the message `guid` one way; a save is
  // given another message and attachment as arguments, which it must ignore.
  HRESULT Download(Way way, const std::u16string& guid, const char16_t* attach, const char16_t* key = u"key-1") {
    result.Clear();
    SetQuery({{u"Guid", guid}, {u"AttachID", attach}});
    CComBSTR k(key), id(guid), at(attach), s(u"store"), f(u"folder"), n(u"name");
    switch (way) {
      case Way::Save:
        return inbox->SaveAttachment(s, f, CComBSTR(MessageIdText(9)), CComBSTR(u"5"), CComBSTR(u"ZmlsZQ--"),
                                     CComBSTR(platform::U16(file.string())));
      case Way::Get: return inbox->GetAttachment(k, s, f, id, at, n, &result);
      case Way::Get2: return inbox->GetAttachment2(k, CComBSTR(u"ticket-9"), s, f, id, at, n, &result);
      case Way::Get2NoTicket: return inbox->GetAttachment2(k, nullptr, s, f, id, at, n, &result);
    }
    return E_UNEXPECTED;
  }
  // What the download delivered: the file's bytes or the byte vector's.
  std::vector<BYTE> Delivered(Way way) {
    if (way == Way::Save) return FileBytes(file);
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
  bool NothingDelivered(Way way) const { return way == Way::Save ? !fs::exists(file) : result.vt == VT_EMPTY; }
};

TEST_F(DownloadTest, EachWayDeliversTheWholeAttachmentAndNothingElse) {
  struct Case {
    Way way;
    std::size_t size;
    const char* existing;  // a file already in the save's place
  };
  const Case cases[] = {{Way::Save, 1000, nullptr}, {Way::Save, 10, "xxxxxxxxxxxxxxxxxxxxxxxx"},
                        {Way::Save, 0, "old content"},  {Way::Save, 64u << 20, nullptr},
                        {Way::Get, 4096, nullptr},      {Way::Get, 0, nullptr},
                        {Way::Get2, 8, nullptr},        {Way::Get2, 0, nullptr},
                        {Way::Get2NoTicket, 20, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(Name(c.way)) + " of " + std::to_string(c.size) + " bytes");
    box->messages.clear();
    box->calls.clear();
    host.policyKeys.clear();
    host.calls.clear();
    AddAttachments(1, {2, 3}, Bytes(c.size));
    AddAttachments(9, {5}, Bytes(10, 99));
    fs::remove(file);
    if (c.existing) std::ofstream(file, std::ios::binary) << c.existing;
    ASSERT_EQ(S_OK, Download(c.way, MessageIdText(1), u"3"));
    EXPECT_TRUE(Bytes(c.size) == Delivered(c.way));
    std::vector<std::u16string> calls{AttachmentCall(1, 3)};
    if (c.way != Way::Save) {
      calls.insert(calls.begin(), c.way == Way::Get2 ? u"InitializeUserCredentials(key-1,ticket-9)"
                                                      : u"InitializeUserCredentials(key-1,)");
      // The given key is what the policy is asked about; the session's is not consulted.
      EXPECT_EQ(std::vector<std::u16string>{u"key-1"}, host.policyKeys);
      EXPECT_EQ(0, std::count(host.calls.begin(), host.calls.end(), "GetMasterSessionID"));
    }
    EXPECT_EQ(calls, box->calls);
    // Nothing goes to the page.
    EXPECT_EQ(u"", host.Body());
    EXPECT_TRUE(target->calls.empty());
  }
}

TEST_F(DownloadTest, AttachIdTakesLeadingDigitsOnly) {
  AddAttachments(1, {0, 12}, Bytes(3));
  const std::pair<const char16_t*, int> cases[] = {{u"12abc", 12}, {u"abc", 0}, {u"", 0}, {u" 12", 12}};
  for (Way way : kWays) {
    for (auto [text, number] : cases) {
      box->calls.clear();
      EXPECT_EQ(S_OK, Download(way, MessageIdText(1), text)) << Name(way) << " " << platform::U8(text);
      EXPECT_EQ(AttachmentCall(1, number), box->calls.back()) << Name(way) << " " << platform::U8(text);
    }
  }
}

// A failed save returns what failed; a failed GetAttachment succeeds with an
// empty result. Neither delivers anything.
TEST_F(DownloadTest, FailuresDeliverNothing) {
  GUID unused;
  const std::u16string id = MessageIdText(1);
  const HRESULT bare = IIDFromString(BareIdText(1).c_str(), &unused);
  const HRESULT junk = IIDFromString((id + u"}").c_str(), &unused);
  const HRESULT empty = IIDFromString(u"{}", &unused);
  ASSERT_TRUE(FAILED(bare) && FAILED(junk) && FAILED(empty));
  struct Case {
    const char* what;
    std::u16string guid;
    const char16_t* attach;
    std::function<void()> setUp;
    HRESULT saved;       // what the save returns
    bool connects;       // whether a mail connection is asked for
  } const cases[] = {
      {"guid without braces", BareIdText(1), u"1", nullptr, bare, false},
      {"guid with junk", id + u"}", u"1", nullptr, junk, false},
      {"empty guid", u"{}", u"1", nullptr, empty, false},
      {"refused policy", id, u"1", [this] { host.policyAllows = false; }, S_OK, false},
      {"failed set-up", id, u"1", [this] { host.mailConfigured = false; }, S_OK, false},
      {"no such attachment", id, u"4", nullptr, MAPI_E_NOT_FOUND, true},
      {"library failure", id, u"1", [this] { box->attachmentResult = E_ACCESSDENIED; },
       E_ACCESSDENIED, true},
  };
  AddAttachments(1, {1}, Bytes(3));
  for (const auto& c : cases) {
    for (Way way : kWays) {
      SCOPED_TRACE(std::string(c.what) + ", " + Name(way));
      host.policyAllows = true;
      host.mailConfigured = true;
      box->attachmentResult = S_OK;
      host.policyKeys.clear();
      host.connectionRequests = 0;
      inbox.Release();  // a fresh object, so that no session is held over
      ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
      if (c.setUp) c.setUp();
      EXPECT_EQ(way == Way::Save ? c.saved : S_OK, Download(way, c.guid, c.attach));
      EXPECT_TRUE(NothingDelivered(way));
      EXPECT_EQ(c.connects, host.connectionRequests > 0);
      // The policy is not even asked about an identifier that does not parse.
      if (c.guid != id) {
        EXPECT_TRUE(host.policyKeys.empty());
      }
    }
  }
}

TEST_F(DownloadTest, UnopenableSaveFileGivesTheWin32Error) {
  AddAttachments(1, {1}, Bytes(3));
  auto Save = [this](const std::u16string& path) {
    return inbox->SaveAttachment(CComBSTR(u""), CComBSTR(u""), CComBSTR(u""), CComBSTR(u""), CComBSTR(u"ZmlsZQ--"),
                                 CComBSTR(path));
  };
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

TEST_F(DownloadTest, VectorThatCannotBeCreatedGivesFalse) {
  AddAttachments(1, {1}, Bytes(100));
  platform::testing::FailSafeArrayCreates(1);
  EXPECT_EQ(S_FALSE, Download(Way::Get, MessageIdText(1), u"1"));
  EXPECT_EQ(VT_EMPTY, result.vt);
  EXPECT_EQ(0, UnreleasedBuffers());
  // The next download works again.
  EXPECT_EQ(S_OK, Download(Way::Get, MessageIdText(1), u"1"));
  EXPECT_EQ(Bytes(100), Delivered(Way::Get));
}

TEST_F(DownloadTest, ResultIsEmptiedFirstAndNullIsRefused) {
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
