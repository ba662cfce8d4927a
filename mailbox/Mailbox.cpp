#include "inbox/MyInbox.h"

// Mailbox operations are not written yet.
HRESULT CMyInbox::DeleteMessage(BSTR) {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  return E_NOTIMPL;
}

HRESULT CMyInbox::MeetingResponse() {
  AFX_MANAGE_STATE_MODULE();
  if (!m_pTarget) return E_POINTER;
  return E_NOTIMPL;
}

HRESULT CMyInbox::SaveAttachment(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR) {
  AFX_MANAGE_STATE_MODULE();
  return E_NOTIMPL;
}

HRESULT CMyInbox::GetAttachment(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, VARIANT* pResult) {
  AFX_MANAGE_STATE_MODULE();
  if (pResult) VariantInit(pResult);
  return E_NOTIMPL;
}

HRESULT CMyInbox::GetAttachment2(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, VARIANT* pResult) {
  AFX_MANAGE_STATE_MODULE();
  if (pResult) VariantInit(pResult);
  return E_NOTIMPL;
}
