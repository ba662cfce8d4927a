// Posts to the compose page: the compose form itself, the contacts picker and
// the name-resolution page. The typed text is saved, the pressed button is
// found and acted on; unless the handler redirected or wrote another page,
// the compose form is shown again.
#include <memory>
#include <new>

#include "compose/ComposeConstants.h"
#include "frame/Credentials.h"
#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "host/MasterSessionStore.h"
#include "inbox/MyInbox.h"
#include "platform/Debug.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "recipients/ComposeState.h"
#include "recipients/PostFields.h"
#include "recipients/RecipientsConstants.h"
#include "view/Links.h"

using platform::LoadString;
using platform::ThrowIfFailed;
using postfields::FormText;
using postfields::IsButtonPressed;

namespace {

// The button labels, loaded at the start of every post.
struct Labels {
  std::u16string to, cc, bcc, send, cancel, attachments, checkNames, addTo, addCc, addBcc, search,
      accept;
  Labels()
      : to(LoadString(recipients::kIdsTo)),
        cc(LoadString(recipients::kIdsCc)),
        bcc(LoadString(recipients::kIdsBcc)),
        send(LoadString(compose::kIdsSend)),
        cancel(LoadString(compose::kIdsCancel)),
        attachments(LoadString(compose::kIdsAttachments)),
        checkNames(LoadString(compose::kIdsCheckNames)),
        addTo(LoadString(recipients::kIdsAddTo)),
        addCc(LoadString(recipients::kIdsAddCc)),
        addBcc(LoadString(recipients::kIdsAddBcc)),
        search(LoadString(recipients::kIdsSearch)),
        accept(LoadString(recipients::kIdsAcceptSelections)) {}
};

// Saves what the compose form posted in the portal's master session store.
void SaveToMasterSession(const std::u16string& body, const std::u16string& subject,
                         const std::vector<std::u16string>& to,
                         const std::vector<std::u16string>& cc,
                         const std::vector<std::u16string>& bcc) {
  std::u16string id;
  if (FAILED(VGetMasterSessionID(id))) return;
  try {
    CComPtr<IUnknown> unknown;
    ThrowIfFailed(CoCreateInstance(CLSID_MasterSessionStore, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)));
    if (!unknown) throw CComError(E_NOINTERFACE);
    ThrowIfFailed(OleRun(unknown));
    CComPtr<IMasterSessionStore> store;
    ThrowIfFailed(unknown.QueryInterface(&store));
    if (!store) throw CComError(E_NOINTERFACE);
    ThrowIfFailed(store->Open(CComBSTR(id)));
    auto set = [&](const char16_t* name, const std::u16string& value) {
      ThrowIfFailed(store->SetValue(CComBSTR(keys::kSessionPrefix + std::u16string(name)),
                                    CComBSTR(value)));
    };
    set(keys::kComposeBody, body);
    set(keys::kComposeSubject, subject);
    set(keys::kComposeTo, JoinSessionList(to));
    set(keys::kComposeCC, JoinSessionList(cc));
    set(keys::kComposeBCC, JoinSessionList(bcc));
    ThrowIfFailed(store->Commit());
  } catch (const CComError&) {
    OutputDebugStringW(u"Error writing the master session.");
  }
}

bool HasAt(std::u16string_view text) { return text.find(u'@') != std::u16string_view::npos; }

// A name in single quotes (no "@") was resolved earlier: sent without quotes.
std::u16string NormalizeAddress(std::u16string_view item) {
  std::u16string t = platform::Trim(item);
  if (!HasAt(t) && !t.empty() && t.front() == u'\'' && t.rfind(u'\'') == t.size() - 1)
    return t.size() >= 2 ? t.substr(1, t.size() - 2) : std::u16string();
  return t;
}

std::u16string TrimBlanksAndQuotes(std::u16string_view text) {
  std::size_t first = text.find_first_not_of(u" '");
  if (first == std::u16string_view::npos) return {};
  std::size_t last = text.find_last_not_of(u" '");
  return std::u16string(text.substr(first, last - first + 1));
}

// Adds picked entries to a session list: one already present is left alone;
// one whose bare form matches an entry replaces it at the end of the list.
void MergeIntoSessionList(std::u16string_view name, const std::vector<std::u16string>& items) {
  std::vector<std::u16string> list;
  ReadSessionList(name, list);
  if (list.empty()) {
    WriteSessionList(name, items);
    return;
  }
  for (const auto& item : items) {
    bool matched = false;
    const std::u16string bare = TrimBlanksAndQuotes(item);
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (platform::EqualsNoCase(item, list[i])) {
        matched = true;
        break;
      }
      if (platform::EqualsNoCase(bare, list[i])) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        list.push_back(item);
        matched = true;
        break;
      }
    }
    if (!matched) list.push_back(item);
  }
  WriteSessionList(name, list);
}

