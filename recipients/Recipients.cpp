#include "inbox/MyInbox.h"

// Recipient updates are not written yet.
HRESULT CMyInbox::AddAddress(LONG, BSTR) {
  AFX_MANAGE_STATE_MODULE();
  return E_NOTIMPL;
}

HRESULT CMyInbox::UpdateResolvedContacts(INT) {
  AFX_MANAGE_STATE_MODULE();
  return E_NOTIMPL;
}
