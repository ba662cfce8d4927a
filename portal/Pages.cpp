#include "portal/Pages.h"

#include "host/ErrorPages.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "host/HostKit.h"
#include "host/InboxInterfaces.h"
#include "platform/Format.h"
#include "platform/Guid.h"
#include "platform/Text.h"
#include "portal/HtmlTarget.h"
#include "portal/ImapSite.h"
#include "portal/MissingMail.h"
#include "portal/Server.h"
#include "portal/Uploads.h"
#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;
using platform::U16;
using platform::U8;

std::string PageEnv::Query(const std::string& name) const {
  for (const auto& [k, v] : query)
    if (EqualsNoCaseAscii(U8(k), name)) return U8(v);
  return {};
}

std::string PageEnv::Form(const std::string& name) const {
  for (const auto& [k, v] : form)
    if (EqualsNoCaseAscii(U8(k), name)) return U8(v);
  return {};
}

bool PageEnv::IsPost() const { return req.method == "POST"; }

namespace {

std::string OriginOf(const std::string& url) {
  auto scheme = url.find("://");
  if (scheme == std::string::npos) return {};
  auto end = url.find('/', scheme + 3);
  return ToLowerAscii(url.substr(0, end));
}

}  // namespace

bool SameOrigin(const httplib::Request& req, const std::string& publicOrigin) {
  std::string own = publicOrigin.empty() ? "http://" + req.get_header_value("Host")
                                         : publicOrigin;
  own = ToLowerAscii(own);
  // Every header the browser sent must name this site, and at least one must
  // be there: a request that shows nothing of where it came from is refused.
  bool shown = false;
  if (req.has_header("Origin")) {
    if (ToLowerAscii(req.get_header_value("Origin")) != own) return false;
    shown = true;
  }
  if (req.has_header("Sec-Fetch-Site")) {
    auto site = req.get_header_value("Sec-Fetch-Site");
    if (site != "same-origin" && site != "none") return false;
    shown = true;
  }
  if (req.has_header("Referer")) {
    if (OriginOf(req.get_header_value("Referer")) != own) return false;
    shown = true;
  }
  return shown;
}

bool IsSmallDevice(const std::string& ua) {
  for (const char* mark : {"Mobile", "Android", "iPhone", "iPod", "Windows CE", "PalmOS",
                           "BlackBerry", "Opera Mini", "PDA"})
    if (ua.find(mark) != std::string::npos) return true;
  return false;
}

std::string ErrorPage(int id) {
  // The module's own pages, written through formatting as they are formats ("%%" for "%").
  const char16_t* html = ErrorPageHtml(static_cast<UINT>(id));
  return html ? U8(platform::FormatW(html)) : std::string();
}

namespace {

// ---- page frame -------------------------------------------------------------

std::string PageHead(const std::string& title) {
  return "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width\">"
         "<title>" + HtmlEscape(title) + " - LumarestInbox</title>"
         "<link rel=\"stylesheet\" type=\"text/css\" href=\"/HalvornSLV/Inc/Stylesheet.css\">"
         "<script src=\"/HalvornSLV/Inc/Inbox.js\"></script></head>\r\n<body class=\"PortalBody\">\r\n";
}

std::string PortalNav(const PageEnv& env) {
  if (!env.account) return {};
  if (env.session && env.session->Reduced()) return {};
  return "<table class=\"PortalNav\" width=\"100%\"><tr>"
         "<td class=\"PortalBrand\"><img src=\"gifs/pendrellogo.gif\" alt=\"\" align=\"absmiddle\"> LumarestInbox</td>"
         "<td><a href=\"Inbox.asp\">Inbox</a></td>"
         "<td><a href=\"InboxFolders.asp?Recurse=true&amp;Vis=Inbox\">Folders</a></td>"
         "<td><a href=\"MyFiles.asp\">My Files</a></td>"
         "<td class=\"PortalUser\">" + HtmlEscape(env.account->displayName) + "</td>"
         "<td><a href=\"Logout.asp\">Sign out</a></td></tr></table>\r\n";
}

void SendHtml(PageEnv& env, int status, const std::string& title, const std::string& body) {
  env.res.status = status;
  env.res.set_header("X-Content-Type-Options", "nosniff");
  env.res.set_header("Referrer-Policy", "same-origin");
  env.res.set_header("Cache-Control", "no-store");
  env.res.set_content(PageHead(title) + PortalNav(env) + "<div class=\"PortalContent\">\r\n" + body +
                          "\r\n</div></body></html>\r\n",
                      "text/html; charset=utf-8");
}

void SendStatus(PageEnv& env, int status, const std::string& text) {
  SendHtml(env, status, text, "<p class=\"PortalMessage\">" + HtmlEscape(text) + "</p>");
}

void SendErrorPage(PageEnv& env, int id) {
  env.res.status = id == 228 ? 403 : 503;
  env.res.set_header("Cache-Control", "no-store");
  env.res.set_content(ErrorPage(id), "text/html; charset=utf-8");
}

void Redirect(PageEnv& env, const std::string& location) {
  env.res.status = 302;
  env.res.set_header("Location", location);
  env.res.set_header("Cache-Control", "no-store");
}

// ---- sessions ---------------------------------------------------------------

std::string CookieValue(const httplib::Request& req, const std::string& name) {
  auto header = req.get_header_value("Cookie");
  for (auto part : Split(header, ';')) {
    part = Trim(part);
    auto eq = part.find('=');
    if (eq != std::string::npos && part.substr(0, eq) == name) return part.substr(eq + 1);
  }
  return {};
}

void LoadSession(PageEnv& env) {
  std::string id = CookieValue(env.req, kSessionCookie);
  if (id.size() != 32 || !std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
      }))
    return;
  auto vars = env.portal.Store().Load(id);
  if (!vars) return;
  auto account = env.portal.Users().Find((*vars)["_user"]);
  if (!account) return;
  env.session = std::make_unique<Session>(id, std::move(*vars));
  env.account = std::move(account);
}

