#include "inbox/MyInbox.h"

// The folder listing is not written yet.
HRESULT CMyInbox::DisplayMessagesEx(BSTR) {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  return E_NOTIMPL;
}
