// One storage interface, two backends: a Maildir on local disk and an IMAP
// server. Folders are canonical paths: "" is the inbox, "A/B" a subfolder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace mailbridge {

struct StoreEntry {
  std::string key;      // the store's own identity of the message within the folder
  std::string locator;  // where it is now (Maildir file path, IMAP UID)
  bool read = false;
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
  virtual HRESULT List(const std::string& folder, std::vector<StoreEntry>& out) = 0;
  // Reads the given messages; entries that vanished are skipped.
  virtual HRESULT FetchMany(const std::string& folder, const std::vector<StoreEntry>& entries,
                            const FetchSink& sink) = 0;
  HRESULT Fetch(const std::string& folder, const StoreEntry& entry, std::string& raw,
                std::int64_t* received = nullptr);
  virtual HRESULT SetRead(const std::string& folder, const StoreEntry& entry) = 0;
  virtual HRESULT Move(const std::string& folder, const StoreEntry& entry,
                       const std::string& toFolder) = 0;
  virtual HRESULT Remove(const std::string& folder, const StoreEntry& entry) = 0;
  virtual HRESULT Append(const std::string& folder, std::string_view raw, bool read) = 0;
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
HRESULT PrepareMaildirDelivery(const std::string& maildir, std::string_view raw, bool read,
                               PendingDelivery& out);
HRESULT CommitMaildirDelivery(const PendingDelivery& pending);
void AbandonMaildirDelivery(const PendingDelivery& pending);

}  // namespace mailbridge
