// ComposeMessage and the compose form: a request without posted fields shows
// the form, prefilled from the compose state, the link's query keys and, for
// replies and forwards, the earlier message.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "compose/ComposeConstants.h"
#include "compose/UserName.h"
#include "frame/Chrome.h"
#include "frame/Credentials.h"
#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "frame/Language.h"
#include "inbox/MyInbox.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Guid.h"
#include "platform/Text.h"
#include "recipients/ComposeState.h"
#include "recipients/PostFields.h"
#include "recipients/RecipientsConstants.h"
#include "view/Attachments.h"

using platform::FormatW;
using platform::LoadString;
using platform::View;

namespace {

constexpr std::size_t kLongRecipientText = 150;
constexpr std::size_t kBodyPiece = 2000;

// Leaving the page without submitting it asks the cancel page to drop the
// message being written.
constexpr char16_t kComposeScript[] =
    u"\n\n<SCRIPT language=\"javascript\">\n"
    u"var isPostedData = false;\n"
    u"var httpReq = null;\n"
    u"function processGetReq() {\n"
    u"}\n"
    u"function HttpGetRequest(url) {\n"
    u"  if (window.XMLHttpRequest) {\n"
    u"    httpReq = new XMLHttpRequest();\n"
    u"  } else if (window.ActiveXObject) {\n"
    u"    httpReq = new ActiveXObject(\"Microsoft.XMLHTTP\");\n"
    u"  }\n"
    u"  if (httpReq) {\n"
    u"    httpReq.onreadystatechange = processGetReq;\n"
    u"    httpReq.open(\"GET\", url, true);\n"
    u"    httpReq.send(null);\n"
    u"  }\n"
    u"}\n"
    u"function OnBeforeUnloadHandler() {\n"
    u"  if (isPostedData != true) {\n"
    u"    HttpGetRequest(\"/HalvornSLV/SendCancel.asp?close=1\");\n"
    u"  }\n"
    u"}\n"
    u"function SetPostedDataFlag() {\n"
    u"  isPostedData = true;\n"
    u"  return true;\n"
    u"}\n"
    u"window.onbeforeunload = OnBeforeUnloadHandler;\n"
    u"</SCRIPT>\n\n";

constexpr char16_t kFocusScript[] =
    u"<script>if (document.compose.TTo.value == \"\"){document.compose.TTo.focus();}else if "
    u"(document.compose.Subject.value == \"\"){document.compose.Subject.focus();}else{document."
    u"compose.MessageText.focus();}</script>";

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Opens a file read-only as a check that the current user can read it. Only
// a plain file counts: a folder, pipe or device is left out, and is opened
// without waiting for a writer or becoming the controlling terminal.
bool CanOpenForReading(const std::u16string& path) {
  if (path.empty()) return false;
  int fd = ::open(platform::Utf16ToUtf8(path).c_str(),
                  O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool file = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return file;
}

// Releases the records of InboxMessage on every way out.
struct MessageRecords {
  MAPIManaged::_MAILMESSAGE* message = nullptr;
  MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments = nullptr;
  DWORD count = 0;
  ~MessageRecords() {
    delete[] message;
    delete[] attachments;
  }
};

// Writes a row's recipient or subject input, or a text area for long
// recipient texts in the full output.
void WriteRecipientField(bool full, LONG width, std::u16string_view name,
                         const std::u16string& text) {
  std::u16string html;
  if (full && text.size() > kLongRecipientText) {
    html = FormatW(u"<textarea style=\"%s\" name=%s>%s</textarea>",
                   FormatW(u"width: %i%%; height: 57px", width), name, text);
  } else if (full) {
    html = FormatW(u"<input type=%s name=%s value=\"%s\">",
                   FormatW(u"text style=\"width: %i%c; height: 22\"", width, u'%'), name, text);
  } else {
    html = FormatW(u"<input type=%s name=%s value=\"%s\">", u"text ", name, text);
  }
  VWriteResponseText(html);
}

}  // namespace

HRESULT CMyInbox::ComposeMessage() {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  try {
    CResourceScope scope;
    scope.Open(u"quorraFax");
    CComPtr<IRequest> request;
    CComPtr<IRequestDictionary> form;
    int count = 0;
    bool posted = SUCCEEDED(VGetIISObject(request)) && request &&
                  SUCCEEDED(request->get_Form(&form)) && form &&
                  SUCCEEDED(form->get_Count(&count)) && count != 0;
    if (posted) return HandleComposePost(form);
    form.Release();
    request.Release();
    return ShowComposeForm();
  } catch (const CException& e) {
    ReportException(kReportSource, __LINE__, kEventException, e.GetErrorMessage());
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CComError& e) {
    return FAILED(e.Error()) ? e.Error() : E_FAIL;
  }
}

std::u16string CMyInbox::RemoveSelfFromRecipients(std::u16string_view list) {
  if (list.empty()) return std::u16string(list);

  char16_t name[1024] = {};
  ULONG size = 1024;
  std::u16string account;
  if (GetUserNameExW(NameSamCompatible, name, &size)) {
    account = View(name);
    std::size_t slash = account.find(u'\\');
    if (slash != std::u16string::npos) account = account.substr(slash + 1);
  }

  std::u16string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t semi = list.find(u';', start);
    if (semi == std::u16string_view::npos) break;
    std::u16string piece = platform::Trim(list.substr(start, semi - start));
    if (!platform::EqualsNoCase(piece, account)) out += piece + u" ; ";
    start = semi + 1;
  }
  std::u16string last = platform::Trim(list.substr(start));
  if (!last.empty() && !platform::EqualsNoCase(last, account)) out += last + u";";

