// Maildir backend: INBOX in the root's cur/new/tmp, subfolders as Maildir++
// ".A.B" directories. The message's identity is its unique name (the file
// name up to ":"); flags live after ":2,", S meaning read.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>
#include <ctime>

#include "mailbridge/store/Store.h"

namespace mailbridge {

namespace {


std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  char host[128] = "localhost";
  gethostname(host, sizeof host - 1);
  for (char* p = host; *p; ++p) {
    if (*p == '/' || *p == ':') *p = '_';
  }
  return std::to_string(us / 1000000) + ".M" + std::to_string(us % 1000000) + "P" +
         std::to_string(getpid()) + "Q" + std::to_string(++counter) + "." + host;
}

bool EnsureDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  return false;
}

bool EnsureMaildir(const std::string& dir, bool subfolder) {
  if (!EnsureDir(dir) || !EnsureDir(dir + "/cur") || !EnsureDir(dir + "/new") || !EnsureDir(dir + "/tmp")) {
    return false;
  }
  if (subfolder) {
    int fd = open((dir + "/maildirfolder").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out, std::int64_t& mtime, int& err) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    err = errno;
    close(fd);
    return false;
  }
  mtime = st.st_mtime;
  out.clear();
  // One read for the usual case; the loop covers a file that grew meanwhile.
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t have = 0;
  for (;;) {
    if (have == out.size()) out.resize(out.size() + 4096);
    ssize_t n = read(fd, out.data() + have, out.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      close(fd);
      return false;
    }
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  out.resize(have);
  close(fd);
  return true;
}

std::string KeyOf(const char* name) {
  const char* colon = std::strchr(name, ':');
  return colon ? std::string(name, colon) : std::string(name);
}

bool HasSeenFlag(const char* name) {
  const char* info = std::strstr(name, ":2,");
  return info && std::strchr(info + 3, 'S') != nullptr;
}

class MaildirStore final : public MailStore {
 public:
  explicit MaildirStore(std::string root) : root_(std::move(root)) {}

  std::string Identity() const override { return "maildir:" + root_; }

  std::string Dir(const std::string& folder) const {
    if (folder.empty()) return root_;
    std::string name = folder;
    for (char& c : name) {
      if (c == '/') c = '.';
    }
    return root_ + "/." + name;
  }

  // Every delivery, rename and removal touches the modification time of
  // new/ or cur/. A time within the last two seconds is not trusted (a
  // second change in the same clock tick would go unseen), so a busy
  // folder is simply listed.
  bool ChangeStamp(const std::string& folder, std::string& stamp) override {
    std::string dir = Dir(folder);
    struct stat n {}, c {};
    if (stat((dir + "/new").c_str(), &n) != 0 || stat((dir + "/cur").c_str(), &c) != 0) return false;
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    for (const struct stat* s : {&n, &c}) {
      if (now.tv_sec - s->st_mtim.tv_sec < 2) return false;
    }
    stamp = std::to_string(n.st_ino) + ":" + std::to_string(n.st_mtim.tv_sec) + "." +
            std::to_string(n.st_mtim.tv_nsec) + "/" + std::to_string(c.st_ino) + ":" +
            std::to_string(c.st_mtim.tv_sec) + "." + std::to_string(c.st_mtim.tv_nsec);
    return true;
  }

  Status List(const std::string& folder, std::vector<StoreEntry>& out) override {
    out.clear();
    std::string dir = Dir(folder);
    struct stat st {};
    if (stat((dir + "/cur").c_str(), &st) != 0) {
      // The inbox and the special folders exist even before their first message.
      if (folder.empty()) return EnsureMaildir(dir, false) ? OkStatus() : ErrnoStatus(errno);
      return Errc::kNotFound;
    }
    for (const char* sub : {"new", "cur"}) {
      DIR* d = opendir((dir + "/" + sub).c_str());
      if (!d) continue;
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
        StoreEntry entry;
        entry.key = KeyOf(e->d_name);
        entry.locator = std::string(sub) + "/" + e->d_name;
        entry.read = sub[0] == 'c' && HasSeenFlag(e->d_name);
        out.push_back(std::move(entry));
      }
      closedir(d);
    }
    return OkStatus();
  }

  // The file may have been renamed by another client since it was listed:
  // find it again by its unique name.
  bool Relocate(const std::string& folder, StoreEntry& entry) {
    std::vector<StoreEntry> now;
    if (!List(folder, now).ok()) return false;
    for (auto& e : now) {
      if (e.key == entry.key) {
        entry = e;
        return true;
      }
    }
    return false;
  }

  Status FetchMany(const std::string& folder, const std::vector<StoreEntry>& entries,
                    const FetchSink& sink) override {
    std::string dir = Dir(folder);
    std::string raw;
    for (const auto& listed : entries) {
      StoreEntry entry = listed;
      std::int64_t mtime = 0;
      int err = 0;
      bool ok = ReadWholeFile(dir + "/" + entry.locator, raw, mtime, err);
      if (!ok && err == ENOENT && Relocate(folder, entry)) {
        ok = ReadWholeFile(dir + "/" + entry.locator, raw, mtime, err);
      }
      if (!ok) {
        if (err == ENOENT) continue;  // removed meanwhile
        return ErrnoStatus(err);
      }
      sink(entry, raw, mtime);
    }
    return OkStatus();
  }

  Status SetRead(const std::string& folder, const StoreEntry& listed) override {
    StoreEntry entry = listed;
    if (entry.read) return OkStatus();
    std::string dir = Dir(folder);
    std::string name = entry.locator.substr(4);
    std::string flags;
    std::size_t info = name.find(":2,");
    std::string base = info == std::string::npos ? KeyOf(name.c_str()) : name.substr(0, info);
    if (info != std::string::npos) flags = name.substr(info + 3);
    if (flags.find('S') == std::string::npos) flags.push_back('S');
    std::sort(flags.begin(), flags.end());
    std::string target = dir + "/cur/" + base + ":2," + flags;
    if (rename((dir + "/" + entry.locator).c_str(), target.c_str()) != 0) {
      int err = errno;
      if (err == ENOENT && Relocate(folder, entry)) {
        if (entry.read) return OkStatus();
        return SetRead(folder, entry);
      }
      return ErrnoStatus(err);
    }
    return OkStatus();
  }

  Status Move(const std::string& folder, const StoreEntry& listed, const std::string& toFolder) override {
    StoreEntry entry = listed;
    std::string to = Dir(toFolder);
    if (!EnsureMaildir(to, !toFolder.empty())) return ErrnoStatus(errno);
    std::string name = entry.locator.substr(4);
    // Keep the flags; a message from new/ arrives in cur/ with an empty flag set.
    if (name.find(":2,") == std::string::npos) name += ":2,";
    std::string from = Dir(folder) + "/" + entry.locator;
    // link() never replaces a message already in the target folder under
    // the same name; then the moved one gets a fresh name.
    std::string target = to + "/cur/" + name;
    if (link(from.c_str(), target.c_str()) != 0) {
      int err = errno;
      if (err == ENOENT && Relocate(folder, entry)) return Move(folder, entry, toFolder);
      if (err != EEXIST) return ErrnoStatus(err);
      target = to + "/cur/" + UniqueName() + name.substr(name.find(":2,"));
      if (link(from.c_str(), target.c_str()) != 0) return ErrnoStatus(errno);
    }
    if (unlink(from.c_str()) != 0) {
      int err = errno;
      unlink(target.c_str());  // keep exactly one copy
      return ErrnoStatus(err);
    }
    return OkStatus();
  }

  Status Remove(const std::string& folder, const StoreEntry& listed) override {
    StoreEntry entry = listed;
    if (unlink((Dir(folder) + "/" + entry.locator).c_str()) != 0) {
      int err = errno;
      if (err == ENOENT && Relocate(folder, entry)) return Remove(folder, entry);
      return ErrnoStatus(err);
    }
    return OkStatus();
  }

  Status Append(const std::string& folder, std::string_view raw, bool read) override {
    std::string dir = Dir(folder);
    if (!EnsureMaildir(dir, !folder.empty())) return ErrnoStatus(errno);
    PendingDelivery pending;
    Status st = PrepareMaildirDelivery(dir, raw, read, pending);
    if (!st.ok()) return st;
    return CommitMaildirDelivery(pending);
  }

 private:
  std::string root_;
};

}  // namespace

