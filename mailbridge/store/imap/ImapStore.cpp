// IMAP backend (libetpan). A message's identity is "UIDVALIDITY:UID".
// Sessions come from a process-wide pool of logged-in connections, so a page
// request costs no login. A folder's change stamp is one STATUS; with
// QRESYNC a listing asks only for what changed since the last sync point
// (SELECT ... QRESYNC gives changed flags and VANISHED UIDs), otherwise it
// fetches every UID and its flags. New messages are read in one UID FETCH of
// BODY.PEEK[] and INTERNALDATE.
#include <libetpan/libetpan.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>

#include "mailbridge/store/Store.h"

namespace mailbridge {

namespace {

bool Ok(int r) {
  return r == MAILIMAP_NO_ERROR || r == MAILIMAP_NO_ERROR_AUTHENTICATED || r == MAILIMAP_NO_ERROR_NON_AUTHENTICATED;
}

// Errors after which the connection cannot be trusted any more.
bool Broken(int r) {
  return r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_PARSE || r == MAILIMAP_ERROR_FATAL ||
         r == MAILIMAP_ERROR_BAD_STATE || r == MAILIMAP_ERROR_PROTOCOL || r == MAILIMAP_ERROR_MEMORY ||
         r == MAILIMAP_ERROR_SSL || r == MAILIMAP_ERROR_CONNECTION_REFUSED;
}

Status StatusOf(int r) {
  if (r == MAILIMAP_ERROR_MEMORY) return Errc::kNoMemory;
  if (r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_CONNECTION_REFUSED || r == MAILIMAP_ERROR_SSL ||
      r == MAILIMAP_ERROR_BAD_STATE) {
    return {Errc::kUnavailable, "IMAP server unreachable or silent"};
  }
  return Errc::kFailed;
}

std::int64_t InternalDateToUnix(const mailimap_date_time* dt) {
  if (!dt) return 0;
  struct tm tm {};
  tm.tm_year = dt->dt_year - 1900;
  tm.tm_mon = dt->dt_month - 1;
  tm.tm_mday = dt->dt_day;
  tm.tm_hour = dt->dt_hour;
  tm.tm_min = dt->dt_min;
  tm.tm_sec = dt->dt_sec;
  std::int64_t t = timegm(&tm);
  int zone = dt->dt_zone;  // +hhmm as a number
  int sign = zone < 0 ? -1 : 1;
  zone *= sign;
  return t - sign * ((zone / 100) * 3600 + (zone % 100) * 60);
}

struct FetchedItem {
  std::uint32_t uid = 0;
  bool seen = false;
  std::int64_t received = 0;
  const char* body = nullptr;
  std::size_t bodyLen = 0;
};

void ReadAttributes(mailimap_msg_att* att, FetchedItem& out) {
  for (clistiter* it = clist_begin(att->att_list); it; it = clist_next(it)) {
    auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
    if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC) {
      mailimap_msg_att_static* s = item->att_data.att_static;
      switch (s->att_type) {
        case MAILIMAP_MSG_ATT_UID: out.uid = s->att_data.att_uid; break;
        case MAILIMAP_MSG_ATT_INTERNALDATE: out.received = InternalDateToUnix(s->att_data.att_internal_date); break;
        case MAILIMAP_MSG_ATT_BODY_SECTION:
          if (s->att_data.att_body_section) {
            out.body = s->att_data.att_body_section->sec_body_part;
            out.bodyLen = s->att_data.att_body_section->sec_length;
          }
          break;
        default: break;
      }
    } else if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC && item->att_data.att_dyn) {
      clist* flags = item->att_data.att_dyn->att_list;
      for (clistiter* f = flags ? clist_begin(flags) : nullptr; f; f = clist_next(f)) {
        auto* ff = static_cast<mailimap_flag_fetch*>(clist_content(f));
        if (ff->fl_type == MAILIMAP_FLAG_FETCH_OTHER && ff->fl_flag && ff->fl_flag->fl_type == MAILIMAP_FLAG_SEEN) {
          out.seen = true;
        }
      }
    }
  }
}

// libetpan's socket reader returns 0 at end of stream and its literal parser
// then waits for more forever: a server that hangs up mid-message must end
// the read instead. Each stream driver in use is copied once with that one
// change.
struct EndAwareDriver {
  ssize_t (*read)(mailstream_low*, void*, size_t) = nullptr;
  mailstream_low_driver copy{};
};
std::mutex g_driverMutex;
std::map<const mailstream_low_driver*, EndAwareDriver*>& Drivers() {
  static auto* drivers = new std::map<const mailstream_low_driver*, EndAwareDriver*>;
  return *drivers;
}

template <int N>
ssize_t EndAwareRead(mailstream_low* low, void* buf, size_t count);

