// What the compose and recipient tests share: a fixture with a recording
// host, a fake mailbox, a recording target and a satellite string table, and
// fakes of the portal's COM servers the compose page talks to (impersonation
// object, activation host, master session store), registered for the process.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/Credentials.h"
#include "frame/Encoding.h"
#include "host/ActivationHost.h"
#include "host/MasterSessionStore.h"
#include "inbox/MyInbox.h"
#include "platform/Com.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Text.h"
#include "tests/support/FakeMail.h"
#include "platform/ComObject.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/RecordingTarget.h"
#include "tests/support/TestFiles.h"

namespace compose_test {

// IDispatch members that no caller of these fakes uses.
template <class Interface>
using FakeDispatch = platform::DispatchObject<Interface>;

// The impersonation object: answers as configured, counts the calls.
struct ImpersonationState {
  bool createFails = false;
  bool impersonateSucceeds = true;
  int impersonations = 0;
  int alive = 0;  // objects not yet released: the thread acts as the user while > 0
};
inline ImpersonationState& Impersonation() {
  static ImpersonationState state;
  return state;
}

class FakeImpersonator final : public platform::ComObject<IImpersonate> {
 public:
  FakeImpersonator() { ++Impersonation().alive; }
  ~FakeImpersonator() override { --Impersonation().alive; }
  HRESULT Impersonate(BSTR, BSTR, BSTR, VARIANT_BOOL, VARIANT_BOOL* result) override {
    ++Impersonation().impersonations;
    if (result) *result = Impersonation().impersonateSucceeds ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};

inline void RegisterFakeImpersonator() {
  Impersonation() = ImpersonationState{};
  platform::RegisterProcessClass(CLSID_Impersonate, [](IUnknown* outer, REFIID riid, void** ppv) {
    if (Impersonation().createFails) return E_ACCESSDENIED;
    return platform::CreateForFactory<FakeImpersonator>(outer, riid, ppv);
  });
}

// One answer of the activation host's Upload.
struct UploadAnswer {
  HRESULT hr = S_OK;
  LONG status = 0;
  bool byteArray = true;    // result as VT_ARRAY|VT_UI1 (else a text)
  std::string id;           // written with a NUL after it
};
struct UploadCall {
  std::u16string context, service, fileName;
  VARTYPE bytesType = VT_EMPTY;
  std::vector<BYTE> bytes;
};
struct ActivationState {
  std::vector<UploadAnswer> answers;  // by call order; missing answers succeed with "id<n>"
  std::vector<UploadCall> calls;
  bool running = false;  // set by IRunnableObject::Run
};
inline ActivationState& Activation() {
  static ActivationState state;
  return state;
}

// {0B7E6A51-52C4-4C84-9E1A-2B0C7E5D4F11}: the fake's class, for tests only.
inline constexpr CLSID kFakeActivationClsid = {
    0x0B7E6A51, 0x52C4, 0x4C84, {0x9E, 0x1A, 0x2B, 0x0C, 0x7E, 0x5D, 0x4F, 0x11}};

class FakeActivationHost final : public FakeDispatch<IHvnActivationServ>, public IRunnableObject {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv && riid == IID_IRunnableObject) {
      *ppv = static_cast<IRunnableObject*>(this);
      AddRef();
      return S_OK;
    }
    return FakeDispatch<IHvnActivationServ>::QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return FakeDispatch<IHvnActivationServ>::AddRef(); }
  ULONG Release() override { return FakeDispatch<IHvnActivationServ>::Release(); }
  HRESULT Run(void*) override {
    Activation().running = true;
    return S_OK;
  }
  HRESULT get_Version(BSTR* version) override {
    if (version) *version = SysAllocString(u"1.0");
    return S_OK;
  }
  HRESULT Upload(BSTR context, BSTR service, BSTR fileName, VARIANT bytes, VARIANT* result,
                 BSTR* message, LONG* status) override {
    auto& state = Activation();
    UploadCall call;
    call.context = platform::BstrView(context);
    call.service = platform::BstrView(service);
    call.fileName = platform::BstrView(fileName);
    call.bytesType = bytes.vt;
    if (bytes.vt == (VT_ARRAY | VT_UI1) && bytes.parray) {
      void* data = nullptr;
      SafeArrayAccessData(bytes.parray, &data);
      auto* p = static_cast<BYTE*>(data);
      call.bytes.assign(p, p + bytes.parray->rgsabound[0].cElements);
      SafeArrayUnaccessData(bytes.parray);
    }
    std::size_t index = state.calls.size();
    state.calls.push_back(call);
    UploadAnswer answer;
    answer.id = "id" + std::to_string(index);
    if (index < state.answers.size()) answer = state.answers[index];
    if (message && *message) SysReAllocString(message, u"note");
    *status = answer.status;
    if (answer.byteArray) {
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(answer.id.size() + 1));
      void* data = nullptr;
      SafeArrayAccessData(array, &data);
      std::memcpy(data, answer.id.c_str(), answer.id.size() + 1);
      SafeArrayUnaccessData(array);
      result->vt = VT_ARRAY | VT_UI1;
      result->parray = array;
    } else {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(u"text");
    }
    return answer.hr;
  }
};

