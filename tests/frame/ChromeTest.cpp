// The tool bar and its cells, byte for byte, in both output modes.
#include "frame/Chrome.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "inbox/MyInbox.h"
#include "platform/Text.h"
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

// Every cell in both modes, byte for byte: the one place the chrome's markup is written out.
TEST_F(ChromeTest, CellsInBothModes) {
  const HMODULE sat = satellite;
  const std::u16string longUrl = u"Page.asp?x=" + std::u16string(6000, u'y');
  const std::u16string submit =
      u"<td class='coolButton' nowrap=\"true\" >&nbsp;<input class='inputbutton' type=submit "
      u"style='cursor: hand; white-space:nowrap;' name='";
  const std::u16string reducedSubmit =
      u"<td align=center><small><input type=submit name='Send' value='Send it' "
      u"style='white-space:nowrap;'></small></td>\r\n";
  struct Case {
    HMODULE current;  // the resource module while writing
    std::function<void()> write;
    std::u16string expected;
  };
  const Case cases[] = {
      {nullptr, [] { WriteBarStart(kFull); },
       u"<TABLE width=\"100%\" class=\"coolBar\"><TR valign=\"middle\">\r\n"},
      {nullptr, [] { WriteBarStart(kReduced); },
       u"<TABLE width=\"100%\" border=0 bgcolor=\"#D4D0C8\"><TR valign=\"middle\">\r\n"},
      {nullptr, [] { WriteLocationButton(kFull, u"gifs/new.gif", u"Go.asp?a=%41", u"New Mail  Now"); },
       u"<td class='coolButton' nowrap=\"true\" onclick=\"self.location='Go.asp?a=%41'\"><img "
       u"border='0' src='gifs/new.gif' align='absmiddle'>&nbsp;New&nbsp;Mail&nbsp;&nbsp;Now</td>\r\n"},
      {nullptr, [] { WriteLocationButton(kFull, u"", u"Go.asp", u"New Mail"); },
       u"<td class='coolButton' nowrap=\"true\" onclick=\"self.location='Go.asp'\">&nbsp;New&nbsp;Mail</td>\r\n"},
      {nullptr, [] { WriteLocationButton(kReduced, u"gifs/new.gif", u"Go.asp", u"New Mail"); },
       u"<td align=center><a href='Go.asp'><img border='0' src='gifs/new.gif'><br><small>New&nbsp;Mail</small></a></td>\r\n"},
      {nullptr, [] { WriteLocationButton(kReduced, u"", u"Go.asp", u"100% New"); },
       u"<td align=center><a href='Go.asp'><br><small>100%&nbsp;New</small></a></td>\r\n"},
      // Link buttons format the URL from the table of the current module...
      {sat, [] { WriteLinkButton(kFull, 10, u"i.gif", 11, u"SW5ib3g-", u"{1}"); },
       u"<td class='coolButton' nowrap=\"true\" onclick=\"self.location='ViewInboxMessage.asp?"
       u"Folder=SW5ib3g-&ID={1}'\"><img border='0' src='i.gif' align='absmiddle'>&nbsp;New&nbsp;Message</td>\r\n"},
      {sat, [] { WriteLinkButton(kReduced, 10, u"", 12, 3); },
       u"<td align=center><a href='Fax.asp?Scale=100%&Page=3'><br><small>New&nbsp;Message</small></a></td>\r\n"},
      // ...or of the module given, whatever the current one.
      {LumarestModuleHandle(), [sat] { WriteLinkButtonFromModule(kReduced, sat, 14, u"f.gif", 12, 7); },
       u"<td align=center><a href='Fax.asp?Scale=100%&Page=7'><img border='0' src='f.gif'><br><small>Delete&nbsp;It</small></a></td>\r\n"},
      // A URL longer than 5011 characters is cut there.
      {sat, [&] { WriteLinkButton(kReduced, 10, u"", 13, longUrl); },
       u"<td align=center><a href='" + longUrl.substr(0, 5011) + u"'><br><small>New&nbsp;Message</small></a></td>\r\n"},
      {sat, [&] { WriteLinkButton(kReduced, 10, u"", 13, longUrl.substr(0, 5011)); },
       u"<td align=center><a href='" + longUrl.substr(0, 5011) + u"'><br><small>New&nbsp;Message</small></a></td>\r\n"},
      // Script buttons only in full output.
      {sat, [] { WriteScriptButton(kFull, 10, u"s.gif", u"doSend('100%')"); },
       u"<td class='coolButton' nowrap=\"true\" onclick=\"doSend('100%')\"><img border='0' "
       u"src='s.gif' align='absmiddle'>&nbsp;New Message</td>\r\n"},
      {sat, [] { WriteScriptButton(kFull, 10, u"", u"doSend()"); },
       u"<td class='coolButton' nowrap=\"true\" onclick=\"doSend()\">&nbsp;New Message</td>\r\n"},
      {sat, [] { WriteScriptButton(kReduced, 10, u"s.gif", u"doSend()"); }, u""},
      {sat, [] { WriteScriptButton(kReduced, 10, u"", u"doSend()"); }, u""},
      {sat, [sat] { WriteScriptButtonFromModule(kFull, sat, 14, u"", u"x()"); },
       u"<td class='coolButton' nowrap=\"true\" onclick=\"x()\">&nbsp;Delete It</td>\r\n"},
      {sat, [sat] { WriteScriptButtonFromModule(kReduced, sat, 14, u"i", u"x()"); }, u""},
      {nullptr, [sat] { WriteDisabledButton(kFull, sat, 14, u"d.gif"); },
       u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='d.gif' "
       u"align='absmiddle'>&nbsp;Delete It</td>\r\n"},
      {nullptr, [sat] { WriteDisabledButton(kFull, sat, 14, u""); },
       u"<td class='coolDisabled' nowrap=\"true\" >&nbsp;Delete It</td>\r\n"},
      {nullptr, [sat] { WriteDisabledButton(kReduced, sat, 14, u"d.gif"); },
       u"<td align=center><img border='0' src='d.gif'><br><small>Delete It</small></td>\r\n"},
      {nullptr, [sat] { WriteDisabledButton(kReduced, sat, 14, u""); },
       u"<td align=center><br><small>Delete It</small></td>\r\n"},
      {nullptr, [] { WriteSubmitButton(kFull, u"Send", u"Send it", u"b.gif"); },
       u"<td class='coolButton' nowrap=\"true\" ><input class='inputbutton' type=submit "
       u"style='background-image: url(b.gif); background-repeat : no-repeat; "
       u"background-position-x : left; padding-left: 14px; padding-top: 5px; cursor: hand; "
       u"white-space:nowrap;' name='Send' value='Send it'></td>\r\n"},
      {nullptr, [] { WriteSubmitButton(kFull, u"Send", u"Send it", u""); },
       submit + u"Send' value='Send it'></td>\r\n"},
      {nullptr, [] { WriteSubmitButton(kReduced, u"Send", u"Send it", u"b.gif"); }, reducedSubmit},
      {nullptr, [] { WriteSubmitButton(kReduced, u"Send", u"Send it", u""); }, reducedSubmit},
      // By id, the caption is both name and value.
      {sat, [] { WriteSubmitButtonById(kReduced, 10, u""); },
       u"<td align=center><small><input type=submit name='New Message' value='New Message' "
       u"style='white-space:nowrap;'></small></td>\r\n"},
      {LumarestModuleHandle(), [] { WriteSubmitButtonById(kFull, 3106, u""); },
       submit + u"Inbox' value='Inbox'></td>\r\n"},
      {LumarestModuleHandle(), [sat] { WriteSubmitButtonByIdFromModule(kFull, sat, 14, u""); },
       submit + u"Delete It' value='Delete It'></td>\r\n"},
      {nullptr, [] { WriteBarText(u"1 - 30 of 45 (100%)"); },
       u"<td class='coolButton' nowrap=\"true\" align=center>1 - 30 of 45 (100%)</td>\r\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(++n);
    std::optional<platform::ModuleStateGuard> state;
    if (c.current) state.emplace(c.current);
    EXPECT_EQ(platform::U8(c.expected), platform::U8(Written(c.write)));
  }
}

const std::u16string kNavStart = u"<table width=100% border=0 bgcolor='#D4D0C8'><tr>";
std::u16string NavMail(const std::u16string& inbox, const std::u16string& mailboxes) {
  return u"<td align=center><a href='Inbox.asp'><img border=0 src='gifs/Inbox.gif'><br><small>" + inbox +
         u"</small></a></td>"
         u"<td align=center><a href='InboxFolders.asp?Recurse=true&amp;Vis=Inbox'><img border=0 "
         u"src='gifs/Inbox.gif'><br><small>" +
         mailboxes + u"</small></a></td>";
}
std::u16string NavRest(const std::u16string& files, const std::u16string& logout) {
  return u"<td align=center><a href='MyFiles.asp?Recurse=true&amp;Vis=Files'><img border=0 "
         u"src='gifs/My_Computer.gif'><br><small>" +
         files +
         u"</small></a></td>"
         u"<td align=center><a href='Logout.asp'><img border=0 src='gifs/Logout.gif'><br><small>" +
         logout + u"</small></a></td></tr></table>";
}

TEST_F(ChromeTest, NavigationBarOnlyInReducedOutput) {
  platform::ModuleStateGuard state(LumarestModuleHandle());
  EXPECT_EQ(u"", Written([] { WriteNavigationBar(kFull, 3106); }));
  // No quorraCore satellite: the English captions.
  EXPECT_EQ(kNavStart + NavMail(u"Inbox", u"Mailboxes") + NavRest(u"My Files", u"Logout"),
            Written([] { WriteNavigationBar(kReduced, 3106); }));
  // The title and its arguments change nothing, even when they do not match.
  EXPECT_EQ(kNavStart + NavMail(u"Inbox", u"Mailboxes") + NavRest(u"My Files", u"Logout"),
            Written([this] { WriteNavigationBarFromModule(kReduced, satellite, 11, 5); }));
}

TEST_F(ChromeTest, NavigationBarWithMailDisabled) {
  host.mailDisabled = true;
  EXPECT_EQ(kNavStart + NavRest(u"My Files", u"Logout"),
            Written([] { WriteNavigationBar(kReduced, 3106); }));
}

TEST_F(ChromeTest, NavigationBarCaptionsFromTheCoreSatellite) {
  install.WriteSatellite("quorraCore", "de",
                         {{1144, u"Posteingang"}, {1210, u""}, {1213, u"Meine 100% Dateien"}});
  host.serverVariables = {{u"HTTP_ACCEPT_LANGUAGE", u"de-de,en"}};
  EXPECT_EQ(kNavStart + NavMail(u"Posteingang", u"Mailboxes") + NavRest(u"Meine 100% Dateien", u"Logout"),
            Written([] { WriteNavigationBar(kReduced, 3106); }));
}

}  // namespace
