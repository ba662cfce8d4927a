// The message page "ViewInboxMessage.asp": one request either opens an
// attachment through the file-activation service (ComponentID=2), answers the
// inline frame with the message's HTML body alone (DownloadHTMLOnly=1), or
// writes the message view: tool bar, header table, attachments and body.
#include <new>

#include "frame/Chrome.h"
#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "frame/Language.h"
#include "inbox/MyInbox.h"
#include "platform/Debug.h"
#include "platform/Exceptions.h"
#include "platform/Guid.h"
#include "platform/Text.h"
#include "view/Links.h"

using MAPIManaged::_MAILMESSAGE;
using MAPIManaged::_MAILMESSAGEATTACHMENTS;

namespace {

constexpr char16_t kSatelliteBase[] = u"quorraFax";
constexpr std::size_t kPieceChars = 2000;

// Query keys of the message page.
constexpr char16_t kKeyGuid[] = u"Guid";
constexpr char16_t kKeyDirection[] = u"Direction";
constexpr char16_t kKeyComponentId[] = u"ComponentID";
constexpr char16_t kKeyOptions[] = u"Options";
constexpr char16_t kKeyFileName[] = u"FileName";
constexpr char16_t kKeyHtmlOnly[] = u"DownloadHTMLOnly";

constexpr int kActivationComponent = hostkit::PendrelComponentEmail;  // 2

// String-table ids.
constexpr UINT kIdTitle = 3110;          // "Message: %s"
constexpr UINT kIdUp = 3114;             // "Inbox"
constexpr UINT kIdUpUrl = 3107;          // Inbox.asp?TopIndex=%d&amp;Folder=%s&amp;Store=%s&amp;Sort=%d
constexpr UINT kIdPrevious = 3112;       // "Prev"
constexpr UINT kIdNext = 3113;           // "Next"
constexpr UINT kIdStepUrl = 3111;        // ViewInboxMessage.asp?Guid=%s&amp;Direction=%d&amp;...
constexpr UINT kIdReply = 3200;
constexpr UINT kIdReplyAll = 3204;
constexpr UINT kIdForward = 3205;
constexpr UINT kIdReplyReduced = 3132;
constexpr UINT kIdReplyUrl = 3131;
constexpr UINT kIdReplyAllUrl = 3133;
constexpr UINT kIdForwardReduced = 3136;
constexpr UINT kIdForwardUrl = 3135;
constexpr UINT kIdDelete = 3150;
constexpr UINT kIdDeleteUrl = 3151;
constexpr UINT kIdAccept = 3217;
constexpr UINT kIdDecline = 3218;
constexpr UINT kIdTentative = 3219;
constexpr UINT kIdAcceptUrl = 3220;
constexpr UINT kIdDeclineUrl = 3221;
constexpr UINT kIdTentativeUrl = 3222;
constexpr UINT kIdSent = 3120;
constexpr UINT kIdFrom = 3117;
constexpr UINT kIdTo = 3118;
constexpr UINT kIdCc = 3119;
constexpr UINT kIdSubject = 3116;
constexpr UINT kIdDateFormat = 3247;  // from the satellites only

void Debug(std::u16string_view text) { OutputDebugStringW(std::u16string(text).c_str()); }

// Body text reaches the response in writes of at most 2000 characters.
void WriteInPieces(std::u16string_view text) {
  for (std::size_t at = 0; at < text.size(); at += kPieceChars)
    VWriteResponseString(u"%s", text.substr(at, kPieceChars));
}

// An address list without its trailing separators and blanks.
std::u16string TrimSeparators(const char16_t* text) {
  std::u16string_view v = platform::View(text);
  while (!v.empty() && (v.back() == u';' || v.back() == u' ')) v.remove_suffix(1);
  return std::u16string(v);
}

bool IsExactlyOne(HRESULT (ILumarestTarget::*get)(LONG*), ILumarestTarget* target) {
  LONG value = 0;
  return SUCCEEDED((target->*get)(&value)) && value == 1;
}

LONG FullOutputOf(ILumarestTarget* target) {
  LONG value = 0;
  if (FAILED(target->get_FullOutput(&value))) value = 0;
  return value;
}

// Frees what InboxMessage returned, on every way out of the page.
struct MessageRecords {
  _MAILMESSAGE* message = nullptr;
  _MAILMESSAGEATTACHMENTS* attachments = nullptr;
  DWORD count = 0;
  MessageRecords() = default;
  MessageRecords(const MessageRecords&) = delete;
  MessageRecords& operator=(const MessageRecords&) = delete;
  ~MessageRecords() {
    if (message) delete[] message;
    if (attachments) delete[] attachments;
  }
};

}  // namespace

