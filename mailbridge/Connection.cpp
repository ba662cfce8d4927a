#include "mailbridge/Connection.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <new>
#include <set>
#include <sstream>

#include "mailbridge/directory/Directory.h"
#include "mailbridge/directory/Ldap.h"
#include "mailbridge/mime/HtmlText.h"
#include "mailbridge/mime/Meeting.h"
#include "platform/Guid.h"
#include "platform/Text.h"
#include "platform/Time.h"

using MAPIManaged::_CONTACTITEM;
using MAPIManaged::_MAILITEM;
using MAPIManaged::_MAILMESSAGE;
using MAPIManaged::_MAILMESSAGEATTACHMENTS;
using MAPIManaged::DupText;

namespace mailbridge {

namespace {
// No relay for another domain, or no mailbox for a local address: the
// address needs no resolving, it cannot be reached.
constexpr HRESULT kNoRoute = HRESULT_FROM_WIN32(1231);  // ERROR_NETWORK_UNREACHABLE
// An attachment that is not there (a file gone, an upload reference that no
// longer resolves).
constexpr HRESULT kAttachmentMissing = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}  // namespace

HRESULT ToHresult(const Status& status) {
  switch (status.code()) {
    case Errc::kOk: return S_OK;
    case Errc::kNotFound: return MAPI_E_NOT_FOUND;
    case Errc::kAmbiguous: return MAPI_E_AMBIGUOUS_RECIP;
    case Errc::kUnreachable: return kNoRoute;
    case Errc::kAccessDenied: return E_ACCESSDENIED;
    case Errc::kInvalidArgument: return E_INVALIDARG;
    case Errc::kNoSpace:
    case Errc::kNoMemory: return E_OUTOFMEMORY;
    case Errc::kUnavailable:
    case Errc::kFailed: return E_FAIL;
  }
  return E_FAIL;
}

namespace {

// Fixed namespace of all mail-library identifiers.
constexpr GUID kMailNamespace = {0x6b1f3c2a, 0x94d7, 0x4e0b, {0x8a, 0x51, 0x2f, 0xc3, 0x7e, 0x19, 0xd4, 0x60}};

char16_t* Dup(const std::u16string& s) { return DupText(s.c_str(), s.size()); }
char16_t* DupEncoded(std::string_view utf8) { return Dup(HtmlEncode16(utf8)); }
char16_t* DupRaw(std::string_view utf8) { return Dup(platform::Utf8ToUtf16(utf8)); }

std::string U8(const char16_t* text) { return text ? platform::Utf16ToUtf8(platform::View(text)) : std::string(); }

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool MakeDirs(const std::string& path) {
  std::string cur;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    cur = path.substr(0, slash);
    if (!cur.empty() && mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return false;
    pos = slash + 1;
  }
  return true;
}

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return static_cast<bool>(in) || in.eof();
}

// Writes through a temporary name so that a half-written file is never seen.
bool WriteFileOnce(const std::string& path, const std::string& bytes) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return true;
  // A name of its own for every writer (threads of one process included);
  // the rename puts the complete file in place at once.
  std::string tmp = path + ".partXXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

std::string GuidFolderName(const GUID& id) {
  std::string s = platform::Utf16ToUtf8(platform::GuidToString(id));
  std::string out;
  for (char c : s) {
    if (c != '{' && c != '}') out.push_back(c);
  }
  return out;
}

std::string JoinDisplay(const std::vector<MailAddress>& list) {
  std::string out;
  for (const auto& a : list) {
    if (!out.empty()) out += "; ";
    out += a.Display();
  }
  return out;
}

std::string JoinAddresses(const std::vector<MailAddress>& list) {
  std::string out;
  for (const auto& a : list) {
    if (a.address.empty()) continue;
    if (!out.empty()) out += ";";
    out += a.address;
  }
  return out;
}

// Directory entries are fully encoded. Personal contacts are matched by the
// component as they arrive, so their names keep & and ' as typed ("o'brien",
// "smith & co") and only < > " are encoded: safe as element text and inside
// double-quoted attributes. Whatever the pages put inside a single-quoted
// attribute is fully encoded: the address, and the display name of an entry
// without an address (the pages then use the name as the option value).
void FillContact(_CONTACTITEM& item, const DirectoryEntry& e, bool personal) {
  auto name = [&](std::string_view text) { return personal ? Dup(HtmlEncodeMarkup16(text)) : DupEncoded(text); };
  item.pszName1 = name(Trim(e.givenName + " " + e.familyName));
  item.pszName2 = name(e.nickname);
  item.pszDisplayName = e.email.empty() ? DupEncoded(e.displayName) : name(e.displayName);
  item.pszEmailAddress = DupEncoded(e.email);
  item.pszOther[0] = name(e.organization);
}

HRESULT ContactArray(const std::vector<const DirectoryEntry*>& found, _CONTACTITEM** items, DWORD* count,
                     bool personal) {
  if (found.empty()) return S_OK;
  auto* arr = new _CONTACTITEM[found.size()];
  for (std::size_t i = 0; i < found.size(); ++i) FillContact(arr[i], *found[i], personal);
  *items = arr;
  *count = static_cast<DWORD>(found.size());
  return S_OK;
}

LdapSettings LdapFor(const AccountConfig& c) {
  LdapSettings s;
  s.uri = c.ldapUri;
  s.baseDn = c.ldapBaseDn;
  s.bindDn = c.ldapBindDn;
  s.password = c.ldapPassword;
  s.filter = c.ldapFilter;
  s.sizeLimit = c.ldapSizeLimit;
  s.timeoutSeconds = c.ldapTimeoutSeconds;
  return s;
}

template <typename F>
HRESULT Guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

bool SafeLocalPart(const std::string& local) {
  if (local.empty() || local[0] == '.' || local.size() > 64) return false;
  for (char c : local) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-' && c != '+') return false;
  }
  return local.find("..") == std::string::npos;
}

}  // namespace