ssize_t EndAwareReadWith(EndAwareDriver* d, mailstream_low* low, void* buf, size_t count) {
  ssize_t r = d->read(low, buf, count);
  return r == 0 && count > 0 ? -1 : r;
}

// One reader per original driver (plain socket, TLS): at most a few exist.
EndAwareDriver* g_slots[4] = {};
template <int N>
ssize_t EndAwareRead(mailstream_low* low, void* buf, size_t count) {
  return EndAwareReadWith(g_slots[N], low, buf, count);
}
ssize_t (*const kReaders[4])(mailstream_low*, void*, size_t) = {EndAwareRead<0>, EndAwareRead<1>, EndAwareRead<2>,
                                                               EndAwareRead<3>};

void UseEndAwareReads(mailimap* imap) {
  mailstream_low* low = imap && imap->imap_stream ? mailstream_get_low(imap->imap_stream) : nullptr;
  if (!low || !low->driver) return;
  std::lock_guard<std::mutex> lock(g_driverMutex);
  for (const auto& [orig, d] : Drivers()) {
    if (&d->copy == low->driver) return;  // already patched
  }
  auto it = Drivers().find(low->driver);
  if (it == Drivers().end()) {
    std::size_t slot = Drivers().size();
    if (slot >= 4) return;
    auto* d = new EndAwareDriver;
    d->read = low->driver->mailstream_read;
    d->copy = *low->driver;
    d->copy.mailstream_read = kReaders[slot];
    g_slots[slot] = d;
    it = Drivers().emplace(low->driver, d).first;
  }
  low->driver = &it->second->copy;
}

FolderRole RoleOfFlag(std::string flag) {
  if (!flag.empty() && flag[0] == '\\') flag.erase(0, 1);
  for (char& c : flag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (FolderRole r : {FolderRole::kSent, FolderRole::kTrash, FolderRole::kDrafts, FolderRole::kJunk,
                       FolderRole::kArchive}) {
    if (flag == FolderRoleName(r)) return r;
  }
  return FolderRole::kNone;
}

// One logged-in connection and what is known about it.
struct ImapLink {
  mailimap* imap = nullptr;
  std::string poolKey;
  std::string loginKey;  // host, port and login: the per-login limit
  char delimiter = '.';
  bool qresync = false;
  bool condstore = false;
  bool move = false;
  bool uidplus = false;
  std::string selected;  // canonical folder, or empty with selectedValid false
  bool selectedValid = false;
  bool anySelected = false;  // a folder may be selected on the server
  std::uint32_t uidValidity = 0;
  std::uint64_t highestModseq = 0;
  bool foldersKnown = false;
  std::vector<FolderInfo> folders;
  std::chrono::steady_clock::time_point lastUsed;

  void Close(bool politely) {
    if (!imap) return;
    if (politely) mailimap_logout(imap);
    mailimap_free(imap);
    imap = nullptr;
  }
};

// ---- the pool ---------------------------------------------------------------

class Pool {
 public:
  static Pool& Get() {
    static auto* pool = new Pool;  // never destroyed: sessions may outlive static destruction order
    return *pool;
  }

  void SetLimits(const ImapPoolLimits& l) {
    std::vector<std::unique_ptr<ImapLink>> closing;
    {
      std::lock_guard<std::mutex> lock(m_);
      limits_ = l;
      ReapLocked(closing);
    }
    CloseAll(closing);
    cv_.notify_all();
  }

  // An idle session for the key, or nullptr with a slot reserved for a new
  // one (the caller connects, then calls Opened or Abandon). Waits while the
  // limits are reached; false when the deadline passes.
  bool Take(const std::string& poolKey, const std::string& loginKey, std::chrono::steady_clock::time_point deadline,
            std::unique_ptr<ImapLink>& out) {
    std::vector<std::unique_ptr<ImapLink>> closing;
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      ReapLocked(closing);
      auto it = idle_.find(poolKey);
      if (it != idle_.end() && !it->second.empty()) {
        out = std::move(it->second.back());
        it->second.pop_back();
        --idleCount_;
        break;
      }
      if (open_ >= limits_.maxOpen) {
        // Make room by closing the oldest idle session of any login.
        std::unique_ptr<ImapLink>* oldest = nullptr;
        for (auto& [k, list] : idle_) {
          for (auto& s : list) {
            if (!oldest || s->lastUsed < (*oldest)->lastUsed) oldest = &s;
          }
        }
        if (oldest) {
          std::string key = (*oldest)->poolKey;
          ForgetLocked(*oldest);
          closing.push_back(std::move(*oldest));
          auto& list = idle_[key];
          list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
          --idleCount_;
          continue;
        }
      }
      if (open_ < limits_.maxOpen && perLogin_[loginKey] < limits_.maxPerLogin) {
        ++open_;
        ++perLogin_[loginKey];
        out.reset();
        break;
      }
      lock.unlock();
      CloseAll(closing);
      lock.lock();
      if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
    }
    lock.unlock();
    CloseAll(closing);
    return true;
  }

  // A reserved slot that did not become a session.
  void Abandon(const std::string& loginKey) {
    {
      std::lock_guard<std::mutex> lock(m_);
      --open_;
      if (--perLogin_[loginKey] <= 0) perLogin_.erase(loginKey);
    }
    cv_.notify_one();
  }

  void CountLogin() {
    std::lock_guard<std::mutex> lock(m_);
    ++logins_;
  }

  // Back from use: kept when healthy and there is room, else closed.
  void Give(std::unique_ptr<ImapLink> link, bool healthy) {
    std::vector<std::unique_ptr<ImapLink>> closing;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (healthy && link->imap && limits_.idleSeconds > 0) {
        link->lastUsed = std::chrono::steady_clock::now();
        idle_[link->poolKey].push_back(std::move(link));
        ++idleCount_;
      } else {
        ForgetLocked(link);
        closing.push_back(std::move(link));
      }
      ReapLocked(closing);
    }
    for (auto& c : closing) c->Close(healthy);
    cv_.notify_one();
  }

  void Drain() {
    std::vector<std::unique_ptr<ImapLink>> closing;
    {
      std::lock_guard<std::mutex> lock(m_);
      for (auto& [k, list] : idle_) {
        for (auto& s : list) {
          ForgetLocked(s);
          closing.push_back(std::move(s));
        }
      }
      idle_.clear();
      idleCount_ = 0;
    }
    CloseAll(closing);
    cv_.notify_all();
  }

  ImapPoolCounts Counts() {
    std::lock_guard<std::mutex> lock(m_);
    return {open_, idleCount_, logins_};
  }

 private:
  void ForgetLocked(const std::unique_ptr<ImapLink>& link) {
    --open_;
    if (--perLogin_[link->loginKey] <= 0) perLogin_.erase(link->loginKey);
  }

  void ReapLocked(std::vector<std::unique_ptr<ImapLink>>& closing) {
    auto now = std::chrono::steady_clock::now();
    auto maxIdle = std::chrono::seconds(limits_.idleSeconds);
    for (auto it = idle_.begin(); it != idle_.end();) {
      auto& list = it->second;
      for (auto& s : list) {
        if (now - s->lastUsed >= maxIdle) {
          ForgetLocked(s);
          closing.push_back(std::move(s));
          --idleCount_;
        }
      }
      list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
      it = list.empty() ? idle_.erase(it) : std::next(it);
    }
  }

  static void CloseAll(std::vector<std::unique_ptr<ImapLink>>& closing) {
    for (auto& c : closing) c->Close(true);
    closing.clear();
  }

  std::mutex m_;
  std::condition_variable cv_;
  ImapPoolLimits limits_;
  std::map<std::string, std::vector<std::unique_ptr<ImapLink>>> idle_;
  std::map<std::string, int> perLogin_;
  int open_ = 0;
  int idleCount_ = 0;
  long logins_ = 0;
};

