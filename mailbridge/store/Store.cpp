// What every store shares: single fetches on top of FetchMany, folder names
// in canonical form, and file-system errors in the library's terms.
#include <cerrno>
#include <cctype>

#include "mailbridge/store/Store.h"
#include "platform/Text.h"

namespace mailbridge {

const char* FolderRoleName(FolderRole role) {
  switch (role) {
    case FolderRole::kSent: return "sent";
    case FolderRole::kTrash: return "trash";
    case FolderRole::kDrafts: return "drafts";
    case FolderRole::kJunk: return "junk";
    case FolderRole::kArchive: return "archive";
    case FolderRole::kNone: break;
  }
  return "";
}

Status ErrnoStatus(int err) {
  if (err == ENOENT || err == ENOTDIR) return Errc::kNotFound;
  if (err == EACCES || err == EPERM) return Errc::kAccessDenied;
  if (err == ENOMEM) return Errc::kNoMemory;
  return Errc::kFailed;
}

Status MailStore::Fetch(const std::string& folder, const StoreEntry& entry, std::string& raw,
                         std::int64_t* received) {
  bool got = false;
  Status st = FetchMany(folder, {entry}, [&](const StoreEntry&, std::string& bytes, std::int64_t when) {
    raw.swap(bytes);
    if (received) *received = when;
    got = true;
  });
  if (!st.ok()) return st;
  return got ? OkStatus() : Errc::kNotFound;
}

bool CanonicalFolder(std::u16string_view folder, std::string& out) {
  out.clear();
  std::u16string part;
  std::vector<std::u16string> parts;
  for (std::size_t i = 0; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == u'/' || folder[i] == u'\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part.push_back(folder[i]);
    }
  }
  // "" and a lone "Inbox" both mean the inbox.
  if (parts.size() == 1 && parts[0].empty()) return true;
  if (parts.size() == 1) {
    std::u16string lower;
    for (char16_t c : parts[0]) lower.push_back(c < 128 ? static_cast<char16_t>(std::tolower(c)) : c);
    if (lower == u"inbox") return true;
  }
  std::string result;
  for (const auto& p : parts) {
    if (p.empty() || p[0] == u'.') return false;
    for (char16_t c : p) {
      if (c < 0x20 || c == 0x7F || c == u'.' || c == u'*' || c == u'%') return false;
    }
    std::string u8;
    for (std::size_t i = 0; i < p.size(); ++i) {
      char32_t cp = p[i];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < p.size() && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
        ++i;
      } else if (cp >= 0xD800 && cp <= 0xDFFF) {
        return false;
      }
      platform::AppendUtf8(u8, cp);
    }
    if (!result.empty()) result.push_back('/');
    result += u8;
  }
  out = result;
  return true;
}

}  // namespace mailbridge
