// The attachment list of the message view: activation links, internet
// shortcuts through the shell object, the media player for wave files, and
// the process-wide icon cache (which lives across tests, so every test uses
// extensions of its own).
#include <fstream>
#include <thread>

#include "frame/Diagnostics.h"
#include "platform/Files.h"
#include "tests/frame/TraceDriver.h"
#include "tests/support/Golden.h"
#include "tests/view/ViewFixture.h"
#include "view/Attachments.h"

namespace view_tests {
namespace {

using Strings = std::vector<std::u16string>;

class AttachmentsTest : public ViewFixture {
 protected:
  testing_support::TempDir site;

  // Extensions no earlier test (or earlier repetition) has put in the cache.
  static inline int run = 0;
  std::string tag;
  std::u16string Ext(std::string base) const { return platform::U16("." + base + tag); }
  std::string Upper(std::string base) const { return platform::U8(platform::ToUpper(Ext(base)).substr(1)); }

  void SetUp() override {
    tag = "r" + std::to_string(++run);
    ViewFixture::SetUp();
    std::filesystem::create_directories(site.Path() / "gifs");
    host.serverVariables = {{u"PATH_TRANSLATED", platform::U16((site.Path() / "ViewInboxMessage.asp").string())}};
    FakeShell::targets.clear();
    FakeShell::created = 0;
  }
  void AddIcon(const std::string& name) { std::ofstream(site.Path() / "gifs" / name) << "GIF89a"; }

