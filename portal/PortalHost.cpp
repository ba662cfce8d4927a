#include "portal/PortalHost.h"

#include <bit>

#include "platform/Text.h"
#include "portal/Config.h"
#include "portal/ImapSite.h"
#include "portal/Server.h"
#include "portal/Uploads.h"
#include "portal/Util.h"

#ifdef LUMAREST_HAVE_MAILBRIDGE
#include "mailbridge/MailBridge.h"
#endif

namespace portal {

namespace fs = std::filesystem;
using platform::U16;
using platform::U8;

std::string Session::Get(const std::string& name) const {
  auto c = changes_.find(name);
  if (c != changes_.end()) return c->second;
  auto it = vars_.find(name);
  return it == vars_.end() ? std::string() : it->second;
}

void Session::Set(const std::string& name, const std::string& value) { changes_[name] = value; }

SessionVars Session::All() const {
  SessionVars all = vars_;
  for (const auto& [k, v] : changes_) all[k] = v;
  return all;
}

RequestContext::RequestContext(Portal& portal, const Account* account, Session* session,
                               hostkit::FieldList query, hostkit::FieldList form,
                               hostkit::FieldList serverVariables)
    : portal_(portal), account_(account), session_(session) {
  // Attach rather than assign: the counted pointers are built in place.
  request_.Attach(
      hostkit::CreateRequest(std::move(query), std::move(form), std::move(serverVariables)).Detach());
  response_.Attach(hostkit::CreateResponse(&state_).Detach());
}

RequestContext* CurrentRequest() { return dynamic_cast<RequestContext*>(hostkit::CurrentHost()); }

std::string RequestContext::UserName() const { return account_ ? account_->name : std::string(); }

bool RequestContext::MayOpen(const fs::path& path) const {
  if (!account_ || path.empty() || !path.is_absolute()) return false;
  if (IsInside(account_->AttachmentCache(), path) || IsInside(account_->Uploads(), path))
    return true;
  for (const auto& root : portal_.Cfg().fileRoots)
    if (IsInside(root, path)) return true;
  return false;
}

bool RequestContext::GetSessionVariable(std::u16string_view name, std::u16string& value) {
  value.clear();
  if (!session_ || name.empty() || name[0] == u'_') return false;
  value = U16(session_->Get(U8(name)));
  return true;
}

bool RequestContext::PutSessionVariable(std::u16string_view name, std::u16string_view value) {
  if (!session_ || name.empty() || name[0] == u'_') return false;
  session_->Set(U8(name), U8(value));
  return true;
}

bool RequestContext::GetMasterSessionID(std::u16string& id) {
  if (!session_) return false;
  id = U16(session_->Master());
  return !id.empty();
}

bool RequestContext::GetSessionADPwd(hostkit::CPasswordString& password) {
  if (!session_) return false;
  // A per-session secret, not the user's password: only the portal's own
  // impersonation object accepts it.
  return password.Set(U16(session_->Get("_secret")));
}

MAPIManaged::MAPINativeConnection* RequestContext::GetMAPINative() {
  if (!account_) {
    mailUnavailable = true;
    return nullptr;
  }
#ifdef LUMAREST_HAVE_MAILBRIDGE
  mailbridge::AccountConfig c;
  c.userName = account_->name;
  c.emailAddress = account_->email;
  c.displayName = account_->displayName;
  c.localDomain = portal_.Cfg().localDomain;
  c.maildir = account_->maildir.string();
  c.attachmentCacheDir = account_->AttachmentCache().string();
  c.contactsPath = account_->Contacts().string();
  c.galPath = (portal_.DataDir() / "gal.vcf").string();
  // The global address list comes from an LDAP server when [directory] names one.
  const auto& ini = portal_.Cfg().ini;
  c.ldapUri = ini.Get("directory", "ldap_uri", "");
  c.ldapBaseDn = ini.Get("directory", "ldap_base_dn", "");
  c.ldapBindDn = ini.Get("directory", "ldap_bind_dn", "");
  c.ldapPassword = ini.Get("directory", "ldap_password", "");
  if (ini.Has("directory", "ldap_filter")) c.ldapFilter = ini.Get("directory", "ldap_filter", "");
  c.uploadDir = account_->Uploads().string();
  fs::path uploads = account_->Uploads();
  c.resolveUpload = [uploads](const std::string& id) -> std::optional<mailbridge::UploadedFile> {
    auto file = UploadStore::Resolve(uploads, id);
    if (!file) return std::nullopt;
    return mailbridge::UploadedFile{file->string(), UploadStore::ShownName(id)};
  };
  c.maxAttachmentBytes = static_cast<std::size_t>(
      std::stoull(portal_.Cfg().ini.Get("mail", "max_attachment_bytes", "26214400")));
  c.sendNotice = [this](const std::string& kind, const std::string& detail) {
    sendNotices.emplace_back(kind, detail);
  };
  Portal* portal = &portal_;
  std::string domain = ToLowerAscii(portal_.Cfg().localDomain);
  c.smtpUrl = portal_.Cfg().ini.Get("mail", "smtp", "");
  // Without a relay, mail for other domains is kept in DIR/outbox (a
  // Maildir) rather than refused, so that a site on its own still sends.
  bool keepOutgoing = c.smtpUrl.empty() && ParseBool(portal_.Cfg().ini.Get("mail", "keep_outgoing", "true"), true);
  fs::path outbox = portal_.DataDir() / "outbox";
  c.localMaildirFor = [portal, domain, keepOutgoing, outbox](const std::string& address) -> std::optional<std::string> {
    auto at = address.rfind('@');
    if (at == std::string::npos) return std::nullopt;
    if (ToLowerAscii(address.substr(at + 1)) == domain) {
      auto user = portal->Users().Find(ToLowerAscii(address.substr(0, at)));
      if (!user) return std::nullopt;
      return user->maildir.string();
    }
    if (!keepOutgoing) return std::nullopt;
    EnsureMaildir(outbox);
    return outbox.string();
  };
  c.sentFolder = portal_.Cfg().ini.Get("mail", "sent_folder", "Sent");
  c.trashFolder = portal_.Cfg().ini.Get("mail", "trash_folder", "Trash");
  // An IMAP site: the server through the master user, sending through [mail] smtp.
  UseMailServers(portal_.Cfg(), *account_, c);
  c.onUnavailable = [this] { mailUnavailable = true; };
  auto conn = mailbridge::OpenConnection(c);
  if (!conn) mailUnavailable = true;
  return NoticeMissing(std::move(conn), missing).release();
#else
  mailUnavailable = true;
  return nullptr;
#endif
}

bool RequestContext::IsMailDisabled() {
  return account_ && !portal_.Cfg().LookupBool(account_->name, account_->groups, "webmail", true);
}

bool RequestContext::GetEmailConfigData(bool& configured, std::u16string& text, bool& htmlEnabled) {
  configured = false;
  htmlEnabled = false;
  text.clear();
  if (!account_) return false;
  const auto& cfg = portal_.Cfg();
  configured = cfg.LookupBool(account_->name, account_->groups, "configured", true);
  htmlEnabled = cfg.LookupBool(account_->name, account_->groups, "html_bodies", true);
  return true;
}

bool RequestContext::IsSendAttachmentsEnabled(bool& enabled) {
  enabled = account_ &&
            portal_.Cfg().LookupBool(account_->name, account_->groups, "send_attachments", true);
  return account_ != nullptr;
}

bool RequestContext::GetSendAttachmentOption(std::u16string& option) {
  option.clear();
  if (!account_) return false;
  option = U16(portal_.Cfg().Lookup(account_->name, account_->groups, "send_attachment_option", ""));
  return true;
}

bool RequestContext::VerifyPolicyAccessToEmail(bool& allowed, std::u16string_view masterId) {
  allowed = false;
  std::string id = U8(masterId);
  // The id must name this request's own session; another user's id is refused.
  if (!account_ || !session_ || id.empty() || id != session_->Master()) {
    policyDenied = true;
    return true;
  }
  allowed = portal_.Cfg().LookupBool(account_->name, account_->groups, "webmail", true);
  if (!allowed) policyDenied = true;
  return true;
}

bool RequestContext::IsEmailAuditingEnabled() {
  return account_ && portal_.Cfg().LookupBool(account_->name, account_->groups, "auditing", false);
}

bool RequestContext::LogPolicyDenials() {
  return !account_ || portal_.Cfg().LookupBool(account_->name, account_->groups, "log_denials", true);
}

bool RequestContext::CheckReadAccess(std::u16string_view path) {
  fs::path p(U8(path));
  std::error_code ec;
  return MayOpen(p) && fs::is_regular_file(p, ec) && ::access(p.c_str(), R_OK) == 0;
}

bool RequestContext::GetResourceFileName(std::u16string& name) {
  std::string n = U8(name);
  if (n.rfind("UPLOADID", 0) == 0) {
    name = U16(UploadStore::ShownName(n.substr(8)));
    return true;
  }
  name = U16(fs::path(n).filename().string());
  return true;
}

std::u16string RequestContext::CriteriaXML() {
  return U16("<criteria><user>" + HtmlEscape(UserName()) + "</user></criteria>");
}

bool RequestContext::CheckPolicyUncUrl(std::u16string_view path, int, std::u16string_view) {
  // Network paths are not served by this portal; local files must lie inside
  // the user's roots.
  if (path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') && path[1] == path[0]) return false;
  return MayOpen(fs::path(U8(path)));
}

std::string LinkOutUrl(const std::string& target) {
  return "/HalvornSLV/LinkOut.asp?url=" + EncodeUrlSafe(target);
}

HRESULT RequestContext::EncodeHostedUrl(std::u16string_view link, std::u16string_view,
                                        std::u16string& out) {
  out = U16(LinkOutUrl(U8(link)));
  return S_OK;
}

HRESULT RequestContext::FormatURL(std::u16string_view url, std::u16string& out, DWORD) {
  out = U16(LinkOutUrl(U8(url)));
  return S_OK;
}

void RequestContext::ReportEvent(int type, HRESULT id, int line, std::u16string_view source,
                                 std::u16string_view text) {
  char hr[16];
  std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(id));
  portal_.Report("event type=" + std::to_string(type) + " id=" + hr + " user=" + UserName() +
                 " source=" + U8(source) + ":" + std::to_string(line) + " " + U8(text));
}

void RequestContext::ReportMessage(int type, bool log, std::u16string_view component,
                                   std::u16string_view feature, std::u16string_view detail) {
  static const char* kinds[] = {"failure", "audit", "policy-denial"};
  if (type == 2 && !log) return;  // denials are logged only when configured
  portal_.Report(std::string("message ") + (type >= 0 && type <= 2 ? kinds[type] : "other") +
                 " user=" + UserName() + " component=" + U8(component) +
                 " feature=" + U8(feature) + " " + U8(detail));
}

void RequestContext::ReportAPIFailure(std::string_view expression, std::string_view file, int line,
                                      std::string_view function) {
  portal_.Report("api-failure user=" + UserName() + " " + std::string(function) + " " +
                 std::string(file) + ":" + std::to_string(line) + " " + std::string(expression));
}

std::u16string RequestContext::CreateContextXML(std::u16string_view) {
  return U16("<context><user>" + HtmlEscape(UserName()) + "</user></context>");
}

int RequestContext::QueryOptions(int, std::u16string_view path, const char16_t*, int& options,
                                 bool, bool, bool) {
  options = 0;
  fs::path p(U8(path));
  std::error_code ec;
  if (!MayOpen(p) || !fs::is_regular_file(p, ec)) return 0;
  options = kOptionOpen | kOptionDownload;
  return 1;
}

namespace {
// Types a browser may show in the page's own origin without running script.
bool SafeToShowInline(const fs::path& path) {
  auto type = ContentTypeFor(path);
  return type.rfind("image/", 0) == 0 || type.rfind("text/plain", 0) == 0 ||
         type == "application/pdf" || type.rfind("audio/", 0) == 0 || type == "text/csv";
}
}  // namespace

int RequestContext::DisplayChoice(int, std::u16string_view fileName, const char16_t*,
                                  std::u16string_view displayName, const char16_t*, int options,
                                  bool, bool, bool) {
  fs::path p(U8(fileName));
  std::error_code ec;
  if (!MayOpen(p) || !fs::is_regular_file(p, ec)) {
    forbidden = true;
    return 0;
  }
  std::string shown = fs::path(U8(displayName)).filename().string();
  if (shown.empty()) shown = p.filename().string();
  options &= kOptionOpen | kOptionDownload;
  if (options == (kOptionOpen | kOptionDownload)) {
    // Let the user choose: the same request with one option each.
    std::string enc = EncodeUrlSafe(p.string());
    std::string base = "ViewInboxMessage.asp?ComponentID=2&amp;FileName=" + enc + "&amp;Options=";
    choicePage = "<div class='ContentBody'><p class='ChoiceTitle'>" + HtmlEscape(shown) +
                 "</p><p><a class='coolButton' href='" + base + "1'>Open</a> &nbsp; " +
                 "<a class='coolButton' href='" + base + "2'>Download</a></p></div>";
    return 1;
  }
  if (options == 0) {
    forbidden = true;
    return 0;
  }
  file = FileAnswer{p, shown, options == kOptionOpen && SafeToShowInline(p)};
  return 1;
}

int RequestContext::GetNumberOfActivationOptions(int options) {
  return std::popcount(static_cast<unsigned>(options & (kOptionOpen | kOptionDownload)));
}

}  // namespace portal
