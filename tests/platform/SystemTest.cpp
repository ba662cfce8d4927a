// Registry, string tables, time conversion, paths and devices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/Device.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "tests/support/TestFiles.h"

namespace {
using testing_support::TempDir;

TEST(Registry, PersistsKeysAndValuesCaseInsensitively) {
  TempDir dir;
  platform::SetRegistryPath((dir / "r.reg").string());
  ASSERT_TRUE(platform::RegWriteText(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ", u"Install",
                                     u"/opt/\"lumarest\"\\"));
  platform::ReloadRegistry();  // read back from the file
  std::u16string value;
  ASSERT_TRUE(platform::RegReadText(HKEY_LOCAL_MACHINE, u"software\\halvorn\\talq", u"INSTALL", value));
  EXPECT_EQ(u"/opt/\"lumarest\"\\", value);
  EXPECT_FALSE(platform::RegReadText(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\MUI", u"X", value));
  HKEY key = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nothing", 0, KEY_READ, &key));
  // A small buffer is refused with the size needed.
  ASSERT_EQ(ERROR_SUCCESS, static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ", 0,
                                                            KEY_READ, &key)));
  BYTE small[4];
  DWORD size = sizeof small, type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_MORE_DATA), RegQueryValueExW(key, u"Install", nullptr, &type, small, &size));
  EXPECT_EQ((value.size() + 1) * 2, size);
  RegCloseKey(key);
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn"));
  EXPECT_FALSE(platform::RegKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ"));
}