  std::size_t first = out.find_first_not_of(u" ;");
  if (first == std::u16string::npos) return {};
  std::size_t end = out.find_last_not_of(u" ;");
  return out.substr(first, end - first + 1);
}

HRESULT CMyInbox::ShowComposeForm() {
  m_bCheckNamesShown = 0;
  LONG width = 0, fullOutput = 0;
  m_pTarget->get_DisplayWidth(&width);
  m_pTarget->get_FullOutput(&fullOutput);
  const bool full = fullOutput != 0;

  HRESULT hr = InitMailSession();
  if (FAILED(hr)) return hr;

  std::u16string body, subject;
  VGetSessionVariable(keys::kComposeBody, body);
  VGetSessionVariable(keys::kComposeSubject, subject);
  std::vector<std::u16string> toList, ccList, bccList, fileList;
  ReadSessionList(keys::kComposeTo, toList);
  ReadSessionList(keys::kComposeCC, ccList);
  ReadSessionList(keys::kComposeBCC, bccList);
  ReadSessionList(keys::kFileID, fileList);

  const std::u16string qTo = VGetQueryStringVar(u"To");
  const std::u16string qFilename = VGetQueryStringVar(u"Filename");
  const std::u16string qUploadId = VGetQueryStringVar(u"UploadID");
  const std::u16string qType = VGetQueryStringVar(u"Type");
  const std::u16string qGuid = VGetQueryStringVar(u"Guid");

  // Small devices go back to where the message was started from.
  if (!full) {
    std::u16string returnTo;
    VGetSessionVariable(keys::kReturnTo, returnTo);
    if (returnTo.empty()) {
      std::u16string page = u"Inbox.asp";
      if (platform::EqualsNoCase(qType, u"SendFile")) {
        std::u16string path = DecodeUrlSafe(qFilename);
        std::size_t slash = path.rfind(u'\\');
        std::u16string folder = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
        if (PathIsUNCW(folder.c_str()))
          page = FormatW(u"Folder.asp?LFE=false&Folder=%s", EncodeUrlSafe(folder));
      }
      VPutSessionVariable(keys::kReturnTo, page);
    }
  }

  if (!qTo.empty()) toList.push_back(qTo);
  std::u16string toText = postfields::JoinWith(toList, u"; ");
  std::u16string ccText = postfields::JoinWith(ccList, u"; ");
  std::u16string bccText = postfields::JoinWith(bccList, u"; ");

  // Reply and forward: prefill from the earlier message.
  GUID messageId{};
  if (!qGuid.empty() && SUCCEEDED(IIDFromString(qGuid.c_str(), &messageId))) {
    MessageRecords records;
    if (SUCCEEDED(m_mapi->InboxMessage(m_strFolder.c_str(), messageId, &records.message,
                                       &records.attachments, &records.count, 0)) &&
        records.message) {
      const MAPIManaged::_MAILMESSAGE& msg = *records.message;
      ClearComposeSession();
      if (platform::EqualsNoCase(qType, u"ReplyAll")) {
        toText = View(msg.pszFromAddress);
        std::u16string others = platform::Trim(RemoveSelfFromRecipients(View(msg.pszToAddresses)));
        if (!others.empty()) toText += u" ; " + others;
        ccText = RemoveSelfFromRecipients(View(msg.pszCCAddresses));
      } else if (platform::EqualsNoCase(qType, u"Reply")) {
        toText = View(msg.pszFromAddress);
      }
      std::u16string quoteFormat = LoadString(compose::kIdsQuotedMessage);
      if (!quoteFormat.empty()) {
        try {
          body = FormatW(quoteFormat, View(msg.pszFrom), View(msg.pszTo), View(msg.pszCC),
                         View(msg.pszSubject), View(msg.pszBody));
        } catch (const CInvalidArgException&) {
          // A translation whose format does not take five texts quotes nothing.
        }
      }
      subject = View(msg.pszSubject);
      if (platform::EqualsNoCase(qType, u"Fwd")) {
        if (!StartsWith(subject, u"FW:")) subject = u"FW:" + subject;
        if (records.count && records.attachments &&
            FAILED(ForwardAttachments(messageId, records.attachments, records.count, fileList)))
          return E_FAIL;
      } else {
        if (!StartsWith(subject, u"RE:")) subject = u"RE:" + subject;
      }
    }
  }

  if (!qUploadId.empty()) {
    fileList.push_back(qUploadId);
    RemoveDuplicateAttachments(fileList);
  }

  // A file sent from the file browser is attached only when the signed-in
  // user can open it.
  if (!qFilename.empty()) {
    CComPtr<IImpersonate> impersonator;
    if (FAILED(CreateImpersonator(impersonator, u"Email"))) return E_FAIL;
    if (!ImpersonateUser(impersonator, u"Email")) return E_FAIL;
    bool readable = CanOpenForReading(DecodeUrlSafe(qFilename));
    impersonator.Release();
    if (readable) {
      fileList.push_back(qFilename);
      RemoveDuplicateAttachments(fileList);
    }
  }

  if (!fileList.empty()) WriteSessionList(keys::kFileID, fileList);

  CResourceScope scope;
  scope.Open(u"quorraFax");
  HvnIISCacheContextBegin();
  WriteComposePage(fullOutput, width, toText, ccText, bccText, subject, body, fileList);
  HvnIISCacheContextEnd();
  return S_OK;
}