void SaveSession(PageEnv& env) {
  if (!env.session || env.session->Changes().empty()) return;
  env.portal.Store().Put(env.session->Id(), env.session->Changes());
  env.session->ClearChanges();
}

std::string SessionCookie(const PageEnv& env, const std::string& id, bool clear) {
  std::string c = std::string(kSessionCookie) + "=" + (clear ? "" : id) +
                  "; Path=/; HttpOnly; SameSite=Strict";
  // Behind a TLS front end the cookie must not travel in clear.
  if (env.portal.Cfg().publicOrigin.rfind("https://", 0) == 0) c += "; Secure";
  if (clear) c += "; Max-Age=0";
  return c;
}

// ---- calling the component --------------------------------------------------

struct Call {
  HRESULT hr = E_FAIL;
  bool created = false;
  std::unique_ptr<RequestContext> ctx;
  std::string body;
};

hostkit::FieldList ServerVariables(const PageEnv& env) {
  hostkit::FieldList v;
  auto add = [&](const char* name, const std::string& value) { v.emplace_back(U16(name), U16(value)); };
  add("HTTP_ACCEPT_LANGUAGE", env.req.get_header_value("Accept-Language"));
  add("HTTP_USER_AGENT", env.req.get_header_value("User-Agent"));
  add("HTTP_HOST", env.req.get_header_value("Host"));
  add("REQUEST_METHOD", env.req.method);
  add("SCRIPT_NAME", "/HalvornSLV/" + env.page);
  add("URL", "/HalvornSLV/" + env.page);
  auto q = env.req.target.find('?');
  add("QUERY_STRING", q == std::string::npos ? "" : env.req.target.substr(q + 1));
  add("PATH_TRANSLATED", (env.portal.SiteDir() / env.page).string());
  add("REMOTE_ADDR", env.req.remote_addr);
  add("SERVER_NAME", "localhost");
  add("HTTPS", "off");
  add("AUTH_USER", env.account ? env.account->name : "");
  add("LOGON_USER", env.account ? env.account->name : "");
  return v;
}

// Creates one MyInbox, hands it the HTML target and runs fn on it.
Call CallComponent(PageEnv& env, const std::function<HRESULT(IMyInbox*)>& fn,
                   hostkit::FieldList form) {
  Call call;
  call.ctx = std::make_unique<RequestContext>(env.portal, env.account ? &*env.account : nullptr,
                                              env.session.get(), env.query, std::move(form),
                                              ServerVariables(env));
  {
    hostkit::HostScope scope(call.ctx.get());
    auto mode = env.session && env.session->Reduced() ? OutputMode::Reduced : OutputMode::Full;
    auto target = CreateHtmlTarget(call.ctx->Response(), mode);
    CComPtr<IMyInbox> inbox;
    HRESULT hr = inbox.CoCreateInstance(u"LumarestInbox.MyInbox");
    if (SUCCEEDED(hr) && inbox) {
      call.created = true;
      inbox->SetTarget(target);
      call.hr = fn(inbox);
      inbox->SetTarget(nullptr);
    } else {
      call.hr = FAILED(hr) ? hr : E_FAIL;
      env.portal.Log("cannot create LumarestInbox.MyInbox");
    }
    inbox.Release();
  }
  call.body = U8(call.ctx->Out().body);
  SaveSession(env);
  return call;
}

void SendFileAnswer(PageEnv& env, const FileAnswer& f) {
  std::string data;
  if (!ReadFile(f.path, data)) {
    SendStatus(env, 404, "The file could not be read.");
    return;
  }
  std::string type = f.inlineView ? ContentTypeFor(f.path) : "application/octet-stream";
  std::string ascii;
  for (char c : f.name) ascii.push_back((c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? c : '_');
  env.res.set_header("Content-Disposition", std::string(f.inlineView ? "inline" : "attachment") +
                                                "; filename=\"" + ascii + "\"; filename*=UTF-8''" +
                                                UrlEncode(f.name));
  env.res.set_header("X-Content-Type-Options", "nosniff");
  env.res.set_header("Content-Security-Policy", "sandbox; default-src 'none'; img-src 'self'; media-src 'self'; style-src 'unsafe-inline'");
  env.res.set_header("Cache-Control", "private, no-store");
  env.res.status = 200;
  env.res.set_content(data, type);
}

// Turns what the component did into the HTTP answer. A folder or message
// that is not there (a failed page, or the delete and meeting pages that
// write their own failure line) is 404 with a page naming it; so is a
// message link whose identifier does not parse. Any other failure that is
// neither a policy refusal nor a missing mailbox is a server error.
void Answer(PageEnv& env, Call& call, const std::string& title, bool messagePage = false) {
  auto& ctx = *call.ctx;
  if (ctx.forbidden) {
    SendStatus(env, 403, "You may not open this file.");
    return;
  }
  if (ctx.file) {
    SendFileAnswer(env, *ctx.file);
    return;
  }
  auto redirect = U8(ctx.Out().redirect);
  if (!redirect.empty()) {
    Redirect(env, redirect);
    return;
  }
  if (!call.created) {
    SendErrorPage(env, 227);
    return;
  }
  if (ctx.missing && !ctx.policyDenied &&
      (FAILED(call.hr) || env.page == "deletemessage.asp" || env.page == "meetingresponse.asp")) {
    SendHtml(env, 404, "Not found", MissingMailBody(*ctx.missing, call.body));
    return;
  }
  if (FAILED(call.hr)) {
    GUID id{};
    if (ctx.policyDenied) {
      SendErrorPage(env, 228);
    } else if (ctx.mailUnavailable) {
      SendErrorPage(env, 227);
    } else if (messagePage && !platform::ParseGuid(U16(env.Query("Guid")), id)) {
      SendStatus(env, 404, "The message could not be found.");
    } else {
      char hr[16];
      std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(call.hr));
      env.portal.Report("page " + env.page + " failed with " + hr);
      SendStatus(env, 500, std::string("This page could not be shown (") + hr + ").");
    }
    return;
  }
  SendHtml(env, 200, title, call.body + ctx.choicePage);
}


