// The type library's description of IMyInbox: member names, DISPIDs and
// parameter names, used by GetIDsOfNames and Invoke, and the type
// information (GetTypeInfo) and registration built from the same table.
#pragma once

#include <span>
#include <string_view>

#include "platform/TypeInfo.h"
#include "platform/WinTypes.h"

namespace inbox {

enum class ParamKind { InBstr, InInt, InTarget, OutVariant, RetvalBstr };

struct ParamInfo {
  std::u16string_view name;
  ParamKind kind;
};

struct MemberInfo {
  std::u16string_view name;
  DISPID dispid;
  bool property;  // FileID: get and put
  std::span<const ParamInfo> params;
};

std::span<const MemberInfo> IMyInboxMembers();
const MemberInfo* FindMember(DISPID id);

// The type library LUMARESTINBOXLib: its version and locale, as registered.
inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;
inline constexpr LCID kTypeLibLcid = 0;
inline constexpr char16_t kTypeLibName[] = u"LUMARESTINBOXLib";
inline constexpr char16_t kInterfaceName[] = u"IMyInbox";

// The table as type information: one function per method, two (get, put)
// for the property, in slot order.
HRESULT CreateIMyInboxTypeInfo(ITypeInfo** info);

}  // namespace inbox