GUID UserSpace(const std::string& userName, const std::string& storeIdentity) {
  return platform::NameBasedGuid(kMailNamespace, "user\n" + userName + "\n" + storeIdentity);
}

Connection::Connection(AccountConfig config, std::unique_ptr<MailStore> store) : config_(std::move(config)) {
  if (config_.emailAddress.empty()) config_.emailAddress = config_.userName + "@" + config_.localDomain;
  if (config_.displayName.empty()) config_.displayName = config_.userName;
  cacheDir_ = config_.attachmentCacheDir;
  if (cacheDir_.empty()) {
    cacheDir_ = !config_.maildir.empty() ? config_.maildir + "/lumarest-cache"
                                         : std::string(g_get_user_cache_dir()) + "/lumarest/" +
                                               SafeFileName(config_.userName);
  }
  Rebind(std::move(store));
}

Connection::~Connection() = default;

void Connection::Rebind(std::unique_ptr<MailStore> store) {
  index_.reset();
  store_ = std::move(store);
  userSpace_ = UserSpace(config_.userName, store_->Identity());
  std::string indexPath = config_.indexPath;
  if (indexPath.empty()) {
    if (!config_.maildir.empty() && config_.imapHost.empty()) {
      indexPath = config_.maildir + "/lumarest-index.sqlite";
    } else if (MakeDirs(cacheDir_)) {
      indexPath = cacheDir_ + "/imap-index.sqlite";
    }
  }
  index_ = std::make_unique<SummaryIndex>(indexPath, *store_, userSpace_);
}