// ---- validation of what the component echoes ---------------------------------

bool HasUnsafeRecipientChar(const std::string& text) {
  for (unsigned char c : text)
    if (c == '<' || c == '>' || c == '"' || c < 0x20 || c == 0x7F) return true;
  return false;
}

// An upload reference of this user: "UPLOADID" + identifier of a stored file.
bool IsOwnUpload(const PageEnv& env, const std::string& decoded) {
  if (decoded.rfind("UPLOADID", 0) != 0 || !env.account) return false;
  return UploadStore::Resolve(env.account->Uploads(), decoded.substr(8)).has_value();
}

bool IsAllowedFileRef(const PageEnv& env, const std::string& decoded) {
  if (IsOwnUpload(env, decoded)) return true;
  fs::path p(decoded);
  if (!env.account || !p.is_absolute()) return false;
  RequestContext probe(env.portal, &*env.account, nullptr, {}, {}, {});
  std::error_code ec;
  return probe.MayOpen(p) && fs::is_regular_file(p, ec);
}

// The fields whose values end up among the recipients the compose form
// writes as they stand: the address lines, the address-book choice, and the
// fields of the name-resolution pages ("CHECK:To", "To:<name>", "RName1"...).
bool IsRecipientField(const std::string& name) {
  for (const char* exact : {"To", "TTo", "TCC", "TBCC", "Contacts"})
    if (EqualsNoCaseAscii(name, exact)) return true;
  for (const char* prefix : {"CHECK:", "To:", "Cc:", "BCc:", "RName", "RSelectName"}) {
    std::string_view p(prefix);
    if (name.size() >= p.size() && EqualsNoCaseAscii(std::string_view(name).substr(0, p.size()), p))
      return true;
  }
  return false;
}

// Every occurrence of every recipient field, in the query and in the form,
// is checked: the component joins repeated fields, so checking one is not
// enough. Keys compare by ASCII case, the same rule the component reads by.
bool CheckRecipientFields(PageEnv& env) {
  for (const auto* fields : {&env.query, &env.form})
    for (const auto& [k, v] : *fields) {
      std::string key = U8(k);
      if (!IsRecipientField(key)) continue;
      std::string value = U8(v);
      if (!HasUnsafeRecipientChar(value)) continue;
      if (EqualsNoCaseAscii(key, "Contacts") || key.find(':') != std::string::npos ||
          EqualsNoCaseAscii(key.substr(0, 5), "RName") || EqualsNoCaseAscii(key.substr(0, 7), "RSelect"))
        SendStatus(env, 400, "The address book entry \"" + value +
                                 "\" holds characters an address cannot hold and was not added.");
      else
        SendStatus(env, 400, "A recipient holds characters an address cannot hold.");
      return false;
    }
  return true;
}

// UploadID and Filename name one file each: given twice the component would
// join them into something no check saw, so a second one is refused.
bool CheckFileRefs(PageEnv& env) {
  for (const char* key : {"UploadID", "Filename"}) {
    int seen = 0;
    for (const auto& [k, v] : env.query) {
      if (!EqualsNoCaseAscii(U8(k), key)) continue;
      std::string value = U8(v);
      if (++seen == 1 && value.empty()) continue;
      std::string decoded = DecodeUrlSafe(value);
      if (seen > 1 || !IsUrlSafeText(value) || decoded.empty() || !IsAllowedFileRef(env, decoded)) {
        SendStatus(env, 400, std::string("The ") + key + " value does not name one of your files.");
        return false;
      }
    }
  }
  return true;
}

// The draft's attachment list is checked again before a post reaches the
// component: a file the user may no longer send (an upload gone, a file
// outside the user's folders now) is taken off the list and named, and the
// posted draft is kept, instead of the send refusing it and dropping the
// whole draft.
bool CheckAttachmentList(PageEnv& env) {
  std::string list = env.session->Get("FileID");
  std::vector<std::string> kept;
  std::string refused;
  for (const auto& raw : Split(list, ';')) {
    std::string item = Trim(raw);
    if (item.empty()) continue;
    std::string decoded = IsUrlSafeText(item) ? DecodeUrlSafe(item) : item;
    if (!decoded.empty() && IsAllowedFileRef(env, decoded)) {
      kept.push_back(item);
    } else if (refused.empty()) {
      auto at = decoded.find("UPLOADID");
      refused = at != std::string::npos ? UploadStore::ShownName(decoded.substr(at + 8))
                                        : fs::path(decoded).filename().string();
      if (refused.empty()) refused = decoded;
    }
  }
  if (refused.empty()) return true;
  std::string rest;
  for (const auto& k : kept) rest += (rest.empty() ? "" : ";") + k;
  env.session->Set("FileID", rest);
  if (!env.Form("IsCompose").empty()) {
    auto joined = [&](const char* field) {
      std::string out;
      for (const auto& [k, v] : env.form)
        if (EqualsNoCaseAscii(U8(k), field)) out += (out.empty() ? "" : ";") + U8(v);
      return out;
    };
    for (const auto& [field, var] : {std::pair{"TTo", "composeTo"}, {"TCC", "composeCC"}, {"TBCC", "composeBCC"},
                                     {"Subject", "composeSubject"}, {"MessageText", "composeBody"}}) {
      env.session->Set(var, joined(field));
      env.session->Set(std::string("Halvorn.Slv.") + var, joined(field));
    }
  }
  SaveSession(env);
  SendHtml(env, 200, "Attachment removed",
           "<div class='ContentBody'><p class='PortalMessage' id='AttachmentRefused'>The attachment \"" +
               HtmlEscape(refused) +
               "\" can no longer be sent from here and was taken off the message. Your message was not "
               "sent; it is kept.</p><p><a class='coolButton' href='ComposeMessage.asp'>Back to the message</a></p></div>");
  return false;
}