HRESULT CMyInbox::ViewMessageEx(BSTR bstrAcceptLang) {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  HRESULT result = E_FAIL;
  try {
    CResourceScope scope;
    scope.Open(kSatelliteBase);  // without a satellite the module's own strings serve
    if (!LoadResourceLibrary(bstrAcceptLang)) return E_FAIL;
    if (!DoWebEmailPolicyCheck()) return E_FAIL;

    try {
      m_pTarget->StartPage();
      const std::u16string guidText = VGetQueryStringVar(kKeyGuid);
      const int direction = static_cast<int>(platform::ParseLongPrefix(VGetQueryStringVar(kKeyDirection)));
      const long componentId = platform::ParseLongPrefix(VGetQueryStringVar(kKeyComponentId));
      HvnChoiceActivate activation;
      const bool fullOutput = IsExactlyOne(&ILumarestTarget::get_FullOutput, m_pTarget);
      const bool pdaFullOutput = IsExactlyOne(&ILumarestTarget::get_PdaFullOutput, m_pTarget);

      if (componentId == kActivationComponent) {
        // Opening an attachment: no mail session and no page end; what the
        // activation service shows is its own business.
        const std::u16string optionsText = VGetQueryStringVar(kKeyOptions);
        const int options = static_cast<int>(platform::ParseLongPrefix(optionsText));
        const std::u16string fileName = DecodeUrlSafe(VGetQueryStringVar(kKeyFileName));
        trace::TraceMessage(trace::DTF_INFO, trace::kMsgActivation,
                            {trace::Arg(LONG{kActivationComponent}), trace::Arg(fileName),
                             trace::Arg(optionsText)});
        if (activation.DisplayChoice(kActivationComponent, fileName, nullptr, fileName, nullptr,
                                     options, fullOutput, pdaFullOutput, true) == 0)
          trace::TraceMessage(trace::DTF_ERROR, trace::kMsgActivationFailed,
                              {trace::Arg(LONG{kActivationComponent}), trace::Arg(fileName),
                               trace::Arg(LONG{options})});
        return S_OK;
      }

      GUID id{};
      if (FAILED(IIDFromString(guidText.c_str(), &id)) || FAILED(InitMailSession())) {
        result = E_FAIL;
      } else {
        MessageRecords records;
        result = m_mapi->InboxMessage(m_strFolder.c_str(), id, &records.message,
                                      &records.attachments, &records.count, direction);
        if (FAILED(result)) {
          // Nothing returned is read after a failure.
          records.message = nullptr;
          records.attachments = nullptr;
          records.count = 0;
        } else if (records.message) {
          const _MAILMESSAGE& message = *records.message;
          const std::u16string_view subject = platform::View(message.pszSubject);
          if (VGetQueryStringVar(kKeyHtmlOnly) == u"1") {
            SendHtmlBodyOnly(message);
          } else if (message.bMeetingRequest) {
            WriteMeetingToolbar(subject, message);
            WriteMeetingView(message);
          } else {
            WriteViewToolbar(subject, message);
            WriteMessageView(message, records.attachments, records.count);
          }
        }
      }
      m_pTarget->EndPage();
    } catch (const CException& e) {
      // CMyInbox::ViewMessageEx: the rest of the page and EndPage are skipped.
      ReportException(kReportSource, __LINE__, kEventException, e.GetErrorMessage());
    } catch (const std::bad_alloc&) {
      ReportException(kReportSource, __LINE__, kEventException, CMemoryException().GetErrorMessage());
    }
  } catch (const CException& e) {
    // Before the page began (scope, resource library, policy check).
    ReportException(kReportSource, __LINE__, kEventException, e.GetErrorMessage());
    result = E_FAIL;
  } catch (const std::bad_alloc&) {
    result = E_OUTOFMEMORY;
  }
  return result;
}

