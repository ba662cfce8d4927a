// The portal's parts on their own: the URL-safe encoding, path confinement,
// configuration lookups, accounts, in-memory sessions, the upload store, the
// HTML output target and the host context's policy answers.
#include <gtest/gtest.h>

#include <fstream>

#include "host/Intrinsics.h"
#include "platform/Bstr.h"
#include "platform/Text.h"
#include "portal/Accounts.h"
#include "portal/Config.h"
#include "portal/HtmlTarget.h"
#include "portal/Sessions.h"
#include "portal/Throttle.h"
#include "portal/Uploads.h"
#include "portal/Util.h"
#include "tests/support/TestFiles.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;
using namespace portal;

// 62 and 63 are '_' and '*', the pad is '-'; decoding skips the pad and
// refuses characters of other alphabets.
TEST(UrlSafeEncoding, EncodesWithItsOwnAlphabetAndPad) {
  const std::pair<std::string, std::string> encoded[] = {
      {"abc", "YWJj"}, {"ab", "YWI-"}, {"a", "YQ--"}, {"", ""}, {"\xfb\xff", "_*8-"}};
  for (const auto& [plain, code] : encoded) {
    EXPECT_EQ(EncodeUrlSafe(plain), code) << plain;
    EXPECT_EQ(DecodeUrlSafe(code), plain) << code;
  }
  const std::pair<std::string, std::string> decoded[] = {
      {"YW-Jj", "abc"}, {"YWI", "ab"}, {"YW+j", ""}, {"YW/j", ""}};
  for (const auto& [code, plain] : decoded) EXPECT_EQ(DecodeUrlSafe(code), plain) << code;
  EXPECT_TRUE(IsUrlSafeText("AZaz09_*-"));
  EXPECT_FALSE(IsUrlSafeText("a b"));
  EXPECT_FALSE(IsUrlSafeText("a%2B"));
}

TEST(FormDecoding, SplitsPairsAndDecodesEscapes) {
  auto pairs = ParseUrlEncoded("TTo=a%40b.org&TTo=c&Subject=Hello+world&Empty=&Flag&bad=%zz");
  ASSERT_EQ(pairs.size(), 6u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"TTo", "a@b.org"}));
  EXPECT_EQ(pairs[1].second, "c");
  EXPECT_EQ(pairs[2].second, "Hello world");
  EXPECT_EQ(pairs[3].second, "");
  EXPECT_EQ(pairs[4].first, "Flag");
  EXPECT_EQ(pairs[5].second, "%zz");
}

// Dots and links out of a root are refused through the pages (SecurityTest);
// here, the comparison of whole path components.
TEST(PathConfinement, ComparesWholeComponentsOfAbsolutePaths) {
  testing_support::TempDir inside;
  fs::path root = inside.Path();
  WriteFile(root / "a" / "b" / "f.txt", "x");
  EXPECT_TRUE(IsInside(root / "a", root / "a" / "b" / "f.txt"));
  EXPECT_TRUE(IsInside(root / "a", root / "a"));
  EXPECT_FALSE(IsInside(root / "a", root / "ab"));
  EXPECT_FALSE(IsInside(root / "a", "relative/path"));
  EXPECT_FALSE(IsInside("", root));
}

TEST(Configuration, UserThenGroupThenPolicySectionsAnswer) {
  Config c;
  c.ini = IniFile::Parse(
      "[policy]\nwebmail = allow\nauditing = no\n[mail]\nhtml_bodies = true\n"
      "[group  staff]\nwebmail = deny\nhtml_bodies = false\n[user alice]\nwebmail = allow\n",
      "test");
  EXPECT_TRUE(c.LookupBool("alice", {"staff"}, "webmail", false));
  EXPECT_FALSE(c.LookupBool("bob", {"staff"}, "webmail", true));
  EXPECT_TRUE(c.LookupBool("carol", {}, "webmail", false));
  EXPECT_FALSE(c.LookupBool("alice", {"staff"}, "html_bodies", true));
  EXPECT_TRUE(c.LookupBool("carol", {}, "html_bodies", false));
  EXPECT_FALSE(c.LookupBool("carol", {}, "auditing", true));
  EXPECT_TRUE(c.LookupBool("carol", {}, "unknown_key", true));
}