// ---- pages ------------------------------------------------------------------

bool RequireSignIn(PageEnv& env) {
  if (env.account && env.session) return true;
  if (env.IsPost()) {
    SendStatus(env, 401, "Your session has ended. Please sign in again.");
  } else {
    Redirect(env, "/HalvornSLV/Login.asp");
  }
  return false;
}

bool RequireSameOrigin(PageEnv& env) {
  if (SameOrigin(env.req, env.portal.Cfg().publicOrigin)) return true;
  SendStatus(env, 403, "This request came from another site and was refused.");
  return false;
}

std::string LoginForm(const std::string& message, const std::string& user) {
  return "<table width=\"100%\" height=\"80%\"><tr><td align=\"center\" valign=\"middle\">"
         "<form method=\"post\" action=\"Login.asp\"><table class=\"LoginBox\" cellpadding=\"6\">"
         "<tr><td colspan=\"2\"><img src=\"gifs/pendrellogo.gif\" alt=\"\" align=\"absmiddle\"> "
         "<b>LumarestInbox</b></td></tr>" +
         (message.empty() ? "" : "<tr><td colspan=\"2\" class=\"LoginError\">" + HtmlEscape(message) + "</td></tr>") +
         "<tr><td>User name</td><td><input type=\"text\" name=\"UserName\" id=\"UserName\" value=\"" +
         HtmlEscape(user) + "\" autofocus></td></tr>"
         "<tr><td>Password</td><td><input type=\"password\" name=\"Password\" id=\"Password\"></td></tr>"
         "<tr><td>Output</td><td><select name=\"Output\"><option value=\"\">Automatic</option>"
         "<option value=\"full\">Full</option><option value=\"reduced\">Reduced</option></select></td></tr>"
         "<tr><td></td><td><input class=\"inputbutton\" type=\"submit\" id=\"SignIn\" value=\"Sign in\"></td></tr>"
         "</table></form></td></tr></table>";
}

void LoginPage(PageEnv& env) {
  if (!env.IsPost()) {
    SendHtml(env, 200, "Sign in", LoginForm("", ""));
    return;
  }
  if (!RequireSameOrigin(env)) return;
  std::string user = ToLowerAscii(Trim(env.Form("UserName")));
  std::string password = env.Form("Password");
  const std::string& from = env.req.remote_addr;
  auto& throttle = env.portal.Throttle();
  if (long wait = throttle.RetryAfter(user, from)) {
    env.res.set_header("Retry-After", std::to_string(wait));
    SendHtml(env, 429, "Sign in",
             LoginForm("Too many failed sign-ins. Please try again in " + std::to_string(wait) + " seconds.", user));
    return;
  }
  // A few password checks (hashes or IMAP logins) at a time; the rest are
  // told to come back.
  auto& hashing = env.portal.PasswordHashing();
  if (!hashing.Acquire(std::chrono::seconds(2))) {
    env.res.set_header("Retry-After", "1");
    SendHtml(env, 503, "Sign in", LoginForm("Too many sign-ins at once. Please try again in a moment.", user));
    return;
  }
  SignInResult checked;
  try {
    checked = VerifySignIn(env.portal, user, password);
  } catch (...) {
    hashing.Release();
    throw;
  }
  hashing.Release();
  auto& account = checked.account;
  if (checked.serverDown) {
    env.portal.Report("sign-in failed user=" + user + ": the mail server does not answer");
    SendHtml(env, 503, "Sign in", LoginForm("The mail server does not answer. Please try again later.", user));
    return;
  }
  if (!account) {
    env.portal.Report("sign-in refused user=" + user + " from=" + from);
    for (const auto& lock : throttle.Failed(user, from))
      env.portal.Report("sign-in locked " + lock.key + " seconds=" + std::to_string(lock.seconds) +
                        " after user=" + user + " from=" + from);
    SendHtml(env, 401, "Sign in", LoginForm("The user name or password is not correct.", user));
    return;
  }
  throttle.Succeeded(user);
  // A sign-in always starts a new session (no fixation of an old id).
  if (env.session) env.portal.Store().Erase(env.session->Id());
  std::string output = ToLowerAscii(env.Form("Output"));
  if (output != "full" && output != "reduced")
    output = IsSmallDevice(env.req.get_header_value("User-Agent")) ? "reduced" : "full";
  std::string id = RandomHex(16);
  std::string master = "{" + RandomHex(16) + "}";
  SessionVars vars{{"_user", account->name},
                   {"_mode", output},
                   {"_secret", RandomHex(24)},
                   {"_master", master},
                   {"Halvorn.Slv.ADUserName", account->name},
                   {"Halvorn.Slv.ADDomain", env.portal.Cfg().localDomain},
                   {"System.PrimaryCredentialsFormat", ""},
                   {"System.ClientLanguage", ""}};
  env.portal.Store().Put(id, vars);
  env.portal.Store().SetMasterIndex(master, id);
  // A new session names no upload yet: old ones can go.
  UploadStore::Expire(account->Uploads(), UploadLimits::From(env.portal.Cfg().ini).expiry, {});
  env.res.set_header("Set-Cookie", SessionCookie(env, id, false));
  Redirect(env, "/HalvornSLV/Inbox.asp");
}

void LogoutPage(PageEnv& env) {
  if (env.session) {
    if (!RequireSameOrigin(env)) return;
    env.portal.Store().EraseMasterIndex(env.session->Master());
    env.portal.Store().Erase(env.session->Id());
  }
  env.res.set_header("Set-Cookie", SessionCookie(env, "", true));
  Redirect(env, "/HalvornSLV/Login.asp");
}

void InboxPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  if (env.IsPost() && !RequireSameOrigin(env)) return;
  auto call = CallComponent(env, [](IMyInbox* i) {
    CComBSTR lang(u"");
    return i->DisplayMessagesEx(lang);
  }, env.form);
  Answer(env, call, "Inbox");
}

// What the mail library said about the last send, for the page after it.
constexpr const char* kSendNotice = "_sendNotice";

// Messages whose remote content the user chose to see, in this session.
constexpr const char* kRemoteContent = "_remoteContent";
constexpr std::size_t kRemoteContentKept = 50;

bool IsMessageId(const std::string& guid) {
  return !guid.empty() && guid.size() <= 40 && std::all_of(guid.begin(), guid.end(), [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) || c == '{' || c == '}' || c == '-';
  });
}

bool ShowsRemoteContent(const PageEnv& env, const std::string& guid) {
  if (!env.session || !IsMessageId(guid)) return false;
  for (const auto& g : Split(env.session->Get(kRemoteContent), ';'))
    if (EqualsNoCaseAscii(g, guid)) return true;
  return false;
}

// The bar above a message shown with its HTML frame: remote content is
// blocked unless the user asks for it, for this message.
std::string RemoteContentBar(const PageEnv& env, const std::string& guid) {
  bool shown = ShowsRemoteContent(env, guid);
  auto q = env.req.target.find('?');
  std::string back = q == std::string::npos ? "" : env.req.target.substr(q + 1);
  return std::string("<form class=\"RemoteContentBar\" method=\"post\" action=\"RemoteContent.asp\">") +
         (shown ? "Remote content of this message is shown. "
                : "Remote images and styles of this message are blocked. ") +
         "<input type=\"hidden\" name=\"Guid\" value=\"" + HtmlEscape(guid) + "\">"
         "<input type=\"hidden\" name=\"Show\" value=\"" + (shown ? "0" : "1") + "\">"
         "<input type=\"hidden\" name=\"Back\" value=\"" + HtmlEscape(back) + "\">"
         "<input class=\"inputbutton\" type=\"submit\" id=\"RemoteContent\" value=\"" +
         (shown ? "Block remote content" : "Show remote content") + "\"></form>\r\n";
}

void RemoteContentPage(PageEnv& env) {
  if (!RequireSignIn(env) || !RequireSameOrigin(env)) return;
  std::string guid = env.Form("Guid");
  if (!env.IsPost() || !IsMessageId(guid)) {
    SendStatus(env, 400, "This request does not name a message.");
    return;
  }
  std::vector<std::string> kept;
  for (const auto& g : Split(env.session->Get(kRemoteContent), ';'))
    if (!g.empty() && !EqualsNoCaseAscii(g, guid)) kept.push_back(g);
  if (env.Form("Show") == "1") kept.push_back(guid);
  if (kept.size() > kRemoteContentKept) kept.erase(kept.begin(), kept.end() - kRemoteContentKept);
  std::string list;
  for (const auto& g : kept) list += (list.empty() ? "" : ";") + g;
  env.session->Set(kRemoteContent, list);
  SaveSession(env);
  // Back to the message view it came from; nothing else.
  std::string back = env.Form("Back");
  bool plain = std::all_of(back.begin(), back.end(), [](unsigned char c) { return c > 0x20 && c < 0x7F; });
  Redirect(env, plain ? "ViewInboxMessage.asp?" + back : "ViewInboxMessage.asp?Guid=" + guid);
}

void ViewPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  bool htmlOnly = env.Query("DownloadHTMLOnly") == "1";
  std::string guid = env.Query("Guid");
  std::string lang = env.req.get_header_value("Accept-Language");
  auto call = CallComponent(env, [&](IMyInbox* i) {
    CComBSTR l(U16(lang.empty() ? "en" : lang));
    return i->ViewMessageEx(l);
  }, {});
  if (htmlOnly && SUCCEEDED(call.hr) && !call.ctx->file && !call.ctx->forbidden) {
    // The message's own HTML, alone, in a sandbox: no scripts, no access to
    // this site's origin, shown only inside this site's frames. Images come
    // from data: URLs and this site only, unless the user asked to see the
    // remote content of this message; no Referer leaves either way.
    std::string remote = ShowsRemoteContent(env, guid) ? " https: http:" : "";
    env.res.status = 200;
    env.res.set_header("Content-Security-Policy",
                       "sandbox allow-popups allow-popups-to-escape-sandbox; default-src 'none'; img-src data: 'self'" +
                           remote + "; style-src 'unsafe-inline'" + remote + "; font-src data:" + remote +
                           "; media-src 'none'; form-action 'none'; frame-ancestors 'self'");
    env.res.set_header("Referrer-Policy", "no-referrer");
    env.res.set_header("X-Content-Type-Options", "nosniff");
    env.res.set_header("Cache-Control", "private, no-store");
    env.res.set_content("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
                        "<base target=\"_blank\"></head><body>" +
                            call.body + "</body></html>",
                        "text/html; charset=utf-8");
    return;
  }
  bool framed = call.body.find("<IFRAME class='ContentIFrame'") != std::string::npos;
  Answer(env, call, "Message", true);
  if (framed && env.res.status == 200 && IsMessageId(guid)) {
    static const std::string content = "<div class=\"PortalContent\">\r\n";
    auto at = env.res.body.find(content);
    if (at != std::string::npos) env.res.body.insert(at + content.size(), RemoteContentBar(env, guid));
  }
  env.res.set_header("Content-Security-Policy", "frame-ancestors 'self'");
  env.res.set_header("X-Frame-Options", "SAMEORIGIN");
}

