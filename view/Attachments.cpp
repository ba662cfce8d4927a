#include "view/Attachments.h"

#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "host/HostKit.h"
#include "inbox/MyInbox.h"
#include "platform/Files.h"
#include "platform/Guid.h"
#include "platform/Text.h"

namespace {

constexpr UINT kIdAttachmentsHeading = 3241;  // from the request-language library
constexpr UINT kIdAttachmentsLabel = 3122;    // "Attachments:"
constexpr UINT kIdMediaPlayer = 3216;
constexpr DISPID kDispidCreateShortcut = 1002;
constexpr DISPID kDispidTargetPath = 1005;
constexpr DWORD kFormatUrlFlags = 0x4000000;
constexpr char16_t kDefaultIcon[] = u"gifs/Default.gif";

CComBSTR Bstr(std::u16string_view text) { return CComBSTR(std::u16string(text).c_str()); }

// The web target of an internet shortcut file, read through the shell
// object; empty when the shortcut cannot be opened.
std::u16string ShortcutTarget(IDispatch* shell, std::u16string_view path) {
  CComVariant argument(path);
  CComVariant shortcut;
  if (FAILED(platform::InvokeByDispid(shell, kDispidCreateShortcut, DISPATCH_METHOD, {argument},
                                      &shortcut)) ||
      shortcut.vt != VT_DISPATCH || !shortcut.pdispVal)
    return {};
  CComVariant target;
  if (FAILED(platform::InvokeByDispid(shortcut.pdispVal, kDispidTargetPath, DISPATCH_PROPERTYGET,
                                      {}, &target)) ||
      target.vt != VT_BSTR)
    return {};
  return std::u16string(platform::BstrView(target.bstrVal));
}

}  // namespace

IconCache& IconCache::Instance() {
  static IconCache cache;
  return cache;
}

bool IconCache::Find(const std::u16string& key, std::u16string& icon) const {
  std::lock_guard lock(mutex_);
  auto it = icons_.find(key);
  if (it == icons_.end()) return false;
  icon = it->second;
  return true;
}

void IconCache::Store(const std::u16string& ext, const std::u16string& icon) {
  std::lock_guard lock(mutex_);
  icons_[ext] = icon;
}

std::size_t IconCache::Size() const {
  std::lock_guard lock(mutex_);
  return icons_.size();
}

bool GetFileIconPath(std::u16string& name, ILumarestTarget* target) {
  IconCache& cache = IconCache::Instance();
  const std::size_t dot = name.rfind(u'.');
  const std::u16string key = dot == std::u16string::npos ? std::u16string() : name.substr(dot);
  std::u16string icon;
  if (cache.Find(key, icon)) {
    name = icon;
    return true;
  }

  LONG images = 0;
  if (!target || FAILED(target->get_SupportsImages(&images)) || images == 0) {
    name.clear();
    return false;
  }

  const std::u16string ext = platform::SplitPath(name).ext;
  SHFILEINFOW info{};
  icon = kDefaultIcon;
  if (SHGetFileInfoW(ext.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                     SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME) != 0 &&
      info.szTypeName[0] != 0) {
    std::u16string type(platform::View(info.szTypeName));
    for (char16_t& c : type) {
      if (c == u' ') c = u'_';
      else if (c == u'\\' || c == u'/') c = u'-';
    }
    // The folder of the running page; on this platform either separator ends it.
    std::u16string page;
    VGetRequestVariable(u"PATH_TRANSLATED", page);
    const std::size_t slash = page.find_last_of(u"\\/");
    const std::u16string dir = slash == std::u16string::npos ? std::u16string() : page.substr(0, slash + 1);
    const std::u16string candidate = u"gifs/" + type + u".jpg";
    if (GetFileAttributesW((dir + candidate).c_str()) != INVALID_FILE_ATTRIBUTES) icon = candidate;
  }
  cache.Store(ext, icon);
  name = icon;
  return true;
}

bool IsWaveFile(const char16_t* name) {
  return platform::ToLower(platform::SplitPath(platform::View(name)).ext) == u".wav";
}

bool HasWaveAttachment(const MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments, DWORD count) {
  if (!attachments) return false;
  for (DWORD i = 0; i < count; ++i)
    if (IsWaveFile(attachments[i].pszFileName)) return true;
  return false;
}

