// The tool bar, its cells and the navigation bar, byte for byte (golden
// files), in both output modes.
#include "frame/Chrome.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "inbox/MyInbox.h"
#include "platform/Text.h"
#include "tests/support/Golden.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RecordingHost;
using testing_support::TestInstall;

constexpr LONG kFull = 1;
constexpr LONG kReduced = 0;

class ChromeTest : public ::testing::Test {
 protected:
  TestInstall install;
  RecordingHost host;
  hostkit::HostScope scope{&host};
  HMODULE satellite = nullptr;

  void SetUp() override {
    install.WriteSatellite("quorraFax", "fr",
                           {{10, u"New Message"},
                            {11, u"ViewInboxMessage.asp?Folder=%s&ID=%s"},
                            {12, u"Fax.asp?Scale=100%%&Page=%d"},
                            {13, u"%s"},
                            {14, u"Delete It"}});
    satellite = LoadLibraryExW(
        platform::U16((install.InstallDir() / "Bin" / "quorraFax_fr.strings").string()).c_str(),
        nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, satellite);
  }
  void TearDown() override { FreeLibrary(satellite); }

  // What the call wrote, and a clean response for the next one.
  template <class F>
  std::u16string Written(F&& write) {
    host.ClearResponse();
    write();
    return host.Body();
  }
};

// Every cell in both modes, byte for byte, in tests/golden/chrome-cells.html
// (each cell after a line naming its case): the one place the chrome's markup is kept.
TEST_F(ChromeTest, CellsInBothModes) {
  const HMODULE sat = satellite;
  const std::u16string longUrl = u"Page.asp?x=" + std::u16string(6000, u'y');
  const std::pair<HMODULE, std::function<void()>> cases[] = {
      {nullptr, [] { WriteBarStart(kFull); }},
      {nullptr, [] { WriteBarStart(kReduced); }},
      {nullptr, [] { WriteLocationButton(kFull, u"gifs/new.gif", u"Go.asp?a=%41", u"New Mail  Now"); }},
      {nullptr, [] { WriteLocationButton(kFull, u"", u"Go.asp", u"New Mail"); }},
      {nullptr, [] { WriteLocationButton(kReduced, u"gifs/new.gif", u"Go.asp", u"New Mail"); }},
      {nullptr, [] { WriteLocationButton(kReduced, u"", u"Go.asp", u"100% New"); }},
      // Link buttons format the URL from the table of the current module...
      {sat, [] { WriteLinkButton(kFull, 10, u"i.gif", 11, u"SW5ib3g-", u"{1}"); }},
      {sat, [] { WriteLinkButton(kReduced, 10, u"", 12, 3); }},
      // ...or of the module given, whatever the current one.
      {LumarestModuleHandle(), [sat] { WriteLinkButtonFromModule(kReduced, sat, 14, u"f.gif", 12, 7); }},
      // A URL longer than 5011 characters is cut there.
      {sat, [&] { WriteLinkButton(kReduced, 10, u"", 13, longUrl); }},
      {sat, [&] { WriteLinkButton(kReduced, 10, u"", 13, longUrl.substr(0, 5011)); }},
      // Script buttons only in full output.
      {sat, [] { WriteScriptButton(kFull, 10, u"s.gif", u"doSend('100%')"); }},
      {sat, [] { WriteScriptButton(kFull, 10, u"", u"doSend()"); }},
      {sat, [] { WriteScriptButton(kReduced, 10, u"s.gif", u"doSend()"); }},
      {sat, [] { WriteScriptButton(kReduced, 10, u"", u"doSend()"); }},
      {sat, [sat] { WriteScriptButtonFromModule(kFull, sat, 14, u"", u"x()"); }},
      {sat, [sat] { WriteScriptButtonFromModule(kReduced, sat, 14, u"i", u"x()"); }},
      {nullptr, [sat] { WriteDisabledButton(kFull, sat, 14, u"d.gif"); }},
      {nullptr, [sat] { WriteDisabledButton(kFull, sat, 14, u""); }},
      {nullptr, [sat] { WriteDisabledButton(kReduced, sat, 14, u"d.gif"); }},
      {nullptr, [sat] { WriteDisabledButton(kReduced, sat, 14, u""); }},
      {nullptr, [] { WriteSubmitButton(kFull, u"Send", u"Send it", u"b.gif"); }},
      {nullptr, [] { WriteSubmitButton(kFull, u"Send", u"Send it", u""); }},
      {nullptr, [] { WriteSubmitButton(kReduced, u"Send", u"Send it", u"b.gif"); }},
      {nullptr, [] { WriteSubmitButton(kReduced, u"Send", u"Send it", u""); }},
      // By id, the caption is both name and value.
      {sat, [] { WriteSubmitButtonById(kReduced, 10, u""); }},
      {LumarestModuleHandle(), [] { WriteSubmitButtonById(kFull, 3106, u""); }},
      {LumarestModuleHandle(), [sat] { WriteSubmitButtonByIdFromModule(kFull, sat, 14, u""); }},
      {nullptr, [] { WriteBarText(u"1 - 30 of 45 (100%)"); }},
  };
  std::u16string page;
  int n = 0;
  for (const auto& [current, write] : cases) {
    std::optional<platform::ModuleStateGuard> state;
    if (current) state.emplace(current);
    page += u"\n-- " + platform::U16(std::to_string(++n)) + u"\n" + Written(write);
  }
  EXPECT_TRUE(testing_support::MatchesGolden("chrome-cells", page));
}

// The navigation bar (reduced output only), in tests/golden/chrome-navigation.html.
TEST_F(ChromeTest, NavigationBarOnlyInReducedOutput) {
  std::u16string page;
  {
    platform::ModuleStateGuard state(LumarestModuleHandle());
    EXPECT_EQ(u"", Written([] { WriteNavigationBar(kFull, 3106); }));
    // No quorraCore satellite: the English captions; the title and its
    // arguments change nothing, even when they do not match.
    page += Written([] { WriteNavigationBar(kReduced, 3106); }) + u"\n";
    page += Written([this] { WriteNavigationBarFromModule(kReduced, satellite, 11, 5); }) + u"\n";
  }
  // Mail disabled: no mail cells.
  host.mailDisabled = true;
  page += Written([] { WriteNavigationBar(kReduced, 3106); }) + u"\n";
  EXPECT_TRUE(testing_support::MatchesGolden("chrome-navigation", page));
}

// Captions from the core satellite, the English ones where it has none.
TEST_F(ChromeTest, NavigationBarCaptionsFromTheCoreSatellite) {
  install.WriteSatellite("quorraCore", "de",
                         {{1144, u"Posteingang"}, {1210, u""}, {1213, u"Meine 100% Dateien"}});
  host.serverVariables = {{u"HTTP_ACCEPT_LANGUAGE", u"de-de,en"}};
  const std::u16string bar = Written([] { WriteNavigationBar(kReduced, 3106); });
  EXPECT_TRUE(testing_support::MatchesGolden("chrome-navigation-de", bar));
}

}  // namespace