  // The attachment cell with the target's calls echoed, from its headings to
  // the list's end, for a golden file in tests/golden/.
  std::u16string Cell() {
    const std::u16string body = Body();
    const std::size_t from = body.find(u"[WriteText(Files,1)]");
    return body.substr(from, body.find(u"[EndTable]", from) + 10 - from);
  }
};

TEST_F(AttachmentsTest, FilesGetIconsAndActivationLinks) {
  AddIcon("QA1_File.jpg");
  const std::u16string path = u"C:\\files\\Report.qa1";
  Message().attachments = {{3, path}};
  host.optionsValue = 5;
  target->echo = true;
  EXPECT_EQ(S_OK, View());
  EXPECT_TRUE(testing_support::MatchesGolden("view-attachments-file", Cell()));
  EXPECT_EQ((Strings{u"QueryOptions(2," + path + u",1,0)"}), host.activationCalls);
  EXPECT_EQ(std::u16string::npos, Body().find(u"eraMediaPlayer"));
}

TEST_F(AttachmentsTest, QueryOptionsFailureGivesARowWithoutLink) {
  frame_tests::TraceChannel channel;
  host.queryOptionsResult = 0;
  const std::u16string path = u"/srv/att/notes.qa2";
  Message().attachments = {{9, path}};
  target->echo = true;
  EXPECT_EQ(S_OK, View());
  EXPECT_TRUE(testing_support::MatchesGolden("view-attachments-no-options", Cell()));
  ASSERT_EQ(1u, channel.Driver().records.size());
  const auto& record = channel.Driver().records[0];
  ASSERT_EQ(4u, record.data.size());
  EXPECT_EQ(18, record.data[0][0]);
  EXPECT_EQ(EncodeUrlSafe(path), record.Text(2));
  EXPECT_EQ(u"true", record.Text(3));
}

TEST_F(AttachmentsTest, InternetShortcutsLinkToTheirWebTargets) {
  RegisterShell();
  FakeShell::targets = {{u"C:\\a\\Site.url", u"http://a.b/x?y=1&z=2"},
                        {u"C:\\a\\Caps.URL", u"HTTP://C.D/"},
                        {u"C:\\a\\Mixed.url", u"Https://e.f/"},
                        {u"C:\\a\\Share.url", u"file://srv/share"}};
  Message().attachments = {{1, u"C:\\a\\Site.url"}, {2, u"C:\\a\\Caps.URL"}, {3, u"C:\\a\\Mixed.url"},
                           {4, u"C:\\a\\Share.url"}, {5, u"C:\\a\\Gone.url"}};
  target->echo = true;
  EXPECT_EQ(S_OK, View());
  // Rows for Site and Caps alone: Mixed, Share and Gone get none.
  EXPECT_TRUE(testing_support::MatchesGolden("view-attachments-shortcuts", Cell()));
  EXPECT_TRUE(host.activationCalls.empty());  // shortcuts get no activation link
  EXPECT_EQ(1, FakeShell::created);           // one shell object for the list
  EXPECT_EQ(0, FakeShell::shortcutsAlive);    // every shortcut object released
}

TEST_F(AttachmentsTest, ShortcutsAreLeftOutWithoutShell) {
  Message().attachments = {{1, u"C:\\a\\Site.url"}, {2, u"C:\\a\\data.qa3"}};
  FakeShell::targets = {{u"C:\\a\\Site.url", u"http://a.b/"}};
  EXPECT_EQ(S_OK, View());  // no shell object registered
  EXPECT_EQ(0, target->Count(u"WriteLink"));
  EXPECT_EQ(1, target->Count(u"WriteImage"));
}

TEST_F(AttachmentsTest, ShortcutWithAWebTargetKeepsItsRowWhenFormattingFails) {
  // Only a shortcut that cannot be opened or has no web target loses its
  // row; a failing URL formatter leaves the link as it left it (empty here).
  RegisterShell();
  FakeShell::targets = {{u"C:\\a\\Site.url", u"http://a.b/"}};
  Message().attachments = {{1, u"C:\\a\\Site.url"}};
  host.formatUrlResult = E_FAIL;
  target->echo = true;
  EXPECT_EQ(S_OK, View());
  EXPECT_TRUE(testing_support::MatchesGolden("view-attachments-unformatted", Cell()));
  EXPECT_EQ(0, FakeShell::shortcutsAlive);
}

TEST_F(AttachmentsTest, WaveFilesAddTheMediaPlayerOnceAfterTheTable) {
  Message().attachments = {{1, u"C:\\a\\ring.WAV"}, {2, u"C:\\a\\bell.wav"}, {3, u"C:\\a\\x.txt"}};
  EXPECT_EQ(S_OK, View());
  const std::u16string player = platform::LoadString(LumarestModuleHandle(), 3216);
  ASSERT_FALSE(player.empty());
  const std::u16string body = Body();
  const std::size_t at = body.find(player);
  ASSERT_NE(std::u16string::npos, at);
  EXPECT_EQ(std::u16string::npos, body.find(player, at + 1));
  EXPECT_EQ(at + player.size(), body.find(u"<br><div class='ContentBody'>"));

  EXPECT_FALSE(IsWaveFile(u"ring.wav.txt"));
  EXPECT_FALSE(IsWaveFile(u"wav"));
  EXPECT_FALSE(IsWaveFile(nullptr));
  EXPECT_FALSE(HasWaveAttachment(nullptr, 0));
}

TEST_F(AttachmentsTest, IconCacheKeysAreCaseSensitiveAndTypeNamesAreMadeFileNames) {
  AddIcon(Upper("qb1") + "_File.jpg");
  AddIcon("Scan-Fax_Image.jpg");
  ASSERT_TRUE(platform::RegWriteText(HKEY_CLASSES_ROOT, Ext("qb2"), u"", u"qb2file"));
  ASSERT_TRUE(platform::RegWriteText(HKEY_CLASSES_ROOT, u"qb2file", u"", u"Scan/Fax Image"));
  const std::size_t before = IconCache::Instance().Size();
  for (std::u16string name : {u"a" + Ext("qb1"), u"b" + platform::ToUpper(Ext("qb1")), u"c" + Ext("qb1")}) {
    EXPECT_TRUE(GetFileIconPath(name, target));
    EXPECT_EQ(u"gifs/" + platform::U16(Upper("qb1")) + u"_File.jpg", name);
  }
  EXPECT_EQ(before + 2, IconCache::Instance().Size());  // the lower- and the upper-case key
  std::u16string scanned = u"D:\\in\\page" + Ext("qb2");
  EXPECT_TRUE(GetFileIconPath(scanned, target));
  EXPECT_EQ(u"gifs/Scan-Fax_Image.jpg", scanned);

  // Without an extension the key is empty and the shell is asked about "".
  std::u16string bare = u"README";
  EXPECT_TRUE(GetFileIconPath(bare, target));
  std::u16string cached;
  EXPECT_TRUE(IconCache::Instance().Find(u"", cached));
  EXPECT_EQ(cached, bare);
}

TEST_F(AttachmentsTest, TargetWithoutImagesGetsEmptyIconsAndNothingIsCached) {
  target->supportsImages = 0;
  const std::size_t before = IconCache::Instance().Size();
  std::u16string icon = u"x.qc1";
  EXPECT_FALSE(GetFileIconPath(icon, target));
  EXPECT_EQ(u"", icon);
  EXPECT_EQ(before, IconCache::Instance().Size());
  Message().attachments = {{1, u"C:\\x.qc2"}};
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ(1, target->Count(u"WriteImage(,,0)"));
}

TEST_F(AttachmentsTest, SecondViewMakesNoShellCalls) {
  Message().attachments = {{1, u"C:\\x" + Ext("qd1")}, {2, u"C:\\y" + Ext("QD2")}, {3, u"C:\\z" + Ext("qd1")}};
  const unsigned long start = platform::ShellFileInfoCalls();
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ(start + 2, platform::ShellFileInfoCalls());
  EXPECT_EQ(S_OK, View());
  EXPECT_EQ(start + 2, platform::ShellFileInfoCalls());
}

TEST_F(AttachmentsTest, IconCacheUnderConcurrentRequests) {
  AddIcon(Upper("qe3") + "_File.jpg");
  const std::string suffix = tag;
  const std::u16string page = platform::U16((site.Path() / "ViewInboxMessage.asp").string());
  const std::size_t before = IconCache::Instance().Size();
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &page, &mismatches, &suffix] {
      testing_support::RecordingHost own;
      own.serverVariables = {{u"PATH_TRANSLATED", page}};
      hostkit::HostScope scope(&own);
      auto target = testing_support::RecordingTarget::Create();
      for (int i = 0; i < 300; ++i) {
        const int n = (i * 7 + t) % 20;
        // ".qe3" and the others, each with this run's suffix: ".qe3r7".
        std::u16string name = platform::U16("f" + std::to_string(i) + ".qe" + std::to_string(n) + suffix);
        const std::u16string expected =
            n == 3 ? platform::U16("gifs/QE3" + platform::U8(platform::ToUpper(platform::U16(suffix))) + "_File.jpg")
                   : u"gifs/Default.gif";
        if (!GetFileIconPath(name, target) || name != expected) ++mismatches[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), mismatches);
  EXPECT_EQ(before + 20, IconCache::Instance().Size());
}

}  // namespace
}  // namespace view_tests