Status PrepareMaildirDelivery(const std::string& maildir, std::string_view raw, bool read,
                               PendingDelivery& out) {
  if (!EnsureMaildir(maildir, false)) return ErrnoStatus(errno);
  std::string name = UniqueName();
  out.tmpPath = maildir + "/tmp/" + name;
  out.finalPath = read ? maildir + "/cur/" + name + ":2,S" : maildir + "/new/" + name;
  int fd = open(out.tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return ErrnoStatus(errno);
  std::size_t done = 0;
  while (done < raw.size()) {
    ssize_t n = write(fd, raw.data() + done, raw.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      unlink(out.tmpPath.c_str());
      return err == ENOSPC || err == EFBIG || err == EDQUOT ? Errc::kNoSpace : ErrnoStatus(err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(out.tmpPath.c_str());
    return Errc::kFailed;
  }
  return OkStatus();
}

Status CommitMaildirDelivery(const PendingDelivery& pending) {
  if (rename(pending.tmpPath.c_str(), pending.finalPath.c_str()) != 0) {
    int err = errno;
    unlink(pending.tmpPath.c_str());
    return ErrnoStatus(err);
  }
  return OkStatus();
}

void AbandonMaildirDelivery(const PendingDelivery& pending) { unlink(pending.tmpPath.c_str()); }

std::unique_ptr<MailStore> OpenMaildirStore(const std::string& root) {
  if (root.empty()) return nullptr;
  char* real = realpath(root.c_str(), nullptr);
  std::string path = real ? real : root;
  free(real);
  if (!EnsureMaildir(path, false)) return nullptr;
  return std::make_unique<MaildirStore>(path);
}

}  // namespace mailbridge