TEST(Configuration, RepeatedKeysAndMalformedLines) {
  auto ini = IniFile::Parse("# comment\n[files]\nroot = /a\nroot = /b\n; other\n", "t");
  EXPECT_EQ(ini.GetAll("files", "root"), (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(ini.Get("files", "root"), "/b");
  EXPECT_THROW(IniFile::Parse("[files\n", "t"), std::runtime_error);
}

TEST(AccountsTest, PasswordsAreStoredAsSlowHashesAndChecked) {
  testing_support::TempDir temp;
  const fs::path& dir = temp.Path();
  Accounts accounts(dir);
  accounts.Add("alice", "correct horse", {}, "example.org");
  std::string file;
  ASSERT_TRUE(ReadFile(dir / "users" / "alice" / "account.ini", file));
  EXPECT_EQ(file.find("correct horse"), std::string::npos);
  EXPECT_NE(file.find("$argon2"), std::string::npos);
  EXPECT_TRUE(accounts.Verify("alice", "correct horse"));
  EXPECT_TRUE(accounts.Verify("ALICE", "correct horse"));
  EXPECT_FALSE(accounts.Verify("alice", "correct horse "));
  EXPECT_THROW(accounts.Add("alice", "again", {}, "example.org"), std::runtime_error);
  for (const char* bad : {"", "../x", "a/b", ".hidden", "Upper", "spa ce"})
    EXPECT_FALSE(Accounts::ValidName(bad)) << bad;
}

TEST(MemorySessions, IdleSessionsEndAndActiveOnesStay) {
  auto now = std::chrono::steady_clock::now();
  MemorySessionStore store(std::chrono::seconds(60), [&] { return now; });
  store.Put("s1", {{"_user", "alice"}, {"composeBody", "hi"}});
  store.SetMasterIndex("m1", "s1");
  now += std::chrono::seconds(50);
  ASSERT_TRUE(store.Load("s1"));  // refreshes the idle timer
  now += std::chrono::seconds(50);
  auto vars = store.Load("s1");
  ASSERT_TRUE(vars);
  EXPECT_EQ((*vars)["composeBody"], "hi");
  EXPECT_EQ(store.SessionForMaster("m1"), "s1");
  store.Put("s1", {{"composeBody", "changed"}});
  EXPECT_EQ((*store.Load("s1"))["_user"], "alice");
  now += std::chrono::seconds(61);
  EXPECT_FALSE(store.Load("s1"));
}

// Five failures in ten minutes lock a key; every further lock-out lasts
// twice as long; failures older than the window do not count; a good
// password clears the account but not the address.
TEST(SignInThrottleTest, LocksAfterFiveFailuresForGrowingTimes) {
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  portal::SignInThrottle t([&] { return now; });
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(t.Failed("alice", "10.0.0.1").empty());
  EXPECT_EQ(t.RetryAfter("alice", "10.0.0.9"), 0);
  auto locks = t.Failed("alice", "10.0.0.1");
  ASSERT_EQ(locks.size(), 2u);  // the account and the address
  EXPECT_EQ(locks[0].key, "user alice");
  EXPECT_EQ(locks[1].key, "address 10.0.0.1");
  EXPECT_EQ(t.RetryAfter("alice", "10.0.0.9"), 60);     // the account from anywhere
  EXPECT_EQ(t.RetryAfter("bob", "10.0.0.1"), 60);       // any account from that address
  EXPECT_EQ(t.RetryAfter("bob", "10.0.0.2"), 0);
  now += std::chrono::seconds(61);
  EXPECT_EQ(t.RetryAfter("alice", "10.0.0.1"), 0);
  // Still five failures within the window: the next one locks again, longer.
  locks = t.Failed("alice", "10.0.0.1");
  ASSERT_EQ(locks.size(), 2u);
  EXPECT_EQ(locks[0].seconds, 120);
  now += std::chrono::seconds(121);
  EXPECT_EQ(t.Failed("alice", "10.0.0.1")[0].seconds, 240);
  // Spread out beyond the window, failures never lock.
  for (int i = 0; i < 8; ++i) {
    now += std::chrono::minutes(3);
    EXPECT_TRUE(t.Failed("carol", "10.0.1." + std::to_string(i)).empty()) << i;
  }
  // A good password clears the account only.
  for (int i = 0; i < 5; ++i) t.Failed("dave", "10.0.2.1");
  EXPECT_GT(t.RetryAfter("dave", "10.0.2.9"), 0);
  t.Succeeded("dave");
  EXPECT_EQ(t.RetryAfter("dave", "10.0.2.9"), 0);
  EXPECT_GT(t.RetryAfter("dave", "10.0.2.1"), 0);
}

TEST(UploadStoreTest, IdentifiersNameFilesInsideTheStoreOnly) {
  testing_support::TempDir temp;
  const fs::path& dir = temp.Path();
  auto id = UploadStore::Save(dir, "../../etc/Report|final;v2.doc", "bytes");
  ASSERT_TRUE(id);
  EXPECT_EQ(UploadStore::ShownName(*id), "Report_final_v2.doc");
  auto file = UploadStore::Resolve(dir, *id);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->parent_path(), dir);
  EXPECT_FALSE(UploadStore::Resolve(dir, "../" + id->substr(3)));
  EXPECT_EQ(UploadStore::CleanName(""), "file");
  EXPECT_EQ(UploadStore::CleanName(std::string(300, 'a') + ".pdf").size(), 120u);
}

// The same file stored twice is one copy; uploads no draft names go when
// they are older than the expiry, the named and the recent ones stay.
TEST(UploadStoreTest, OneCopyPerFileAndUnnamedOldUploadsExpire) {
  testing_support::TempDir temp;
  const fs::path& dir = temp.Path();
  auto a = UploadStore::Save(dir, "a.txt", "same bytes");
  auto again = UploadStore::Save(dir, "a.txt", "same bytes");
  auto other = UploadStore::Save(dir, "a.txt", "other bytes");
  auto b = UploadStore::Save(dir, "b.txt", "same bytes");
  ASSERT_TRUE(a && again && other && b);
  EXPECT_EQ(*a, *again);
  EXPECT_NE(*a, *other);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(UploadStore::UsedBytes(dir), 10u + 11u + 10u);
  auto old = fs::file_time_type::clock::now() - std::chrono::hours(25);
  for (const auto& id : {*a, *other, *b}) fs::last_write_time(*UploadStore::Resolve(dir, id), old);
  auto fresh = UploadStore::Save(dir, "c.txt", "new");
  // The draft names a (encoded, as the compose list holds it) and other (plain).
  std::string list = EncodeUrlSafe("UPLOADID" + *a) + ";UPLOADID" + *other;
  EXPECT_EQ(UploadStore::Expire(dir, std::chrono::hours(24), UploadStore::TokensIn(list)), 1);
  EXPECT_TRUE(UploadStore::Resolve(dir, *a));
  EXPECT_TRUE(UploadStore::Resolve(dir, *other));
  EXPECT_FALSE(UploadStore::Resolve(dir, *b));
  EXPECT_TRUE(UploadStore::Resolve(dir, *fresh));
}

class TargetTest : public ::testing::Test {
 protected:
  std::string Run(OutputMode mode, const std::function<void(ILumarestTarget*)>& fn) {
    hostkit::ResponseState* state = nullptr;
    auto response = hostkit::CreateResponse(&state);
    auto target = CreateHtmlTarget(response, mode);
    fn(target);
    return platform::U8(state->body);
  }
};

TEST_F(TargetTest, WritesTheComponentsPiecesAsHtml) {
  auto html = Run(OutputMode::Full, [](ILumarestTarget* t) {
    CComBSTR table(u"class='box' width='100%'"), text(u"<b>bold</b>"), img(u"gifs/Mail.gif"), alt(u"a'b");
    t->StartTable(table, 0);
    t->StartTableRow();
    t->StartTableData();
    t->WriteImage(img, alt, 0);
    t->WriteText(text, 0);
    t->EndTableData();
    t->EndTableRow();
    t->EndTable();
    t->WriteLine();
  });
  EXPECT_EQ(html, "<table class='box' width='100%'>\r\n<tr><td><img src='gifs/Mail.gif' alt='a&#39;b' border='0'>"
                  "<b>bold</b></td></tr>\r\n</table>\r\n<br>\r\n");
  auto link = Run(OutputMode::Full, [](ILumarestTarget* t) {
    CComBSTR href(u"/x?a=1&b=2"), text(u"Site"), img(u"gifs/HTML_Document.jpg"), alt(u"Site");
    t->WriteLink(href, text, img, alt, 0, 1);
    CComBSTR none(u"");
    t->WriteImage(none, none, 0);  // no image support asked: nothing written
  });
  EXPECT_EQ(link, "<a href='/x?a=1&amp;b=2' target='_blank' rel='noopener noreferrer'><img src='gifs/HTML_Document.jpg' "
                  "alt='Site' border='0' align='absmiddle'>&nbsp;Site</a>");
}

TEST_F(TargetTest, ModeDecidesFullOutput) {
  for (auto [mode, full] : {std::pair{OutputMode::Full, 1}, std::pair{OutputMode::Reduced, 0}}) {
    LONG f = -1, pda = -1;
    Run(mode, [&](ILumarestTarget* t) {
      t->get_FullOutput(&f);
      t->get_PdaFullOutput(&pda);
    });
    EXPECT_EQ(f, full);
    EXPECT_EQ(pda, 1 - full);
  }
}

}  // namespace
}  // namespace portal_test

