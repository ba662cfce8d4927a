// What the host provides for one request. The host (the portal, or a test)
// derives from HostContext, installs it for the request's thread with
// HostScope, and the HostKit functions (HostKit.h) reach it from there.
// Every hook has a safe default so that a host overrides only what it serves.
#pragma once

#include <string>
#include <string_view>

#include "host/Intrinsics.h"
#include "host/MAPINativeConnection.h"

namespace hostkit {

// The user's directory password, in a fixed buffer of 2048 bytes that is
// zeroed on destruction and on Clear.
class CPasswordString {
 public:
  static constexpr std::size_t kBytes = 2048;
  CPasswordString() { Clear(); }
  ~CPasswordString() { Clear(); }
  CPasswordString(const CPasswordString&) = delete;
  CPasswordString& operator=(const CPasswordString&) = delete;
  // false (and nothing stored) when the text does not fit with its terminator.
  bool Set(std::u16string_view text);
  const char16_t* Get() const { return reinterpret_cast<const char16_t*>(buffer_); }
  std::size_t Length() const;
  void Clear();
  const unsigned char* Bytes() const { return buffer_; }

 private:
  alignas(char16_t) unsigned char buffer_[kBytes];
};

// File activation: component number of the mail viewer's attachments.
enum PendrelComponent { PendrelComponentNone = 0, PendrelComponentFiles = 1, PendrelComponentEmail = 2 };

class HostContext {
 public:
  virtual ~HostContext() = default;

  // The page's intrinsic objects; null when the host has none.
  virtual IRequest* Request() { return nullptr; }
  virtual IResponse* Response() { return nullptr; }

  // Web session.
  virtual bool GetSessionVariable(std::u16string_view, std::u16string& value) {
    value.clear();
    return false;
  }
  virtual bool PutSessionVariable(std::u16string_view, std::u16string_view) { return false; }
  virtual bool GetMasterSessionID(std::u16string&) { return false; }
  virtual bool GetSessionADPwd(CPasswordString&) { return false; }

  // A new mail connection for the session's user; null when none can be had.
  virtual MAPIManaged::MAPINativeConnection* GetMAPINative() { return nullptr; }

  // Configuration and policy.
  virtual bool IsMailDisabled() { return false; }
  // configured: web mail is configured; htmlEnabled: HTML bodies may be shown.
  virtual bool GetEmailConfigData(bool& configured, std::u16string&, bool& htmlEnabled) {
    configured = false;
    htmlEnabled = false;
    return false;
  }
  virtual bool IsSendAttachmentsEnabled(bool& enabled) {
    enabled = false;
    return false;
  }
  virtual bool GetSendAttachmentOption(std::u16string& option) {
    option.clear();
    return false;
  }
  virtual bool VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view) {
    allowed = false;
    return false;
  }
  virtual bool IsEmailAuditingEnabled() { return false; }
  virtual bool LogPolicyDenials() { return true; }
  // Whether the signed-in user may read the file.
  virtual bool CheckReadAccess(std::u16string_view) { return false; }
  // Replaces a file reference by the name to show for it.
  virtual bool GetResourceFileName(std::u16string&) { return false; }
  virtual std::u16string CriteriaXML() { return {}; }
  virtual bool CheckPolicyUncUrl(std::u16string_view, int, std::u16string_view) { return false; }

  // Links rewritten to go through the portal.
  virtual HRESULT EncodeHostedUrl(std::u16string_view, std::u16string_view, std::u16string&) {
    return E_NOTIMPL;
  }
  virtual HRESULT FormatURL(std::u16string_view, std::u16string&, DWORD) { return E_NOTIMPL; }

  // Reports.
  virtual void ReportEvent(int, HRESULT, int, std::u16string_view, std::u16string_view) {}
  virtual void ReportMessage(int, bool, std::u16string_view, std::u16string_view,
                             std::u16string_view) {}
  virtual void ReportAPIFailure(std::string_view, std::string_view, int, std::string_view) {}

  // File activation.
  virtual std::u16string CreateContextXML(std::u16string_view) { return {}; }
  // Returns 0 on failure; options receives the choices open to the file.
  virtual int QueryOptions(int, std::u16string_view, const char16_t*, int& options, bool, bool,
                           bool) {
    options = 0;
    return 0;
  }
  virtual int DisplayChoice(int, std::u16string_view, const char16_t*, std::u16string_view,
                            const char16_t*, int, bool, bool, bool) {
    return 0;
  }
  virtual int GetNumberOfActivationOptions(int) { return 0; }

  // Request cache around a page body; the page-header block.
  virtual void CacheContextBegin() {}
  virtual void CacheContextEnd() {}
  virtual void WriteLiveEditHeader() {}
};

// The context installed for the calling thread, or null.
HostContext* CurrentHost();

// Installs a context for the current thread for the scope's life.
class HostScope {
 public:
  explicit HostScope(HostContext* context);
  ~HostScope();
  HostScope(const HostScope&) = delete;
  HostScope& operator=(const HostScope&) = delete;

 private:
  HostContext* previous_;
};

}  // namespace hostkit
