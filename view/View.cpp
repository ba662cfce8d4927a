#include "inbox/MyInbox.h"

// The message view is not written yet.
HRESULT CMyInbox::ViewMessageEx(BSTR) {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  return E_NOTIMPL;
}
