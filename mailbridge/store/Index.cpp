#include "mailbridge/store/Index.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "mailbridge/mime/HtmlText.h"
#include "mailbridge/mime/Mime.h"
#include "platform/Guid.h"
#include "platform/Text.h"

namespace mailbridge {
namespace {

constexpr int kSchemaVersion = 2;

std::mutex g_cacheMutex;
std::map<std::string, std::shared_ptr<const FolderSnapshot>>& Cache() {
  static std::map<std::string, std::shared_ptr<const FolderSnapshot>> cache;
  return cache;
}

// What the index stores for one message, before the cache's UTF-16 forms.
struct StoredRow {
  StoreEntry entry;
  std::int64_t received = 0;
  int importance = 1;
  bool attachments = false, meeting = false;
  std::string from, subject, body;
};

void Finish(SummaryRow& row, const StoredRow& s) {
  row.entry = s.entry;
  row.received = s.received;
  row.importance = s.importance;
  row.attachments = s.attachments;
  row.meeting = s.meeting;
  row.fromHtml = HtmlEncode16(s.from);
  row.subjectHtml = HtmlEncode16(s.subject);
  row.bodyHtml = HtmlEncode16(s.body);
  row.fromKey = platform::ToLower(platform::Utf8ToUtf16(s.from));
  row.subjectKey = platform::ToLower(platform::Utf8ToUtf16(s.subject));
}

StoredRow FromMessage(const StoreEntry& entry, std::string_view raw, std::int64_t received) {
  ParsedMessage m = ParseMessage(raw);
  StoredRow s;
  s.entry = entry;
  s.received = received;
  s.importance = m.importance;
  s.attachments = !m.attachments.empty();
  s.meeting = m.meetingRequest;
  s.from = m.from.Display();
  s.subject = m.subject;
  s.body = TruncateUtf16Units(m.plainBody, kSummaryBodyUnits);
  return s;
}

std::string Col(sqlite3_stmt* st, int i) {
  const unsigned char* t = sqlite3_column_text(st, i);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
           : std::string();
}

}  // namespace

struct SummaryIndex::Db {
  sqlite3* db = nullptr;
  ~Db() {
    if (db) sqlite3_close(db);
  }
  bool Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
};

SummaryIndex::SummaryIndex(std::string indexPath, MailStore& store, const GUID& userSpace)
    : path_(std::move(indexPath)), store_(store), userSpace_(userSpace) {
  if (path_.empty()) return;
  auto db = std::make_unique<Db>();
  if (sqlite3_open_v2(path_.c_str(), &db->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    return;  // no index on disk: the cache still works
  }
  sqlite3_busy_timeout(db->db, 3000);
  db->Exec("PRAGMA journal_mode=WAL");
  db->Exec("PRAGMA synchronous=NORMAL");
  int version = 0;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db->db, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    version = sqlite3_column_int(st, 0);
  }
  sqlite3_finalize(st);
  if (version != kSchemaVersion) {
    db->Exec("DROP TABLE IF EXISTS summary");
    std::string pragma = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    db->Exec(pragma.c_str());
  }
  if (!db->Exec("CREATE TABLE IF NOT EXISTS summary(folder TEXT NOT NULL, key TEXT NOT NULL, locator TEXT,"
                " seen INT, received INT, importance INT, attach INT, meeting INT, sender TEXT,"
                " subject TEXT, body TEXT, PRIMARY KEY(folder, key)) WITHOUT ROWID")) {
    return;
  }
  db_ = std::move(db);
}

SummaryIndex::~SummaryIndex() = default;

GUID SummaryIndex::GuidFor(const std::string& folder, const std::string& key) const {
  return platform::NameBasedGuid(userSpace_, folder + "\n" + key);
}

Status SummaryIndex::Refresh(const std::string& folder, std::shared_ptr<const FolderSnapshot>& out) {
  const std::string cacheKey = path_ + "\n" + store_.Identity() + "\n" +
                               platform::Utf16ToUtf8(platform::GuidToString(userSpace_)) + "\n" + folder;
  std::shared_ptr<const FolderSnapshot> cached;
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto it = Cache().find(cacheKey);
    if (it != Cache().end()) cached = it->second;
  }
  // Nothing changed in the folder since it was last listed: no listing.
  std::string stamp;
  bool haveStamp = store_.ChangeStamp(folder, stamp);
  if (cached && haveStamp && cached->stamp == stamp) {
    out = cached;
    return OkStatus();
  }
  std::vector<StoreEntry> listed;
  Status st = store_.List(folder, listed);
  if (!st.ok()) return st;