void CMyInbox::SendHtmlBodyOnly(const _MAILMESSAGE& message) {
  Debug(platform::FormatW(u"Returning HTML content from message - %s",
                          platform::View(message.pszSubject)));
  std::u16string html(platform::View(message.pszHTMLBody));
  WrapBodyContent(html);
  RewriteHtmlLinks(html);
  WriteInPieces(html);
}

void CMyInbox::WriteHtmlBodyFrame(const _MAILMESSAGE& message) {
  const std::u16string url = platform::FormatW(
      u"/HalvornSLV/ViewInboxMessage.asp?DownloadHTMLOnly=1&Guid=%s&Folder=%s&Store=",
      platform::GuidToString(message.guidID), EncodeUrlSafe(m_strFolder));
  Debug(u"URL to get HTML content - ");
  Debug(url);
  VWriteResponseString(u"<IFRAME class='ContentIFrame' SRC='%s'></IFRAME>", url);
}

void CMyInbox::WriteViewToolbar(std::u16string_view subject, const _MAILMESSAGE& message) {
  const LONG full = FullOutputOf(m_pTarget);
  m_pTarget->StartPage();
  if (full) WriteLiveEditHeader();
  WriteNavigationBar(full, kIdTitle, subject);
  WriteBarStart(full);

  // Previous and Next step from the message shown.
  const std::u16string guid = platform::GuidToString(message.guidID);
  const std::u16string folder = EncodeUrlSafe(m_strFolder);
  const std::u16string_view store = platform::BstrView(m_bstrStore);
  if (full) WriteLinkButton(full, kIdUp, u"gifs/up.gif", kIdUpUrl, 0, folder, store, 0);
  WriteLinkButton(full, kIdPrevious, u"gifs/previous.gif", kIdStepUrl, guid, -1, folder, store);
  WriteLinkButton(full, kIdNext, u"gifs/next.gif", kIdStepUrl, guid, 1, folder, store);
  if (full) {
    WriteScriptButton(full, kIdReply, u"gifs/reply.gif", u"ComposeMessage('Reply')");
    WriteScriptButton(full, kIdReplyAll, u"gifs/replytoall.gif", u"ComposeMessage('ReplyAll')");
    WriteScriptButton(full, kIdForward, u"gifs/forward.gif", u"ComposeMessage('Fwd')");
  } else {
    WriteLinkButton(full, kIdReplyReduced, u"gifs/reply.gif", kIdReplyUrl, guid, 0, folder, store);
    WriteLinkButton(full, kIdReplyAll, u"gifs/replyToAll.gif", kIdReplyAllUrl, guid, 0, folder, store);
    WriteLinkButton(full, kIdForwardReduced, u"gifs/forward.gif", kIdForwardUrl, guid, 0, folder,
                    store);
  }
  WriteLinkButton(full, kIdDelete, u"gifs/delete.gif", kIdDeleteUrl, guid, 0, folder, store);
  VWriteResponseText(kBarClose);
}

void CMyInbox::WriteMeetingToolbar(std::u16string_view subject, const _MAILMESSAGE& message) {
  const LONG full = FullOutputOf(m_pTarget);
  m_pTarget->StartPage();
  if (full) WriteLiveEditHeader();
  WriteNavigationBar(full, kIdTitle, subject);
  WriteBarStart(full);

  // The links carry the meeting request shown, not the message the user
  // came from (they differ when Direction stepped to a neighbour), so that
  // Accept, Decline and Tentative answer the request on the screen.
  const std::u16string guid = platform::GuidToString(message.guidID);
  const std::u16string folder = EncodeUrlSafe(m_strFolder);
  const std::u16string_view store = platform::BstrView(m_bstrStore);
  if (full) WriteLinkButton(full, kIdUp, u"gifs/up.gif", kIdUpUrl, 0, folder, store, 0);
  WriteLinkButton(full, kIdPrevious, u"gifs/previous.gif", kIdStepUrl, guid, -1, folder, store);
  WriteLinkButton(full, kIdNext, u"gifs/next.gif", kIdStepUrl, guid, 1, folder, store);
  WriteLinkButton(full, kIdAccept, u"gifs/reply.gif", kIdAcceptUrl, guid, 0, folder, store);
  WriteLinkButton(full, kIdDecline, u"gifs/reply.gif", kIdDeclineUrl, guid, 0, folder, store);
  WriteLinkButton(full, kIdTentative, u"gifs/reply.gif", kIdTentativeUrl, guid, 0, folder, store);
  VWriteResponseText(kBarClose);
}

