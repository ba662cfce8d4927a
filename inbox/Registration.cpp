#include "inbox/Registration.h"

#include "host/InboxInterfaces.h"
#include "inbox/TypeLibrary.h"
#include "platform/Format.h"
#include "platform/Guid.h"

namespace inbox {

namespace {
using platform::RegistrarKey;

RegistrarKey Key(std::u16string name) {
  RegistrarKey k;
  k.name = std::move(name);
  return k;
}

RegistrarKey Key(std::u16string name, std::u16string defaultValue) {
  RegistrarKey k = Key(std::move(name));
  k.hasDefault = true;
  k.defaultValue = std::move(defaultValue);
  return k;
}
}  // namespace

std::vector<RegistrarKey> RegistrationKeys(const std::u16string& modulePath) {
  const std::u16string clsid = platform::GuidToString(CLSID_MyInbox);
  const std::u16string libid = platform::GuidToString(LIBID_LUMARESTINBOXLib);
  const std::u16string name = u"MyInbox Class";
  const std::u16string versionedId = u"LumarestInbox.MyInbox.1";
  const std::u16string independentId = u"LumarestInbox.MyInbox";

  RegistrarKey versioned = Key(versionedId, name);
  versioned.children.push_back(Key(u"CLSID", clsid));

  RegistrarKey independent = Key(independentId, name);
  independent.children.push_back(Key(u"CLSID", clsid));
  independent.children.push_back(Key(u"CurVer", versionedId));

  RegistrarKey classKey = Key(clsid, name);
  classKey.forceRemove = true;
  classKey.children.push_back(Key(u"ProgID", versionedId));
  classKey.children.push_back(Key(u"VersionIndependentProgID", independentId));
  RegistrarKey programmable = Key(u"Programmable");
  programmable.forceRemove = true;
  classKey.children.push_back(programmable);
  RegistrarKey server = Key(u"InprocServer32", modulePath);
  server.values.push_back({u"ThreadingModel", u"Apartment"});
  classKey.children.push_back(server);
  classKey.children.push_back(Key(u"TypeLib", libid));

  RegistrarKey clsidRoot = Key(u"CLSID");
  clsidRoot.noRemove = true;
  clsidRoot.children.push_back(classKey);

  // The type library and the two interfaces it declares.
  const std::u16string versionText = platform::FormatW(u"%d.%d", int{kTypeLibMajor}, int{kTypeLibMinor});
  RegistrarKey version = Key(versionText, kTypeLibName);
  version.children.push_back(Key(u"FLAGS", u"0"));
  RegistrarKey lcid = Key(platform::FormatW(u"%x", static_cast<unsigned>(kTypeLibLcid)));
  lcid.children.push_back(Key(u"linux", modulePath));
  version.children.push_back(lcid);
  RegistrarKey lib = Key(libid);
  lib.children.push_back(version);
  RegistrarKey typeLibRoot = Key(u"TypeLib");
  typeLibRoot.noRemove = true;
  typeLibRoot.children.push_back(lib);

  auto interfaceKey = [&](const IID& iid, const std::u16string& iname) {
    RegistrarKey k = Key(platform::GuidToString(iid), iname);
    k.children.push_back(Key(u"ProxyStubClsid32", platform::GuidToString(CLSID_PSDispatch)));
    RegistrarKey typeLib = Key(u"TypeLib", libid);
    typeLib.values.push_back({u"Version", versionText});
    k.children.push_back(typeLib);
    return k;
  };
  RegistrarKey interfaceRoot = Key(u"Interface");
  interfaceRoot.noRemove = true;
  interfaceRoot.children.push_back(interfaceKey(IID_IMyInbox, kInterfaceName));
  interfaceRoot.children.push_back(interfaceKey(IID_ILumarestTarget, u"ILumarestTarget"));

  return {versioned, independent, clsidRoot, typeLibRoot, interfaceRoot};
}

}  // namespace inbox
