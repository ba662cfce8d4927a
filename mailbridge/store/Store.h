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
};

// Folder text from the component into canonical form; false when it names
// no acceptable folder ("..", empty parts, control characters).
bool CanonicalFolder(std::u16string_view folder, std::string& out);

std::unique_ptr<MailStore> OpenMaildirStore(const std::string& root);

struct ImapSettings {
  std::string host;
  int port = 143;
  std::string login;
  std::string password;
  int timeoutSeconds = 30;
};
std::unique_ptr<MailStore> OpenImapStore(const ImapSettings& settings);

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