bool HasCapability(mailimap* imap, const char* name) { return mailimap_has_extension(imap, name) != 0; }

bool Hungup(mailimap* imap) {
  mailstream_low* low = imap->imap_stream ? mailstream_get_low(imap->imap_stream) : nullptr;
  int fd = low ? mailstream_low_get_fd(low) : -1;
  if (fd < 0) return true;
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) != 0;
}

// Connects and reads the greeting, switching to TLS as configured.
Status ConnectOnly(const ImapSettings& s, mailimap*& out) {
  out = mailimap_new(0, nullptr);
  if (!out) return Errc::kNoMemory;
  mailimap_set_timeout(out, static_cast<time_t>(s.timeoutSeconds > 0 ? s.timeoutSeconds : 30));
  auto port = static_cast<uint16_t>(s.port);
  int r = s.tls == ImapTls::kTls ? mailimap_ssl_connect(out, s.host.c_str(), port)
                                 : mailimap_socket_connect(out, s.host.c_str(), port);
  if (!Ok(r)) {
    mailimap_free(out);
    out = nullptr;
    return {Errc::kUnavailable, "cannot reach the IMAP server " + s.host + ":" + std::to_string(s.port)};
  }
  UseEndAwareReads(out);
  if (s.tls == ImapTls::kStartTls) {
    r = mailimap_socket_starttls(out);
    if (!Ok(r)) {
      mailimap_free(out);
      out = nullptr;
      return {Errc::kUnavailable, "STARTTLS failed"};
    }
    UseEndAwareReads(out);
  }
  return OkStatus();
}