HRESULT Connection::Locate(const char16_t* folder, const GUID& id, int direction, Located& out) {
  if (!CanonicalFolder(platform::View(folder), out.folder)) return E_INVALIDARG;
  std::shared_ptr<const FolderSnapshot>& snap = out.snapshot;
  HRESULT hr = ToHresult(index_->Refresh(out.folder, snap));
  if (FAILED(hr)) return hr;
  std::size_t found = snap->rows.size();
  for (std::size_t i = 0; i < snap->rows.size(); ++i) {
    if (snap->rows[i].guid == id) {
      found = i;
      break;
    }
  }
  if (found == snap->rows.size()) return MAPI_E_NOT_FOUND;
  if (direction == 0) {
    out.row = snap->rows[found];
    return S_OK;
  }
  // Neighbours in the default listing: newest first.
  const std::vector<std::uint32_t>& order = snap->Order(0);
  auto pos = std::find(order.begin(), order.end(), static_cast<std::uint32_t>(found)) - order.begin();
  long target = static_cast<long>(pos) + (direction < 0 ? -1 : 1);
  if (target < 0 || target >= static_cast<long>(order.size())) return MAPI_E_NOT_FOUND;
  out.row = snap->rows[order[static_cast<std::size_t>(target)]];
  return S_OK;
}

HRESULT Connection::InboxSummary(const char16_t* folder, _MAILITEM** items, DWORD* count, int sort) {
  if (!items || !count) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    *items = nullptr;
    *count = 0;
    std::string canonical;
    if (!CanonicalFolder(platform::View(folder), canonical)) return E_INVALIDARG;
    std::shared_ptr<const FolderSnapshot> snap;
    HRESULT hr = ToHresult(index_->Refresh(canonical, snap));
    if (FAILED(hr)) return hr;
    if (snap->rows.empty()) return S_OK;
    const std::vector<std::uint32_t>& order = snap->Order(sort);
    // The records point at the snapshot's shared texts; the array holds the
    // snapshot until the component releases it.
    std::unique_ptr<_MAILITEM[]> arr(MAPIManaged::NewMailItems(order.size(), snap));
    for (std::size_t i = 0; i < order.size(); ++i) {
      const SummaryRow& r = snap->rows[order[i]];
      _MAILITEM& it = arr[i];
      it.guidID = r.guid;
      it.bHasAttachments = r.attachments ? TRUE : FALSE;
      it.bRead = r.entry.read ? TRUE : FALSE;
      it.nImportance = r.importance;
      it.pszFrom = const_cast<char16_t*>(r.fromHtml);
      it.pszSubject = const_cast<char16_t*>(r.subjectHtml);
      it.ftReceived = platform::UnixTimeToFileTime(r.received);
      it.pszBody = const_cast<char16_t*>(r.bodyHtml);
      it.bMeetingRequest = r.meeting ? 1 : 0;
    }
    *count = static_cast<DWORD>(order.size());
    *items = arr.release();
    return S_OK;
  });
}

std::string Connection::AttachmentPath(const GUID& id, const MimeAttachment& a) const {
  return cacheDir_ + "/" + GuidFolderName(id) + "/" + std::to_string(a.id) + "/" + SafeFileName(a.fileName);
}

