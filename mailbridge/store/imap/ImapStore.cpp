// IMAP backend (libetpan). A message's identity is "UIDVALIDITY:UID"; a
// summary lists UIDs and flags, then fetches only the messages it lacks in
// one UID FETCH of BODY.PEEK[] and INTERNALDATE.
#include <libetpan/libetpan.h>

#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "mailbridge/store/Store.h"

namespace mailbridge {
namespace {

bool Ok(int r) {
  return r == MAILIMAP_NO_ERROR || r == MAILIMAP_NO_ERROR_AUTHENTICATED || r == MAILIMAP_NO_ERROR_NON_AUTHENTICATED;
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
// the read instead. The socket driver is copied with that one change.
ssize_t (*g_socketRead)(mailstream_low*, void*, size_t) = nullptr;
mailstream_low_driver g_endAwareDriver;

ssize_t EndAwareRead(mailstream_low* low, void* buf, size_t count) {
  ssize_t r = g_socketRead(low, buf, count);
  return r == 0 && count > 0 ? -1 : r;
}

void UseEndAwareReads(mailimap* imap) {
  mailstream_low* low = imap && imap->imap_stream ? mailstream_get_low(imap->imap_stream) : nullptr;
  if (!low || !low->driver) return;
  static std::once_flag once;
  std::call_once(once, [&] {
    g_endAwareDriver = *low->driver;
    g_socketRead = low->driver->mailstream_read;
    g_endAwareDriver.mailstream_read = EndAwareRead;
  });
  if (low->driver->mailstream_read == g_socketRead) low->driver = &g_endAwareDriver;
}

class ImapStore final : public MailStore {
 public:
  explicit ImapStore(ImapSettings s) : s_(std::move(s)) {}
  ~ImapStore() override { Disconnect(); }

  std::string Identity() const override {
    return "imap://" + s_.login.substr(0, s_.login.find('*')) + "@" + s_.host + ":" + std::to_string(s_.port);
  }

  Status Connect() {
    if (imap_) return OkStatus();
    imap_ = mailimap_new(0, nullptr);
    if (!imap_) return Errc::kNoMemory;
    mailimap_set_timeout(imap_, static_cast<time_t>(s_.timeoutSeconds > 0 ? s_.timeoutSeconds : 30));
    if (!Ok(mailimap_socket_connect(imap_, s_.host.c_str(), static_cast<uint16_t>(s_.port)))) {
      Disconnect(false);
      return Errc::kFailed;
    }
    UseEndAwareReads(imap_);
    if (!Ok(mailimap_login(imap_, s_.login.c_str(), s_.password.c_str()))) {
      Disconnect();
      return Errc::kAccessDenied;
    }
    delimiter_ = '.';
    clist* list = nullptr;
    if (Ok(mailimap_list(imap_, "", "", &list)) && list) {
      if (clist_begin(list)) {
        auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(clist_begin(list)));
        if (mb && mb->mb_delimiter) delimiter_ = mb->mb_delimiter;
      }
      mailimap_list_result_free(list);
    }
    selected_.clear();
    return OkStatus();
  }

  // politely: LOGOUT first; after a failure the socket may be dead, and
  // writing to it again could raise SIGPIPE, so it is only closed.
  void Disconnect(bool politely = true) {
    if (imap_) {
      if (politely) mailimap_logout(imap_);
      mailimap_free(imap_);
      imap_ = nullptr;
    }
    selected_.clear();
  }

  // A failed command may have left the session unusable: start afresh next time.
  Status Fail(int r) {
    Disconnect(false);
    return r == MAILIMAP_ERROR_MEMORY ? Errc::kNoMemory : Errc::kFailed;
  }

  std::string Mailbox(const std::string& folder) const {
    if (folder.empty()) return "INBOX";
    std::string name = folder;
    for (char& c : name) {
      if (c == '/') c = delimiter_;
    }
    return name;
  }

  Status Select(const std::string& folder) {
    Status st = Connect();
    if (!st.ok()) return st;
    // Selected again on every call, so that new mail and expunges are seen.
    int r = mailimap_select(imap_, Mailbox(folder).c_str());
    if (r == MAILIMAP_ERROR_SELECT) return Errc::kNotFound;
    if (!Ok(r)) return Fail(r);
    selected_ = folder;
    uidValidity_ = imap_->imap_selection_info ? imap_->imap_selection_info->sel_uidvalidity : 0;
    return OkStatus();
  }

  std::string KeyFor(std::uint32_t uid) const { return std::to_string(uidValidity_) + ":" + std::to_string(uid); }

  Status List(const std::string& folder, std::vector<StoreEntry>& out) override {
    out.clear();
    Status st = Select(folder);
    if (!st.ok()) return st;
    if (imap_->imap_selection_info && imap_->imap_selection_info->sel_exists == 0) return OkStatus();
    mailimap_set* set = mailimap_set_new_interval(1, 0);
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
    clist* result = nullptr;
    int r = mailimap_uid_fetch(imap_, set, type, &result);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    if (!Ok(r)) return Fail(r);
    for (clistiter* it = clist_begin(result); it; it = clist_next(it)) {
      FetchedItem item;
      ReadAttributes(static_cast<mailimap_msg_att*>(clist_content(it)), item);
      if (!item.uid) continue;
      StoreEntry e;
      e.key = KeyFor(item.uid);
      e.locator = std::to_string(item.uid);
      e.read = item.seen;
      out.push_back(std::move(e));
    }
    mailimap_fetch_list_free(result);
    return OkStatus();
  }

  Status FetchMany(const std::string& folder, const std::vector<StoreEntry>& entries,
                    const FetchSink& sink) override {
    if (entries.empty()) return OkStatus();
    Status st = Select(folder);
    if (!st.ok()) return st;
    std::map<std::uint32_t, const StoreEntry*> wanted;
    for (const auto& e : entries) {
      std::uint32_t uid = static_cast<std::uint32_t>(std::strtoul(e.locator.c_str(), nullptr, 10));
      if (uid && e.key == KeyFor(uid)) wanted.emplace(uid, &e);
    }
    if (wanted.empty()) return OkStatus();
    // One command for all of them, UIDs joined into ranges.
    mailimap_set* set = mailimap_set_new_empty();
    auto it = wanted.begin();
    while (it != wanted.end()) {
      std::uint32_t first = it->first, last = it->first;
      ++it;
      while (it != wanted.end() && it->first == last + 1) last = (it++)->first;
      mailimap_set_add_interval(set, first, last);
    }
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
    mailimap_fetch_type_new_fetch_att_list_add(type,
                                               mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
    clist* result = nullptr;
    int r = mailimap_uid_fetch(imap_, set, type, &result);
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

  Status WithUid(const std::string& folder, const StoreEntry& e, mailimap_set** set) {
    Status st = Select(folder);
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
    int r = mailimap_uid_store(imap_, set, att);
    mailimap_store_att_flags_free(att);
    return Ok(r) ? OkStatus() : Fail(r);
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
    if (st.ok()) {
      int r = mailimap_uid_expunge(imap_, set);
      if (!Ok(r)) st = Fail(r);
    }
    mailimap_set_free(set);
    return st;
  }

  Status Move(const std::string& folder, const StoreEntry& e, const std::string& toFolder) override {
    Status st = Connect();
    if (!st.ok()) return st;
    mailimap_create(imap_, Mailbox(toFolder).c_str());  // fails harmlessly when it exists
    mailimap_set* set = nullptr;
    st = WithUid(folder, e, &set);
    if (!st.ok()) return st;
    int r = mailimap_uid_copy(imap_, set, Mailbox(toFolder).c_str());
    mailimap_set_free(set);
    if (!Ok(r)) return Fail(r);
    return Remove(folder, e);
  }

  Status Append(const std::string& folder, std::string_view raw, bool read) override {
    Status st = Connect();
    if (!st.ok()) return st;
    mailimap_create(imap_, Mailbox(folder).c_str());
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    if (read) mailimap_flag_list_add(flags, mailimap_flag_new_seen());
    int r = mailimap_append(imap_, Mailbox(folder).c_str(), flags, nullptr, raw.data(), raw.size());
    mailimap_flag_list_free(flags);
    selected_.clear();
    return Ok(r) ? OkStatus() : Fail(r);
  }

 private:
  ImapSettings s_;
  mailimap* imap_ = nullptr;
  char delimiter_ = '.';
  std::string selected_;
  std::uint32_t uidValidity_ = 0;
};

}  // namespace

std::unique_ptr<MailStore> OpenImapStore(const ImapSettings& settings) {
  if (settings.host.empty()) return nullptr;
  return std::make_unique<ImapStore>(settings);
}

}  // namespace mailbridge
