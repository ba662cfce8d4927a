// Registry, string tables and paths. Time conversion is checked through
// the mail time format (frame tests).
#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Text.h"
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
  // Opening, sizing and deleting keys are checked through the module's
  // registration and removal (inbox tests).
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

TEST(Files, SplitsPathsAndTellsUncNames) {
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

  // Writing files is checked through SaveAttachment, attributes through the
  // attachment icons (view tests).
}

}  // namespace