HRESULT Connection::InboxMessage(const char16_t* folder, const GUID& id, _MAILMESSAGE** message,
                                 _MAILMESSAGEATTACHMENTS** attachments, DWORD* attachmentCount, int direction) {
  if (!message || !attachments || !attachmentCount) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    *message = nullptr;
    *attachments = nullptr;
    *attachmentCount = 0;
    Located loc;
    HRESULT hr = Locate(folder, id, direction, loc);
    if (FAILED(hr)) return hr;
    std::string raw;
    std::int64_t received = loc.row.received;
    hr = ToHresult(store_->Fetch(loc.folder, loc.row.entry, raw, &received));
    if (FAILED(hr)) return hr;
    ParsedMessage m = ParseMessage(raw);

    // Attachments become files in the user's cache, written once.
    std::vector<std::string> paths;
    bool missing = false;
    for (const auto& a : m.attachments) {
      paths.push_back(AttachmentPath(loc.row.guid, a));
      struct stat st {};
      if (stat(paths.back().c_str(), &st) != 0) missing = true;
    }
    if (missing) {
      ForEachAttachment(raw, [&](const MimeAttachment& a, const std::string& bytes) {
        std::string path = AttachmentPath(loc.row.guid, a);
        std::string dir = path.substr(0, path.rfind('/'));
        if (MakeDirs(dir)) WriteFileOnce(path, bytes);
      });
    }

    std::unique_ptr<_MAILMESSAGE[]> msg(new _MAILMESSAGE[1]);
    _MAILMESSAGE& r = msg[0];
    r.guidID = loc.row.guid;
    r.pszFrom = DupEncoded(m.from.Display());
    r.pszFromAddress = DupEncoded(m.from.address);
    r.pszTo = DupEncoded(JoinDisplay(m.to));
    r.pszToAddresses = DupEncoded(JoinAddresses(m.to));
    r.pszCC = DupEncoded(JoinDisplay(m.cc));
    r.pszCCAddresses = DupEncoded(JoinAddresses(m.cc));
    r.pszSubject = DupEncoded(m.subject);
    r.pszBody = DupEncoded(m.plainBody);
    r.pszHTMLBody = m.htmlBody.empty() ? nullptr : DupRaw(m.htmlBody);
    r.ftSent = platform::UnixTimeToFileTime(m.sent ? m.sent : received);
    r.bMeetingRequest = m.meetingRequest ? 1 : 0;

    std::unique_ptr<_MAILMESSAGEATTACHMENTS[]> atts;
    if (!m.attachments.empty()) {
      atts.reset(new _MAILMESSAGEATTACHMENTS[m.attachments.size()]);
      for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        atts[i].nAttachID = m.attachments[i].id;
        atts[i].pszFileName = DupRaw(paths[i]);
      }
    }
    // Opening marks it read; a store that refuses leaves it unread, nothing more.
    if (!loc.row.entry.read) (void)store_->SetRead(loc.folder, loc.row.entry);
    *attachmentCount = static_cast<DWORD>(m.attachments.size());
    *attachments = atts.release();
    *message = msg.release();
    return S_OK;
  });
}

HRESULT Connection::InboxAttachment(const char16_t* folder, const GUID& id, int attachId, BYTE** buffer,
                                    DWORD* length) {
  if (!buffer || !length) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    *buffer = nullptr;
    *length = 0;
    Located loc;
    HRESULT hr = Locate(folder, id, 0, loc);
    if (FAILED(hr)) return hr;
    std::string raw;
    hr = ToHresult(store_->Fetch(loc.folder, loc.row.entry, raw));
    if (FAILED(hr)) return hr;
    std::string bytes;
    MimeAttachment info;
    if (!ExtractAttachment(raw, attachId, bytes, info)) return MAPI_E_NOT_FOUND;
    if (bytes.size() > 0xFFFFFFFFull) return E_OUTOFMEMORY;
    auto* out = new BYTE[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), out);
    *buffer = out;
    *length = static_cast<DWORD>(bytes.size());
    return S_OK;
  });
}

HRESULT Connection::DeleteMessage(const char16_t* folder, const GUID& id, const char16_t* /*language*/) {
  return Guarded([&]() -> HRESULT {
    Located loc;
    HRESULT hr = Locate(folder, id, 0, loc);
    if (FAILED(hr)) return hr;
    // The folder the server marks as the trash, else the configured name.
    std::string trash;
    if (!store_->RoleFolder(FolderRole::kTrash, trash) &&
        (!CanonicalFolder(platform::Utf8ToUtf16(config_.trashFolder), trash) || trash.empty())) {
      return E_FAIL;
    }
    if (loc.folder == trash) return ToHresult(store_->Remove(loc.folder, loc.row.entry));
    return ToHresult(store_->Move(loc.folder, loc.row.entry, trash));
  });
}

