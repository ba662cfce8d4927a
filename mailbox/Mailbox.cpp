// Mailbox operations on one message: delete it, answer a meeting request,
// and hand an attachment's bytes to the portal (into a file or a VARIANT).
#include <cstring>
#include <memory>

#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "frame/Language.h"
#include "inbox/MyInbox.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Guid.h"
#include "platform/Text.h"

namespace {

constexpr UINT kDeleteFailed = 3154;    // "The message could not be deleted."
constexpr UINT kRespondFailed = 3229;   // "Unable to respond to meeting request."
constexpr char16_t kGuidKey[] = u"Guid";
constexpr char16_t kTypeKey[] = u"Type";
constexpr char16_t kAttachIdKey[] = u"AttachID";

// Response codes of the "Type" query key; the names compare exactly.
bool MeetingResponseCode(std::u16string_view type, LONG& code) {
  if (type == u"AcceptMeeting") code = 3;
  else if (type == u"DeclineMeeting") code = 4;
  else if (type == u"TentativeMeeting") code = 2;
  else return false;
  return true;
}

HRESULT ParseMessageId(const std::u16string& text, GUID& id) {
  return IIDFromString(text.c_str(), &id);
}

// Sends the browser back to the folder listing, at its first page.
void RedirectToListing(const std::u16string& folder) {
  CComPtr<IResponse> response;
  if (FAILED(VGetIISObject(response))) return;
  CComBSTR url(platform::FormatW(u"Inbox.asp?%s=%s", keys::kFolder, EncodeUrlSafe(folder)));
  response->Clear();
  response->Redirect(url);
  response->End();
}

// Owns the records that InboxMessage hands out.
struct MessageRecords {
  MAPIManaged::_MAILMESSAGE* message = nullptr;
  MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments = nullptr;
  DWORD count = 0;
  MessageRecords() = default;
  MessageRecords(const MessageRecords&) = delete;
  MessageRecords& operator=(const MessageRecords&) = delete;
  ~MessageRecords() {
    delete[] message;
    delete[] attachments;
  }
};

// Owns an attachment buffer from InboxAttachment (one new[] array).
using AttachmentBytes = std::unique_ptr<BYTE[]>;

std::u16string ExceptionText(const CException& e) { return e.GetErrorMessage(); }

}  // namespace

HRESULT CMyInbox::DeleteMessage(BSTR /*guid: the "Guid" query key names the message*/) {
  AFX_MANAGE_STATE_MODULE();
  try {
    const std::u16string guidText = VGetQueryStringVar(kGuidKey);
    if (!DoWebEmailPolicyCheck()) return E_FAIL;

    bool deleted = false;
    GUID id{};
    if (SUCCEEDED(InitMailSession()) && SUCCEEDED(ParseMessageId(guidText, id))) {
      std::u16string language;
      GetClientLanguage(language);
      if (SUCCEEDED(m_mapi->DeleteMessage(m_strFolder.c_str(), id, language.c_str()))) {
        RedirectToListing(m_strFolder);
        deleted = true;
      }
    }
    if (!deleted) VWriteResponseString(kDeleteFailed);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CException&) {
    return E_FAIL;
  }
}

HRESULT CMyInbox::MeetingResponse() {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  try {
    const std::u16string guidText = VGetQueryStringVar(kGuidKey);
    if (!DoWebEmailPolicyCheck()) return E_FAIL;

    LONG code = 0;
    GUID id{};
    if (!MeetingResponseCode(VGetQueryStringVar(kTypeKey), code) || FAILED(InitMailSession()) ||
        FAILED(ParseMessageId(guidText, id)) || FAILED(ReplyToMeetingRequest(code))) {
      VWriteResponseString(kRespondFailed);
      return S_OK;
    }
    RedirectToListing(m_strFolder);
    // The answered request leaves the folder; whether that works does not
    // change the answer already sent.
    CComBSTR guid(guidText);
    static_cast<IMyInbox*>(this)->DeleteMessage(guid);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CException&) {
    return E_FAIL;
  }
}

HRESULT CMyInbox::ReplyToMeetingRequest(LONG response) {
  AFX_MANAGE_STATE_MODULE();
  HRESULT hr = E_FAIL;
  if (!m_pTarget) return E_POINTER;
  MessageRecords records;
  try {
    m_pTarget->StartPage();  // no EndPage follows on this path

    GUID id{};
    if (FAILED(ParseMessageId(VGetQueryStringVar(kGuidKey), id))) return E_FAIL;
    if (FAILED(InitMailSession())) return E_FAIL;

    hr = m_mapi->InboxMessage(m_strFolder.c_str(), id, &records.message, &records.attachments,
                              &records.count, 0);
    // A message that is not a meeting request is answered by doing nothing.
    if (SUCCEEDED(hr) && records.message && records.message->bMeetingRequest) {
      const std::u16string language = GetBrowserLanguages();
      hr = m_mapi->RespondToMeetingRequest(response, records.message->guidID, m_strFolder.c_str(),
                                           language.c_str());
    }
  } catch (const CException& e) {
    ReportException("CMyInbox::ReplyToMeetingRequest", __LINE__, kEventException, ExceptionText(e));
  } catch (const std::bad_alloc&) {
    ReportException("CMyInbox::ReplyToMeetingRequest", __LINE__, kEventException,
                    CMemoryException().GetErrorMessage());
  }
  return hr;
}

