// Type information for a dispatch interface: the ITypeInfo a client gets from
// IDispatch::GetTypeInfo to enumerate members (names, DISPIDs, parameter
// names and types, method or property). Built from a table of methods and
// parameters in the way OLE Automation's CreateDispTypeInfo builds it from
// INTERFACEDATA. Only what enumerating and name lookup need: GetTypeAttr,
// GetFuncDesc, GetNames, GetIDsOfNames, GetDocumentation and the releases;
// the rest of the Windows interface is left out.
#pragma once

#include "platform/Com.h"

enum TYPEKIND { TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS };
enum FUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8 };
enum CALLCONV { CC_CDECL = 1, CC_STDCALL = 4 };

constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;
constexpr VARTYPE VT_HRESULT = 25;
constexpr USHORT PARAMFLAG_NONE = 0x0;
constexpr USHORT PARAMFLAG_FIN = 0x1;
constexpr USHORT PARAMFLAG_FOUT = 0x2;
constexpr USHORT PARAMFLAG_FRETVAL = 0x8;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802B);

// One parameter: name and type (VT_BYREF marks a pointer); flags say in, out
// or retval.
struct PARAMDATA {
  const OLECHAR* szName;
  VARTYPE vt;
  USHORT wParamFlags;
};

// One method or property accessor; wFlags is DISPATCH_METHOD,
// DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT.
struct METHODDATA {
  const OLECHAR* szName;
  const PARAMDATA* ppdata;
  DISPID dispid;
  UINT iMeth;  // slot after the IDispatch slots
  CALLCONV cc;
  UINT cArgs;
  WORD wFlags;
  VARTYPE vtReturn;
};

struct INTERFACEDATA {
  const METHODDATA* pmethdata;
  UINT cMembers;
};

struct TYPEDESC {
  VARTYPE vt;
};
struct PARAMDESC {
  USHORT wParamFlags;
};
struct ELEMDESC {
  TYPEDESC tdesc;
  PARAMDESC paramdesc;
};

struct FUNCDESC {
  MEMBERID memid;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
};

struct ITypeInfo : IUnknown {
  virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
  // The member's name, then its parameters' names, at most max of them.
  virtual HRESULT GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) = 0;
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
  // id MEMBERID_NIL: the interface itself. Null out-pointers are skipped.
  virtual HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext,
                                   BSTR* helpFile) = 0;
  virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;

 protected:
  ~ITypeInfo() = default;
};

constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
template <>
struct InterfaceId<ITypeInfo> {
  static constexpr IID value = IID_ITypeInfo;
};

namespace platform {

// Type information of a dual interface described by data (copied):
// TKIND_DISPATCH, derived from IDispatch. Names match without regard to
// case, as IDispatch::GetIDsOfNames does.
HRESULT CreateDispTypeInfo(const INTERFACEDATA& data, REFIID iid, const OLECHAR* name, WORD majorVersion,
                           WORD minorVersion, LCID lcid, ITypeInfo** info);

}  // namespace platform
