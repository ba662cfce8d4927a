// The component's interfaces: IMyInbox (implemented by MyInbox) and
// ILumarestTarget (implemented by the caller, the output target). Both are
// dual interfaces; the members below are in vtable slot order.
#pragma once

#include "platform/Com.h"

struct ILumarestTarget : IDispatch {
  virtual HRESULT get_IsValid(LONG* value) = 0;                           // 1
  virtual HRESULT get_DisplayWidth(LONG* value) = 0;                      // 2
  virtual HRESULT get_DisplayHeight(LONG* value) = 0;                     // 3
  virtual HRESULT get_MaximumColours(LONG* value) = 0;                    // 4
  virtual HRESULT get_SupportsImages(LONG* value) = 0;                    // 5
  virtual HRESULT StartPage() = 0;                                        // 6
  virtual HRESULT EndPage() = 0;                                          // 7
  virtual HRESULT get_PageSize(LONG* value) = 0;                          // 8
  virtual HRESULT put_PageSize(LONG value) = 0;                           // 9
  virtual HRESULT WriteLink(BSTR bsHREF, BSTR bsDisplayedText, BSTR bsImagePath,
                            BSTR bsAltImageText, LONG ulImageBorder, LONG bNewWindow) = 0;  // 10
  virtual HRESULT WriteLine() = 0;                                        // 11
  virtual HRESULT StartParagraph(LONG ulWrap, LONG ulAlign) = 0;          // 12
  virtual HRESULT EndParagraph() = 0;                                     // 13
  virtual HRESULT StartTable(BSTR bsTableName, LONG ulAlignment) = 0;     // 14
  virtual HRESULT EndTable() = 0;                                         // 15
  virtual HRESULT StartTableData() = 0;                                   // 16
  virtual HRESULT EndTableData() = 0;                                     // 17
  virtual HRESULT StartTableRow() = 0;                                    // 18
  virtual HRESULT EndTableRow() = 0;                                      // 19
  virtual HRESULT WriteText(BSTR bsText, LONG ulTextStyle) = 0;           // 20
  virtual HRESULT get_ReducedOutput(LONG* value) = 0;                     // 21
  virtual HRESULT put_ReducedOutput(LONG value) = 0;                      // 22
  virtual HRESULT WriteImage(BSTR bsImagePath, BSTR bsAltText, LONG ulImageBorder) = 0;  // 23
  virtual HRESULT SetTitle(BSTR bsTitle) = 0;                             // 24
  virtual HRESULT get_SupportsPNG(LONG* value) = 0;                       // 25
  virtual HRESULT get_UsePNG(LONG* value) = 0;                            // 26
  virtual HRESULT put_UsePNG(LONG value) = 0;                             // 27
  virtual HRESULT StartToolBar() = 0;                                     // 28
  virtual HRESULT EndToolBar() = 0;                                       // 29
  virtual HRESULT get_SupportsUpload(LONG* value) = 0;                    // 30
  virtual HRESULT get_SupportsOpen(LONG* value) = 0;                      // 31
  virtual HRESULT put_SupportsOpen(LONG value) = 0;                       // 32
  virtual HRESULT WriteUIText(BSTR bsText, LONG ulTextStyle) = 0;         // 33
  virtual HRESULT get_DoPagination(LONG* value) = 0;                      // 34
  virtual HRESULT get_FullOutput(LONG* value) = 0;                        // 35
  virtual HRESULT SetOutputFile(BSTR bsFileName) = 0;                     // 36
  virtual HRESULT get_PdaFullOutput(LONG* value) = 0;                     // 37

 protected:
  ~ILumarestTarget() = default;
};

struct IMyInbox : IDispatch {
  virtual HRESULT DisplayMessages() = 0;                                  // 1
  virtual HRESULT SetTarget(ILumarestTarget* pTarget) = 0;                // 2
  virtual HRESULT ViewMessage() = 0;                                      // 3
  virtual HRESULT ComposeMessage() = 0;                                   // 4
  virtual HRESULT FaxFile() = 0;                                          // 5
  virtual HRESULT DeleteMessage(BSTR guid) = 0;                           // 6
  virtual HRESULT EnumContacts(BSTR bsLetter, INT type) = 0;              // 7
  virtual HRESULT get_FileID(BSTR* pVal) = 0;                             // 8
  virtual HRESULT put_FileID(BSTR newVal) = 0;                            // 9
  virtual HRESULT AddAddress(LONG type, BSTR name) = 0;                   // 10
  virtual HRESULT ResolveContacts(INT iField) = 0;                        // 11
  virtual HRESULT UpdateResolvedContacts(INT iField) = 0;                 // 12
  virtual HRESULT Destroy() = 0;                                          // 13
  virtual HRESULT SaveAttachment(BSTR bstrStore, BSTR bstrFolder, BSTR bstrMsgID,
                                 BSTR bstrAttachID, BSTR bstrEncodedFilename,
                                 BSTR tempFilename) = 0;                  // 14
  virtual HRESULT ListAttachments(BSTR FileID) = 0;                       // 15
  virtual HRESULT MeetingResponse() = 0;                                  // 16
  virtual HRESULT ViewMessageEx(BSTR bstrAcceptLang) = 0;                 // 17
  virtual HRESULT DisplayMessagesEx(BSTR bstrAcceptLang) = 0;             // 18
  virtual HRESULT GetAttachment(BSTR bstrmasterSessionKey, BSTR bstrStore, BSTR bstrFolder,
                                BSTR bstrMsgID, BSTR bstrAttachID, BSTR bstrEncodedFilename,
                                VARIANT* pResult) = 0;                    // 19
  virtual HRESULT RemoveAttachment(BSTR fileName, BSTR filesLis, BSTR* pVal) = 0;  // 20
  virtual HRESULT GetAttachment2(BSTR bstrmasterSessionKey, BSTR bstrFtaTicket, BSTR bstrStore,
                                 BSTR bstrFolder, BSTR bstrMsgID, BSTR bstrAttachID,
                                 BSTR bstrEncodedFilename, VARIANT* pResult) = 0;  // 21

 protected:
  ~IMyInbox() = default;
};

// {FB64C221-51A7-48E1-9DA9-179B060439C9}
constexpr CLSID CLSID_MyInbox = {0xFB64C221, 0x51A7, 0x48E1, {0x9D, 0xA9, 0x17, 0x9B, 0x06, 0x04, 0x39, 0xC9}};
// {EB2CBEEF-B482-4C1C-911D-2908616B1776}
constexpr IID IID_IMyInbox = {0xEB2CBEEF, 0xB482, 0x4C1C, {0x91, 0x1D, 0x29, 0x08, 0x61, 0x6B, 0x17, 0x76}};
// {CC0B7D91-08DB-4EA5-82D6-419943650CE4}
constexpr IID IID_ILumarestTarget = {0xCC0B7D91, 0x08DB, 0x4EA5, {0x82, 0xD6, 0x41, 0x99, 0x43, 0x65, 0x0C, 0xE4}};
// {89453DAD-BD81-4DF9-A352-D97BB66BF20A}
constexpr GUID LIBID_LUMARESTINBOXLib = {0x89453DAD, 0xBD81, 0x4DF9, {0xA3, 0x52, 0xD9, 0x7B, 0xB6, 0x6B, 0xF2, 0x0A}};

template <>
struct InterfaceId<IMyInbox> {
  static constexpr IID value = IID_IMyInbox;
};
template <>
struct InterfaceId<ILumarestTarget> {
  static constexpr IID value = IID_ILumarestTarget;
};
