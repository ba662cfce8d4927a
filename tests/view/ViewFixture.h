// What the message-view tests share: a recording host, an installed English satellite with the view's texts, a mailbox
// with one message, and a stand-in for the shell object that reads internet
// shortcut files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Com.h"
#include "platform/Debug.h"
#include "platform/Exceptions.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "tests/support/FakeMail.h"
#include "platform/ComObject.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/RecordingTarget.h"
#include "tests/support/TestFiles.h"

namespace view_tests {

// The shell automation object: CreateShortcut (1002) answers a shortcut
// object for the paths it knows, whose TargetPath (1005) is the URL.
class FakeShell final : public platform::DispatchObject<IDispatch> {
 public:
  static inline std::map<std::u16string, std::u16string> targets;
  static inline int created = 0;
  static inline int shortcutsAlive = 0;

  explicit FakeShell(std::u16string target = {}, bool shortcut = false)
      : target_(std::move(target)), shortcut_(shortcut) {
    if (shortcut_) ++shortcutsAlive;
    else ++created;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    if (!shortcut_ && id == 1002 && (flags & DISPATCH_METHOD) && params->cArgs == 1 &&
        params->rgvarg[0].vt == VT_BSTR) {
      auto it = targets.find(std::u16string(platform::BstrView(params->rgvarg[0].bstrVal)));
      if (it == targets.end()) return E_FAIL;
      VariantInit(result);
      result->vt = VT_DISPATCH;
      result->pdispVal = new FakeShell(it->second, true);
      result->pdispVal->AddRef();
      return S_OK;
    }
    if (shortcut_ && id == 1005 && (flags & DISPATCH_PROPERTYGET)) {
      CComVariant value{std::u16string_view(target_)};
      return VariantCopy(result, &value);
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  ~FakeShell() {
    if (shortcut_) --shortcutsAlive;
  }
  std::u16string target_;
  bool shortcut_;
};

inline constexpr CLSID kFakeShellClsid = {0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

// The English satellite: the module's own texts for the view's ids, the
// ids the listing's table carries, the heading 3241 and a date format.
inline std::map<UINT, std::u16string> EnglishSatellite() {
  std::map<UINT, std::u16string> s;
  for (UINT id : {3110u, 3111u, 3112u, 3113u, 3114u, 3116u, 3117u, 3118u, 3119u, 3120u, 3122u,
                  3131u, 3132u, 3133u, 3135u, 3136u, 3150u, 3151u, 3216u, 3217u, 3218u, 3219u,
                  3220u, 3221u, 3222u})
    s[id] = platform::LoadString(LumarestModuleHandle(), id);
  s[3107] = u"Inbox.asp?TopIndex=%d&amp;Folder=%s&amp;Store=%s&amp;Sort=%d";
  s[3200] = u"Reply";
  s[3204] = u"Reply&nbsp;to&nbsp;All";
  s[3205] = u"Forward";
  s[3241] = u"Files";
  s[3247] = u"%Y-%m-%d %H:%M";
  return s;
}

class ViewFixture : public ::testing::Test {
 protected:
  testing_support::TestInstall install;
  testing_support::RecordingHost host;
  hostkit::HostScope scope{&host};
  std::shared_ptr<testing_support::FakeMailbox> box =
      std::make_shared<testing_support::FakeMailbox>();
  CComPtr<testing_support::RecordingTarget> target = testing_support::RecordingTarget::Create();
  CComPtr<IMyInbox> object;
  CMyInbox* inbox = nullptr;
  std::vector<std::u16string> debug;
  platform::DebugSink previousSink;
  const GUID guid = testing_support::TestGuid(7);
  const std::u16string guidText = platform::GuidToString(testing_support::TestGuid(7));
  const std::u16string folder = EncodeUrlSafe(u"Inbox");

  void SetUp() override {
    install.WriteSatellite("quorraFax", "en", EnglishSatellite());
    host.connectionFactory = [this] { return new testing_support::FakeMail(box); };
    host.query = {{u"Guid", guidText}, {u"Folder", folder}};
    testing_support::FakeMessage m;
    m.id = guid;
    box->messages.push_back(m);
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&object)));
    inbox = static_cast<CMyInbox*>(object.p);
    object->SetTarget(target);
    previousSink = platform::SetDebugSink([this](std::u16string_view t) { debug.emplace_back(t); });
  }
  void TearDown() override {
    platform::SetDebugSink(previousSink);
    object.Release();
    EXPECT_EQ(0, MAPIManaged::LiveRecordArrays());
  }

  testing_support::FakeMessage& Message() { return box->messages[0]; }
  HRESULT View() { return object->ViewMessageEx(CComBSTR(u"en")); }
  std::u16string Body() const { return host.Body(); }
  // Target calls other than the mode questions.
  std::vector<std::u16string> Calls() const {
    std::vector<std::u16string> out;
    for (const auto& c : target->calls)
      if (c != u"FullOutput" && c != u"PdaFullOutput" && c != u"SupportsImages") out.push_back(c);
    return out;
  }
  void RegisterShell() {
    platform::RegisterProcessClass(kFakeShellClsid, [](IUnknown*, REFIID riid, void** ppv) {
      CComPtr<IDispatch> shell(new FakeShell);
      return shell->QueryInterface(riid, ppv);
    });
    ASSERT_TRUE(platform::RegWriteText(HKEY_CLASSES_ROOT, u"WScript.Shell\\CLSID", u"",
                                       platform::GuidToString(kFakeShellClsid)));
  }
};

}  // namespace view_tests