void CMyInbox::WriteComposePage(LONG fullOutput, LONG width, const std::u16string& toText,
                                const std::u16string& ccText, const std::u16string& bccText,
                                const std::u16string& subject, const std::u16string& body,
                                const std::vector<std::u16string>& attachmentList) {
  const bool full = fullOutput != 0;
  VWriteResponseText(kComposeScript);
  m_pTarget->StartPage();
  VWriteResponseText(
      u"<form id=compose name=compose action=ComposeMessage.asp method=post onsubmit=\"return "
      u"SetPostedDataFlag();\">");
  VWriteResponseText(u"<input type=hidden name=IsCompose value='true'>");
  WriteNavigationBar(fullOutput, compose::kIdsSend);

  WriteBarStart(fullOutput);
  WriteSubmitButtonById(fullOutput, compose::kIdsSend, u"gifs/Email.gif");
  WriteSubmitButtonById(fullOutput, compose::kIdsCancel, u"gifs/Delete.gif");
  if (full) WriteSubmitButtonById(fullOutput, compose::kIdsAttachments, u"gifs/Attachment.gif");
  WriteSubmitButtonById(fullOutput, compose::kIdsCheckNames, u"gifs/CheckNames.gif");
  VWriteResponseText(kBarClose);
  m_pTarget->WriteLine();

  {
    CComBSTR table(full ? std::u16string(u"width='100%' height='50'")
                        : FormatW(u"cellpadding=0 cellspace=0 width=%d", width - 8));
    m_pTarget->StartTable(table, 0);
  }

  const char16_t* rowOpen =
      full ? u"<TR><TD valign='center' width='88'>" : u"<TR><TD valign='center'>";
  struct Row {
    UINT labelId;
    const char16_t* field;
    const std::u16string* text;
  } rows[] = {{recipients::kIdsTo, u"TTo id=TTo", &toText},
           {recipients::kIdsCc, u"TCC", &ccText},
           {recipients::kIdsBcc, u"TBCC", &bccText}};
  for (const Row& row : rows) {
    VWriteResponseText(rowOpen);
    std::u16string label = LoadString(row.labelId);
    if (full) {
      const char16_t* button =
          row.labelId == recipients::kIdsTo
              ? u"<div class='inputbutton' style='background-image: url(gifs/grey_button.gif); "
                u"width: 88; height: 21; cursor: hand;'><center><input class='inputbutton' "
                u"style='width:60; height:21; cursor: hand;' type='submit' "
                u"src='gifs/grey_button.gif' width='88' height='21' id='%s' name='%s' "
                u"value='%s'></center></div>"
              : u"<div class='inputbutton' style='background-image: url(gifs/grey_button.gif); "
                u"width: 88; height: 21; cursor: hand;'><center><input class='inputbutton' "
                u"style='width:88; height:21; cursor: hand;' type='submit' "
                u"src='gifs/grey_button.gif' width='88' height='21' id='%s' name='%s' "
                u"value='%s'></center></div>";
      VWriteResponseText(FormatW(button, label, label, label));
      VWriteResponseText(u"</TD><TD valign='center' width='100%'>");
    } else {
      VWriteResponseText(FormatW(u"<input type='submit' id='%s' name='%s' value='%s'>", label,
                                 label, label));
    }
    WriteRecipientField(full, width, row.field, *row.text);
    VWriteResponseText(u"</TD></TR>");
  }

  VWriteResponseText(rowOpen);
  if (full) {
    VWriteResponseText(LoadString(compose::kIdsSubjectCaption));
    VWriteResponseText(u"</TD><TD valign='center' width='100%'>");
    VWriteResponseText(FormatW(u"<input type=%s name=%s value=\"%s\">",
                               FormatW(u"text style=\"width: %i%c; height: 22\"", width, u'%'),
                               u"Subject id=Subject maxlength=256", subject));
  } else {
    VWriteResponseText(LoadString(compose::kIdsSubjectLabel));
    VWriteResponseText(u"<br>");
    VWriteResponseText(FormatW(u"<input type=%s name=%s value=\"%s\">", u"text size=40",
                               u"Subject id=Subject maxlength=256", subject));
  }
  VWriteResponseText(u"</TD></TR>");

  if (!attachmentList.empty()) {
    VWriteResponseText(rowOpen);
    m_pTarget->WriteText(CComBSTR(LoadString(compose::kIdsAttachmentRow)), 0);
    if (full) VWriteResponseText(u"</td><TD valign='center'>");
    for (const auto& item : attachmentList) {
      std::u16string decoded = platform::Trim(DecodeUrlSafe(item));
      if (decoded.empty()) continue;
      // One pass: text that closes up behind a removed marker is not searched again.
      for (std::size_t at = 0; (at = decoded.find(u"UPLOADID", at)) != std::u16string::npos;)
        decoded.erase(at, 8);
      std::u16string display = decoded;
      getResourceFileName(display);
      GetFileIconPath(decoded, m_pTarget);
      m_pTarget->WriteImage(CComBSTR(decoded), CComBSTR(u""), 0);
      m_pTarget->WriteText(CComBSTR(VHTMLEncodeString2(display)), 0);
      m_pTarget->WriteText(CComBSTR(u"&nbsp;"), 0);
    }
    VWriteResponseText(u"</td></tr>");
  }

  std::u16string caption = LoadString(compose::kIdsBodyCaption);
  if (full) {
    VWriteResponseText(u"<TR><TD colspan='2' valign='center' width='100%'>");
    VWriteResponseText(FormatW(u"<br>%s<br>", caption));
    VWriteResponseText(FormatW(
        u"<textarea id=MessageText  rows=24 style=\"width: %i%c; "
        u"height:expression(document.body.clientHeight-%d);\" name=MessageText>",
        width, u'%', attachmentList.empty() ? 230 : 245));
  } else {
    VWriteResponseText(u"<TR><TD valign='center' width='100%'>");
    VWriteResponseText(FormatW(u"%s:<br>", caption));
    VWriteResponseText(u"<textarea id=MessageText cols=40 rows=8 name=MessageText>\r\n");
  }
  if (body.size() > kBodyPiece) {
    for (std::size_t at = 0; at < body.size(); at += kBodyPiece)
      VWriteResponseText(std::u16string_view(body).substr(at, kBodyPiece));
  } else {
    VWriteResponseText(body);
  }
  VWriteResponseText(u"</textarea>");
  VWriteResponseText(u"</TD></TR>");

  m_pTarget->EndTable();
  VWriteResponseText(LoadString(compose::kIdsFormClose));
  if (full) VWriteResponseText(kFocusScript);
  m_pTarget->EndPage();
}