inline void RegisterFakeActivationHost() {
  Activation() = ActivationState{};
  platform::RegisterProcessClass(kFakeActivationClsid, [](IUnknown* outer, REFIID riid, void** ppv) {
    return platform::CreateForFactory<FakeActivationHost>(outer, riid, ppv);
  });
  platform::RegWriteText(HKEY_CLASSES_ROOT, u"ActivationServiceHost.HvnActivationServ\\CLSID", u"",
                         platform::GuidToString(kFakeActivationClsid));
}

inline void RevokeFakeActivationHost() { platform::RevokeProcessClass(kFakeActivationClsid); }

// The master session store: records Open, SetValue and Commit.
struct MasterStoreState {
  std::vector<std::u16string> calls;  // "Open(id)", "SetValue(name=value)", "Commit"
  std::u16string failOn;              // a call name (Open, SetValue, Commit) that fails
};
inline MasterStoreState& MasterStore() {
  static MasterStoreState state;
  return state;
}

class FakeMasterStore final : public FakeDispatch<IMasterSessionStore> {
 public:
  HRESULT Open(BSTR id) override { return Log(u"Open", u"Open(" + Str(id) + u")"); }
  HRESULT Close() override { return E_NOTIMPL; }
  HRESULT get_IsOpen(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetValue(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT DeleteValue(BSTR) override { return E_NOTIMPL; }
  HRESULT HasValue(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT GetName(LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT Clear() override { return E_NOTIMPL; }
  HRESULT Refresh() override { return E_NOTIMPL; }
  HRESULT get_MasterSessionID(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetValueVariant(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT SetValueVariant(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT SetValue(BSTR name, BSTR value) override {
    return Log(u"SetValue", u"SetValue(" + Str(name) + u"=" + Str(value) + u")");
  }
  HRESULT Commit() override { return Log(u"Commit", u"Commit"); }

 private:
  static std::u16string Str(BSTR b) { return std::u16string(platform::BstrView(b)); }
  HRESULT Log(const std::u16string& name, std::u16string call) {
    if (MasterStore().failOn == name) return E_FAIL;
    MasterStore().calls.push_back(std::move(call));
    return S_OK;
  }
};

inline void RegisterFakeMasterStore() {
  MasterStore() = MasterStoreState{};
  platform::RegisterProcessClass(CLSID_MasterSessionStore, [](IUnknown* outer, REFIID riid, void** ppv) {
    return platform::CreateForFactory<FakeMasterStore>(outer, riid, ppv);
  });
}

// Strings a satellite supplies (the ids the module's own table lacks too),
// kept as a data file in the satellite format.
inline std::map<UINT, std::u16string> SatelliteStrings() {
  const std::string path = LUMAREST_GOLDEN_DIR "/compose-satellite-en.strings";
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  platform::StringTable table = platform::ParseStringTable(text, path);
  EXPECT_FALSE(table.empty()) << path;
  return {table.begin(), table.end()};
}

class ComposeFixture : public ::testing::Test {
 protected:
  testing_support::TestInstall install;
  testing_support::RecordingHost host;
  hostkit::HostScope hostScope{&host};
  std::shared_ptr<testing_support::FakeMailbox> box =
      std::make_shared<testing_support::FakeMailbox>();
  CComPtr<testing_support::RecordingTarget> target = testing_support::RecordingTarget::Create();
  CComPtr<IMyInbox> inbox;

  void SetUp() override {
    strings_ = SatelliteStrings();
    install.WriteSatellite("quorraFax", "en", strings_);
    host.connectionFactory = [box = box] { return new testing_support::FakeMail(box); };
    host.serverVariables = {{u"LOGON_USER", u"CORP\\bob"}};
    RegisterFakeImpersonator();
    RegisterFakeActivationHost();
    RegisterFakeMasterStore();
    ASSERT_EQ(S_OK,
              CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
    inbox->SetTarget(target);
  }
  void TearDown() override {
    inbox.Release();
    EXPECT_EQ(0, MAPIManaged::LiveRecordArrays());
    EXPECT_EQ(0, Impersonation().alive);
    platform::RevokeProcessClass(CLSID_Impersonate);
    RevokeFakeActivationHost();
    platform::RevokeProcessClass(CLSID_MasterSessionStore);
  }
  CMyInbox* Object() { return static_cast<CMyInbox*>(inbox.p); }
  // Overrides entries of the satellite (an empty text removes nothing: it
  // stores the empty text).
  void WriteStrings(const std::map<UINT, std::u16string>& changes) {
    for (const auto& [id, text] : changes) strings_[id] = text;
    install.WriteSatellite("quorraFax", "en", strings_);
  }
  std::u16string Session(const std::u16string& name) {
    auto it = host.session.find(name);
    return it == host.session.end() ? u"<unset>" : it->second;
  }
  // A message of the fake mailbox.
  testing_support::FakeMessage& AddMessage(std::uint32_t n) {
    box->messages.emplace_back();
    box->messages.back().id = testing_support::TestGuid(n);
    return box->messages.back();
  }
  std::map<UINT, std::u16string> strings_;
};

inline std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

}  // namespace compose_test