HRESULT Connection::RespondToMeetingRequest(int response, const GUID& id, const char16_t* folder,
                                            const char16_t* language) {
  if (response != 2 && response != 3 && response != 4) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    Located loc;
    HRESULT hr = Locate(folder, id, 0, loc);
    if (FAILED(hr)) return hr;
    std::string raw;
    hr = ToHresult(store_->Fetch(loc.folder, loc.row.entry, raw));
    if (FAILED(hr)) return hr;
    ParsedMessage m = ParseMessage(raw);
    if (!m.meetingRequest) return E_INVALIDARG;
    MeetingReply reply;
    if (!BuildMeetingReply(m.calendar, static_cast<MeetingAnswer>(response), config_.emailAddress,
                           config_.displayName, reply)) {
      return E_FAIL;
    }
    std::string organizer = reply.organizerEmail.empty() ? m.from.address : reply.organizerEmail;
    if (organizer.find('@') == std::string::npos) return MAPI_E_NOT_FOUND;
    OutgoingMessage out;
    out.from = {config_.displayName, config_.emailAddress};
    out.to.push_back({std::string(), organizer});
    std::string topic = reply.summary.empty() ? m.subject : reply.summary;
    MeetingReplyText text =
        MeetingReplyWording(static_cast<MeetingAnswer>(response), U8(language), topic, config_.displayName);
    out.subject = std::move(text.subject);
    out.body = std::move(text.body);
    out.calendar = reply.calendar;
    out.calendarMethod = "REPLY";
    out.domain = config_.localDomain;
    std::string rawOut = ComposeMessage(out);
    return ToHresult(Transmit(out, rawOut));
  });
}

HRESULT Connection::Contacts(_CONTACTITEM** items, DWORD* count, const char16_t* /*folder*/,
                             const char16_t* search) {
  if (!items || !count) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    *items = nullptr;
    *count = 0;
    std::vector<DirectoryEntry> entries;
    if (!ReadDirectoryFile(config_.contactsPath, entries)) return E_FAIL;
    std::string needle = U8(search);
    std::vector<const DirectoryEntry*> found;
    for (const auto& e : entries) {
      if (Matches(e, needle, needle.empty() ? MatchMode::All : MatchMode::Substring)) found.push_back(&e);
    }
    return ContactArray(found, items, count, true);
  });
}

HRESULT Connection::GAL(_CONTACTITEM** items, DWORD* count, const char16_t* search, bool exactMatch) {
  if (!items || !count) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    *items = nullptr;
    *count = 0;
    std::string needle = U8(search);
    MatchMode mode = Trim(needle).empty() ? MatchMode::All : exactMatch ? MatchMode::Substring : MatchMode::AllWords;
    std::vector<DirectoryEntry> entries;
    if (!config_.ldapUri.empty()) {
      HRESULT hr = ToHresult(SearchLdap(LdapFor(config_), needle, mode, entries));
      if (FAILED(hr)) return hr;
    } else if (!ReadDirectoryFile(config_.galPath, entries)) {
      return E_FAIL;
    }
    std::vector<const DirectoryEntry*> found;
    for (const auto& e : entries) {
      if (Matches(e, needle, mode)) found.push_back(&e);
    }
    return ContactArray(found, items, count, false);
  });
}

Status Connection::ResolveRecipients(const char16_t* const* items, DWORD count, std::vector<MailAddress>& out) {
  std::vector<DirectoryEntry> directory;
  bool directoryRead = false;
  for (DWORD i = 0; items && i < count; ++i) {
    std::string item = Trim(U8(items[i]));
    if (item.size() >= 2 && item.front() == '\'' && item.back() == '\'') item = Trim(item.substr(1, item.size() - 2));
    if (item.empty()) continue;
    if (item.find('@') != std::string::npos) {
      std::vector<MailAddress> parsed = DecodeAddressList(item);
      bool any = false;
      for (auto& a : parsed) {
        if (a.address.find('@') == std::string::npos) continue;
        out.push_back(std::move(a));
        any = true;
      }
      if (!any) return Status(Errc::kInvalidArgument, item);  // not an address: nothing to resolve
      continue;
    }
    // A bare name: exactly one directory entry must carry it.
    if (!directoryRead) {
      std::vector<DirectoryEntry> part;
      if (ReadDirectoryFile(config_.contactsPath, part)) directory.insert(directory.end(), part.begin(), part.end());
      if (config_.ldapUri.empty() && ReadDirectoryFile(config_.galPath, part)) {
        directory.insert(directory.end(), part.begin(), part.end());
      }
      directoryRead = true;
    }
    std::vector<DirectoryEntry> fromLdap;
    if (!config_.ldapUri.empty()) {
      // The server answers for this one name; it cannot be read whole.
      Status st = ResolveLdap(LdapFor(config_), item, fromLdap);
      if (!st.ok()) return st;
    }
    std::set<std::string> addresses;
    const DirectoryEntry* match = nullptr;
    for (const auto* list : {&directory, &fromLdap}) {
      for (const auto& e : *list) {
        if (e.email.find('@') == std::string::npos || !ResolvesExactly(e, item)) continue;
        if (addresses.insert(LowerAscii(e.email)).second) match = &e;
      }
    }
    if (addresses.empty()) return Status(Errc::kNotFound, item);
    if (addresses.size() > 1) return Status(Errc::kAmbiguous, item);
    out.push_back({match->displayName, match->email});
  }
  return OkStatus();
}