// Redirects the browser; the page ends with it.
void RedirectTo(std::u16string_view page, bool clear) {
  CComPtr<IResponse> response;
  if (FAILED(VGetIISObject(response)) || !response) return;
  if (clear) response->Clear();
  response->Redirect(CComBSTR(page));
  response->End();
}

std::vector<const char16_t*> Pointers(const std::vector<std::u16string>& items) {
  std::vector<const char16_t*> out;
  out.reserve(items.size());
  for (const auto& item : items) out.push_back(item.c_str());
  return out;
}

// Read access as the signed-in user, then the portal's policy for the path.
bool MayAttachFile(const std::u16string& path) {
  CComPtr<IImpersonate> impersonator;
  if (FAILED(CreateImpersonator(impersonator, u"Email"))) return false;
  if (!ImpersonateUser(impersonator, u"Email")) return false;
  bool readable = CheckReadAccess(path);
  impersonator.Release();
  if (!readable) return false;
  return VCheckPolicyUncUrl(path, Halvorn_Talq_Policies_CommonStrings::UncUrlAccess, CriteriaXML());
}

}  // namespace

HRESULT CMyInbox::HandleComposePost(IRequestDictionary* form) {
  try {
    m_bCheckNamesShown = 0;
    LONG fullOutput = 0;
    m_pTarget->get_FullOutput(&fullOutput);
    const bool full = fullOutput != 0;
    const Labels labels;

    if (!FormText(form, keys::kIsCompose).empty()) {
      std::u16string body = FormText(form, keys::kMessageText);
      std::u16string subject = FormText(form, keys::kSubject);
      std::vector<std::u16string> to, cc, bcc;
      ReadFormList(keys::kTTo, to);
      ReadFormList(keys::kTCC, cc);
      ReadFormList(keys::kTBCC, bcc);
      SaveToMasterSession(body, subject, to, cc, bcc);
    }

    bool pickerWritten = false;
    if (IsButtonPressed(form, keys::kClose)) {
    } else if (IsButtonPressed(form, labels.accept)) {
      AcceptSelections(form);
    } else if (IsButtonPressed(form, labels.attachments)) {
      RedirectTo(u"DoAttachments.asp", false);
      return S_OK;
    } else if (IsButtonPressed(form, keys::kDoneAttachments)) {
    } else if (IsButtonPressed(form, keys::kClear)) {
      ClearComposeSession();
    } else if (IsButtonPressed(form, labels.cancel)) {
      RedirectTo(u"SendCancel.asp", false);
      return S_OK;
    } else if (IsButtonPressed(form, labels.addTo) || IsButtonPressed(form, labels.addCc) ||
               IsButtonPressed(form, labels.addBcc)) {
      const char16_t* variable = IsButtonPressed(form, labels.addTo)   ? keys::kComposeTo
                                 : IsButtonPressed(form, labels.addCc) ? keys::kComposeCC
                                                                       : keys::kComposeBCC;
      std::vector<std::u16string> picked;
      ReadFormList(keys::kContacts, picked);
      for (auto& item : picked)
        if (!HasAt(item)) item = u"'" + item + u"'";
      MergeIntoSessionList(variable, picked);
    } else if (SUCCEEDED(InitMailSession())) {
      const std::u16string search = platform::Trim(FormText(form, keys::kSearch));
      if (IsButtonPressed(form, labels.send)) {
        bool done = false;
        HRESULT hr = SendComposedMessage(form, full, done);
        if (done) return hr;
      } else if (IsButtonPressed(form, labels.checkNames)) {
        CheckNames(form);
      } else if (IsButtonPressed(form, labels.to) || IsButtonPressed(form, labels.cc) ||
                 IsButtonPressed(form, labels.bcc) || IsButtonPressed(form, labels.search) ||
                 !search.empty()) {
        pickerWritten = OpenContactsPicker(form, search);
      }
    }

    // A send that was attempted has returned above.
    if (pickerWritten || m_bCheckNamesShown) return S_OK;
    return ShowComposeForm();
  } catch (const CException& e) {
    ReportException(kReportSource, __LINE__, kEventException, e.GetErrorMessage());
    return S_OK;
  } catch (const CComError& e) {
    ReportException(kReportSource, __LINE__, kEventException, e.ErrorMessage());
    return S_OK;
  } catch (const std::bad_alloc&) {
    ReportException(kReportSource, __LINE__, kEventException, CMemoryException().GetErrorMessage());
    return S_OK;
  }
}

