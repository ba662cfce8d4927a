// The one way tests and benchmarks reach CMyInbox's private fields.
#pragma once

#include <string>
#include <vector>

#include "inbox/MyInbox.h"

struct CMyInboxTestAccess {
  static HMODULE ResourceLibrary(const CMyInbox& o) { return o.m_hResourceLib; }
  static const std::u16string& Folder(const CMyInbox& o) { return o.m_strFolder; }
  static MAPIManaged::MAPINativeConnection* Connection(const CMyInbox& o) { return o.m_mapi; }
  // AddAddress's list for type 1 or 2.
  static const std::vector<std::u16string>& PendingAddresses(const CMyInbox& o, int type) {
    return type == 1 ? o.m_pendingAddresses1 : o.m_pendingAddresses2;
  }
};