Status LoginOn(mailimap* imap, const ImapSettings& s) {
  int r = mailimap_login(imap, s.login.c_str(), s.password.c_str());
  if (Ok(r)) return OkStatus();
  return Broken(r) ? StatusOf(r) : Status(Errc::kAccessDenied, "login refused");
}

class ImapStore final : public MailStore {
 public:
  explicit ImapStore(ImapSettings s) : s_(std::move(s)) {
    loginKey_ = s_.host + ":" + std::to_string(s_.port) + "\n" + s_.login;
    poolKey_ = loginKey_ + "\n" + std::to_string(static_cast<int>(s_.tls)) + "\n" + s_.password;
  }
  ~ImapStore() override { Release(true); }

  std::string Identity() const override {
    std::string user = s_.login;
    if (!s_.masterSeparator.empty()) user = user.substr(0, user.find(s_.masterSeparator));
    return "imap://" + user + "@" + s_.host + ":" + std::to_string(s_.port);
  }

  bool ChangeStamp(const std::string& folder, std::string& stamp) override {
    stamp.clear();
    if (!Connect().ok() || !link_->condstore) return false;
    std::string mailbox;
    if (!Mailbox(folder, mailbox)) return false;
    if (link_->anySelected) {
      // STATUS answers for the session's own view of a selected folder,
      // which lags behind other clients. The folder itself stays selected
      // and is brought up to date with NOOP (a message view goes on to
      // fetch from it); any other is left, as nothing will use it.
      bool same = link_->selectedValid && link_->selected == folder;
      int u = same || !HasCapability(link_->imap, "UNSELECT") ? mailimap_noop(link_->imap)
                                                              : mailimap_custom_command(link_->imap, "UNSELECT");
      if (!Ok(u)) {
        (void)Fail(u);
        return false;
      }
      if (!same) {
        link_->selectedValid = false;
        link_->anySelected = false;
      }
    }
    mailimap_status_att_list* atts = mailimap_status_att_list_new_empty();
    for (int a : {MAILIMAP_STATUS_ATT_UIDVALIDITY, MAILIMAP_STATUS_ATT_UIDNEXT, MAILIMAP_STATUS_ATT_MESSAGES,
                  MAILIMAP_STATUS_ATT_HIGHESTMODSEQ}) {
      mailimap_status_att_list_add(atts, a);
    }
    mailimap_mailbox_data_status* result = nullptr;
    int r = mailimap_status(link_->imap, mailbox.c_str(), atts, &result);
    mailimap_status_att_list_free(atts);
    if (!Ok(r)) {
      if (Broken(r)) (void)Fail(r);
      return false;
    }
    std::uint64_t values[4] = {0, 0, 0, 0};
    bool haveModseq = false;
    for (clistiter* it = result && result->st_info_list ? clist_begin(result->st_info_list) : nullptr; it;
         it = clist_next(it)) {
      auto* info = static_cast<mailimap_status_info*>(clist_content(it));
      switch (info->st_att) {
        case MAILIMAP_STATUS_ATT_UIDVALIDITY: values[0] = info->st_value; break;
        case MAILIMAP_STATUS_ATT_UIDNEXT: values[1] = info->st_value; break;
        case MAILIMAP_STATUS_ATT_MESSAGES: values[2] = info->st_value; break;
        default:
          if (info->st_ext_data && info->st_ext_data->ext_extension == &mailimap_extension_condstore &&
              info->st_ext_data->ext_type == MAILIMAP_CONDSTORE_TYPE_STATUS_INFO) {
            values[3] = static_cast<mailimap_condstore_status_info*>(info->st_ext_data->ext_data)
                            ->cs_highestmodseq_value;
            haveModseq = true;
          }
          break;
      }
    }
    if (result) mailimap_mailbox_data_status_free(result);
    // Without HIGHESTMODSEQ a flag change would not show: no stamp then.
    if (!haveModseq) return false;
    stamp = std::to_string(values[0]) + ":" + std::to_string(values[1]) + ":" + std::to_string(values[2]) + ":" +
            std::to_string(values[3]);
    return true;
  }

  Status List(const std::string& folder, std::vector<StoreEntry>& out) override {
    out.clear();
    Status st = Select(folder, true);
    if (!st.ok()) return st;
    if (link_->imap->imap_selection_info && link_->imap->imap_selection_info->sel_exists == 0) return OkStatus();
    return FetchFlags(out);
  }