void CMyInbox::WriteMessageView(const _MAILMESSAGE& message,
                                const _MAILMESSAGEATTACHMENTS* attachments, DWORD count) {
  WriteMessageHeaderAndBody(message, attachments, count, true);
}

void CMyInbox::WriteMeetingView(const _MAILMESSAGE& message) {
  // A meeting request shows no attachments: the cell stays empty.
  WriteMessageHeaderAndBody(message, nullptr, 0, false);
}

void CMyInbox::WriteMessageHeaderAndBody(const _MAILMESSAGE& message,
                                         const _MAILMESSAGEATTACHMENTS* attachments, DWORD count,
                                         bool attachmentList) {
  std::u16string format = platform::LoadString(kIdDateFormat);
  if (format.empty()) format = u"%c";
  const std::u16string sent = FormatMailTime(message.ftSent, format);
  const LONG full = FullOutputOf(m_pTarget);

  auto row = [this](UINT labelId, std::u16string_view value) {
    m_pTarget->StartTableRow();
    m_pTarget->StartTableData();
    const std::u16string label = platform::LoadString(m_hResourceLib, labelId);
    if (!label.empty()) m_pTarget->WriteText(CComBSTR(label), 1);
    m_pTarget->EndTableData();
    m_pTarget->StartTableData();
    m_pTarget->WriteText(CComBSTR(value), 0);
    m_pTarget->EndTableData();
    m_pTarget->EndTableRow();
  };
  m_pTarget->StartTable(CComBSTR(u"width=100% class='inboxbox'"), 0);
  row(kIdSent, sent);
  row(kIdFrom, platform::View(message.pszFrom));
  row(kIdTo, TrimSeparators(message.pszTo));
  if (!platform::View(message.pszCC).empty()) row(kIdCc, TrimSeparators(message.pszCC));
  row(kIdSubject, platform::View(message.pszSubject));
  m_pTarget->EndTable();

  m_pTarget->StartTable(m_bstrTableName, 0);
  m_pTarget->StartTableRow();
  m_pTarget->StartTableData();
  if (attachmentList) WriteAttachmentList(message, attachments, count);
  m_pTarget->EndTableData();
  m_pTarget->EndTableRow();
  m_pTarget->EndTable();

  VWriteResponseText(u"<br>");

  // The HTML body is never written into the page itself: only the inline
  // frame's own request (the HTML-only answer) serves it.
  if (full && IsHtmlDisplayEnabled() && !platform::View(message.pszHTMLBody).empty()) {
    WriteHtmlBodyFrame(message);
    return;
  }

  VWriteResponseText(u"<div class='ContentBody'>");
  m_pTarget->StartTable(CComBSTR(u"width=100% class='box'"), 0);
  m_pTarget->StartTableRow();
  m_pTarget->StartTableData();
  m_pTarget->WriteLine();
  std::u16string body(platform::View(message.pszBody));
  LinkifyPlainText(body);
  std::u16string withBreaks;
  withBreaks.reserve(body.size() + body.size() / 16);
  for (char16_t c : body) {
    if (c == u'\n') withBreaks += u"<br>";
    else withBreaks.push_back(c);
  }
  WriteInPieces(withBreaks);
  m_pTarget->EndTableData();
  m_pTarget->EndTableRow();
  m_pTarget->EndTable();
  VWriteResponseText(u"</div>");
}