  // One index file may serve several logins (IMAP): rows are kept per store.
  const std::string dbFolder = store_.Identity() + "\n" + folder;
  // Rows known from before: the process cache, else the index on disk.
  std::vector<StoredRow> diskRows;
  std::unordered_map<std::string, std::uint32_t> diskByKey;
  if (!cached && db_) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_->db,
                           "SELECT key, locator, seen, received, importance, attach, meeting, sender, subject, body"
                           " FROM summary WHERE folder=?",
                           -1, &st, nullptr) == SQLITE_OK) {
      sqlite3_bind_text(st, 1, dbFolder.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(st) == SQLITE_ROW) {
        StoredRow r;
        r.entry.key = Col(st, 0);
        r.entry.locator = Col(st, 1);
        r.entry.read = sqlite3_column_int(st, 2) != 0;
        r.received = sqlite3_column_int64(st, 3);
        r.importance = sqlite3_column_int(st, 4);
        r.attachments = sqlite3_column_int(st, 5) != 0;
        r.meeting = sqlite3_column_int(st, 6) != 0;
        r.from = Col(st, 7);
        r.subject = Col(st, 8);
        r.body = Col(st, 9);
        diskByKey.emplace(r.entry.key, static_cast<std::uint32_t>(diskRows.size()));
        diskRows.push_back(std::move(r));
      }
    }
    sqlite3_finalize(st);
  }

  // Compare the listing with what is known.
  std::vector<StoreEntry> toFetch;
  std::vector<StoreEntry> changed;  // known messages whose flags or place moved
  std::size_t known = 0;
  for (const auto& e : listed) {
    if (cached) {
      auto it = cached->byKey.find(e.key);
      if (it == cached->byKey.end()) {
        toFetch.push_back(e);
      } else {
        ++known;
        const StoreEntry& old = cached->rows[it->second].entry;
        if (old.locator != e.locator || old.read != e.read) changed.push_back(e);
      }
    } else {
      auto it = diskByKey.find(e.key);
      if (it == diskByKey.end()) {
        toFetch.push_back(e);
      } else {
        ++known;
        const StoreEntry& old = diskRows[it->second].entry;
        if (old.locator != e.locator || old.read != e.read) changed.push_back(e);
      }
    }
  }
  std::size_t previous = cached ? cached->rows.size() : diskRows.size();
  bool removedAny = known != previous;
  if (cached && toFetch.empty() && changed.empty() && !removedAny) {
    if (haveStamp && cached->stamp != stamp) {
      auto same = std::make_shared<FolderSnapshot>(*cached);
      same->stamp = stamp;
      std::lock_guard<std::mutex> lock(g_cacheMutex);
      Cache()[cacheKey] = same;
      cached = same;
    }
    out = cached;
    return OkStatus();
  }

  // Parse only what is new.
  std::vector<StoredRow> fresh;
  fresh.reserve(toFetch.size());
  if (!toFetch.empty()) {
    st = store_.FetchMany(folder, toFetch, [&](const StoreEntry& e, std::string& raw, std::int64_t received) {
      fresh.push_back(FromMessage(e, raw, received));
    });
    if (!st.ok()) return st;
  }

  // Build the new snapshot in listing order.
  auto snap = std::make_shared<FolderSnapshot>();
  if (haveStamp) snap->stamp = stamp;
  snap->rows.reserve(listed.size());
  std::unordered_map<std::string, std::uint32_t> freshByKey;
  for (std::uint32_t i = 0; i < fresh.size(); ++i) freshByKey.emplace(fresh[i].entry.key, i);
  for (const auto& e : listed) {
    SummaryRow row;
    if (auto f = freshByKey.find(e.key); f != freshByKey.end()) {
      Finish(row, fresh[f->second]);
      row.entry = fresh[f->second].entry;
    } else if (cached) {
      auto it = cached->byKey.find(e.key);
      if (it == cached->byKey.end()) continue;  // vanished before it could be read
      row = cached->rows[it->second];
      row.entry = e;
    } else {
      auto it = diskByKey.find(e.key);
      if (it == diskByKey.end()) continue;
      Finish(row, diskRows[it->second]);
      row.entry = e;
    }
    row.guid = GuidFor(folder, e.key);
    snap->byKey.emplace(row.entry.key, static_cast<std::uint32_t>(snap->rows.size()));
    snap->rows.push_back(std::move(row));
  }

  // Write the changes through to disk in one transaction.
  if (db_ && (!fresh.empty() || !changed.empty() || removedAny)) {
    db_->Exec("BEGIN IMMEDIATE");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db_->db,
                       "INSERT OR REPLACE INTO summary(folder, key, locator, seen, received, importance, attach,"
                       " meeting, sender, subject, body) VALUES(?,?,?,?,?,?,?,?,?,?,?)",
                       -1, &ins, nullptr);
    for (const auto& r : fresh) {
      if (!ins) break;
      sqlite3_bind_text(ins, 1, dbFolder.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(ins, 2, r.entry.key.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(ins, 3, r.entry.locator.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(ins, 4, r.entry.read ? 1 : 0);
      sqlite3_bind_int64(ins, 5, r.received);
      sqlite3_bind_int(ins, 6, r.importance);
      sqlite3_bind_int(ins, 7, r.attachments ? 1 : 0);
      sqlite3_bind_int(ins, 8, r.meeting ? 1 : 0);
      sqlite3_bind_text(ins, 9, r.from.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(ins, 10, r.subject.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(ins, 11, r.body.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_stmt* upd = nullptr;
    sqlite3_prepare_v2(db_->db, "UPDATE summary SET locator=?, seen=? WHERE folder=? AND key=?", -1, &upd, nullptr);
    for (const auto& e : changed) {
      if (!upd) break;
      sqlite3_bind_text(upd, 1, e.locator.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(upd, 2, e.read ? 1 : 0);
      sqlite3_bind_text(upd, 3, dbFolder.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(upd, 4, e.key.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(upd);
      sqlite3_reset(upd);
    }
    sqlite3_finalize(upd);
    if (removedAny) {
      // Rows of messages that are gone: whatever the listing no longer has.
      std::vector<std::string> gone;
      if (cached) {
        for (const auto& r : cached->rows) {
          if (!snap->byKey.count(r.entry.key)) gone.push_back(r.entry.key);
        }
      } else {
        for (const auto& r : diskRows) {
          if (!snap->byKey.count(r.entry.key)) gone.push_back(r.entry.key);
        }
      }
      sqlite3_stmt* del = nullptr;
      sqlite3_prepare_v2(db_->db, "DELETE FROM summary WHERE folder=? AND key=?", -1, &del, nullptr);
      for (const auto& k : gone) {
        if (!del) break;
        sqlite3_bind_text(del, 1, dbFolder.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(del, 2, k.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(del);
        sqlite3_reset(del);
      }
      sqlite3_finalize(del);
    }
    if (!db_->Exec("COMMIT")) db_->Exec("ROLLBACK");
  }

  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    Cache()[cacheKey] = snap;
  }
  out = snap;
  return OkStatus();
}

void DropSummaryCache() {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  Cache().clear();
}

std::vector<std::uint32_t> SortedOrder(const FolderSnapshot& snap, int sort) {
  std::vector<std::uint32_t> order(snap.rows.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  if (sort < 0 || sort > 5) sort = 0;
  const auto& rows = snap.rows;
  // Newest first, then the key, so that every order is total.
  auto byTime = [&](std::uint32_t a, std::uint32_t b) {
    if (rows[a].received != rows[b].received) return rows[a].received > rows[b].received;
    return rows[a].entry.key < rows[b].entry.key;
  };
  switch (sort) {
    case 1:
      std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (rows[a].received != rows[b].received) return rows[a].received < rows[b].received;
        return rows[a].entry.key < rows[b].entry.key;
      });
      break;
    case 2:
    case 3: {
      bool asc = sort == 2;
      std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        int c = rows[a].fromKey.compare(rows[b].fromKey);
        if (c != 0) return asc ? c < 0 : c > 0;
        return byTime(a, b);
      });
      break;
    }
    case 4:
    case 5: {
      bool asc = sort == 4;
      std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        int c = rows[a].subjectKey.compare(rows[b].subjectKey);
        if (c != 0) return asc ? c < 0 : c > 0;
        return byTime(a, b);
      });
      break;
    }
    default:
      std::sort(order.begin(), order.end(), byTime);
  }
  return order;
}

}  // namespace mailbridge
