// MyInbox: the web-mail component's one creatable class. A portal page
// creates one object per request, hands it an output target with SetTarget
// and calls one page method, which writes HTML into the response.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/HostKit.h"
#include "host/MAPINativeConnection.h"
#include "host/InboxInterfaces.h"
#include "platform/Com.h"
#include "platform/Resources.h"

// The module's own handle: its English string table, and what the
// module-state guard makes current.
HMODULE LumarestModuleHandle();

// Switches to this module's state for the life of the scope.
#define AFX_MANAGE_STATE_MODULE() platform::ModuleStateGuard moduleStateGuard_(LumarestModuleHandle())

class CMyInbox final : public IMyInbox {
 public:
  // Creates an object; outer is the controlling unknown when aggregated.
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

  // IUnknown (delegates to the controlling unknown when aggregated).
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch, from the type library's names and DISPIDs.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

  // IMyInbox, in slot order.
  HRESULT DisplayMessages() override;
  HRESULT SetTarget(ILumarestTarget* pTarget) override;
  HRESULT ViewMessage() override;
  HRESULT ComposeMessage() override;
  HRESULT FaxFile() override;
  HRESULT DeleteMessage(BSTR guid) override;
  HRESULT EnumContacts(BSTR bsLetter, INT type) override;
  HRESULT get_FileID(BSTR* pVal) override;
  HRESULT put_FileID(BSTR newVal) override;
  HRESULT AddAddress(LONG type, BSTR name) override;
  HRESULT ResolveContacts(INT iField) override;
  HRESULT UpdateResolvedContacts(INT iField) override;
  HRESULT Destroy() override;
  HRESULT SaveAttachment(BSTR bstrStore, BSTR bstrFolder, BSTR bstrMsgID, BSTR bstrAttachID,
                         BSTR bstrEncodedFilename, BSTR tempFilename) override;
  HRESULT ListAttachments(BSTR FileID) override;
  HRESULT MeetingResponse() override;
  HRESULT ViewMessageEx(BSTR bstrAcceptLang) override;
  HRESULT DisplayMessagesEx(BSTR bstrAcceptLang) override;
  HRESULT GetAttachment(BSTR bstrmasterSessionKey, BSTR bstrStore, BSTR bstrFolder,
                        BSTR bstrMsgID, BSTR bstrAttachID, BSTR bstrEncodedFilename,
                        VARIANT* pResult) override;
  HRESULT RemoveAttachment(BSTR fileName, BSTR filesLis, BSTR* pVal) override;
  HRESULT GetAttachment2(BSTR bstrmasterSessionKey, BSTR bstrFtaTicket, BSTR bstrStore,
                         BSTR bstrFolder, BSTR bstrMsgID, BSTR bstrAttachID,
                         BSTR bstrEncodedFilename, VARIANT* pResult) override;

  // Number of live objects in the module (for DllCanUnloadNow).
  static long ObjectCount();

  // ---- Session set-up and policy (frame/) ----
  bool DoWebEmailPolicyCheck();
  bool CheckEmailPolicy(std::u16string_view masterSessionId);
  HRESULT InitMailSession();
  bool IsHtmlDisplayEnabled();
  // ---- Localized resources (frame/) ----
  bool LoadResourceLibrary(const char16_t* languageList);