  Status ListChanges(const std::string& folder, const std::string& since, FolderChanges& changes) override {
    changes = FolderChanges{};
    Status st = Connect();
    if (!st.ok()) return st;
    std::uint32_t validity = 0;
    std::uint64_t modseq = 0;
    if (link_->qresync && ParseSyncPoint(since, validity, modseq)) {
      // SELECT, then the UIDs and flags of what changed since the modseq
      // and the UIDs expunged since then (VANISHED EARLIER).
      st = Select(folder, true);
      if (!st.ok()) return st;
      std::uint64_t highest = link_->highestModseq;
      clist* fetched = nullptr;
      mailimap_qresync_vanished* vanished = nullptr;
      int r = MAILIMAP_NO_ERROR;
      // An empty folder is listed whole: nothing to fetch, everything gone.
      bool empty = link_->imap->imap_selection_info && link_->imap->imap_selection_info->sel_exists == 0;
      bool same = link_->uidValidity == validity && highest != 0 && !empty;
      if (same && highest != modseq) {
        mailimap_set* set = mailimap_set_new_interval(1, 0);
        mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
        r = mailimap_uid_fetch_qresync(link_->imap, set, type, modseq, &fetched, &vanished);
        mailimap_fetch_type_free(type);
        mailimap_set_free(set);
        if (!Ok(r)) return Fail(r);
      }
      if (same) {
        changes.full = false;
        for (clistiter* it = fetched ? clist_begin(fetched) : nullptr; it; it = clist_next(it)) {
          FetchedItem item;
          ReadAttributes(static_cast<mailimap_msg_att*>(clist_content(it)), item);
          if (item.uid) changes.entries.push_back(EntryFor(item));
        }
        bool tooMany = false;
        if (vanished && vanished->qr_known_uids) {
          std::size_t total = 0;
          for (clistiter* it = clist_begin(vanished->qr_known_uids->set_list); it; it = clist_next(it)) {
            auto* range = static_cast<mailimap_set_item*>(clist_content(it));
            std::uint32_t last = range->set_last ? range->set_last : range->set_first;
            total += last - range->set_first + 1;
            if (total > 1000000) {
              tooMany = true;
              break;
            }
            for (std::uint64_t u = range->set_first; u <= last; ++u) {
              changes.vanished.push_back(KeyFor(static_cast<std::uint32_t>(u)));
            }
          }
        }
        if (fetched) mailimap_fetch_list_free(fetched);
        if (vanished) mailimap_qresync_vanished_free(vanished);
        if (!tooMany) {
          changes.syncPoint = SyncPoint();
          return OkStatus();
        }
        changes = FolderChanges{};
      } else {
        if (fetched) mailimap_fetch_list_free(fetched);
        if (vanished) mailimap_qresync_vanished_free(vanished);
      }
    }
    // The whole folder: its UIDs and flags, and where to start next time.
    st = List(folder, changes.entries);
    if (!st.ok()) return st;
    changes.full = true;
    changes.syncPoint = link_->condstore ? SyncPoint() : std::string();
    return OkStatus();
  }

