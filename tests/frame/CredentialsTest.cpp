// Impersonation through a fake impersonation object registered for the process.
#include "frame/Credentials.h"

#include <gtest/gtest.h>

#include <functional>

#include "frame/Encoding.h"
#include "platform/Bstr.h"
#include "platform/ComObject.h"
#include "platform/Exceptions.h"
#include "platform/Text.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RecordingHost;
using testing_support::TestInstall;

bool AllZero(const void* bytes, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Lives on the test's stack: counts references without deleting itself.
class FakeImpersonator final : public platform::InterfaceQuery<IImpersonate> {
 public:
  const hostkit::CPasswordString* lastBuffer = nullptr;  // the host's password buffer
  HRESULT hr = S_OK;
  VARIANT_BOOL answer = VARIANT_TRUE;
  HRESULT throwError = S_OK;
  int calls = 0;
  std::u16string user, domain, password;
  VARIANT_BOOL useMSID = 0;
  BSTR passwordSeen = nullptr;
  UINT passwordBytes = 0;
  // State of both password copies when the caller let go of the object.
  bool releasedWithCopyZeroed = false, releasedWithBufferZeroed = false;
  ULONG refs = 0;

  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    // The first release after a call is the caller's: both copies still exist then.
    if (passwordSeen) {
      releasedWithCopyZeroed = AllZero(passwordSeen, passwordBytes);
      passwordSeen = nullptr;
      if (lastBuffer)
        releasedWithBufferZeroed = AllZero(lastBuffer->Bytes(), hostkit::CPasswordString::kBytes);
    }
    return --refs;
  }
  HRESULT Impersonate(BSTR u, BSTR d, BSTR p, VARIANT_BOOL msid, VARIANT_BOOL* result) override {
    ++calls;
    user = platform::BstrView(u);
    domain = platform::BstrView(d);
    password = platform::BstrView(p);
    passwordSeen = p;
    passwordBytes = SysStringByteLen(p);
    useMSID = msid;
    if (throwError != S_OK) throw CComError(throwError);
    *result = answer;
    return hr;
  }
};

class CredentialsTest : public ::testing::Test {
 protected:
  TestInstall install;
  RecordingHost host;
  hostkit::HostScope scope{&host};
  FakeImpersonator fake;
  HRESULT factoryThrows = S_OK;

  void SetUp() override {
    host.passwordHook = [this](const hostkit::CPasswordString& pwd) { fake.lastBuffer = &pwd; };
    host.password = u"s3cr3t-Pa55";
    host.session[keys::kADUserName] = u"jdoe";
    host.session[keys::kADDomain] = u"corp.example";
    platform::RegisterProcessClass(CLSID_Impersonate, [this](IUnknown*, REFIID riid, void** ppv) {
      if (factoryThrows != S_OK) throw CComError(factoryThrows);
      return fake.QueryInterface(riid, ppv);
    });
  }
  void TearDown() override {
    platform::RevokeProcessClass(CLSID_Impersonate);
    EXPECT_EQ(0u, fake.refs);
  }
  bool Run(const std::u16string& format) {
    host.session[keys::kCredentialsFormat] = format;
    CComPtr<IImpersonate> object;
    EXPECT_EQ(S_OK, CreateImpersonator(object, u"Email"));
    fake.releasedWithCopyZeroed = fake.releasedWithBufferZeroed = false;
    return ImpersonateUser(std::move(object), u"Email");
  }
  void ExpectPasswordWiped() {
    EXPECT_TRUE(fake.releasedWithCopyZeroed);
    EXPECT_TRUE(fake.releasedWithBufferZeroed);
    for (const auto& m : host.messages) EXPECT_EQ(std::u16string::npos, m.detail.find(u"s3cr3t"));
  }
};

