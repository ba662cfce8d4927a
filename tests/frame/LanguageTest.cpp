// Satellite libraries by language, the request's language, resource scopes.
#include "frame/Language.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>
#include <set>

#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/ComObject.h"
#include "platform/Debug.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RecordingHost;
using testing_support::TestInstall;

// Which satellite a handle came from: each test satellite carries its own
// code at id 1.
std::u16string Which(HMODULE module) { return module ? platform::LoadString(module, 1) : u"<none>"; }

class SatelliteTest : public ::testing::Test {
 protected:
  TestInstall install;
  void Install(const std::string& base, const std::string& code) {
    install.WriteSatellite(base, code, {{1, platform::U16(code)}});
  }
  std::u16string Load(const char16_t* list, std::u16string* codeOut = nullptr) {
    char16_t code[5] = {u'?', u'?', u'?', u'?', 0};
    HMODULE m = LoadSatelliteLibrary(u"quorraFax", list, code, false);
    std::u16string which = Which(m);
    if (codeOut) *codeOut = code;
    if (m) FreeLibrary(m);
    return which;
  }
};

TEST_F(SatelliteTest, LanguageListIsWalkedPieceByPieceThenEn) {
  std::u16string list96;
  while (list96.size() < 96) list96 += u"zz,";  // 96 characters
  const std::u16string fits = list96 + u"fr";     // "fr" at 96-97
  const std::u16string cut = list96 + u"zz,fr";  // "fr" at 99-100: cut to "f"
  const std::u16string huge(100000, u'q');
  struct {
    std::vector<std::string> installed;
    const char16_t* list;
    const char16_t* loaded;  // also the code written back
  } cases[] = {
      {{"en"}, u"de-de,fr", u"en"}, {{"en", "fr"}, u"de-de,fr", u"fr"},
      {{"en", "fr", "de"}, u"de-de,fr", u"de"},
      // Pieces are taken exactly as they stand: "fr, de" tries fr, " d" (blank
      // and d), then en; no case change; a one-letter piece as it is.
      {{"en", "de"}, u"fr, de", u"en"}, {{"en", "de", " d"}, u"fr, de", u" d"},
      {{"en", "de"}, u"DE", u"en"}, {{"en", "x"}, u"x,de", u"x"},
      // An empty piece ends the walk.
      {{"en", "fr"}, u"de,,fr", u"en"}, {{"en", "fr"}, u",fr", u"en"}, {{"en", "fr"}, u"", u"en"},
      {{"en", "fr"}, u"fr,", u"fr"}, {{"en", "fr"}, nullptr, u"en"},
      // Only the first hundred characters count.
      {{"en", "fr"}, fits.c_str(), u"fr"}, {{"en", "fr"}, cut.c_str(), u"en"},
      {{"en", "fr", "f"}, cut.c_str(), u"f"}, {{"en", "fr"}, huge.c_str(), u"en"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::U8(c.list ? std::u16string(c.list).substr(0, 20) : u"<null>"));
    TestInstall fresh;
    for (const auto& code : c.installed) fresh.WriteSatellite("quorraFax", code, {{1, platform::U16(code)}});
    std::u16string code;
    EXPECT_EQ(c.loaded, Load(c.list, &code));
    EXPECT_EQ(c.loaded, code);
  }
}

TEST_F(SatelliteTest, NoInstallValueNoLibrary) {
  Install("quorraFax", "en");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ",
                                                            0, KEY_ALL_ACCESS, &key)));
  EXPECT_EQ(ERROR_SUCCESS, static_cast<DWORD>(RegDeleteValueW(key, u"Install")));
  RegCloseKey(key);
  std::u16string code = u"unchanged";
  EXPECT_EQ(u"<none>", Load(u"en", &code));
}

TEST_F(SatelliteTest, InstallValueWithoutTrailingSeparator) {
  Install("quorraFax", "fr");
  std::string dir = install.InstallDir().string();
  platform::RegWriteText(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ", u"Install", platform::U16(dir));
  EXPECT_EQ(u"fr", Load(u"fr"));
}

TEST_F(SatelliteTest, BrokenSatellitesAreSkippedAndNamed) {
  Install("quorraFax", "en");
  install.WriteSatelliteText("quorraFax", "de", "1 = \"de\"\n2 = \"trunc");  // truncated
  install.WriteSatelliteText("quorraFax", "fr", "1 = \"fr\"\nnot a line\n");
  install.WriteSatelliteText("quorraFax", "it", "");  // empty: a table without strings
  std::vector<std::u16string> lines;
  auto old = platform::SetDebugSink([&](std::u16string_view t) { lines.emplace_back(t); });
  EXPECT_EQ(u"en", Load(u"de,fr"));
  EXPECT_EQ(u"", Load(u"it"));
  platform::SetDebugSink(old);
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::u16string::npos, lines[0].find(u"quorraFax_de.strings:2:"));
  EXPECT_NE(std::u16string::npos, lines[1].find(u"quorraFax_fr.strings:2:"));
}

