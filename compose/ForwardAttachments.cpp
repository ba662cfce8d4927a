// Forwarded attachments stay in the mailbox, but a message is sent only with
// files and uploads named in its attachment list: each attachment's bytes are
// handed to the activation host, which stores them in the portal's upload
// store, and the returned reference joins the list.
#include <cstring>
#include <memory>
#include <string>

#include "compose/ComposeConstants.h"
#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "host/ActivationHost.h"
#include "inbox/MyInbox.h"
#include "platform/Text.h"

namespace {

// A failure the user is told about: a trace line and, when the texts load,
// a report to the host.
void ReportUploadFailure(USHORT traceNumber, const std::u16string& text) {
  trace::TraceMessage(trace::DTF_ERROR, traceNumber, {text});
  std::u16string title = platform::LoadString(compose::kIdsWebEmail);
  std::u16string lead = platform::LoadString(compose::kIdsForwardFailed);
  if (!title.empty() && !lead.empty()) VReportMessage(kReportFailure, true, title, lead, text);
}

// Creates the activation host with all server contexts: as IUnknown, run,
// then asked for its interface.
HRESULT CreateActivationHost(CComPtr<IHvnActivationServ>& host) {
  CLSID clsid{};
  HRESULT hr = platform::ClsidFromName(kActivationHostProgId, clsid);
  if (FAILED(hr)) return hr;
  CComPtr<IUnknown> unknown;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (FAILED(hr)) return hr;
  if (!unknown) return E_NOINTERFACE;
  hr = OleRun(unknown);
  if (FAILED(hr)) return hr;
  hr = unknown.QueryInterface(&host);
  if (SUCCEEDED(hr) && !host) hr = E_NOINTERFACE;
  return hr;
}

// The upload identifier in a byte-array result: UTF-8 up to its first NUL.
bool UploadIdFromResult(const VARIANT& result, std::u16string& id) {
  if (result.vt != (VT_ARRAY | VT_UI1) || !result.parray) return false;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(result.parray, &data))) return false;
  std::size_t size = result.parray->rgsabound[0].cElements;
  const char* bytes = static_cast<const char*>(data);
  std::size_t length = size ? ::strnlen(bytes, size) : 0;
  id = platform::Utf8ToUtf16(std::string_view(bytes, length));
  SafeArrayUnaccessData(result.parray);
  return true;
}

}  // namespace

HRESULT CMyInbox::ForwardAttachments(const GUID& messageId,
                                     MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments,
                                     DWORD count, std::vector<std::u16string>& attachmentList) {
  CComPtr<IHvnActivationServ> host;
  if (FAILED(CreateActivationHost(host))) {
    trace::TraceMessage(trace::DTF_ERROR, trace::kMsgNoActivationHost,
                        {u"Forward Attachments: Unable to connect to Activation Host"});
    return E_FAIL;
  }

  HvnChoiceActivate activation;
  CComBSTR context(activation.CreateContextXML(u""));
  CComBSTR service(u"ssupload");

  for (DWORD i = 0; i < count; ++i) {
    MAPIManaged::_MAILMESSAGEATTACHMENTS& entry = attachments[i];
    BYTE* bytes = nullptr;
    DWORD size = 0;
    if (FAILED(m_mapi->InboxAttachment(m_strFolder.c_str(), messageId, entry.nAttachID, &bytes,
                                       &size)))
      continue;
    std::unique_ptr<BYTE[]> owned(bytes);

    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
    void* data = nullptr;
    if (!array || FAILED(SafeArrayAccessData(array, &data))) {
      if (array) SafeArrayDestroy(array);
      ReportUploadFailure(trace::kMsgAttachmentCopyFailed, platform::LoadString(compose::kIdsCopyFailedSize) +
                                  platform::U16(std::to_string(static_cast<unsigned long>(size))));
      continue;
    }
    if (size && bytes) std::memcpy(data, bytes, size);
    SafeArrayUnaccessData(array);

    CComVariant content;
    content.vt = VT_ARRAY | VT_UI1;
    content.parray = array;  // owned by the variant from here
    CComVariant result;
    CComBSTR message(u"");
    LONG status = -1;
    HRESULT hr = host->Upload(context, service, CComBSTR(platform::View(entry.pszFileName)),
                              content, &result, &message, &status);
    std::u16string uploadId;
    if (SUCCEEDED(hr) && status == 0 && UploadIdFromResult(result, uploadId)) {
      attachmentList.push_back(EncodeUrlSafe(u"UPLOADID" + uploadId));
    } else {
      ReportUploadFailure(trace::kMsgUploadFailed, platform::LoadString(compose::kIdsUploadStoreFailed));
    }
  }
  return S_OK;
}