void CMyInbox::WriteAttachmentList(const MAPIManaged::_MAILMESSAGE& message,
                                   const MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments,
                                   DWORD count) {
  if (count != 0 && attachments) {
    LONG value = 0;
    const bool fullOutput = SUCCEEDED(m_pTarget->get_FullOutput(&value)) && value == 1;
    value = 0;
    const bool pdaFullOutput = SUCCEEDED(m_pTarget->get_PdaFullOutput(&value)) && value == 1;

    const std::u16string heading = platform::LoadString(m_hResourceLib, kIdAttachmentsHeading);
    if (!heading.empty()) m_pTarget->WriteText(Bstr(heading), 1);
    const std::u16string label = platform::LoadString(kIdAttachmentsLabel);
    if (!label.empty()) m_pTarget->WriteText(Bstr(label), 1);

    m_pTarget->StartTable(m_bstrTableName, 0);
    // One shell object for the whole list. Without it, shortcut rows are
    // left out: their targets cannot be read.
    CComPtr<IDispatch> shell;
    if (FAILED(shell.CoCreateInstance(u"WScript.Shell"))) shell.Release();

    HvnChoiceActivate activation;
    const std::u16string guid = platform::GuidToString(message.guidID);
    const std::u16string folder = EncodeUrlSafe(m_strFolder);
    for (DWORD i = 0; i < count; ++i) {
      const std::u16string path(platform::View(attachments[i].pszFileName));
      const platform::PathParts parts = platform::SplitPath(path);

      if (platform::EqualsNoCase(parts.ext, u".url")) {
        if (!shell) continue;
        const std::u16string target = ShortcutTarget(shell, path);
        if (target.find(u"http") == std::u16string::npos &&
            target.find(u"HTTP") == std::u16string::npos)
          continue;
        // The portal's formatter routes the link; its answer is not looked
        // at, so a failed call keeps the row with whatever it left in url.
        std::u16string url;
        FormatURL(target, url, kFormatUrlFlags);
        platform::ReplaceAll(url, u"&", u"&amp;");
        m_pTarget->StartTableRow();
        m_pTarget->StartTableData();
        std::u16string icon = parts.fname + u".htm";
        GetFileIconPath(icon, m_pTarget);
        m_pTarget->WriteLink(Bstr(url), Bstr(parts.fname), Bstr(icon), Bstr(parts.fname), 0, 0);
        m_pTarget->EndTableData();
        m_pTarget->EndTableRow();
        continue;
      }

      m_pTarget->StartTableRow();
      m_pTarget->StartTableData();
      std::u16string open, close;
      int options = 0;
      if (activation.QueryOptions(hostkit::PendrelComponentEmail, path, nullptr, options, true,
                                  fullOutput, pdaFullOutput) == 0) {
        trace::TraceMessage(trace::DTF_INFO, trace::kMsgNoActivationOptions,
                            {trace::Arg(LONG{hostkit::PendrelComponentEmail}),
                             trace::Arg(EncodeUrlSafe(path)), trace::Arg(u"true")});
        options = 0;
      }
      if (GetNumberOfActivationOptions(options) != 0) {
        const std::u16string query = platform::FormatW(
            u"FileName=%s&amp;Guid=%s&amp;AttachID=%d&amp;%s=%s&amp;Options=%d&amp;ComponentID=%d",
            EncodeUrlSafe(path), guid, attachments[i].nAttachID, keys::kFolder, folder, options,
            static_cast<int>(hostkit::PendrelComponentEmail));
        open = platform::FormatW(u"<a class='WEBFILEBROWSER' href='ViewInboxMessage.asp?%s'>", query);
        close = u"</a>";
      }
      std::u16string icon = path;
      GetFileIconPath(icon, m_pTarget);
      m_pTarget->WriteImage(Bstr(icon), Bstr(u""), 0);
      m_pTarget->WriteText(Bstr(open), 0);
      m_pTarget->WriteText(Bstr(parts.fname + parts.ext), 0);
      m_pTarget->WriteText(Bstr(close), 0);
      m_pTarget->EndTableData();
      m_pTarget->EndTableRow();
    }
    m_pTarget->EndTable();
  }
  if (HasWaveAttachment(attachments, count)) VWriteResponseString(kIdMediaPlayer);
}