TEST(StringTable, ParsesEscapesAndReportsTheBadLine) {
  auto table = platform::ParseStringTable(
      "# comment\n\n3106 = \"Inbox\"\r\n42=\"a \\\"q\\\" \\\\ \\n \\u00e9\" # trailing\n7 = \"\"\n", "t");
  EXPECT_EQ(u"Inbox", table.at(3106));
  EXPECT_EQ(u"a \"q\" \\ \n \u00e9", table.at(42));
  EXPECT_EQ(u"", table.at(7));
  auto message = [](const char* text) {
    try {
      platform::ParseStringTable(text, "fr.strings");
    } catch (const platform::StringTableError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ("fr.strings:2: text not closed with '\"'", message("1 = \"a\"\n2 = \"b\n"));
  EXPECT_EQ("fr.strings:1: expected a string id", message("x = \"a\""));
  EXPECT_EQ("fr.strings:2: string id 1 given twice", message("1 = \"a\"\n1 = \"b\""));
  EXPECT_EQ("fr.strings:1: unknown escape \\q", message("1 = \"\\q\""));
  EXPECT_EQ("fr.strings:1: string id above 65535", message("70000 = \"x\""));
}

TEST(StringTable, SatelliteFilesLoadAsDataModules) {
  TempDir dir;
  std::ofstream(dir / "ok.strings") << "3106 = \"Bo\u00eete\"\n";
  std::ofstream(dir / "bad.strings") << "3106 = \"unclosed\n";
  std::u16string okPath = platform::U16((dir / "ok.strings").string());
  HMODULE ok = LoadLibraryExW(okPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, ok);
  EXPECT_EQ(u"Bo\u00eete", platform::LoadString(ok, 3106));
  EXPECT_EQ(u"", platform::LoadString(ok, 9999));  // a missing id is empty text
  char16_t buf[4];
  EXPECT_EQ(3, LoadStringW(ok, 3106, buf, 4));
  EXPECT_EQ(u"Bo\u00ee", std::u16string(buf));
  {
    platform::ModuleStateGuard guard(ok);
    EXPECT_EQ(ok, AfxGetResourceHandle());
    EXPECT_EQ(u"Bo\u00eete", platform::LoadString(3106));
  }
  EXPECT_NE(ok, AfxGetResourceHandle());
  FreeLibrary(ok);

  // A broken file is refused (the language tests see it skipped and named).
  std::u16string badPath = platform::U16((dir / "bad.strings").string());
  EXPECT_EQ(nullptr, LoadLibraryExW(badPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  EXPECT_EQ(ERROR_BAD_FORMAT, GetLastError());
  std::u16string missing = platform::U16((dir / "none.strings").string());
  EXPECT_EQ(nullptr, LoadLibraryExW(missing.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

TEST(Time, ConvertsFileTimesAndRejectsWhatOleDatesCannotHold) {
  SYSTEMTIME st{};
  // 2024-02-29 12:34:56.789 UTC
  FILETIME ft = U64ToFileTime(133536836967890000ULL);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  // Year to milliseconds, with Thursday as the day of the week.
  EXPECT_EQ((std::vector<int>{2024, 2, 4, 29, 12, 34, 56, 789}),
            (std::vector<int>{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond,
                              st.wMilliseconds}));
  FILETIME back{};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
  EXPECT_EQ(FileTimeToU64(ft), FileTimeToU64(back));

  FILETIME tooBig = U64ToFileTime(0x8000000000000000ULL);
  EXPECT_FALSE(FileTimeToSystemTime(&tooBig, &st));

  DATE date = 0;
  SYSTEMTIME day{1899, 12, 0, 30, 6, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&day, &date));
  EXPECT_DOUBLE_EQ(0.25, date);
  SYSTEMTIME round{};
  ASSERT_TRUE(VariantTimeToSystemTime(date, &round));
  EXPECT_EQ(1899, round.wYear);
  EXPECT_EQ(6, round.wHour);
  for (SYSTEMTIME edge : {SYSTEMTIME{100, 1, 0, 1, 0, 0, 0, 0}, SYSTEMTIME{9999, 12, 0, 31, 23, 59, 59, 0}}) {
    ASSERT_TRUE(SystemTimeToVariantTime(&edge, &date));
    ASSERT_TRUE(VariantTimeToSystemTime(date, &round));
    EXPECT_EQ(edge.wYear, round.wYear);
    EXPECT_EQ(edge.wSecond, round.wSecond);
  }
  SYSTEMTIME beyond{10000, 1, 0, 1, 0, 0, 0, 0}, early{99, 12, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToVariantTime(&beyond, &date));
  EXPECT_FALSE(SystemTimeToVariantTime(&early, &date));

  std::u16string text;
  ASSERT_TRUE(platform::FormatCalendarTime(st, u"%Y-%m-%d %H:%M %a", 256, text));
  EXPECT_EQ(u"2024-02-29 12:34 Thu", text);
  EXPECT_FALSE(platform::FormatCalendarTime(st, std::u16string(300, u'x'), 256, text));
}

TEST(Files, SplitsPathsAndMapsErrnoToWin32Codes) {
  auto p = platform::SplitPath(u"C:\\dir\\sub/report.final.PDF");
  EXPECT_EQ(u"C:", p.drive);
  EXPECT_EQ(u"\\dir\\sub/", p.dir);
  EXPECT_EQ(u"report.final", p.fname);
  EXPECT_EQ(u".PDF", p.ext);
  auto q = platform::SplitPath(u"/tmp/noext");
  EXPECT_EQ(u"noext", q.fname);
  EXPECT_EQ(u"", q.ext);
  EXPECT_TRUE(PathIsUNCW(u"\\\\server\\share"));
  EXPECT_FALSE(PathIsUNCW(u"\\server"));

  TempDir dir;
  platform::CFile file;
  EXPECT_FALSE(file.OpenForWrite(platform::U16((dir / "missing" / "f.bin").string())));
  EXPECT_EQ(MakeHr(0x80070003), HRESULT_FROM_WIN32(GetLastError()));
  if (::geteuid() != 0) {  // root may write anywhere
    std::filesystem::create_directory(dir / "ro");
    ::chmod((dir / "ro").c_str(), 0500);
    EXPECT_FALSE(file.OpenForWrite(platform::U16((dir / "ro" / "f.bin").string())));
    EXPECT_EQ(MakeHr(0x80070005), HRESULT_FROM_WIN32(GetLastError()));
  }
  EXPECT_EQ(ERROR_ACCESS_DENIED, platform::Win32ErrorFromErrno(EACCES));
  EXPECT_EQ(ERROR_DISK_FULL, platform::Win32ErrorFromErrno(ENOSPC));
  ASSERT_TRUE(file.OpenForWrite(platform::U16((dir / "ok.bin").string())));
  file.Write("abc", 3);
  file.Flush();
  file.Close();
  EXPECT_EQ(3u, std::filesystem::file_size(dir / "ok.bin"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"/no/such/file"));
  EXPECT_TRUE(GetFileAttributesW(platform::U16(dir.Path().string()).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

struct EchoDriver : platform::DeviceDriver {
  std::vector<DWORD> codes;
  bool IoControl(DWORD code, const void*, DWORD, void* out, DWORD outSize, DWORD* returned,
                 DWORD* error) override {
    codes.push_back(code);
    if (code == 1) {
      *error = ERROR_INVALID_PARAMETER;
      return false;
    }
    if (out && outSize >= 4) *static_cast<DWORD*>(out) = 0xABCD;
    *returned = 4;
    return true;
  }
};

TEST(Devices, OpenOnlyWhenADriverIsInstalled) {
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(u"\\\\.\\Global\\TESTDEV", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  auto driver = std::make_shared<EchoDriver>();
  platform::InstallDevice(u"\\\\.\\Global\\TESTDEV", driver);
  HANDLE h = CreateFileW(u"\\\\.\\Global\\testdev", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD out = 0, got = 0;
  EXPECT_TRUE(DeviceIoControl(h, 7, nullptr, 0, &out, 4, &got, nullptr));
  EXPECT_EQ(0xABCDu, out);
  EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &got, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  CloseHandle(h);
  platform::RemoveDevice(u"\\\\.\\Global\\TESTDEV");
  EXPECT_EQ((std::vector<DWORD>{7, 1}), driver->codes);
}

}  // namespace
