// The type library's description of IMyInbox: member names, DISPIDs and
// parameter names, used by GetIDsOfNames and Invoke.
#pragma once

#include <span>
#include <string_view>

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

}  // namespace inbox