HRESULT CMyInbox::SaveAttachment(BSTR /*bstrStore*/, BSTR /*bstrFolder*/, BSTR /*bstrMsgID*/,
                                 BSTR /*bstrAttachID*/, BSTR /*bstrEncodedFilename*/,
                                 BSTR tempFilename) {
  AFX_MANAGE_STATE_MODULE();
  HRESULT hr = S_OK;
  AttachmentBytes bytes;
  try {
    // The query keys name the attachment; the arguments are not consulted.
    const std::u16string guidText = VGetQueryStringVar(kGuidKey);
    const int attachId = static_cast<int>(platform::ParseLongPrefix(VGetQueryStringVar(kAttachIdKey)));
    GUID id{};
    hr = ParseMessageId(guidText, id);
    if (FAILED(hr)) return hr;
    if (!DoWebEmailPolicyCheck()) return S_OK;
    if (FAILED(InitMailSession())) return S_OK;

    BYTE* buffer = nullptr;
    DWORD length = 0;
    hr = m_mapi->InboxAttachment(m_strFolder.c_str(), id, attachId, &buffer, &length);
    if (FAILED(hr)) return hr;
    bytes.reset(buffer);

    platform::CFile file;
    if (!file.OpenForWrite(platform::BstrView(tempFilename))) {
      // A Win32 code as an HRESULT; 0 or a negative code passes unchanged.
      return HRESULT_FROM_WIN32(GetLastError());
    }
    try {
      file.Write(bytes.get(), length);
      file.Flush();
      file.Close();
    } catch (const CFileException&) {
      // What was written stays; the download itself succeeded.
    }
  } catch (const CException& e) {
    ReportException(kReportSource, __LINE__, kEventException, ExceptionText(e));
  } catch (const std::bad_alloc&) {
    ReportException(kReportSource, __LINE__, kEventException, CMemoryException().GetErrorMessage());
  }
  return hr;
}

HRESULT CMyInbox::GetAttachment(BSTR bstrmasterSessionKey, BSTR /*bstrStore*/,
                                BSTR /*bstrFolder*/, BSTR bstrMsgID, BSTR bstrAttachID,
                                BSTR /*bstrEncodedFilename*/, VARIANT* pResult) {
  AFX_MANAGE_STATE_MODULE();
  CComBSTR noTicket(u"");
  return DownloadAttachment(bstrmasterSessionKey, noTicket, bstrMsgID, bstrAttachID, pResult);
}

HRESULT CMyInbox::GetAttachment2(BSTR bstrmasterSessionKey, BSTR bstrFtaTicket,
                                 BSTR /*bstrStore*/, BSTR /*bstrFolder*/, BSTR bstrMsgID,
                                 BSTR bstrAttachID, BSTR /*bstrEncodedFilename*/,
                                 VARIANT* pResult) {
  AFX_MANAGE_STATE_MODULE();
  return DownloadAttachment(bstrmasterSessionKey, bstrFtaTicket, bstrMsgID, bstrAttachID, pResult);
}

HRESULT CMyInbox::DownloadAttachment(BSTR masterSessionKey, BSTR ticket, BSTR msgId,
                                     BSTR attachId, VARIANT* pResult) {
  AFX_MANAGE_STATE_MODULE();
  if (!pResult) return E_POINTER;
  VariantInit(pResult);
  AttachmentBytes bytes;
  try {
    const std::u16string key(platform::BstrView(masterSessionKey));
    const std::u16string ticketText(platform::BstrView(ticket));
    const std::u16string guidText(platform::BstrView(msgId));
    const int attachNumber = static_cast<int>(platform::ParseLongPrefix(platform::BstrView(attachId)));
    GUID id{};
    const bool parsed = SUCCEEDED(ParseMessageId(guidText, id));

    // A failed download leaves pResult empty; the caller looks at its type.
    if (!parsed) return S_OK;
    if (!CheckEmailPolicy(key)) return S_OK;
    if (FAILED(InitMailSession())) return S_OK;
    m_mapi->InitializeUserCredentials(key.c_str(), ticketText.c_str());  // result not consulted

    BYTE* buffer = nullptr;
    DWORD length = 0;
    if (FAILED(m_mapi->InboxAttachment(m_strFolder.c_str(), id, attachNumber, &buffer, &length)))
      return S_OK;
    bytes.reset(buffer);

    SAFEARRAY* vector = SafeArrayCreateVector(VT_UI1, 0, length);
    if (!vector) return S_FALSE;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(vector, &data))) {
      SafeArrayDestroy(vector);
      return S_FALSE;
    }
    if (length) std::memcpy(data, bytes.get(), length);
    SafeArrayUnaccessData(vector);
    pResult->vt = VT_ARRAY | VT_UI1;
    pResult->parray = vector;
    return S_OK;
  } catch (const std::bad_alloc&) {
    VariantClear(pResult);
    return E_OUTOFMEMORY;
  } catch (const CException&) {
    VariantClear(pResult);
    return E_FAIL;
  }
}
