#include "mailbridge/store/Index.h"

#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "mailbridge/mime/HtmlText.h"
#include "mailbridge/mime/Mime.h"
#include "platform/Guid.h"
#include "records/MailRecords.h"
#include "platform/Text.h"

namespace mailbridge {
namespace {

constexpr int kSchemaVersion = 3;

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

// Everything of a row but its texts, which are packed into a block apart.
void Finish(SummaryRow& row, const StoredRow& s) {
  row.entry = s.entry;
  row.received = s.received;
  row.importance = s.importance;
  row.attachments = s.attachments;
  row.meeting = s.meeting;
  row.fromKey = platform::ToLower(platform::Utf8ToUtf16(s.from));
  row.subjectKey = platform::ToLower(platform::Utf8ToUtf16(s.subject));
}

// Packs texts into one block; out receives each one's place in it.
std::shared_ptr<const TextBlock> Pack(const std::vector<std::u16string_view>& texts,
                                      std::vector<const char16_t*>& out) {
  auto block = std::make_shared<TextBlock>();
  for (const auto& t : texts) block->bytes += MAPIManaged::PinnedTextBytes(t.size());
  block->words.reset(new std::uint32_t[block->bytes / 4 + 1]);
  auto* at = reinterpret_cast<unsigned char*>(block->words.get());
  out.clear();
  out.reserve(texts.size());
  for (const auto& t : texts) {
    out.push_back(MAPIManaged::PlaceText(at, t.data(), t.size()));
    at += MAPIManaged::PinnedTextBytes(t.size());
  }
  return block;
}

// Encodes the texts of stored rows for the records and packs them; row i's
// texts are placed[3i..3i+2] (sender, subject, body).
std::shared_ptr<const TextBlock> PackStored(const std::vector<StoredRow>& stored,
                                            std::vector<const char16_t*>& placed) {
  std::vector<std::u16string> encoded;
  encoded.reserve(stored.size() * 3);
  for (const auto& s : stored) {
    encoded.push_back(HtmlEncode16(s.from));
    encoded.push_back(HtmlEncode16(s.subject));
    encoded.push_back(HtmlEncode16(s.body));
  }
  std::vector<std::u16string_view> views(encoded.begin(), encoded.end());
  return Pack(views, placed);
}

void SetTexts(SummaryRow& row, const char16_t* const* texts) {
  row.fromHtml = texts[0];
  row.subjectHtml = texts[1];
  row.bodyHtml = texts[2];
  row.textBytes = 0;
  for (int i = 0; i < 3; ++i) {
    row.textBytes += static_cast<std::uint32_t>(
        MAPIManaged::PinnedTextBytes(std::char_traits<char16_t>::length(texts[i])));
  }
}

// More blocks than this (one per change that brought new messages) and the
// small ones are merged, so a snapshot holds a few blocks, not one per send.
constexpr std::size_t kMaxBlocks = 16;

// Keeps the blocks few and mostly live. When they hold mostly texts of rows
// gone, every live text is copied into one new block; when there are many,
// the texts outside the largest block are. Rows whose texts move are
// replaced by new rows (the old ones stay as they are for the snapshots and
// pages that hold them).
void CompactTexts(FolderSnapshot& snap) {
  if (snap.blocks.empty()) return;
  std::size_t held = 0, live = 0;
  for (const auto& b : snap.blocks) held += b->bytes;
  for (const auto& r : snap.rows) live += r.textBytes;
  const bool wasteful = held > 2 * live + (1u << 20);
  if (!wasteful && snap.blocks.size() <= kMaxBlocks) return;
  std::shared_ptr<const TextBlock> keep;
  if (!wasteful) {
    keep = *std::max_element(snap.blocks.begin(), snap.blocks.end(),
                             [](const auto& x, const auto& y) { return x->bytes < y->bytes; });
  }
  auto inKept = [&](const SummaryRow& r) {
    if (!keep) return false;
    const auto* lo = reinterpret_cast<const unsigned char*>(keep->words.get());
    const auto* at = reinterpret_cast<const unsigned char*>(r.fromHtml);
    return at >= lo && at < lo + keep->bytes;
  };
  std::vector<std::size_t> moved;
  std::vector<std::u16string_view> views;
  for (std::size_t i = 0; i < snap.rows.size(); ++i) {
    const SummaryRow& r = snap.rows[i];
    if (inKept(r)) continue;
    moved.push_back(i);
    views.emplace_back(r.fromHtml);
    views.emplace_back(r.subjectHtml);
    views.emplace_back(r.bodyHtml);
  }
  std::vector<const char16_t*> placed;
  auto block = Pack(views, placed);
  for (std::size_t j = 0; j < moved.size(); ++j) {
    auto row = std::make_shared<SummaryRow>(snap.rows[moved[j]]);
    SetTexts(*row, &placed[3 * j]);
    snap.rows.Replace(moved[j], std::move(row));
  }
  snap.blocks.clear();
  if (keep) snap.blocks.push_back(std::move(keep));
  snap.blocks.push_back(std::move(block));
}

// Row positions by key, pointing at the rows' own keys.
void IndexKeys(FolderSnapshot& snap) {
  snap.byKey.clear();
  snap.byKey.reserve(snap.rows.size());
  for (std::uint32_t i = 0; i < snap.rows.size(); ++i) snap.byKey.emplace(snap.rows[i].entry.key, i);
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
  s.body = m.plainBody;
  return s;
}

std::string Col(sqlite3_stmt* st, int i) {
  const unsigned char* t = sqlite3_column_text(st, i);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
           : std::string();
}

// A prepared statement, finalized when it goes out of scope.
struct Statement {
  sqlite3_stmt* st = nullptr;
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
      sqlite3_finalize(st);
      st = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(st); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return st != nullptr; }
  bool Text(int i, const std::string& v) {
    return sqlite3_bind_text(st, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool Int(int i, std::int64_t v) { return sqlite3_bind_int64(st, i, v) == SQLITE_OK; }
  // Runs a statement that returns no rows and makes it ready for new values.
  bool Done() {
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return rc == SQLITE_DONE;
  }
};

// How the store's listing differs from the rows known before.
struct Diff {
  std::vector<StoreEntry> listed;   // the folder now, in listing order
  std::vector<StoreEntry> toFetch;  // not known yet: to be read and parsed
  std::vector<StoreEntry> changed;  // known, but their flags or place moved
  std::vector<std::string> gone;    // known keys the folder no longer has
  bool Empty() const { return toFetch.empty() && changed.empty() && gone.empty(); }
};

Diff Compare(const FolderSnapshot& known, FolderChanges& changes) {
  Diff d;
  std::size_t matched = 0;
  auto note = [&](const StoreEntry& e) {
    auto it = known.byKey.find(e.key);
    if (it == known.byKey.end()) {
      d.toFetch.push_back(e);
      return;
    }
    ++matched;
    const StoreEntry& old = known.rows[it->second].entry;
    if (old.locator != e.locator || old.read != e.read) d.changed.push_back(e);
  };
  for (const auto& e : changes.entries) note(e);
  if (changes.full) {
    // Known rows the listing does not name are gone.
    if (matched != known.rows.size()) {
      std::unordered_set<std::string_view> present;
      present.reserve(changes.entries.size());
      for (const auto& e : changes.entries) present.insert(e.key);
      for (const auto& r : known.rows) {
        if (!present.count(r.entry.key)) d.gone.push_back(r.entry.key);
      }
    }
    d.listed = std::move(changes.entries);
    return d;
  }
  // A delta: the known rows in their order, less what vanished, with the
  // reported ones updated; new messages follow.
  std::unordered_map<std::string_view, std::size_t> reported;
  for (std::size_t i = 0; i < changes.entries.size(); ++i) reported.emplace(changes.entries[i].key, i);
  std::unordered_set<std::string_view> vanished;
  for (const auto& k : changes.vanished) {
    if (known.byKey.count(k) && !reported.count(k) && vanished.insert(k).second) d.gone.push_back(k);
  }
  d.listed.reserve(known.rows.size() + d.toFetch.size());
  for (const auto& r : known.rows) {
    if (vanished.count(r.entry.key)) continue;
    auto it = reported.find(r.entry.key);
    d.listed.push_back(it == reported.end() ? r.entry : changes.entries[it->second]);
  }
  for (const auto& e : d.toFetch) d.listed.push_back(e);
  return d;
}

// Rows of one folder as the index on disk holds them, with the folder's
// sync point; empty when the index has none or cannot be read (then the
// folder is listed and parsed from scratch).
std::shared_ptr<FolderSnapshot> ReadKnown(sqlite3* db, const SummaryIndex& index, const std::string& folder,
                                          const std::string& dbFolder) {
  auto known = std::make_shared<FolderSnapshot>();
  if (!db) return known;
  Statement sync(db, "SELECT sync FROM folders WHERE folder=?");
  if (!sync || !sync.Text(1, dbFolder)) return known;
  int rc = sqlite3_step(sync.st);
  if (rc == SQLITE_ROW) {
    known->syncPoint = Col(sync.st, 0);
  } else if (rc != SQLITE_DONE) {
    return known;
  }
  Statement rows(db,
                 "SELECT key, locator, seen, received, importance, attach, meeting, sender, subject, body"
                 " FROM summary WHERE folder=?");
  if (!rows || !rows.Text(1, dbFolder)) return std::make_shared<FolderSnapshot>();
  std::vector<StoredRow> stored;
  while ((rc = sqlite3_step(rows.st)) == SQLITE_ROW) {
    StoredRow& r = stored.emplace_back();
    r.entry.key = Col(rows.st, 0);
    r.entry.locator = Col(rows.st, 1);
    r.entry.read = sqlite3_column_int(rows.st, 2) != 0;
    r.received = sqlite3_column_int64(rows.st, 3);
    r.importance = sqlite3_column_int(rows.st, 4);
    r.attachments = sqlite3_column_int(rows.st, 5) != 0;
    r.meeting = sqlite3_column_int(rows.st, 6) != 0;
    r.from = Col(rows.st, 7);
    r.subject = Col(rows.st, 8);
    r.body = Col(rows.st, 9);
  }
  // A read cut short counts as nothing known: a partial set would make the
  // rest look gone and, with a delta, lose them.
  if (rc != SQLITE_DONE) return std::make_shared<FolderSnapshot>();
  std::vector<const char16_t*> placed;
  known->blocks.push_back(PackStored(stored, placed));
  known->rows.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    auto row = std::make_shared<SummaryRow>();
    Finish(*row, stored[i]);
    SetTexts(*row, &placed[3 * i]);
    row->guid = index.GuidFor(folder, row->entry.key);
    known->rows.push_back(std::move(row));
  }
  IndexKeys(*known);
  return known;
}

// Writes the difference and the new sync point in one transaction; on any
// failure nothing is written, and the rows and sync point on disk stay
// consistent with each other (only older).
bool WriteThrough(sqlite3* db, const std::string& dbFolder, const std::vector<StoredRow>& fresh, const Diff& diff,
                  const std::string& syncPoint) {
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  auto write = [&]() -> bool {
    if (!fresh.empty()) {
      Statement ins(db,
                    "INSERT OR REPLACE INTO summary(folder, key, locator, seen, received, importance, attach,"
                    " meeting, sender, subject, body) VALUES(?,?,?,?,?,?,?,?,?,?,?)");
      if (!ins) return false;
      for (const auto& r : fresh) {
        if (!ins.Text(1, dbFolder) || !ins.Text(2, r.entry.key) || !ins.Text(3, r.entry.locator) ||
            !ins.Int(4, r.entry.read ? 1 : 0) || !ins.Int(5, r.received) || !ins.Int(6, r.importance) ||
            !ins.Int(7, r.attachments ? 1 : 0) || !ins.Int(8, r.meeting ? 1 : 0) || !ins.Text(9, r.from) ||
            !ins.Text(10, r.subject) || !ins.Text(11, r.body) || !ins.Done()) {
          return false;
        }
      }
    }
    if (!diff.changed.empty()) {
      Statement upd(db, "UPDATE summary SET locator=?, seen=? WHERE folder=? AND key=?");
      if (!upd) return false;
      for (const auto& e : diff.changed) {
        if (!upd.Text(1, e.locator) || !upd.Int(2, e.read ? 1 : 0) || !upd.Text(3, dbFolder) ||
            !upd.Text(4, e.key) || !upd.Done()) {
          return false;
        }
      }
    }
    if (!diff.gone.empty()) {
      Statement del(db, "DELETE FROM summary WHERE folder=? AND key=?");
      if (!del) return false;
      for (const auto& k : diff.gone) {
        if (!del.Text(1, dbFolder) || !del.Text(2, k) || !del.Done()) return false;
      }
    }
    Statement sync(db, "INSERT OR REPLACE INTO folders(folder, sync) VALUES(?,?)");
    return sync && sync.Text(1, dbFolder) && sync.Text(2, syncPoint) && sync.Done();
  };
  if (write() && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

std::shared_ptr<const FolderSnapshot> CachedSnapshot(const std::string& cacheKey) {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  auto it = Cache().find(cacheKey);
  return it == Cache().end() ? nullptr : it->second;
}

// Refreshes of one folder take turns: one lists while the others wait for
// its snapshot. Waiters are woken together when a turn ends, so none waits
// longer than the turn in progress and the next one.
struct FolderTurn {
  std::mutex m;
  std::condition_variable done;
  bool running = false;
};

FolderTurn& TurnFor(const std::string& cacheKey) {
  static std::map<std::string, std::unique_ptr<FolderTurn>> turns;
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  auto& t = turns[cacheKey];
  if (!t) t = std::make_unique<FolderTurn>();
  return *t;
}

std::int64_t SteadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Publish(const std::string& cacheKey, std::shared_ptr<const FolderSnapshot> snap) {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  Cache()[cacheKey] = std::move(snap);
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
  // Both are tuning only: an index without them still works.
  (void)db->Exec("PRAGMA journal_mode=WAL");
  (void)db->Exec("PRAGMA synchronous=NORMAL");
  int version = -1;
  {
    Statement st(db->db, "PRAGMA user_version");
    if (st && sqlite3_step(st.st) == SQLITE_ROW) version = sqlite3_column_int(st.st, 0);
  }
  if (version < 0) return;
  if (version != kSchemaVersion) {
    const std::string pragma = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    if (!db->Exec("DROP TABLE IF EXISTS summary") || !db->Exec("DROP TABLE IF EXISTS folders") ||
        !db->Exec(pragma.c_str())) {
      return;
    }
  }
  if (!db->Exec("CREATE TABLE IF NOT EXISTS summary(folder TEXT NOT NULL, key TEXT NOT NULL, locator TEXT,"
                " seen INT, received INT, importance INT, attach INT, meeting INT, sender TEXT,"
                " subject TEXT, body TEXT, PRIMARY KEY(folder, key)) WITHOUT ROWID") ||
      !db->Exec("CREATE TABLE IF NOT EXISTS folders(folder TEXT PRIMARY KEY, sync TEXT NOT NULL)")) {
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
  // One index file may serve several logins (IMAP): rows are kept per store.
  const std::string dbFolder = store_.Identity() + "\n" + folder;

  const std::int64_t arrived = SteadyNow();
  std::shared_ptr<const FolderSnapshot> cached = CachedSnapshot(cacheKey);
  // Nothing changed in the folder since it was last listed: no listing.
  std::string stamp;
  const bool haveStamp = store_.ChangeStamp(folder, stamp);
  if (cached && haveStamp && cached->stamp == stamp) {
    out = cached;
    return OkStatus();
  }

  // One refresh of a folder at a time in this process. A refresh that
  // started listing after this call arrived has seen every change made
  // before it: its snapshot is as fresh as a listing of our own would be.
  // (A failed turn publishes nothing; the next waiter takes a turn.)
  FolderTurn& turn = TurnFor(cacheKey);
  {
    std::unique_lock<std::mutex> lock(turn.m);
    for (;;) {
      cached = CachedSnapshot(cacheKey);
      if (cached && (cached->listedAt.load() >= arrived || (haveStamp && cached->stamp == stamp))) {
        out = cached;
        return OkStatus();
      }
      if (!turn.running) break;
      turn.done.wait(lock);
    }
    turn.running = true;
  }
  struct EndTurn {
    FolderTurn& turn;
    ~EndTurn() {
      {
        std::lock_guard<std::mutex> lock(turn.m);
        turn.running = false;
      }
      turn.done.notify_all();
    }
  } endTurn{turn};

  // Load what is known: the process cache, else the index on disk.
  std::shared_ptr<const FolderSnapshot> known =
      cached ? cached : ReadKnown(db_ ? db_->db : nullptr, *this, folder, dbFolder);

  // List the store: the whole folder, or what changed since the sync point.
  const std::int64_t listedAt = SteadyNow();
  FolderChanges changes;
  Status st = store_.ListChanges(folder, known->syncPoint, changes);
  if (!st.ok()) return st;

  Diff diff = Compare(*known, changes);

  // Unchanged since the cached snapshot: it stays, now known to be current.
  if (cached && diff.Empty() && changes.syncPoint == cached->syncPoint &&
      (!haveStamp || cached->stamp == stamp)) {
    cached->listedAt.store(listedAt);
    out = cached;
    return OkStatus();
  }

  // Fetch and parse only what is new.
  std::vector<StoredRow> fresh;
  fresh.reserve(diff.toFetch.size());
  if (!diff.toFetch.empty()) {
    st = store_.FetchMany(folder, diff.toFetch, [&](const StoreEntry& e, std::string& raw, std::int64_t received) {
      fresh.push_back(FromMessage(e, raw, received));
    });
    if (!st.ok()) return st;
  }

  // Build the snapshot in listing order.
  auto snap = std::make_shared<FolderSnapshot>();
  if (haveStamp) snap->stamp = stamp;
  snap->syncPoint = changes.syncPoint;
  if (diff.Empty() && known.use_count() == 1 && !cached) {
    // Read from disk for this call alone: taken over as it is.
    auto own = std::const_pointer_cast<FolderSnapshot>(known);
    snap->rows = std::move(own->rows);
    snap->byKey = std::move(own->byKey);
    snap->blocks = std::move(own->blocks);
  } else {
    std::vector<const char16_t*> placed;
    snap->blocks = known->blocks;
    if (!fresh.empty()) snap->blocks.push_back(PackStored(fresh, placed));
    std::unordered_map<std::string_view, std::uint32_t> freshByKey;
    for (std::uint32_t i = 0; i < fresh.size(); ++i) freshByKey.emplace(fresh[i].entry.key, i);
    snap->rows.reserve(diff.listed.size());
    for (const auto& e : diff.listed) {
      if (auto f = freshByKey.find(e.key); f != freshByKey.end()) {
        auto row = std::make_shared<SummaryRow>();
        Finish(*row, fresh[f->second]);
        SetTexts(*row, &placed[3 * f->second]);
        row->guid = GuidFor(folder, e.key);
        snap->rows.push_back(std::move(row));
      } else if (auto k = known->byKey.find(e.key); k != known->byKey.end()) {
        const SummaryRows::Ptr& old = known->rows.Shared(k->second);
        if (old->entry.locator == e.locator && old->entry.read == e.read) {
          snap->rows.push_back(old);  // unchanged: shared as it is
        } else {
          auto row = std::make_shared<SummaryRow>(*old);
          row->entry = e;
          snap->rows.push_back(std::move(row));
        }
      }
      // else: vanished before it could be read
    }
    CompactTexts(*snap);
    IndexKeys(*snap);
  }

  // Write through to disk. A failed write leaves the disk older but
  // consistent; this listing is still right.
  if (db_ && (!diff.Empty() || changes.syncPoint != known->syncPoint)) {
    (void)WriteThrough(db_->db, dbFolder, fresh, diff, changes.syncPoint);
  }

  snap->listedAt.store(listedAt);
  snap->MarkLarge();
  Publish(cacheKey, snap);
  out = snap;
  return OkStatus();
}

void DropSummaryCache() {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  Cache().clear();
}

FolderSnapshot::TrimWhenFreed::~TrimWhenFreed() {
  if (large) malloc_trim(0);
}

const std::vector<std::uint32_t>& FolderSnapshot::Order(int sort) const {
  if (sort < 0 || sort >= kSorts) sort = 0;
  std::call_once(orderOnce_[sort], [&] { orders_[sort] = SortedOrder(*this, sort); });
  return orders_[sort];
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
