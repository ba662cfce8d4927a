// One storage interface, two backends: a Maildir on local disk and an IMAP
// server. Folders are canonical paths: "" is the inbox, "A/B" a subfolder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mailbridge/Status.h"

namespace mailbridge {

struct StoreEntry {
  std::string key;      // the store's own identity of the message within the folder
  std::string locator;  // where it is now (Maildir file path, IMAP UID)
  bool read = false;
};

// A folder's listing, whole or as the difference from a sync point.
struct FolderChanges {
  // true: `entries` is the whole folder and `vanished` is empty; false:
  // `entries` holds only messages that are new or whose flags or locator
  // changed, and `vanished` the keys of messages gone since the sync point.
  bool full = true;
  std::vector<StoreEntry> entries;
  std::vector<std::string> vanished;
  // Hand this back as `since` next time; empty when the store keeps none.
  std::string syncPoint;
};

// What a folder is for, as the server marks it (IMAP SPECIAL-USE).
enum class FolderRole { kNone, kSent, kTrash, kDrafts, kJunk, kArchive };
// "sent", "trash", ...: the role's lower-case name ("" for none).
const char* FolderRoleName(FolderRole role);

struct FolderInfo {
  std::string name;  // canonical: "A/B", UTF-8
  FolderRole role = FolderRole::kNone;
};

// Raw bytes of one message and the time the store received it (Unix seconds).
using FetchSink = std::function<void(const StoreEntry& entry, std::string& raw, std::int64_t received)>;

class MailStore {
 public:
  virtual ~MailStore() = default;
  // Stable text naming this store, part of every message identifier.
  virtual std::string Identity() const = 0;
  // A text that changes whenever the folder's listing may have changed, or
  // false when the store cannot tell (then the folder is listed every time).
  virtual bool ChangeStamp(const std::string& folder, std::string& stamp) {
    (void)folder;
    (void)stamp;
    return false;
  }
  // The folder's messages, cheaply: no message bytes are read.
  virtual Status List(const std::string& folder, std::vector<StoreEntry>& out) = 0;
  // What changed in the folder since `since`, a sync point this store handed
  // out earlier (empty: none known). A store that cannot answer
  // incrementally lists the whole folder (changes.full), which is also what
  // this default does.
  virtual Status ListChanges(const std::string& folder, const std::string& since, FolderChanges& changes) {
    (void)since;
    changes = FolderChanges{};
    return List(folder, changes.entries);
  }
  // Reads the given messages; entries that vanished are skipped.
  virtual Status FetchMany(const std::string& folder, const std::vector<StoreEntry>& entries,
                            const FetchSink& sink) = 0;
  Status Fetch(const std::string& folder, const StoreEntry& entry, std::string& raw,
                std::int64_t* received = nullptr);
  virtual Status SetRead(const std::string& folder, const StoreEntry& entry) = 0;
  virtual Status Move(const std::string& folder, const StoreEntry& entry,
                       const std::string& toFolder) = 0;
  virtual Status Remove(const std::string& folder, const StoreEntry& entry) = 0;
  virtual Status Append(const std::string& folder, std::string_view raw, bool read) = 0;
  // Every folder but the inbox, in canonical form; a store that cannot
  // tell says kFailed.
  virtual Status Folders(std::vector<FolderInfo>& out) {
    out.clear();
    return Errc::kFailed;
  }
  // The folder the server marks with this role; false when none is marked.
  virtual bool RoleFolder(FolderRole role, std::string& folder) {
    (void)role;
    folder.clear();
    return false;
  }
};

// Folder text from the component into canonical form; false when it names
// no acceptable folder ("..", empty parts, control characters).
bool CanonicalFolder(std::u16string_view folder, std::string& out);

std::unique_ptr<MailStore> OpenMaildirStore(const std::string& root);

enum class ImapTls { kNone, kStartTls, kTls };

struct ImapSettings {
  std::string host;
  int port = 143;
  ImapTls tls = ImapTls::kNone;
  std::string login;
  std::string password;
  // The part of the login before this is the user the store belongs to
  // ("alice*webmail" is alice's store); empty: the whole login.
  std::string masterSeparator = "*";
  int timeoutSeconds = 30;
  // Take an authenticated session from the process's pool and give it back
  // afterwards, rather than logging in and out for this store alone.
  bool pooled = true;
};
std::unique_ptr<MailStore> OpenImapStore(const ImapSettings& settings);

// Logs in with the settings and out again: kAccessDenied when the server
// refuses the login, kUnavailable when it is down or silent.
Status CheckImapLogin(const ImapSettings& settings);
// Connects and reads the server's greeting, without logging in.
Status ProbeImapServer(const ImapSettings& settings);

// The process's pool of authenticated IMAP sessions: at most maxOpen
// sessions in all, at most maxPerLogin for one login (more wait for one to
// come back, up to the store's time-out), idle ones closed after
// idleSeconds. A session that failed is closed, never handed out again.
struct ImapPoolLimits {
  int maxOpen = 64;
  int maxPerLogin = 4;
  int idleSeconds = 60;
};
void SetImapPoolLimits(const ImapPoolLimits& limits);
// Open sessions (idle and in use), and logins made since the start; for tests
// and health pages.
struct ImapPoolCounts {
  int open = 0;
  int idle = 0;
  long logins = 0;
};
ImapPoolCounts ImapPoolState();
// Closes every idle session.
void DrainImapPool();

// Modified UTF-7 mailbox names (RFC 3501): UTF-8 in, IMAP form out, and back;
// false for text that is not valid in the source form.
bool EncodeMailboxName(std::string_view utf8, std::string& out);
bool DecodeMailboxName(std::string_view imap, std::string& out);

// Maildir delivery used by the store and by local sending: the message is
// written into tmp/ and, only once complete, renamed into new/ (or cur/
// with the S flag). A failure leaves nothing behind.
struct PendingDelivery {
  std::string tmpPath;
  std::string finalPath;
};
Status PrepareMaildirDelivery(const std::string& maildir, std::string_view raw, bool read,
                               PendingDelivery& out);
Status CommitMaildirDelivery(const PendingDelivery& pending);
void AbandonMaildirDelivery(const PendingDelivery& pending);

}  // namespace mailbridge