  Status FetchMany(const std::string& folder, const std::vector<StoreEntry>& entries,
                    const FetchSink& sink) override {
    if (entries.empty()) return OkStatus();
    Status st = Select(folder, false);
    if (!st.ok()) return st;
    std::map<std::uint32_t, const StoreEntry*> wanted;
    for (const auto& e : entries) {
      std::uint32_t uid = static_cast<std::uint32_t>(std::strtoul(e.locator.c_str(), nullptr, 10));
      if (uid && e.key == KeyFor(uid)) wanted.emplace(uid, &e);
    }
    if (wanted.empty()) return OkStatus();
    mailimap_set* set = SetOf(wanted);
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
    mailimap_fetch_type_new_fetch_att_list_add(type,
                                               mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
    clist* result = nullptr;
    int r = mailimap_uid_fetch(link_->imap, set, type, &result);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    if (!Ok(r)) return Fail(r);
    std::string raw;
    for (clistiter* li = clist_begin(result); li; li = clist_next(li)) {
      FetchedItem item;
      ReadAttributes(static_cast<mailimap_msg_att*>(clist_content(li)), item);
      auto w = wanted.find(item.uid);
      if (w == wanted.end() || !item.body) continue;
      raw.assign(item.body, item.bodyLen);
      sink(*w->second, raw, item.received);
    }
    mailimap_fetch_list_free(result);
    return OkStatus();
  }

  Status SetRead(const std::string& folder, const StoreEntry& e) override {
    if (e.read) return OkStatus();
    mailimap_set* set = nullptr;
    Status st = WithUid(folder, e, &set);
    if (!st.ok()) return st;
    st = AddFlag(set, mailimap_flag_new_seen());
    mailimap_set_free(set);
    return st;
  }

  Status Remove(const std::string& folder, const StoreEntry& e) override {
    mailimap_set* set = nullptr;
    Status st = WithUid(folder, e, &set);
    if (!st.ok()) return st;
    st = AddFlag(set, mailimap_flag_new_deleted());
    if (st.ok()) st = Expunge(set);
    mailimap_set_free(set);
    return st;
  }

  Status Move(const std::string& folder, const StoreEntry& e, const std::string& toFolder) override {
    Status st = Connect();  // the server's delimiter names the target
    if (!st.ok()) return st;
    std::string target;
    if (!Mailbox(toFolder, target)) return Errc::kInvalidArgument;
    mailimap_set* set = nullptr;
    st = WithUid(folder, e, &set);
    if (!st.ok()) return st;
    // MOVE when offered, else COPY, \Deleted and UID EXPUNGE. A missing
    // target is created and the command tried once more.
    auto transfer = [&] {
      return link_->move ? mailimap_uid_move(link_->imap, set, target.c_str())
                         : mailimap_uid_copy(link_->imap, set, target.c_str());
    };
    int r = transfer();
    if (!Ok(r) && !Broken(r)) {
      mailimap_create(link_->imap, target.c_str());
      link_->foldersKnown = false;
      r = transfer();
    }
    if (!Ok(r)) {
      mailimap_set_free(set);
      return Fail(r);
    }
    if (!link_->move) {
      st = AddFlag(set, mailimap_flag_new_deleted());
      if (st.ok()) st = Expunge(set);
    }
    mailimap_set_free(set);
    return st;
  }

  Status Append(const std::string& folder, std::string_view raw, bool read) override {
    Status st = Connect();
    if (!st.ok()) return st;
    std::string mailbox;
    if (!Mailbox(folder, mailbox)) return Errc::kInvalidArgument;
    auto append = [&] {
      mailimap_flag_list* flags = mailimap_flag_list_new_empty();
      if (read) mailimap_flag_list_add(flags, mailimap_flag_new_seen());
      int r = mailimap_append(link_->imap, mailbox.c_str(), flags, nullptr, raw.data(), raw.size());
      mailimap_flag_list_free(flags);
      return r;
    };
    int r = append();
    if (!Ok(r) && !Broken(r)) {
      mailimap_create(link_->imap, mailbox.c_str());
      link_->foldersKnown = false;
      r = append();
    }
    return Ok(r) ? OkStatus() : Fail(r);
  }

  Status Folders(std::vector<FolderInfo>& out) override {
    out.clear();
    Status st = LoadFolders();
    if (!st.ok()) return st;
    out = link_->folders;
    return OkStatus();
  }

  bool RoleFolder(FolderRole role, std::string& folder) override {
    folder.clear();
    if (!LoadFolders().ok()) return false;
    for (const auto& f : link_->folders) {
      if (f.role == role) {
        folder = f.name;
        return true;
      }
    }
    return false;
  }

 private:
  Status Connect() {
    if (link_ && link_->imap) return OkStatus();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(s_.timeoutSeconds > 0 ? s_.timeoutSeconds : 30);
    std::unique_ptr<ImapLink> link;
    if (s_.pooled) {
      if (!Pool::Get().Take(poolKey_, loginKey_, deadline, link)) {
        return {Errc::kUnavailable, "every IMAP connection of the site is in use"};
      }
      // An idle session has nothing to say: anything readable on it is the
      // server's goodbye or the end of the stream. Its slot goes to a new one.
      if (link && Hungup(link->imap)) {
        link->Close(false);
        link.reset();
      }
      if (link) {
        link_ = std::move(link);
        return OkStatus();
      }
    }
    link = std::make_unique<ImapLink>();
    link->poolKey = poolKey_;
    link->loginKey = loginKey_;
    Status st = ConnectOnly(s_, link->imap);
    if (st.ok()) {
      st = LoginOn(link->imap, s_);
      if (!st.ok()) link->Close(false);
    }
    if (!st.ok()) {
      if (s_.pooled) Pool::Get().Abandon(loginKey_);
      return st;
    }
    Pool::Get().CountLogin();
    mailimap* imap = link->imap;
    if (!imap->imap_connection_info || !imap->imap_connection_info->imap_capability) {
      mailimap_capability_data* caps = nullptr;
      if (Ok(mailimap_capability(imap, &caps)) && caps) mailimap_capability_data_free(caps);
    }
    link->condstore = HasCapability(imap, "CONDSTORE") || HasCapability(imap, "QRESYNC");
    link->move = HasCapability(imap, "MOVE");
    link->uidplus = HasCapability(imap, "UIDPLUS");
    if (HasCapability(imap, "QRESYNC") && HasCapability(imap, "ENABLE")) {
      // VANISHED answers need QRESYNC switched on for the session.
      clist* list = clist_new();
      clist_append(list, mailimap_capability_new(MAILIMAP_CAPABILITY_NAME, nullptr, strdup("QRESYNC")));
      mailimap_capability_data* want = mailimap_capability_data_new(list);
      mailimap_capability_data* got = nullptr;
      int r = mailimap_enable(imap, want, &got);
      mailimap_capability_data_free(want);
      if (got) mailimap_capability_data_free(got);
      link->qresync = Ok(r);
    }
    clist* list = nullptr;
    if (Ok(mailimap_list(imap, "", "", &list)) && list) {
      if (clist_begin(list)) {
        auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(clist_begin(list)));
        if (mb && mb->mb_delimiter) link->delimiter = mb->mb_delimiter;
      }
      mailimap_list_result_free(list);
    }
    link_ = std::move(link);
    return OkStatus();
  }

