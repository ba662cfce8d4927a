// The folder listing page: DisplayMessagesEx runs the page frame around the
// toolbar and the message table.
#include <memory>
#include <new>

#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "frame/Language.h"
#include "host/HostKit.h"
#include "inbox/MyInbox.h"
#include "listing/ListingConstants.h"
#include "platform/Exceptions.h"
#include "platform/Text.h"

namespace {

// Where a reduced-output page goes when the folder cannot be read.
constexpr char16_t kSummaryFailedUrl[] = u"MyFiles.asp?StaticTree=true";

// Owns the summary array from the mail library; releasing it runs each
// record's destructor (sender, subject and body texts), then frees the array.
struct SummaryArray {
  MAPIManaged::_MAILITEM* items = nullptr;
  SummaryArray() = default;
  SummaryArray(const SummaryArray&) = delete;
  SummaryArray& operator=(const SummaryArray&) = delete;
  ~SummaryArray() { Release(); }
  void Release() {
    delete[] items;
    items = nullptr;
  }
};

// Clears the response and sends the browser to the file tree instead.
void RedirectToFileTree() {
  CComPtr<IResponse> response;
  if (FAILED(VGetIISObject(response)) || !response) return;
  response->Clear();
  CComBSTR url(kSummaryFailedUrl);
  response->Redirect(url);
  response->End();
}

}  // namespace

HRESULT CMyInbox::DisplayMessagesEx(BSTR /*bstrAcceptLang: the language comes from the request*/) {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;

  HRESULT hr = S_OK;
  // Declared ahead of the handler so that an exception still frees the array.
  SummaryArray summary;
  try {
    CResourceScope scope;
    scope.Open(u"quorraFax");  // without a satellite the module's own strings apply
    if (!DoWebEmailPolicyCheck()) return E_FAIL;

    try {
      HvnIISCacheContextBegin();
      m_pTarget->StartPage();

      if (FAILED(InitMailSession())) {
        VWriteResponseString(listing::kIdsSessionFailed);
      } else {
        LONG topIndex = static_cast<LONG>(platform::ParseLongPrefix(VGetQueryStringVar(u"TopIndex")));
        LONG sort = static_cast<LONG>(platform::ParseLongPrefix(VGetQueryStringVar(keys::kSort)));
        DWORD count = 0;
        hr = m_mapi->InboxSummary(m_strFolder.c_str(), &summary.items, &count, sort);
        m_nTopIndex = topIndex;
        LONG fullOutput = 0;
        m_pTarget->get_FullOutput(&fullOutput);

        if (SUCCEEDED(hr)) {
          // The library leaves the pointer null for an empty folder; never
          // walk a null array whatever the count says.
          if (!summary.items) count = 0;
          WriteListingToolbar(topIndex, count, sort);
          WriteListingRows(summary.items, count, sort);
        } else if (fullOutput == 0) {
          RedirectToFileTree();
        }
        summary.Release();
      }

      m_pTarget->EndPage();
      HvnIISCacheContextEnd();
    } catch (const CException& e) {
      // The rest of the page, EndPage and the cache-context end are skipped.
      ReportException(kReportSource, __LINE__, kEventException, e.GetErrorMessage());
    } catch (const std::bad_alloc&) {
      ReportException(kReportSource, __LINE__, kEventException, CMemoryException().GetErrorMessage());
    }
  } catch (const CException& e) {
    // Outside the page body (scope set-up): still never cross the interface.
    ReportException(kReportSource, __LINE__, kEventException, e.GetErrorMessage());
    if (SUCCEEDED(hr)) hr = E_FAIL;
  } catch (const std::bad_alloc&) {
    if (SUCCEEDED(hr)) hr = E_OUTOFMEMORY;
  }
  return hr;
}