#include "platform/Device.h"
#include "platform/Files.h"
#include "portal/TraceDriver.h"

namespace portal_test {
namespace {

TEST(TraceDriverTest, RegistersModulesAndWritesRecords) {
  testing_support::TempDir temp;
  const fs::path& dir = temp.Path();
  auto driver = std::make_shared<portal::TraceDriver>(dir / "trace.log", 0x3, 1);
  platform::InstallDevice(u"\\\\.\\Global\\HVNDTF", driver);
  HANDLE h = CreateFileW(u"\\\\.\\Global\\HVNDTF", 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  static const GUID control = {0x526C00DD, 0xDA6E, 0x4B59, {0x8C, 0xA1, 0xE0, 0x66, 0x64, 0xC3, 0xC8, 0x18}};
  const char16_t* module = u"TALQ_LumarestInbox";
  const void* in[2] = {&control, module};
  portal::TraceDriver::ControlBlock* block = nullptr;
  DWORD got = 0;
  ASSERT_TRUE(DeviceIoControl(h, portal::TraceDriver::kRegister, in, sizeof in, &block, sizeof block, &got, nullptr));
  ASSERT_NE(block, nullptr);
  EXPECT_NE(block->handle, 0u);
  EXPECT_EQ(block->classes, 0x3u);
  EXPECT_EQ(block->level, 1);

  // Header of 48 bytes, then descriptors: the message number and one text.
  unsigned char rec[48 + 2 * 16] = {};
  std::uint16_t size = sizeof rec;
  std::memcpy(rec, &size, 2);
  std::memcpy(rec + 8, &block->handle, 8);
  const GUID* message = &control;
  std::memcpy(rec + 24, &message, 8);
  std::uint16_t number = 13;
  const std::u16string text = u"C:\\file.txt";
  struct Desc {
    const void* data;
    std::uint32_t length, type;
  } d[2] = {{&number, 2, 0}, {text.c_str(), static_cast<std::uint32_t>(text.size() * 2 + 2), 0}};
  std::memcpy(rec + 48, d, sizeof d);
  ASSERT_TRUE(DeviceIoControl(h, portal::TraceDriver::kWrite, rec, sizeof rec, nullptr, 0, &got, nullptr));
  auto lines = driver->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("module=TALQ_LumarestInbox"), std::string::npos);
  EXPECT_NE(lines[1].find("number=13 \"C:\\file.txt\""), std::string::npos);
  // A record whose size does not match its descriptors is refused.
  size = 50;
  std::memcpy(rec, &size, 2);
  EXPECT_FALSE(DeviceIoControl(h, portal::TraceDriver::kWrite, rec, sizeof rec, nullptr, 0, &got, nullptr));
  CloseHandle(h);
  platform::RemoveDevice(u"\\\\.\\Global\\HVNDTF");
}

}  // namespace
}  // namespace portal_test