  // Back to the pool (healthy) or closed.
  void Release(bool healthy) {
    if (!link_) return;
    if (s_.pooled) {
      bool keep = healthy && link_->imap;
      Pool::Get().Give(std::move(link_), keep);
    } else {
      link_->Close(healthy);
      link_.reset();
    }
  }

  // A failed command may have left the session unusable: it is dropped and
  // the next call starts afresh. A plain refusal (NO) keeps it.
  Status Fail(int r) {
    if (Broken(r) || !link_) {
      if (link_) link_->Close(false);
      Release(false);
      return StatusOf(r);
    }
    link_->selectedValid = false;
    return Errc::kFailed;
  }

  bool Mailbox(const std::string& folder, std::string& out) const {
    if (folder.empty()) {
      out = "INBOX";
      return true;
    }
    std::string name = folder;
    char delimiter = link_ ? link_->delimiter : '.';
    for (char& c : name) {
      if (c == '/') c = delimiter;
    }
    return EncodeMailboxName(name, out);
  }

  void Selected(const std::string& folder, std::uint64_t modseq) {
    link_->selected = folder;
    link_->selectedValid = true;
    link_->uidValidity = link_->imap->imap_selection_info ? link_->imap->imap_selection_info->sel_uidvalidity : 0;
    link_->highestModseq = modseq;
  }

  // fresh: select again even when selected, so that new mail and expunges
  // are seen; otherwise a selected folder is reused (UID commands name their
  // messages exactly).
  Status Select(const std::string& folder, bool fresh) {
    Status st = Connect();
    if (!st.ok()) return st;
    if (!fresh && link_->selectedValid && link_->selected == folder) return OkStatus();
    std::string mailbox;
    if (!Mailbox(folder, mailbox)) return Errc::kInvalidArgument;
    link_->selectedValid = false;
    link_->anySelected = true;
    std::uint64_t modseq = 0;
    int r = link_->condstore ? mailimap_select_condstore(link_->imap, mailbox.c_str(), &modseq)
                             : mailimap_select(link_->imap, mailbox.c_str());
    if (r == MAILIMAP_ERROR_SELECT) return Errc::kNotFound;
    if (!Ok(r)) return Fail(r);
    Selected(folder, modseq);
    return OkStatus();
  }