std::optional<std::string> Connection::LocalMaildirFor(const std::string& address) const {
  if (config_.localMaildirFor) return config_.localMaildirFor(address);
  if (LowerAscii(address) == LowerAscii(config_.emailAddress) && !config_.maildir.empty() &&
      config_.imapHost.empty()) {
    return config_.maildir;
  }
  std::size_t at = address.rfind('@');
  if (at == std::string::npos || config_.localDeliveryRoot.empty()) return std::nullopt;
  std::string local = address.substr(0, at);
  if (LowerAscii(address.substr(at + 1)) != LowerAscii(config_.localDomain) || !SafeLocalPart(local)) {
    return std::nullopt;
  }
  // Only users that exist receive mail: their Maildir must be there.
  std::string dir = config_.localDeliveryRoot + "/" + local;
  struct stat st {};
  if (stat((dir + "/cur").c_str(), &st) != 0) return std::nullopt;
  return dir;
}

Status Connection::Transmit(const OutgoingMessage& message, const std::string& raw) {
  std::vector<std::string> recipients = EnvelopeRecipients(message);
  if (recipients.empty()) return Errc::kInvalidArgument;
  Status st;
  if (!config_.smtpUrl.empty()) {
    st = SendSmtp(config_.smtpUrl, config_.smtpUser, config_.smtpPassword, config_.emailAddress, recipients, raw);
  } else {
    std::vector<std::string> dirs;
    for (const auto& r : recipients) {
      auto dir = LocalMaildirFor(r);
      if (!dir) return Status(Errc::kUnreachable, r);  // nothing is delivered
      if (std::find(dirs.begin(), dirs.end(), *dir) == dirs.end()) dirs.push_back(*dir);
    }
    st = DeliverToMaildirs(dirs, raw);
  }
  if (!st.ok()) return st;
  // The message is out; a failed copy into Sent does not undo that.
  std::string sent;
  if (store_->RoleFolder(FolderRole::kSent, sent) ||
      (CanonicalFolder(platform::Utf8ToUtf16(config_.sentFolder), sent) && !sent.empty())) {
    if (!store_->Append(sent, raw, true).ok() && config_.sendNotice) config_.sendNotice("sent-without-copy", sent);
  }
  return OkStatus();
}

