// The summary index: one row per message with what a listing shows, kept in
// SQLite beside the store and in a process-wide cache, refreshed from the
// store's cheap listing so that only new messages are parsed.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mailbridge/store/Store.h"
#include "platform/WinTypes.h"

namespace mailbridge {

// Immutable record texts, laid out as pinned texts (records/MailRecords.h):
// the cache and every page's records point into a block at once, and the
// block lives while a snapshot or a page's record array holds it.
struct TextBlock {
  std::unique_ptr<std::uint32_t[]> words;
  std::size_t bytes = 0;
};

struct SummaryRow {
  StoreEntry entry;
  GUID guid{};
  std::int64_t received = 0;  // Unix seconds
  int importance = 1;
  bool attachments = false;
  bool meeting = false;
  // HTML-encoded, ready for records (the body whole): pinned texts in the
  // blocks of the snapshot that holds the row.
  const char16_t* fromHtml = nullptr;
  const char16_t* subjectHtml = nullptr;
  const char16_t* bodyHtml = nullptr;
  std::uint32_t textBytes = 0;        // what the three texts take in their block
  std::u16string fromKey, subjectKey;  // lower-cased, for sorting
};

// A snapshot's rows. Each row is immutable once listed and shared by every
// snapshot that holds it, so a change to the folder copies one pointer per
// row and builds new rows only for what changed.
class SummaryRows {
 public:
  using Ptr = std::shared_ptr<const SummaryRow>;
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = SummaryRow;
    using difference_type = std::ptrdiff_t;
    using pointer = const SummaryRow*;
    using reference = const SummaryRow&;
    const_iterator() = default;
    explicit const_iterator(std::vector<Ptr>::const_iterator at) : at_(at) {}
    reference operator*() const { return **at_; }
    pointer operator->() const { return at_->get(); }
    const_iterator& operator++() { ++at_; return *this; }
    bool operator==(const const_iterator& o) const { return at_ == o.at_; }
    bool operator!=(const const_iterator& o) const { return at_ != o.at_; }
   private:
    std::vector<Ptr>::const_iterator at_;
  };

  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const SummaryRow& operator[](std::size_t i) const { return *rows_[i]; }
  const Ptr& Shared(std::size_t i) const { return rows_[i]; }
  const_iterator begin() const { return const_iterator(rows_.begin()); }
  const_iterator end() const { return const_iterator(rows_.end()); }
  void reserve(std::size_t n) { rows_.reserve(n); }
  void push_back(Ptr row) { rows_.push_back(std::move(row)); }
  void Replace(std::size_t i, Ptr row) { rows_[i] = std::move(row); }

 private:
  std::vector<Ptr> rows_;
};

struct FolderSnapshot {
 private:
  // Declared first, so run last: once a large snapshot's memory is freed,
  // the allocator gives the pages back, whichever thread's arena held them
  // (snapshots are rebuilt by whichever request sees a change first).
  struct TrimWhenFreed {
    bool large = false;
    ~TrimWhenFreed();
  } trim_;

 public:
  void MarkLarge() { trim_.large = rows.size() >= 1000; }

  SummaryRows rows;
  // Row positions by store key; the keys are the rows' own (entry.key).
  std::unordered_map<std::string_view, std::uint32_t> byKey;
  std::string stamp;      // the store's change stamp when this was listed
  std::string syncPoint;  // the store's sync point for its next ListChanges
  std::vector<std::shared_ptr<const TextBlock>> blocks;  // every text the rows point at
  // When the store was last asked about the folder for this snapshot
  // (steady clock, ns); moves on when a later listing found nothing new.
  mutable std::atomic<std::int64_t> listedAt{0};

  // SortedOrder(*this, sort), worked out once per sort code.
  const std::vector<std::uint32_t>& Order(int sort) const;

 private:
  static constexpr int kSorts = 6;
  mutable std::once_flag orderOnce_[kSorts];
  mutable std::vector<std::uint32_t> orders_[kSorts];
};

class SummaryIndex {
 public:
  // indexPath empty: the cache alone, nothing on disk. userSpace keys the
  // message identifiers.
  SummaryIndex(std::string indexPath, MailStore& store, const GUID& userSpace);
  ~SummaryIndex();
  SummaryIndex(const SummaryIndex&) = delete;
  SummaryIndex& operator=(const SummaryIndex&) = delete;

  Status Refresh(const std::string& folder, std::shared_ptr<const FolderSnapshot>& out);
  GUID GuidFor(const std::string& folder, const std::string& key) const;

 private:
  struct Db;
  std::string path_;
  MailStore& store_;
  GUID userSpace_;
  std::unique_ptr<Db> db_;
};

// Forgets every cached folder summary of this process (benchmarks, tests).
void DropSummaryCache();

// Index positions in the given sort order: 0/1 received newest/oldest first,
// 2/3 sender ascending/descending, 4/5 subject ascending/descending, other
// codes as 0. Ties fall back to received time, then to the store key.
std::vector<std::uint32_t> SortedOrder(const FolderSnapshot& snap, int sort);

}  // namespace mailbridge
