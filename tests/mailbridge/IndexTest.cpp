// The summary index against an in-memory store that answers ListChanges
// with deltas: changes are applied from the cache and from the index on
// disk, the sync point survives a cold cache, and only new mail is parsed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "TestUtil.h"
#include "mailbridge/store/Index.h"

using namespace mbtest;

namespace {

// A folder whose every change carries a sequence number; a sync point is
// the sequence number it was handed out at.
class DeltaStore : public mailbridge::MailStore {
 public:
  struct Mail {
    std::string locator;
    bool read = false;
    std::string raw;
    std::uint64_t changedAt = 0;
  };
  std::map<std::string, Mail> mails;
  std::map<std::string, std::uint64_t> vanishedAt;
  std::uint64_t seq = 0;
  std::vector<std::string> sinceSeen;  // every `since` the index handed back
  std::size_t fetched = 0;             // messages read

  void Put(const std::string& key, const std::string& subject, bool read = false) {
    mails[key] = {"loc-" + key + (read ? "-S" : ""), read, Message({"Subject: " + subject}, "text of " + subject),
                  ++seq};
    vanishedAt.erase(key);
  }
  void Drop(const std::string& key) {
    mails.erase(key);
    vanishedAt[key] = ++seq;
  }

  std::string Identity() const override { return "delta"; }
  bool ChangeStamp(const std::string&, std::string& stamp) override {
    stamp = std::to_string(seq);
    return true;
  }
  mailbridge::Status List(const std::string&, std::vector<mailbridge::StoreEntry>& out) override {
    for (const auto& [k, m] : mails) out.push_back({k, m.locator, m.read});
    return mailbridge::OkStatus();
  }
  mailbridge::Status ListChanges(const std::string& folder, const std::string& since,
                                 mailbridge::FolderChanges& changes) override {
    sinceSeen.push_back(since);
    changes = {};
    changes.syncPoint = std::to_string(seq);
    if (since.empty()) return List(folder, changes.entries);
    const std::uint64_t from = std::stoull(since);
    changes.full = false;
    for (const auto& [k, m] : mails) {
      if (m.changedAt > from) changes.entries.push_back({k, m.locator, m.read});
    }
    for (const auto& [k, at] : vanishedAt) {
      if (at > from) changes.vanished.push_back(k);
    }
    return mailbridge::OkStatus();
  }
  mailbridge::Status FetchMany(const std::string&, const std::vector<mailbridge::StoreEntry>& entries,
                               const mailbridge::FetchSink& sink) override {
    for (const auto& e : entries) {
      auto it = mails.find(e.key);
      if (it == mails.end()) continue;
      std::string raw = it->second.raw;
      ++fetched;
      sink(e, raw, 1000 + static_cast<std::int64_t>(it->second.changedAt));
    }
    return mailbridge::OkStatus();
  }
  mailbridge::Status SetRead(const std::string&, const mailbridge::StoreEntry&) override { return {}; }
  mailbridge::Status Move(const std::string&, const mailbridge::StoreEntry&, const std::string&) override {
    return {};
  }
  mailbridge::Status Remove(const std::string&, const mailbridge::StoreEntry&) override { return {}; }
  mailbridge::Status Append(const std::string&, std::string_view, bool) override { return {}; }
};

// key -> (subject as the records carry it, read)
std::map<std::string, std::pair<std::u16string, bool>> Rows(const mailbridge::FolderSnapshot& snap) {
  std::map<std::string, std::pair<std::u16string, bool>> out;
  for (const auto& r : snap.rows) out[r.entry.key] = {std::u16string(r.subjectHtml), r.entry.read};
  return out;
}

TEST(SummaryIndexDelta, AppliesChangesFromCacheAndFromDisk) {
  TempDir dir;
  const std::string path = dir.path() + "/index.sqlite";
  mailbridge::DropSummaryCache();
  DeltaStore store;
  store.Put("a", "alpha");
  store.Put("b", "beta");
  store.Put("c", "gamma <g>");
  mailbridge::SummaryIndex index(path, store, GUID{});
  std::shared_ptr<const mailbridge::FolderSnapshot> snap;

  ASSERT_TRUE(index.Refresh("", snap).ok());
  EXPECT_EQ(store.sinceSeen, std::vector<std::string>{""});
  EXPECT_EQ(store.fetched, 3u);
  // Unchanged folder: not even the changes are asked for.
  ASSERT_TRUE(index.Refresh("", snap).ok());
  EXPECT_EQ(store.sinceSeen.size(), 1u);

  // Cases applied one after the other; each time once from the process
  // cache and once with a cold cache from the index on disk.
  struct Step {
    const char* what;
    std::function<void()> change;
    std::size_t parsed;  // messages the refresh must read
    std::map<std::string, std::pair<std::u16string, bool>> expect;
  };
  const std::vector<Step> steps = {
      {"flag", [&] { store.Put("b", "beta", true); }, 0,
       {{"a", {u"alpha", false}}, {"b", {u"beta", true}}, {"c", {u"gamma &lt;g&gt;", false}}}},
      {"arrive and vanish", [&] { store.Put("d", "delta"); store.Drop("a"); }, 1,
       {{"b", {u"beta", true}}, {"c", {u"gamma &lt;g&gt;", false}}, {"d", {u"delta", false}}}},
      {"vanish then return", [&] { store.Drop("c"); store.Put("c", "gamma <g>", true); }, 0,
       {{"b", {u"beta", true}}, {"c", {u"gamma &lt;g&gt;", true}}, {"d", {u"delta", false}}}},
      {"everything gone", [&] { store.Drop("b"); store.Drop("c"); store.Drop("d"); }, 0, {}},
      {"new after empty", [&] { store.Put("e", "epsilon"); }, 1, {{"e", {u"epsilon", false}}}},
  };
  for (bool cold : {false, true}) {
    for (const auto& step : steps) {
      SCOPED_TRACE(std::string(step.what) + (cold ? " (cold cache)" : ""));
      step.change();
      if (cold) mailbridge::DropSummaryCache();
      const std::size_t before = store.fetched;
      ASSERT_TRUE(index.Refresh("", snap).ok());
      // The sync point of the last refresh came back: a delta, not a listing.
      EXPECT_FALSE(store.sinceSeen.back().empty());
      EXPECT_EQ(store.fetched - before, step.parsed);
      EXPECT_EQ(Rows(*snap), step.expect);
      for (const auto& r : snap->rows) EXPECT_EQ(snap->rows[snap->byKey.at(r.entry.key)].entry.key, r.entry.key);
    }
    // Start the same sequence again over a fresh folder state.
    store.Drop("e");
    store.Put("a", "alpha");
    store.Put("b", "beta");
    store.Put("c", "gamma <g>");
    ASSERT_TRUE(index.Refresh("", snap).ok());
  }
}

// Small changes one after another while every earlier snapshot is still
// held, as pages in flight hold them: each keeps its own rows and texts
// (checked at the end, after many rebuilds and merges of text blocks), and
// a row that did not change is the same row in every snapshot, not a copy.
TEST(SummaryIndexDelta, SmallChangesKeepHeldSnapshotsWholeAndShareRows) {
  mailbridge::DropSummaryCache();
  DeltaStore store;
  for (int i = 0; i < 50; ++i) store.Put("k" + std::to_string(i), "s" + std::to_string(i));
  mailbridge::SummaryIndex index("", store, GUID{});
  std::vector<std::shared_ptr<const mailbridge::FolderSnapshot>> held;
  std::vector<std::map<std::string, std::pair<std::u16string, bool>>> seen;
  for (int round = 0; round < 40; ++round) {
    std::shared_ptr<const mailbridge::FolderSnapshot> snap;
    ASSERT_TRUE(index.Refresh("", snap).ok());
    held.push_back(snap);
    seen.push_back(Rows(*snap));
    store.Put("n" + std::to_string(round), "new <" + std::to_string(round) + ">");
    store.Drop("k" + std::to_string(round));
    store.Put("k49", "s49", round % 2 == 0);
  }
  for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(Rows(*held[i]), seen[i]) << "snapshot " << i;
  EXPECT_EQ(seen.back().size(), 50u);
  EXPECT_EQ(seen.back().at("n38").first, u"new &lt;38&gt;");
  const auto& first = *held.front();
  const auto& last = *held.back();
  EXPECT_EQ(&first.rows[first.byKey.at("k45")], &last.rows[last.byKey.at("k45")]);
}

std::string Body(int n) {
  std::string body = "message " + std::to_string(n) + ":";
  while (body.size() < 600) body += " word " + std::to_string(n);
  return body;
}

std::string Name(int n) { return std::to_string(1000 + n) + ".M" + std::to_string(n) + ".host:2,S"; }

struct MaildirUser {
  TempDir dir;
  std::string root = dir.path() + "/u";
  mailbridge::AccountConfig config;
  MaildirUser() {
    mailbridge::DropSummaryCache();
    MakeMaildir(root);
    config.userName = "u";
    config.localDomain = "example.org";
    config.maildir = root;
  }
};

// Pages in flight on several threads while another program delivers and
// removes mail and the cache is dropped: a page's records stay whole and
// belong to one message each until the page releases them, whatever the
// cache has moved on to. Run under the sanitizers, any text freed too early
// is reported at the read.
TEST(SharedSummaryRecords, PagesKeepTheirTextsWhileTheFolderChanges) {
  MaildirUser user;
  for (int i = 0; i < 100; ++i) {
    PutMessage(user.root, "cur", Name(i), Message({"Subject: s" + std::to_string(i)}, Body(i)), 1000 + i);
  }
  std::atomic<bool> stop{false};
  std::atomic<int> pages{0}, bad{0};
  auto reader = [&] {
    std::deque<std::pair<std::unique_ptr<MAPIManaged::_MAILITEM[]>, DWORD>> held;
    auto check = [&](const MAPIManaged::_MAILITEM* items, DWORD count) {
      for (DWORD i = 0; i < count; ++i) {
        const std::string subject = U8(items[i].pszSubject);
        if (subject.size() < 2 || U8(items[i].pszBody) != Body(std::stoi(subject.substr(1)))) ++bad;
      }
    };
    while (!stop) {
      auto c = mailbridge::OpenConnection(user.config);
      MAPIManaged::_MAILITEM* items = nullptr;
      DWORD count = 0;
      if (FAILED(c->InboxSummary(u"", &items, &count, pages % 6))) {
        ++bad;
        continue;
      }
      ++pages;
      held.emplace_back(std::unique_ptr<MAPIManaged::_MAILITEM[]>(items), count);
      if (held.size() > 3) {
        check(held.front().first.get(), held.front().second);
        held.pop_front();
      }
    }
    for (auto& [items, count] : held) check(items.get(), count);
  };
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) readers.emplace_back(reader);
  // At least 120 changes, and on until 30 pages were read (bounded).
  for (int round = 0; round < 120 || (pages < 30 && round < 1000); ++round) {
    const int n = 100 + round;
    // Delivered as Maildir delivers: written in tmp/, then renamed.
    PutMessage(user.root, "tmp", Name(n), Message({"Subject: s" + std::to_string(n)}, Body(n)), 1000 + n);
    rename((user.root + "/tmp/" + Name(n)).c_str(), (user.root + "/new/" + Name(n)).c_str());
    unlink((user.root + "/cur/" + Name(round)).c_str());
    if (round % 16 == 0) mailbridge::DropSummaryCache();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_GE(pages.load(), 30);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(MAPIManaged::LiveRecordArrays(), 0);
}

// Bodies are kept whole: a word at the end of a long body is in the record.
TEST(SharedSummaryRecords, BodyHoldsAWordAtTheEnd) {
  MaildirUser user;
  std::string body;
  while (body.size() < 100000) body += "plain text line & more of it\n";
  PutMessage(user.root, "cur", Name(0), Message({"Subject: long"}, body + "Zeppelin"), 1000);
  Summary s = List(*mailbridge::OpenConnection(user.config));
  ASSERT_EQ(s.count, 1u);
  EXPECT_NE(U8(s.items[0].pszBody).find("Zeppelin"), std::string::npos);
}

}  // namespace