TEST_F(CredentialsTest, FormatChoosesTheLogonNameAndDomain) {
  // "UPN" exactly: user@domain, no domain; any other case: the user alone;
  // a longer name beginning with UPN keeps the domain too.
  struct {
    const char16_t *format, *user, *domain;
  } cases[] = {{u"UPN", u"jdoe@corp.example", u""},
               {u"upn", u"jdoe", u""},
               {u"UPN-Suffix", u"jdoe@corp.example", u"corp.example"},
               {u"NT4", u"jdoe", u"corp.example"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::U8(c.format));
    EXPECT_TRUE(Run(c.format));
    EXPECT_EQ(c.user, fake.user);
    EXPECT_EQ(c.domain, fake.domain);
    EXPECT_EQ(u"s3cr3t-Pa55", fake.password);
    EXPECT_EQ(VARIANT_TRUE, fake.useMSID);
    ExpectPasswordWiped();
  }
  EXPECT_EQ(4, fake.calls);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(CredentialsTest, FailedImpersonationIsReportedWithoutThePassword) {
  struct {
    std::function<bool()> run;
    const char16_t* detail;
  } cases[] = {
      {[this] { fake.answer = VARIANT_FALSE; return Run(u"UPN"); },
       u"IMPERSONATE(): Failed to impersonate - UserID: [jdoe@corp.example] Domain: [] "
       u"UseMSID: [true] hRes: [x0] bResult: [false]"},
      {[this] { fake.hr = E_ACCESSDENIED; return Run(u"NT4"); },
       u"IMPERSONATE(): Failed to impersonate - UserID: [jdoe] Domain: [corp.example] "
       u"UseMSID: [true] hRes: [x80070005] bResult: [true]"},
      {[this] { fake.throwError = E_FAIL; return Run(u"UPN"); },
       u"IMPERSONATE(): Exception thrown impersonating - UserID: [jdoe@corp.example] Domain: [] "
       u"UseMSID: [true] hRes: [x80004005] Message:[Unspecified error]"},
      {[] { return ImpersonateUser(nullptr, u"Email"); },
       u"IMPERSONATE(): Impersonate object not created call DECLARE_IMPERSONATE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::U8(c.detail));
    host.messages.clear();
    fake.answer = VARIANT_TRUE;
    fake.hr = fake.throwError = S_OK;
    fake.releasedWithCopyZeroed = fake.releasedWithBufferZeroed = true;  // no object: nothing to wipe
    EXPECT_FALSE(c.run());
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(0, host.messages[0].type);
    EXPECT_TRUE(host.messages[0].log);
    EXPECT_EQ(u"Email", host.messages[0].component);
    EXPECT_EQ(u"", host.messages[0].feature);
    EXPECT_EQ(c.detail, host.messages[0].detail);
    ExpectPasswordWiped();
  }
}

TEST_F(CredentialsTest, CreationFailuresAreReported) {
  platform::RevokeProcessClass(CLSID_Impersonate);
  CComPtr<IImpersonate> object;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateImpersonator(object, u"Email"));
  EXPECT_EQ(nullptr, object.p);
  ASSERT_EQ(1u, host.messages.size());
  EXPECT_EQ(u"DECLARE_IMPERSONATE(): Failed to create Impersonate object - hRes: [x80040154]",
            host.messages[0].detail);

  platform::RegisterProcessClass(CLSID_Impersonate, [](IUnknown*, REFIID, void**) -> HRESULT {
    throw CComError(static_cast<HRESULT>(0x80040250u));
  });
  EXPECT_EQ(E_FAIL, CreateImpersonator(object, u"Email"));
  ASSERT_EQ(2u, host.messages.size());
  EXPECT_EQ(u"DECLARE_IMPERSONATE(): Exception thrown creating Impersonate object - hRes: [x80040250] "
            u"Message:[IDispatch error #80]",
            host.messages[1].detail);
}

TEST_F(CredentialsTest, MessagesAreSentOnlyWhenTheyLoad) {
  // A quorraFax satellite is the source once installed; one without the
  // message sends nothing, a translated one is used.
  install.WriteSatellite("quorraFax", "en", {{1, u"x"}});
  fake.answer = VARIANT_FALSE;
  EXPECT_FALSE(Run(u"UPN"));
  EXPECT_TRUE(host.messages.empty());
  install.WriteSatellite("quorraFax", "de", {{3236, u"Anmeldung fehlgeschlagen: [%s] [%s] [%s] [x%x] [%s]"}});
  host.serverVariables = {{u"HTTP_ACCEPT_LANGUAGE", u"de"}};
  host.ResetRequest();
  EXPECT_FALSE(Run(u"UPN"));
  ASSERT_EQ(1u, host.messages.size());
  EXPECT_EQ(u"Anmeldung fehlgeschlagen: [jdoe@corp.example] [] [true] [x0] [false]", host.messages[0].detail);
  ExpectPasswordWiped();
}

TEST_F(CredentialsTest, LogonNameMustLeaveRoomForItsTerminator) {
  // 256 + "@" + 255 fill the buffer but for the terminator; one more is refused.
  struct {
    std::size_t user, domain;
    bool fits;
  } cases[] = {{300, 300, false}, {257, 255, false}, {256, 256, false}, {256, 255, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.user) + "@" + std::to_string(c.domain));
    host.session[keys::kADUserName] = std::u16string(c.user, u'u');
    host.session[keys::kADDomain] = std::u16string(c.domain, u'd');
    fake.calls = 0;
    fake.user.clear();
    EXPECT_EQ(c.fits, Run(u"UPN"));
    EXPECT_EQ(c.fits ? 1 : 0, fake.calls);
    EXPECT_EQ(c.fits ? c.user + 1 + c.domain : 0u, fake.user.size());
  }
}

}  // namespace