void ComposePage(PageEnv& env) {
  // The compose page writes the draft and the upload list even when asked
  // with GET (links carry To, UploadID, Filename, Guid): same site only.
  if (!RequireSignIn(env) || !RequireSameOrigin(env)) return;
  if (!CheckFileRefs(env)) return;
  if (env.IsPost() && !CheckAttachmentList(env)) return;
  auto call = CallComponent(env, [](IMyInbox* i) { return i->ComposeMessage(); }, env.form);
  // What went wrong around a send is shown on the page the send leads to.
  if (!call.ctx->sendNotices.empty()) {
    const auto& [kind, detail] = call.ctx->sendNotices.back();
    env.session->Set(kSendNotice, kind + "\t" + detail);
    SaveSession(env);
  }
  // The bar's button posts the form here (so the typed text is kept), then
  // the recipients page follows.
  if (env.IsPost() && !env.Form("ReviewRecipients").empty() && SUCCEEDED(call.hr) && call.ctx->Out().redirect.empty()) {
    Redirect(env, "Recipients.asp");
    return;
  }
  if (call.body.find("name=IsCompose") != std::string::npos) call.body += ComposeFormExtras();
  Answer(env, call, "Compose");
}

void DeletePage(PageEnv& env) {
  if (!RequireSignIn(env) || !RequireSameOrigin(env)) return;
  std::string guid = env.Query("Guid");
  auto call = CallComponent(env, [&](IMyInbox* i) {
    CComBSTR g(U16(guid));
    return i->DeleteMessage(g);
  }, {});
  Answer(env, call, "Delete");
}

void MeetingPage(PageEnv& env) {
  if (!RequireSignIn(env) || !RequireSameOrigin(env)) return;
  auto call = CallComponent(env, [](IMyInbox* i) { return i->MeetingResponse(); }, {});
  Answer(env, call, "Meeting response");
}

void ClearCompose(Session& s) {
  for (const char* v : {"composeBody", "composeSubject", "composeTo", "composeCC", "composeBCC",
                        "FileID", "ReturnTo", "Halvorn.Slv.composeBody", "Halvorn.Slv.composeSubject",
                        "Halvorn.Slv.composeTo", "Halvorn.Slv.composeCC", "Halvorn.Slv.composeBCC"})
    s.Set(v, "");
}

// The words for what the mail library reported about the last send.
std::string SendNoticeText(const std::string& notice, std::size_t cap) {
  auto tab = notice.find('\t');
  std::string kind = notice.substr(0, tab), detail = tab == std::string::npos ? "" : notice.substr(tab + 1);
  auto mb = [](const std::string& bytes) {
    char buf[32];
    double n = std::strtod(bytes.c_str(), nullptr);
    if (n < 1024.0 * 1024.0)
      std::snprintf(buf, sizeof buf, "%.1f KB", n / 1024.0);
    else
      std::snprintf(buf, sizeof buf, "%.1f MB", n / (1024.0 * 1024.0));
    return std::string(buf);
  };
  if (kind == "sent-without-copy")
    return "Your message was sent, but no copy of it could be kept in your " + detail + " folder.";
  if (kind == "attachments-too-large")
    return "Your message was not sent: its attachments add up to " + mb(detail) + ", more than the " +
           mb(std::to_string(cap)) + " a message may carry. It is kept so that you can remove attachments and try again.";
  if (kind == "attachment-unreadable")
    return "Your message was not sent: the attachment \"" + detail +
           "\" could not be read. It is kept so that you can remove that attachment and try again.";
  return {};
}

void SendOkPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  bool ok = EqualsNoCaseAscii(env.Query("Success"), "true");
  std::string notice = SendNoticeText(env.session->Get(kSendNotice),
                                      std::strtoull(env.portal.Cfg().ini.Get("mail", "max_attachment_bytes", "26214400").c_str(), nullptr, 10));
  if (!notice.empty()) {
    env.session->Set(kSendNotice, "");
    SaveSession(env);
  }
  std::string said = notice.empty() ? (ok ? "Your message was sent." : "Your message could not be sent. It is kept so that you can try again.")
                                    : HtmlEscape(notice);
  std::string body = ok ? "<p class=\"PortalMessage\" id=\"SendResult\">" + said + "</p>"
                          "<p><a class=\"coolButton\" href=\"Inbox.asp\">Back to the Inbox</a></p>"
                        : "<p class=\"PortalMessage\" id=\"SendResult\">" + said + "</p>"
                          "<p><a class=\"coolButton\" href=\"ComposeMessage.asp\">Back to the message</a></p>";
  SendHtml(env, 200, ok ? "Sent" : "Not sent", body);
}

void SendCancelPage(PageEnv& env) {
  if (!RequireSignIn(env) || !RequireSameOrigin(env)) return;
  // Leaving the compose page asks for this page in the background with
  // close=1; the message being written is then kept for later.
  if (env.Query("close") == "1") {
    env.res.status = 204;
    return;
  }
  ClearCompose(*env.session);
  SaveSession(env);
  Redirect(env, "Inbox.asp");
}

std::string AttachmentOptions(PageEnv& env) {
  std::string list = env.session->Get("FileID");
  auto call = CallComponent(env, [&](IMyInbox* i) {
    CComBSTR l(U16(list));
    return i->ListAttachments(l);
  }, {});
  return call.body;
}

void DoAttachmentsPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  if (env.IsPost()) {
    if (!RequireSameOrigin(env)) return;
    if (env.req.has_file("File")) {
      const auto& f = env.req.get_file_value("File");
      if (!f.filename.empty()) {
        if (f.content.size() > env.portal.Cfg().maxUploadBytes) {
          SendStatus(env, 413, "The file is larger than uploads may be.");
          return;
        }
        auto limits = UploadLimits::From(env.portal.Cfg().ini);
        fs::path store = env.account->Uploads();
        UploadStore::Expire(store, limits.expiry, UploadStore::TokensIn(env.session->Get("FileID")));
        if (UploadStore::UsedBytes(store) + f.content.size() > limits.quota) {
          SendStatus(env, 413, "This file would take your uploads over their limit of " +
                                   std::to_string(limits.quota / (1024 * 1024)) +
                                   " MB. Send or discard the message you are writing, or remove attachments, first.");
          return;
        }
        auto id = UploadStore::Save(store, f.filename, f.content);
        if (!id) {
          SendStatus(env, 500, "The file could not be stored.");
          return;
        }
        Redirect(env, "ComposeMessage.asp?UploadID=" + EncodeUrlSafe("UPLOADID" + *id));
        return;
      }
    }
    std::string remove = env.Form("Attachment");
    if (!remove.empty() && !env.Form("Remove").empty()) {
      std::string list = env.session->Get("FileID");
      std::string result = list;
      CallComponent(env, [&](IMyInbox* i) {
        CComBSTR name(U16(remove)), files(U16(list));
        BSTR out = nullptr;
        HRESULT hr = i->RemoveAttachment(name, files, &out);
        if (out) {
          result = U8(platform::BstrView(out));
          SysFreeString(out);
        }
        return hr;
      }, {});
      env.session->Set("FileID", result);
      SaveSession(env);
    }
    Redirect(env, "DoAttachments.asp");
    return;
  }
  std::string options = AttachmentOptions(env);
  std::string body =
      "<TABLE width=\"100%\" class=\"coolBar\"><TR valign=\"middle\">"
      "<td class='coolButton' nowrap=\"true\"><a href=\"ComposeMessage.asp\" id=\"DoneAttachments\">"
      "<img border='0' src='gifs/previous.gif' align='absmiddle'>&nbsp;Back to the message</a></td>"
      "<TD class=\"coolFiller\">&nbsp;</TD></TR></TABLE>"
      "<div class=\"ContentBody\"><h3>Attachments</h3>"
      "<form method=\"post\" action=\"DoAttachments.asp\" enctype=\"multipart/form-data\">"
      "<p>Attach a file: <input type=\"file\" name=\"File\" id=\"File\"> "
      "<input class=\"inputbutton\" type=\"submit\" name=\"Upload\" id=\"Upload\" value=\"Attach\"></p></form>"
      "<form method=\"post\" action=\"DoAttachments.asp\">"
      "<p><select name=\"Attachment\" id=\"Attachment\" size=\"6\" class=\"AttachmentList\">" + options +
      "</select></p><p><input class=\"inputbutton\" type=\"submit\" name=\"Remove\" id=\"Remove\" value=\"Remove\"></p>"
      "</form></div>";
  SendHtml(env, 200, "Attachments", body);
}

void GetAttachmentPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  std::string guid = env.Query("Guid"), attach = env.Query("AttachID");
  std::string name = UploadStore::CleanName(env.Query("Name"));
  VARIANT result;
  VariantInit(&result);
  auto call = CallComponent(env, [&](IMyInbox* i) {
    CComBSTR master(U16(env.session->Master())), ticket(u""), store(u""), folder(u""),
        msg(U16(guid)), id(U16(attach)), encoded(u"");
    return i->GetAttachment2(master, ticket, store, folder, msg, id, encoded, &result);
  }, {});
  if (call.ctx->policyDenied) {
    VariantClear(&result);
    SendErrorPage(env, 228);
    return;
  }
  if (result.vt != (VT_ARRAY | VT_UI1) || !result.parray) {
    VariantClear(&result);
    SendStatus(env, 404, "The attachment could not be found.");
    return;
  }
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(result.parray, 1, &lo);
  SafeArrayGetUBound(result.parray, 1, &hi);
  void* data = nullptr;
  SafeArrayAccessData(result.parray, &data);
  std::string bytes(static_cast<const char*>(data), hi >= lo ? static_cast<std::size_t>(hi - lo + 1) : 0);
  SafeArrayUnaccessData(result.parray);
  VariantClear(&result);
  env.res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
  env.res.set_header("X-Content-Type-Options", "nosniff");
  env.res.set_header("Cache-Control", "private, no-store");
  env.res.status = 200;
  env.res.set_content(bytes, "application/octet-stream");
}

// Maildir++ folders: ".Name" directories, "." separating levels.
std::vector<std::string> MailFolders(const fs::path& maildir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(maildir, ec)) {
    auto n = e.path().filename().string();
    if (n.size() > 1 && n[0] == '.' && n != ".." && e.is_directory() && fs::exists(e.path() / "cur")) {
      std::string name = n.substr(1);
      std::replace(name.begin(), name.end(), '.', '/');
      out.push_back(name);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

void FoldersPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  std::string rows = "<tr class='InboxRead'><td><img src='gifs/Inbox.gif' alt=''></td>"
                     "<td><a class='MessageSubject' href='Inbox.asp?Folder='>Inbox</a></td></tr>";
  std::vector<std::string> folders;
  if (!ImapFolders(env.portal, *env.account, folders)) folders = MailFolders(env.account->maildir);
  for (const auto& f : folders)
    rows += "<tr class='InboxRead'><td><img src='gifs/Inbox.gif' alt=''></td><td><a class='MessageSubject' href='Inbox.asp?Folder=" +
            EncodeUrlSafe(f) + "'>" + HtmlEscape(f) + "</a></td></tr>";
  SendHtml(env, 200, "Folders",
           "<div class='ContentBody'><h3>Mail folders</h3><table class='box' width='100%'>" + rows +
               "</table></div>");
}

void FilesNotConfigured(PageEnv& env) {
  SendHtml(env, 200, "My Files",
           "<div class='ContentBody'><p class='PortalMessage' id='FilesNotConfigured'>"
           "Files are not configured on this site. An administrator can name folders in the "
           "[files] section of the configuration.</p></div>");
}

std::string FileRow(const fs::path& p, bool dir) {
  std::string enc = EncodeUrlSafe(p.string());
  std::string name = HtmlEscape(p.filename().string());
  if (dir)
    return "<tr><td><img src='gifs/folder.gif' alt=''></td><td><a class='WEBFILEBROWSER' href='Folder.asp?LFE=false&amp;Folder=" +
           enc + "'>" + name + "</a></td><td></td></tr>";
  return "<tr><td><img src='gifs/Default.gif' alt=''></td><td><a class='WEBFILEBROWSER' "
         "href='ViewInboxMessage.asp?ComponentID=2&amp;FileName=" + enc + "&amp;Options=3'>" + name +
         "</a></td><td><a href='ComposeMessage.asp?Type=SendFile&amp;Filename=" + enc +
         "'>Send by mail</a></td></tr>";
}

void MyFilesPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  const auto& roots = env.portal.Cfg().fileRoots;
  if (roots.empty()) {
    FilesNotConfigured(env);
    return;
  }
  std::string rows;
  for (const auto& r : roots) rows += FileRow(r, true);
  SendHtml(env, 200, "My Files",
           "<div class='ContentBody'><h3>My Files</h3><table class='box' width='100%'>" + rows + "</table></div>");
}