HRESULT CMyInbox::SendComposedMessage(IRequestDictionary* form, bool fullOutput, bool& done) {
  done = false;
  std::vector<std::u16string> to, cc, bcc, files;
  ReadFormList(keys::kTTo, to);
  ReadFormList(keys::kTCC, cc);
  ReadFormList(keys::kTBCC, bcc);
  const std::u16string subject = FormText(form, keys::kSubject);
  std::u16string body = FormText(form, keys::kMessageText);
  ReadSessionList(keys::kFileID, files);

  for (auto* list : {&to, &cc, &bcc})
    for (auto& item : *list) item = NormalizeAddress(item);

  for (auto& item : files) {
    item = DecodeUrlSafe(item);
    // References into the upload store pass as they are.
    if (item.find(u"UPLOADID") != std::u16string::npos && !PathIsUNCW(item.c_str())) continue;
    if (MayAttachFile(item)) continue;

    ClearComposeSession();
    trace::TraceMessage(trace::DTF_INFO, trace::kMsgAttachmentRefused, {item});
    std::u16string title = LoadString(compose::kIdsWebEmail);
    std::u16string denial = LoadString(compose::kIdsPolicyDenial);
    if (!title.empty() && !denial.empty())
      VReportMessage(kReportPolicyDenial, LogPolicyDenials(), title, item, denial);
    done = true;
    return S_OK;
  }

  if (to.empty() && cc.empty() && bcc.empty()) {
    if (!fullOutput) return S_OK;  // the form follows, without the alert
    VWriteResponseText(u"<script language=javascript> window.alert(\"");
    VWriteResponseText(LoadString(compose::kIdsNoRecipient));
    VWriteResponseText(u"\"); </script>");
    done = true;
    return ShowComposeForm();
  }

  LinkifyUncPaths(body);

  auto toPtrs = Pointers(to), ccPtrs = Pointers(cc), bccPtrs = Pointers(bcc),
       filePtrs = Pointers(files);
  auto data = [](const std::vector<const char16_t*>& v) { return v.empty() ? nullptr : v.data(); };
  HRESULT hr = m_mapi->SendMessageW(
      data(toPtrs), static_cast<DWORD>(toPtrs.size()), data(ccPtrs),
      static_cast<DWORD>(ccPtrs.size()), data(bccPtrs), static_cast<DWORD>(bccPtrs.size()),
      subject.c_str(), body.c_str(), data(filePtrs), static_cast<DWORD>(filePtrs.size()));

  std::u16string page;
  if (SUCCEEDED(hr)) {
    if (fullOutput) {
      page = u"SendOK.asp?Success=true";
    } else {
      VGetSessionVariable(keys::kReturnTo, page);
      if (page.empty()) page = u"inbox.asp";
    }
    ClearComposeSession();
  } else if (hr == MAPI_E_AMBIGUOUS_RECIP || hr == MAPI_E_NOT_FOUND) {
    CheckNames(form);
    if (!m_bCheckNamesShown) page = u"SendOk.asp?Success=false";
  } else {
    page = u"SendOk.asp?Success=false";
  }

  if (!page.empty()) RedirectTo(page, true);
  done = true;
  return S_OK;
}

bool CMyInbox::OpenContactsPicker(IRequestDictionary* form, const std::u16string& search) {
  const bool fromContacts = platform::ParseLongPrefix(FormText(form, keys::kContactSource)) == 0;
  MAPIManaged::_CONTACTITEM* items = nullptr;
  DWORD count = 0;
  HRESULT hr;
  if (fromContacts) {
    hr = m_mapi->Contacts(&items, &count, u"", search.c_str());
  } else {
    bool exact = IsButtonPressed(form, keys::kFind) && !search.empty();
    hr = m_mapi->GAL(&items, &count, search.c_str(), exact);
  }
  if (FAILED(hr)) return false;
  std::unique_ptr<MAPIManaged::_CONTACTITEM[]> owned(items);
  if (items) MAPIManaged::SortContactsByDisplayName(items, count);
  constexpr DWORD kFirstPage = 1;
  WriteContactsPicker(items, items ? count : 0, kFirstPage, search, fromContacts);
  return true;
}
