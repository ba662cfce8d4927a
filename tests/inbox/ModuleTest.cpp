// The module as a script page sees it: registration, creation by ProgID and
// CLSID through the class registry, interfaces, reference counts, unloading.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "host/InboxInterfaces.h"
#include "platform/Format.h"
#include "platform/Guid.h"
#include "platform/TypeInfo.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "tests/support/RecordingTarget.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RecordingTarget;
using testing_support::TestInstall;

struct Module {
  void* handle = nullptr;
  HRESULT (*registerServer)() = nullptr;
  HRESULT (*unregisterServer)() = nullptr;
  HRESULT (*canUnload)() = nullptr;
  HRESULT (*getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  Module() {
    handle = ::dlopen(LUMAREST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"));
    unregisterServer = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllUnregisterServer"));
    canUnload = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllCanUnloadNow"));
    getClassObject =
        reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(::dlsym(handle, "DllGetClassObject"));
  }
  ~Module() {
    if (handle) ::dlclose(handle);
  }
};

std::u16string Read(std::u16string_view key, std::u16string_view name = u"") {
  std::u16string value;
  if (!platform::RegReadText(HKEY_CLASSES_ROOT, key, name, value)) return u"<missing>";
  return value;
}

const std::u16string kClsidKey = u"CLSID\\{FB64C221-51A7-48E1-9DA9-179B060439C9}";

class ModuleTest : public ::testing::Test {
 protected:
  TestInstall install;
  Module module;
  void SetUp() override {
    ASSERT_NE(nullptr, module.handle) << ::dlerror();
    ASSERT_NE(nullptr, module.registerServer);
  }
};

TEST_F(ModuleTest, RegistrationWritesClassProgIdsAndTypeLibrary) {
  ASSERT_EQ(S_OK, module.registerServer());
  const std::u16string path = platform::U16(LUMAREST_MODULE_PATH);
  // Creation by ProgID and CLSID is checked below; the names and type
  // library entries here.
  EXPECT_EQ(u"Apartment", Read(kClsidKey + u"\\InprocServer32", u"ThreadingModel"));
  EXPECT_EQ(u"LumarestInbox.MyInbox.1", Read(u"LumarestInbox.MyInbox\\CurVer"));
  EXPECT_EQ(u"ILumarestTarget", Read(u"Interface\\{CC0B7D91-08DB-4EA5-82D6-419943650CE4}"));

  // The registered type library is the module's, and what it registers is
  // what the module's type information says.
  CComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, module.getClassObject(CLSID_MyInbox, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  CComPtr<IDispatch> object;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)));
  CComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, object->GetTypeInfo(0, 0, &info));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  const std::u16string interfaceKey = u"Interface\\" + platform::GuidToString(attr->guid);
  const std::u16string libid = Read(interfaceKey + u"\\TypeLib");
  const std::u16string version = platform::FormatW(u"%d.%d", int{attr->wMajorVerNum}, int{attr->wMinorVerNum});
  EXPECT_EQ(Read(kClsidKey + u"\\TypeLib"), libid);
  EXPECT_EQ(version, Read(interfaceKey + u"\\TypeLib", u"Version"));
  EXPECT_EQ(path, Read(u"TypeLib\\" + libid + u"\\" + version + u"\\" +
                       platform::FormatW(u"%x", static_cast<unsigned>(attr->lcid)) + u"\\linux"));
  info->ReleaseTypeAttr(attr);
  CComBSTR name;
  ASSERT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
  EXPECT_EQ(std::u16string(name.Str()), Read(interfaceKey));
}

TEST_F(ModuleTest, ForceRemoveReplacesTheClassKeyAndNoRemoveKeepsTheRoot) {
  // A stale entry below the class key and another class beside it.
  ASSERT_TRUE(platform::RegWriteText(HKEY_CLASSES_ROOT, kClsidKey + u"\\Stale", u"", u"old"));
  ASSERT_TRUE(platform::RegWriteText(HKEY_CLASSES_ROOT, kClsidKey + u"\\Programmable\\Old", u"", u"x"));
  ASSERT_TRUE(platform::RegWriteText(HKEY_CLASSES_ROOT, u"CLSID\\{00000000-1111-2222-3333-444444444444}",
                                     u"", u"Other"));
  ASSERT_EQ(S_OK, module.registerServer());
  EXPECT_FALSE(platform::RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey + u"\\Stale"));
  EXPECT_FALSE(platform::RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey + u"\\Programmable\\Old"));

  ASSERT_EQ(S_OK, module.unregisterServer());
  EXPECT_FALSE(platform::RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey));
  EXPECT_FALSE(platform::RegKeyExists(HKEY_CLASSES_ROOT, u"LumarestInbox.MyInbox"));
  EXPECT_FALSE(platform::RegKeyExists(HKEY_CLASSES_ROOT, u"LumarestInbox.MyInbox.1"));
  EXPECT_EQ(u"Other", Read(u"CLSID\\{00000000-1111-2222-3333-444444444444}"));
}

TEST_F(ModuleTest, CreatesByEitherProgIdAndByClsid) {
  ASSERT_EQ(S_OK, module.registerServer());
  for (const char16_t* name : {u"LumarestInbox.MyInbox", u"LumarestInbox.MyInbox.1",
                               u"{FB64C221-51A7-48E1-9DA9-179B060439C9}"}) {
    CComPtr<IMyInbox> inbox;
    EXPECT_EQ(S_OK, inbox.CoCreateInstance(name)) << platform::U8(name);
  }
  CComPtr<IMyInbox> missing;
  EXPECT_EQ(CO_E_CLASSSTRING, missing.CoCreateInstance(u"LumarestInbox.Nothing"));
}

TEST_F(ModuleTest, CanUnloadOnlyWithoutObjectsAndLocks) {
  CComPtr<IClassFactory> factory;
  auto getFactory = [&] {
    ASSERT_EQ(S_OK, module.getClassObject(CLSID_MyInbox, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  };
  EXPECT_EQ(S_OK, module.canUnload());
  getFactory();
  EXPECT_EQ(S_FALSE, module.canUnload());  // a held class object counts as a lock
  CComPtr<IMyInbox> inbox;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
  factory.Release();
  EXPECT_EQ(S_FALSE, module.canUnload());  // a live object
  inbox.Release();
  EXPECT_EQ(S_OK, module.canUnload());
  for (BOOL lock : {TRUE, FALSE}) {  // a lock outlives the factory that took it
    getFactory();
    factory->LockServer(lock);
    factory.Release();
    EXPECT_EQ(lock ? S_FALSE : S_OK, module.canUnload());
  }
  void* other = nullptr;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module.getClassObject(IID_IMyInbox, IID_IClassFactory, &other));
}

}  // namespace