  std::string KeyFor(std::uint32_t uid) const {
    return std::to_string(link_->uidValidity) + ":" + std::to_string(uid);
  }
  StoreEntry EntryFor(const FetchedItem& item) const {
    StoreEntry e;
    e.key = KeyFor(item.uid);
    e.locator = std::to_string(item.uid);
    e.read = item.seen;
    return e;
  }
  std::string SyncPoint() const {
    if (!link_->highestModseq) return {};
    return std::to_string(link_->uidValidity) + ":" + std::to_string(link_->highestModseq);
  }
  static bool ParseSyncPoint(const std::string& text, std::uint32_t& validity, std::uint64_t& modseq) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
    char* end = nullptr;
    validity = static_cast<std::uint32_t>(std::strtoul(text.c_str(), &end, 10));
    if (end != text.c_str() + colon) return false;
    modseq = std::strtoull(text.c_str() + colon + 1, &end, 10);
    return *end == 0 && validity != 0 && modseq != 0;
  }

  static mailimap_set* SetOf(const std::map<std::uint32_t, const StoreEntry*>& wanted) {
    // UIDs joined into ranges.
    mailimap_set* set = mailimap_set_new_empty();
    auto it = wanted.begin();
    while (it != wanted.end()) {
      std::uint32_t first = it->first, last = it->first;
      ++it;
      while (it != wanted.end() && it->first == last + 1) last = (it++)->first;
      mailimap_set_add_interval(set, first, last);
    }
    return set;
  }

  // UID and flags of every message of the selected folder into out.
  Status FetchFlags(std::vector<StoreEntry>& out) {
    mailimap_set* set = mailimap_set_new_interval(1, 0);
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
    clist* result = nullptr;
    int r = mailimap_uid_fetch(link_->imap, set, type, &result);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    if (!Ok(r)) return Fail(r);
    out.reserve(out.size() + static_cast<std::size_t>(clist_count(result)));
    for (clistiter* it = clist_begin(result); it; it = clist_next(it)) {
      FetchedItem item;
      ReadAttributes(static_cast<mailimap_msg_att*>(clist_content(it)), item);
      if (item.uid) out.push_back(EntryFor(item));
    }
    mailimap_fetch_list_free(result);
    return OkStatus();
  }

  Status WithUid(const std::string& folder, const StoreEntry& e, mailimap_set** set) {
    Status st = Select(folder, false);
    if (!st.ok()) return st;
    std::uint32_t uid = static_cast<std::uint32_t>(std::strtoul(e.locator.c_str(), nullptr, 10));
    if (!uid || e.key != KeyFor(uid)) return Errc::kNotFound;
    *set = mailimap_set_new_single(uid);
    return *set ? OkStatus() : Errc::kNoMemory;
  }

  Status AddFlag(mailimap_set* set, mailimap_flag* flag) {
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, flag);
    mailimap_store_att_flags* att = mailimap_store_att_flags_new_add_flags_silent(flags);
    int r = mailimap_uid_store(link_->imap, set, att);
    mailimap_store_att_flags_free(att);
    return Ok(r) ? OkStatus() : Fail(r);
  }

  // Removes the \Deleted messages of the set; without UIDPLUS, EXPUNGE
  // removes every message marked \Deleted in the folder.
  Status Expunge(mailimap_set* set) {
    int r = link_->uidplus ? mailimap_uid_expunge(link_->imap, set) : mailimap_expunge(link_->imap);
    return Ok(r) ? OkStatus() : Fail(r);
  }

  Status LoadFolders() {
    Status st = Connect();
    if (!st.ok()) return st;
    if (link_->foldersKnown) return OkStatus();
    clist* list = nullptr;
    int r = mailimap_list(link_->imap, "", "*", &list);
    if (!Ok(r)) return Fail(r);
    std::vector<FolderInfo> folders;
    for (clistiter* it = list ? clist_begin(list) : nullptr; it; it = clist_next(it)) {
      auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(it));
      if (!mb || !mb->mb_name) continue;
      FolderInfo f;
      bool selectable = true;
      if (mb->mb_flag) {
        if (mb->mb_flag->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG &&
            mb->mb_flag->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT) {
          selectable = false;
        }
        for (clistiter* o = mb->mb_flag->mbf_oflags ? clist_begin(mb->mb_flag->mbf_oflags) : nullptr; o;
             o = clist_next(o)) {
          auto* flag = static_cast<mailimap_mbx_list_oflag*>(clist_content(o));
          if (flag->of_type != MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT || !flag->of_flag_ext) continue;
          std::string text = flag->of_flag_ext;
          std::string lower;
          for (char c : text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
          if (lower == "noselect" || lower == "\\noselect" || lower == "nonexistent" || lower == "\\nonexistent") {
            selectable = false;
          }
          if (f.role == FolderRole::kNone) f.role = RoleOfFlag(text);
        }
      }
      std::string decoded;
      if (!selectable || !DecodeMailboxName(mb->mb_name, decoded)) continue;
      std::string upper = decoded;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (upper == "INBOX") continue;
      char delimiter = mb->mb_delimiter ? mb->mb_delimiter : link_->delimiter;
      for (char& c : decoded) {
        if (c == delimiter) c = '/';
      }
      f.name = decoded;
      folders.push_back(std::move(f));
    }
    if (list) mailimap_list_result_free(list);
    std::sort(folders.begin(), folders.end(), [](const FolderInfo& a, const FolderInfo& b) { return a.name < b.name; });
    link_->folders = std::move(folders);
    link_->foldersKnown = true;
    return OkStatus();
  }

  ImapSettings s_;
  std::string poolKey_, loginKey_;
  std::unique_ptr<ImapLink> link_;
};

}  // namespace

std::unique_ptr<MailStore> OpenImapStore(const ImapSettings& settings) {
  if (settings.host.empty()) return nullptr;
  return std::make_unique<ImapStore>(settings);
}

Status CheckImapLogin(const ImapSettings& settings) {
  if (settings.host.empty()) return Errc::kInvalidArgument;
  mailimap* imap = nullptr;
  Status st = ConnectOnly(settings, imap);
  if (!st.ok()) return st;
  st = LoginOn(imap, settings);
  if (st.ok()) mailimap_logout(imap);
  mailimap_free(imap);
  return st;
}

Status ProbeImapServer(const ImapSettings& settings) {
  if (settings.host.empty()) return Errc::kInvalidArgument;
  mailimap* imap = nullptr;
  Status st = ConnectOnly(settings, imap);
  if (!st.ok()) return st;
  int r = mailimap_logout(imap);
  mailimap_free(imap);
  return Ok(r) ? OkStatus() : StatusOf(r);
}

void SetImapPoolLimits(const ImapPoolLimits& limits) { Pool::Get().SetLimits(limits); }
ImapPoolCounts ImapPoolState() { return Pool::Get().Counts(); }
void DrainImapPool() { Pool::Get().Drain(); }

}  // namespace mailbridge