Status Connection::ReadAttachments(const char16_t* const* paths, DWORD count, std::vector<OutgoingFile>& out) {
  auto notice = [&](const char* what, const std::string& detail) {
    if (config_.sendNotice) config_.sendNotice(what, detail);
  };
  // First every file is found and measured, so that an oversized message is
  // refused without holding its attachments in memory; then they are read.
  std::vector<std::string> files;
  std::size_t total = 0;
  for (DWORD i = 0; paths && i < count; ++i) {
    std::string item = U8(paths[i]);
    OutgoingFile f;
    std::string path;
    std::size_t upload = item.find("UPLOADID");
    if (upload != std::string::npos) {
      std::string id = item.substr(upload + 8);
      std::size_t bar = id.find('|');
      if (config_.resolveUpload) {
        auto resolved = config_.resolveUpload(id);
        if (!resolved) {
          notice("attachment-unreadable", id.substr(bar == std::string::npos ? 0 : bar + 1));
          return Status(Errc::kNotFound, item);
        }
        path = resolved->path;
        f.name = resolved->displayName;
      } else {
        std::string fileId = id.substr(0, bar);
        f.name = bar == std::string::npos ? fileId : id.substr(bar + 1);
        // Only a plain name inside the upload folder is accepted.
        if (config_.uploadDir.empty() || fileId.empty() || SafeFileName(fileId) != fileId) {
          return Status(Errc::kNotFound, item);
        }
        path = config_.uploadDir + "/" + fileId;
      }
    } else {
      path = item;
      std::size_t slash = path.find_last_of("/\\");
      f.name = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    if (f.name.empty()) f.name = "attachment";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      int err = errno;
      notice("attachment-unreadable", f.name);
      return ErrnoStatus(err);
    }
    if (!S_ISREG(st.st_mode)) {
      notice("attachment-unreadable", f.name);
      return Status(Errc::kFailed, path + ": not a file");
    }
    total += static_cast<std::size_t>(st.st_size);
    if (config_.maxAttachmentBytes && total > config_.maxAttachmentBytes) {
      notice("attachments-too-large", std::to_string(total));
      return Status(Errc::kFailed, "attachments over the size limit");
    }
    files.push_back(std::move(path));
    out.push_back(std::move(f));
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    errno = 0;
    if (!ReadFile(files[i], out[i].bytes)) {
      int err = errno;
      notice("attachment-unreadable", out[i].name);
      return err ? ErrnoStatus(err) : Status(Errc::kFailed, files[i]);
    }
  }
  return OkStatus();
}

HRESULT Connection::SendMessageW(const char16_t* const* to, DWORD toCount, const char16_t* const* cc,
                                 DWORD ccCount, const char16_t* const* bcc, DWORD bccCount,
                                 const char16_t* subject, const char16_t* body,
                                 const char16_t* const* attachmentPaths, DWORD attachmentCount) {
  return Guarded([&]() -> HRESULT {
    OutgoingMessage m;
    m.from = {config_.displayName, config_.emailAddress};
    m.domain = config_.localDomain;
    // Recipients: only here do "not found" and "ambiguous" mean that names
    // need resolving.
    Status st = ResolveRecipients(to, toCount, m.to);
    if (st.ok()) st = ResolveRecipients(cc, ccCount, m.cc);
    if (st.ok()) st = ResolveRecipients(bcc, bccCount, m.bcc);
    if (!st.ok()) return ToHresult(st);
    if (m.to.empty() && m.cc.empty() && m.bcc.empty()) return E_INVALIDARG;
    m.subject = MakeValidUtf8(U8(subject));
    m.body = MakeValidUtf8(U8(body));
    st = ReadAttachments(attachmentPaths, attachmentCount, m.files);
    if (st.code() == Errc::kNotFound) return kAttachmentMissing;
    if (!st.ok()) return ToHresult(st);
    std::string raw = ComposeMessage(m);
    return ToHresult(Transmit(m, raw));
  });
}

HRESULT Connection::InitializeUserCredentials(const char16_t* masterSessionKey, const char16_t* ticket) {
  return Guarded([&]() -> HRESULT {
    if (!config_.resolveCredentials || config_.imapHost.empty()) return S_OK;
    auto login = config_.resolveCredentials(U8(masterSessionKey), U8(ticket));
    if (!login) return E_ACCESSDENIED;
    AccountConfig other = config_;
    other.imapUser = login->first;
    other.imapMasterUser.clear();
    other.imapPassword = login->second;
    auto store = OpenImapStore(ImapSettingsFor(other));
    if (!store) return E_FAIL;
    Rebind(std::move(store));
    return S_OK;
  });
}

}  // namespace mailbridge
