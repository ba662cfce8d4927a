#include "inbox/TypeLibrary.h"

#include <vector>

#include "host/InboxInterfaces.h"

namespace inbox {

namespace {
using K = ParamKind;
constexpr ParamInfo kNone[] = {{u"", K::InBstr}};
constexpr ParamInfo kSetTarget[] = {{u"pTarget", K::InTarget}};
constexpr ParamInfo kDelete[] = {{u"guid", K::InBstr}};
constexpr ParamInfo kEnumContacts[] = {{u"bsLetter", K::InBstr}, {u"type", K::InInt}};
constexpr ParamInfo kFileID[] = {{u"pVal", K::RetvalBstr}};
constexpr ParamInfo kAddAddress[] = {{u"type", K::InInt}, {u"name", K::InBstr}};
constexpr ParamInfo kField[] = {{u"iField", K::InInt}};
constexpr ParamInfo kSave[] = {{u"bstrStore", K::InBstr},    {u"bstrFolder", K::InBstr},
                               {u"bstrMsgID", K::InBstr},    {u"bstrAttachID", K::InBstr},
                               {u"bstrEncodedFilename", K::InBstr}, {u"tempFilename", K::InBstr}};
constexpr ParamInfo kList[] = {{u"FileID", K::InBstr}};
constexpr ParamInfo kLang[] = {{u"bstrAcceptLang", K::InBstr}};
constexpr ParamInfo kGet[] = {{u"bstrmasterSessionKey", K::InBstr}, {u"bstrStore", K::InBstr},
                              {u"bstrFolder", K::InBstr},           {u"bstrMsgID", K::InBstr},
                              {u"bstrAttachID", K::InBstr},         {u"bstrEncodedFilename", K::InBstr},
                              {u"pResult", K::OutVariant}};
constexpr ParamInfo kRemove[] = {{u"fileName", K::InBstr}, {u"filesLis", K::InBstr}, {u"pVal", K::RetvalBstr}};
constexpr ParamInfo kGet2[] = {{u"bstrmasterSessionKey", K::InBstr}, {u"bstrFtaTicket", K::InBstr},
                               {u"bstrStore", K::InBstr},            {u"bstrFolder", K::InBstr},
                               {u"bstrMsgID", K::InBstr},            {u"bstrAttachID", K::InBstr},
                               {u"bstrEncodedFilename", K::InBstr},  {u"pResult", K::OutVariant}};

constexpr std::span<const ParamInfo> kEmpty(kNone, 0);

constexpr MemberInfo kMembers[] = {
    {u"DisplayMessages", 2, false, kEmpty},
    {u"SetTarget", 3, false, kSetTarget},
    {u"ViewMessage", 4, false, kEmpty},
    {u"ComposeMessage", 20, false, kEmpty},
    {u"FaxFile", 24, false, kEmpty},
    {u"DeleteMessage", 25, false, kDelete},
    {u"EnumContacts", 26, false, kEnumContacts},
    {u"FileID", 27, true, kFileID},
    {u"AddAddress", 28, false, kAddAddress},
    {u"ResolveContacts", 29, false, kField},
    {u"UpdateResolvedContacts", 30, false, kField},
    {u"Destroy", 31, false, kEmpty},
    {u"SaveAttachment", 32, false, kSave},
    {u"ListAttachments", 34, false, kList},
    {u"MeetingResponse", 35, false, kEmpty},
    {u"ViewMessageEx", 36, false, kLang},
    {u"DisplayMessagesEx", 37, false, kLang},
    {u"GetAttachment", 38, false, kGet},
    {u"RemoveAttachment", 39, false, kRemove},
    {u"GetAttachment2", 40, false, kGet2},
};
}  // namespace

std::span<const MemberInfo> IMyInboxMembers() { return kMembers; }

const MemberInfo* FindMember(DISPID id) {
  for (const auto& m : kMembers)
    if (m.dispid == id) return &m;
  return nullptr;
}

namespace {

PARAMDATA ParamData(const ParamInfo& p) {
  switch (p.kind) {
    case K::InBstr: return {p.name.data(), VT_BSTR, PARAMFLAG_FIN};
    case K::InInt: return {p.name.data(), VT_I4, PARAMFLAG_FIN};
    case K::InTarget: return {p.name.data(), VT_DISPATCH, PARAMFLAG_FIN};
    case K::OutVariant: return {p.name.data(), VT_VARIANT | VT_BYREF, PARAMFLAG_FOUT};
    case K::RetvalBstr: return {p.name.data(), VT_BSTR | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};
  }
  return {p.name.data(), VT_EMPTY, PARAMFLAG_NONE};
}

// The INTERFACEDATA of the table (the type information copies it).
struct TypeData {
  std::vector<std::vector<PARAMDATA>> params;
  std::vector<METHODDATA> methods;
  INTERFACEDATA data{};

  TypeData() {
    // The property's put accessor takes the new value (slot after the get).
    static constexpr ParamInfo kPut[] = {{u"newVal", K::InBstr}};
    params.reserve(std::size(kMembers) + 1);
    UINT slot = 0;
    auto add = [&](const MemberInfo& m, std::span<const ParamInfo> ps, WORD flags) {
      auto& list = params.emplace_back();
      for (const auto& p : ps) list.push_back(ParamData(p));
      methods.push_back({m.name.data(), list.data(), m.dispid, ++slot, CC_STDCALL,
                         static_cast<UINT>(list.size()), flags, VT_HRESULT});
    };
    for (const auto& m : kMembers) {
      if (m.property) {
        add(m, m.params, DISPATCH_PROPERTYGET);
        add(m, kPut, DISPATCH_PROPERTYPUT);
      } else {
        add(m, m.params, DISPATCH_METHOD);
      }
    }
    data = {methods.data(), static_cast<UINT>(methods.size())};
  }
};

}  // namespace

HRESULT CreateIMyInboxTypeInfo(ITypeInfo** info) {
  const TypeData data;
  return platform::CreateDispTypeInfo(data.data, IID_IMyInbox, kInterfaceName, kTypeLibMajor, kTypeLibMinor,
                                      kTypeLibLcid, info);
}

}  // namespace inbox