  // ---- Listing (listing/) ----
  // Toolbar with paging and the search bar (the page's second StartPage).
  void WriteListingToolbar(LONG topIndex, DWORD count, LONG sort);
  // The column header row of the message table (full output only).
  void WriteColumnHeader(bool searching, LONG sort);
  // The message table: header, at most 30 rows from m_nTopIndex, filtered by a posted search.
  void WriteListingRows(const MAPIManaged::_MAILITEM* items, DWORD count, LONG sort);
  // ---- Message view (view/) ----
  void WriteViewToolbar(std::u16string_view subject, const MAPIManaged::_MAILMESSAGE& message);
  void WriteMeetingToolbar(std::u16string_view subject, const MAPIManaged::_MAILMESSAGE& message);
  void SendHtmlBodyOnly(const MAPIManaged::_MAILMESSAGE& message);
  void WriteHtmlBodyFrame(const MAPIManaged::_MAILMESSAGE& message);
  void WriteMessageView(const MAPIManaged::_MAILMESSAGE& message,
                        const MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments, DWORD count);
  void WriteMeetingView(const MAPIManaged::_MAILMESSAGE& message);
  void WriteAttachmentList(const MAPIManaged::_MAILMESSAGE& message,
                           const MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments, DWORD count);
  void WriteMessageHeaderAndBody(const MAPIManaged::_MAILMESSAGE& message,
                                 const MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments,
                                 DWORD count, bool attachmentList);
  // ---- Compose (compose/) ----
  // The compose form for a request without posted fields.
  HRESULT ShowComposeForm();
  // A post of the compose form, the contacts picker or the name-resolution page.
  HRESULT HandleComposePost(IRequestDictionary* form);
  // The list without the signed-in account's own name, trimmed of blanks and ";".
  std::u16string RemoveSelfFromRecipients(std::u16string_view list);
  // Copies a forwarded message's attachments into the upload store and
  // appends their encoded references to the attachment list.
  HRESULT ForwardAttachments(const GUID& messageId, MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments,
                             DWORD count, std::vector<std::u16string>& attachmentList);
  // Sending: done is true when the post is answered (redirect, report or
  // alert and form); the result is then the post's result.
  HRESULT SendComposedMessage(IRequestDictionary* form, bool fullOutput, bool& done);
  // Opens the contacts picker for the post; true when the page was written.
  bool OpenContactsPicker(IRequestDictionary* form, const std::u16string& search);
  // Writes the compose page itself (the last step of ShowComposeForm).
  void WriteComposePage(LONG fullOutput, LONG width, const std::u16string& toText,
                        const std::u16string& ccText, const std::u16string& bccText,
                        const std::u16string& subject, const std::u16string& body,
                        const std::vector<std::u16string>& attachmentList);
  // ---- Recipients (recipients/) ----
  // Resolves the bare names of a post against the address list and the
  // contacts; writes the resolution page when there is a name to resolve.
  HRESULT CheckNames(IRequestDictionary* form);
  // Stores the choices posted from the resolution page in the compose state.
  void AcceptSelections(IRequestDictionary* form);
  // The contacts picker page. It shows one page of at most 100 entries, so
  // pageNumber is not consulted (the compose post passes 1).
  void WriteContactsPicker(MAPIManaged::_CONTACTITEM* items, DWORD count, DWORD pageNumber,
                           std::u16string_view filter, bool fromContacts);
  // ---- Mailbox operations (mailbox/) ----
  // Answers the meeting request named by the "Guid" query key with a
  // response code (3 accept, 4 decline, 2 tentative).
  HRESULT ReplyToMeetingRequest(LONG response);
  // The worker behind GetAttachment and GetAttachment2.
  HRESULT DownloadAttachment(BSTR masterSessionKey, BSTR ticket, BSTR msgId, BSTR attachId,
                             VARIANT* pResult);
  // Attachment lists (compose/AttachmentList.cpp), declared here so that the
  // compose form's own section stays its own: drops later repeats of an item.
  bool RemoveDuplicateAttachments(std::vector<std::u16string>& list);

 private:
  // Tests and benchmarks read the fields through this one friend
  // (tests/support/InboxAccess.h), never directly.
  friend struct CMyInboxTestAccess;

  // AddAddress's pending-address lists, for type 1 and type 2: its contract
  // keeps the names for the object's life, though nothing else reads them.
  std::vector<std::u16string> m_pendingAddresses1;
  std::vector<std::u16string> m_pendingAddresses2;

  // Fields, in declaration order.
  CComPtr<ILumarestTarget> m_pTarget;
  // The table name the message view passes to StartTable; nothing changes it.
  CComBSTR m_bstrTableName{u""};
  std::u16string m_strFolder;
  CComBSTR m_bstrStore{u""};
  LONG m_nTopIndex = 0;
  std::u16string m_strFileID;
  BYTE m_bCheckNamesShown = 0;
  MAPIManaged::MAPINativeConnection* m_mapi = nullptr;
  HMODULE m_hResourceLib = nullptr;

  explicit CMyInbox(IUnknown* outer);
  ~CMyInbox();
  CMyInbox(const CMyInbox&) = delete;
  CMyInbox& operator=(const CMyInbox&) = delete;

  // The non-delegating unknown that an aggregating outer object holds.
  struct InnerUnknown final : IUnknown {
    CMyInbox* owner;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
  };

  InnerUnknown m_inner;
  IUnknown* m_pOuter;  // the controlling unknown: the outer object or m_inner
  CRefCount m_refs;
};