void FolderPage(PageEnv& env) {
  if (!RequireSignIn(env)) return;
  const auto& roots = env.portal.Cfg().fileRoots;
  if (roots.empty()) {
    FilesNotConfigured(env);
    return;
  }
  std::string enc = env.Query("Folder");
  if (enc.empty()) {
    MyFilesPage(env);
    return;
  }
  fs::path dir(DecodeUrlSafe(enc));
  bool inside = IsUrlSafeText(enc) && dir.is_absolute() &&
                std::any_of(roots.begin(), roots.end(), [&](const fs::path& r) { return IsInside(r, dir); });
  std::error_code ec;
  if (!inside || !fs::is_directory(dir, ec)) {
    SendStatus(env, 403, "This folder is outside the folders you may browse.");
    return;
  }
  std::vector<std::pair<fs::path, bool>> entries;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().filename().string().rfind('.', 0) == 0) continue;
    entries.emplace_back(e.path(), e.is_directory());
    if (entries.size() >= 2000) break;
  }
  std::sort(entries.begin(), entries.end());
  std::string rows;
  for (const auto& [p, isDir] : entries) rows += FileRow(p, isDir);
  SendHtml(env, 200, "My Files",
           "<div class='ContentBody'><h3>" + HtmlEscape(dir.string()) +
               "</h3><table class='box' width='100%'>" + rows + "</table></div>");
}

void LinkOutPage(PageEnv& env) {
  std::string enc = env.Query("url");
  std::string url = IsUrlSafeText(enc) ? DecodeUrlSafe(enc) : std::string();
  std::string lower = ToLowerAscii(url);
  bool ok = !url.empty() && (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0 ||
                             lower.rfind("mailto:", 0) == 0 || lower.rfind("ftp://", 0) == 0);
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F) ok = false;
  if (!ok) {
    SendStatus(env, 400, "This link cannot be followed.");
    return;
  }
  env.res.set_header("Referrer-Policy", "no-referrer");
  SendHtml(env, 200, "Leaving",
           "<div class='ContentBody'><p class='PortalMessage'>You are leaving the mail site for</p>"
           "<p><a id='LinkOut' rel='noreferrer noopener' href=\"" + HtmlEscape(url) + "\">" +
               HtmlEscape(url) + "</a></p></div>");
}

void ErrorPageHandler(PageEnv& env, int id) {
  env.res.status = 200;
  env.res.set_content(ErrorPage(id), "text/html; charset=utf-8");
}

}  // namespace

namespace pagekit {
void SendPage(PageEnv& env, int status, const std::string& title, const std::string& body) {
  SendHtml(env, status, title, body);
}
void SendMessage(PageEnv& env, int status, const std::string& text) { SendStatus(env, status, text); }
void SendRedirect(PageEnv& env, const std::string& location) { Redirect(env, location); }
bool SignedIn(PageEnv& env) { return RequireSignIn(env); }
bool FromThisSite(PageEnv& env) { return RequireSameOrigin(env); }
bool HasUnsafeRecipientChar(const std::string& text) { return portal::HasUnsafeRecipientChar(text); }
std::string RunComponent(PageEnv& env, const std::function<HRESULT(IMyInbox*)>& fn, hostkit::FieldList form,
                         HRESULT* result) {
  auto call = CallComponent(env, fn, std::move(form));
  if (result) *result = call.hr;
  return call.body;
}
}  // namespace pagekit

bool ServePage(PageEnv& env) {
  LoadSession(env);
  if (!CheckRecipientFields(env)) return true;
  const std::string& p = env.page;
  if (p == "login.asp") LoginPage(env);
  else if (p == "logout.asp") LogoutPage(env);
  else if (p == "inbox.asp") InboxPage(env);
  else if (p == "viewinboxmessage.asp") ViewPage(env);
  else if (p == "remotecontent.asp") RemoteContentPage(env);
  else if (p == "composemessage.asp") ComposePage(env);
  else if (p == "deletemessage.asp") DeletePage(env);
  else if (p == "meetingresponse.asp") MeetingPage(env);
  else if (p == "sendok.asp") SendOkPage(env);
  else if (p == "sendcancel.asp") SendCancelPage(env);
  else if (p == "doattachments.asp") DoAttachmentsPage(env);
  else if (p == "getattachment.asp") GetAttachmentPage(env);
  else if (p == "inboxfolders.asp") FoldersPage(env);
  else if (p == "myfiles.asp") MyFilesPage(env);
  else if (p == "folder.asp") FolderPage(env);
  else if (p == "linkout.asp") LinkOutPage(env);
  else if (p == "mapierror.htm") ErrorPageHandler(env, 227);
  else if (p == "noaccess.htm") ErrorPageHandler(env, 228);
  else if (ServeRecipientPage(env)) {}
  else return false;
  return true;
}

}  // namespace portal
