#include "inbox/MyInbox.h"

// Compose is not written yet.
HRESULT CMyInbox::ComposeMessage() {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  return E_NOTIMPL;
}
