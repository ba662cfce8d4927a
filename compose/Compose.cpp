#include "inbox/MyInbox.h"

// Attachment list methods are not written yet.
HRESULT CMyInbox::ListAttachments(BSTR) {
  AFX_MANAGE_STATE_MODULE();
  return E_NOTIMPL;
}

HRESULT CMyInbox::RemoveAttachment(BSTR, BSTR, BSTR* pVal) {
  AFX_MANAGE_STATE_MODULE();
  if (!pVal) return E_POINTER;
  return E_NOTIMPL;
}