// A request whose steps fail on demand.
class FakeVariables final : public platform::DispatchObject<IRequestDictionary> {
 public:
  HRESULT itemResult = S_OK;
  CComVariant value;
  HRESULT get_Item(VARIANT, VARIANT* out) override {
    return FAILED(itemResult) ? itemResult : VariantCopy(out, &value);
  }
  HRESULT get_Count(int* c) override {
    *c = 1;
    return S_OK;
  }
  HRESULT get_Key(VARIANT, VARIANT*) override { return E_NOTIMPL; }
};

class FakeRequest final : public platform::DispatchObject<IRequest> {
 public:
  CComPtr<FakeVariables> variables{new FakeVariables};
  HRESULT variablesResult = S_OK;
  HRESULT get_QueryString(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT get_Form(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT get_ServerVariables(IRequestDictionary** out) override {
    *out = FAILED(variablesResult) ? nullptr : variables.p;
    if (*out) (*out)->AddRef();
    return variablesResult;
  }
};

class LanguageSourceTest : public ::testing::Test {
 protected:
  TestInstall install;
  RecordingHost host;
  hostkit::HostScope scope{&host};
  CComPtr<FakeRequest> fake{new FakeRequest};
  bool noRequest = false;
  void SetUp() override {
    host.requestHook = [this] { return noRequest ? nullptr : static_cast<IRequest*>(fake.p); };
  }
  void SetDefault(std::u16string_view code) {
    platform::RegWriteText(HKEY_LOCAL_MACHINE, u"Software\\Halvorn\\MUI", u"TALQ_DefaultLanguage", code);
  }
};

TEST_F(LanguageSourceTest, DefaultLanguageFromRegistryElseEn) {
  EXPECT_EQ(u"en", GetDefaultLanguage());
  SetDefault(u"de");
  EXPECT_EQ(u"de", GetDefaultLanguage());
  SetDefault(std::u16string(129, u'a'));  // 258 bytes and the terminator: fits 260
  EXPECT_EQ(std::u16string(129, u'a'), GetDefaultLanguage());
  SetDefault(std::u16string(130, u'a'));  // does not fit
  EXPECT_EQ(u"en", GetDefaultLanguage());
}

TEST_F(LanguageSourceTest, BrowserLanguagesFromTheHeader) {
  fake->variables->value = CComVariant(u"fr-ch,en;q=0.5");
  EXPECT_EQ(u"fr-ch,en;q=0.5", GetBrowserLanguages());
  // Missing or empty: the default language.
  SetDefault(u"it");
  fake->variables->value = CComVariant();
  EXPECT_EQ(u"it", GetBrowserLanguages());
  fake->variables->value = CComVariant(u"");
  EXPECT_EQ(u"it", GetBrowserLanguages());
  EXPECT_TRUE(host.events.empty());
}

TEST_F(LanguageSourceTest, ClientLanguageSessionThenHeader) {
  host.session[keys::kClientLanguage] = u"de";
  fake->variables->value = CComVariant(u"fr");
  std::u16string lang;
  GetClientLanguage(lang);
  EXPECT_EQ(u"de", lang);
  host.session[keys::kClientLanguage] = u"";
  GetClientLanguage(lang);
  EXPECT_EQ(u"fr", lang);
  // An empty header stays empty (the search then goes straight to "en").
  SetDefault(u"nl");
  fake->variables->value = CComVariant(u"");
  GetClientLanguage(lang);
  EXPECT_EQ(u"", lang);
  EXPECT_TRUE(host.events.empty());
}

TEST_F(LanguageSourceTest, EachFailedStepGivesTheDefaultAndOneEvent) {
  SetDefault(u"nl");
  struct Step {
    const char* name;
    std::function<void()> fail;
    HRESULT reported;  // S_OK: any failure
  };
  const Step steps[] = {
      {"no request", [this] { noRequest = true; }, S_OK},
      {"no server variables", [this] { fake->variablesResult = E_ACCESSDENIED; },
       E_ACCESSDENIED},
      {"no header", [this] { fake->variables->itemResult = E_INVALIDARG; }, E_INVALIDARG},
      {"no text form",
       [this] { fake->variables->value = CComVariant(static_cast<IDispatch*>(new platform::DispatchObject<IDispatch>)); },
       S_OK}};
  std::set<int> lines;
  for (bool client : {false, true}) {
    for (const Step& step : steps) {
      SCOPED_TRACE(std::string(step.name) + (client ? " (client)" : " (browser)"));
      noRequest = false;
      fake->variablesResult = fake->variables->itemResult = S_OK;
      fake->variables->value = CComVariant(u"fr");
      step.fail();
      host.events.clear();
      std::u16string lang;
      if (client) GetClientLanguage(lang);
      else lang = GetBrowserLanguages();
      EXPECT_EQ(u"nl", lang);
      ASSERT_EQ(1u, host.events.size());
      const auto& e = host.events[0];
      EXPECT_EQ(1, e.type);
      EXPECT_TRUE(FAILED(e.eventId));
      if (step.reported != S_OK) {
        EXPECT_EQ(step.reported, e.eventId);
      }
      EXPECT_EQ(u"", e.text);
      EXPECT_FALSE(e.source.empty());
      lines.insert(e.line);
    }
  }
  EXPECT_EQ(8u, lines.size());  // every step reports where it failed
}

class ScopeTest : public ::testing::Test {
 protected:
  TestInstall install;
  RecordingHost host;
  hostkit::HostScope scope{&host};
  std::vector<std::u16string> debug;
  platform::DebugSink oldSink;
  void SetUp() override {
    oldSink = platform::SetDebugSink([this](std::u16string_view t) { debug.emplace_back(t); });
  }
  void TearDown() override { platform::SetDebugSink(oldSink); }
};

TEST_F(ScopeTest, MakesTheSatelliteCurrentAndRestores) {
  install.WriteSatellite("quorraFax", "fr", {{3106, u"Bo\u00EEte de r\u00E9ception"}});
  host.session[keys::kClientLanguage] = u"fr";
  platform::ModuleStateGuard state(LumarestModuleHandle());
  HMODULE before = AfxGetResourceHandle();
  EXPECT_EQ(u"Inbox", platform::LoadString(3106));
  {
    CResourceScope resources;
    ASSERT_TRUE(resources.Open(u"quorraFax"));
    HMODULE library = resources.Library();
    EXPECT_EQ(library, AfxGetResourceHandle());
    EXPECT_EQ(u"Bo\u00EEte de r\u00E9ception", platform::LoadString(3106));
    EXPECT_EQ(u"", platform::LoadString(3198));  // missing from the satellite: empty
    EXPECT_TRUE(resources.Open(u"quorraFax"));   // already open: kept
    EXPECT_EQ(library, resources.Library());
  }
  EXPECT_EQ(before, AfxGetResourceHandle());
  EXPECT_EQ(u"Inbox", platform::LoadString(3106));
  EXPECT_TRUE(debug.empty());
}

TEST_F(ScopeTest, CloseRestoresAndFailureLeavesTheModuleAlone) {
  platform::ModuleStateGuard state(LumarestModuleHandle());
  HMODULE before = AfxGetResourceHandle();
  CResourceScope resources;
  EXPECT_FALSE(resources.Open(u"quorraFax"));  // nothing installed
  EXPECT_EQ(nullptr, resources.Library());
  EXPECT_EQ(before, AfxGetResourceHandle());
  ASSERT_EQ(1u, debug.size());
  EXPECT_EQ(u"Unable to load satellite DLL", debug[0]);

  install.WriteSatellite("quorraFax", "en", {{3106, u"Inbox (en satellite)"}});
  ASSERT_TRUE(resources.Open(u"quorraFax"));
  EXPECT_EQ(u"Inbox (en satellite)", platform::LoadString(3106));
  resources.Close();
  EXPECT_EQ(before, AfxGetResourceHandle());
  EXPECT_EQ(nullptr, resources.Library());
  resources.Close();  // twice is harmless
  EXPECT_EQ(before, AfxGetResourceHandle());
}

}  // namespace
