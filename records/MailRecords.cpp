#include "records/MailRecords.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <cwctype>
#include <vector>

#include <sys/mman.h>

namespace MAPIManaged {

namespace {
std::atomic<long> g_liveArrays{0};

// The header in front of every record text.
struct TextHeader {
  std::uint32_t tag;
  std::uint32_t length;
};
static_assert(sizeof(TextHeader) % alignof(char16_t) == 0);
constexpr std::uint32_t kOwnedTag = 0x4f776e64;   // freed with the record
constexpr std::uint32_t kPinnedTag = 0x50696e64;  // lives in a shared block

TextHeader* HeaderOf(char16_t* text) {
  return reinterpret_cast<TextHeader*>(reinterpret_cast<unsigned char*>(text) - sizeof(TextHeader));
}

void Free(char16_t*& p) {
  if (p) {
    TextHeader* h = HeaderOf(p);
    if (h->tag != kPinnedTag) ::operator delete(h);
  }
  p = nullptr;
}

// What a mail-item array holds in front of its records: the owner of the
// pinned texts, and how many bytes were mapped for it (0: from the heap).
using KeepAlive = std::shared_ptr<const void>;
struct ArrayHead {
  KeepAlive keep;
  std::size_t mapped = 0;
};
constexpr std::size_t kArrayPrefix =
    (sizeof(ArrayHead) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
// A large folder's array (10,000 records take about 800 KB) is mapped from
// the system and unmapped on release: pages in flight on many threads then
// leave no large free blocks behind in the threads' heaps, and resident
// memory stays level under load.
constexpr std::size_t kMapAtLeast = 256 * 1024;
// Handed from NewMailItems to the allocation it makes on the same thread.
thread_local KeepAlive* t_pendingKeepAlive = nullptr;

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c < 0x80) return c;
  return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
}

int CompareNoCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    char16_t ca = FoldCase(*a), cb = FoldCase(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}
}  // namespace

_MAILITEM::~_MAILITEM() {
  Free(pszFrom);
  Free(pszSubject);
  Free(pszBody);
}

_MAILMESSAGE::~_MAILMESSAGE() {
  Free(pszFrom);
  Free(pszFromAddress);
  Free(pszTo);
  Free(pszToAddresses);
  Free(pszCC);
  Free(pszCCAddresses);
  Free(pszSubject);
  Free(pszBody);
  Free(pszHTMLBody);
}

_MAILMESSAGEATTACHMENTS::~_MAILMESSAGEATTACHMENTS() { Free(pszFileName); }

_CONTACTITEM::~_CONTACTITEM() {
  Free(pszName1);
  Free(pszName2);
  Free(pszDisplayName);
  Free(pszEmailAddress);
  for (auto*& p : pszOther) Free(p);
}

long LiveRecordArrays() { return g_liveArrays.load(); }

void* _MAILITEM::operator new[](std::size_t bytes) {
  const std::size_t total = bytes + kArrayPrefix;
  unsigned char* raw = nullptr;
  std::size_t mapped = 0;
  if (total >= kMapAtLeast) {
    void* m = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) throw std::bad_alloc();
    raw = static_cast<unsigned char*>(m);
    mapped = total;
  } else {
    raw = static_cast<unsigned char*>(::operator new[](total));
  }
  auto* head = new (raw) ArrayHead();
  head->mapped = mapped;
  if (t_pendingKeepAlive) {
    head->keep.swap(*t_pendingKeepAlive);
    t_pendingKeepAlive = nullptr;
  }
  ++g_liveArrays;
  return raw + kArrayPrefix;
}
void _MAILITEM::operator delete[](void* p) noexcept {
  if (!p) return;
  --g_liveArrays;
  auto* raw = static_cast<unsigned char*>(p) - kArrayPrefix;
  auto* head = std::launder(reinterpret_cast<ArrayHead*>(raw));
  const std::size_t mapped = head->mapped;
  head->~ArrayHead();
  if (mapped) {
    munmap(raw, mapped);
  } else {
    ::operator delete[](raw);
  }
}

_MAILITEM* NewMailItems(std::size_t count, std::shared_ptr<const void> keepAlive) {
  t_pendingKeepAlive = &keepAlive;
  struct Clear {
    ~Clear() { t_pendingKeepAlive = nullptr; }
  } clear;
  return new _MAILITEM[count];
}

void* _MAILMESSAGE::operator new[](std::size_t bytes) {
  void* p = ::operator new[](bytes);
  ++g_liveArrays;
  return p;
}
void _MAILMESSAGE::operator delete[](void* p) noexcept {
  if (!p) return;
  --g_liveArrays;
  ::operator delete[](p);
}

void* _MAILMESSAGEATTACHMENTS::operator new[](std::size_t bytes) {
  void* p = ::operator new[](bytes);
  ++g_liveArrays;
  return p;
}
void _MAILMESSAGEATTACHMENTS::operator delete[](void* p) noexcept {
  if (!p) return;
  --g_liveArrays;
  ::operator delete[](p);
}

void* _CONTACTITEM::operator new[](std::size_t bytes) {
  void* p = ::operator new[](bytes);
  ++g_liveArrays;
  return p;
}
void _CONTACTITEM::operator delete[](void* p) noexcept {
  if (!p) return;
  --g_liveArrays;
  ::operator delete[](p);
}

char16_t* DupText(const char16_t* text, std::size_t length) {
  if (!text) return nullptr;
  auto* h = static_cast<TextHeader*>(::operator new(sizeof(TextHeader) + (length + 1) * sizeof(char16_t)));
  h->tag = kOwnedTag;
  h->length = static_cast<std::uint32_t>(length);
  auto* copy = reinterpret_cast<char16_t*>(h + 1);
  std::copy(text, text + length, copy);
  copy[length] = 0;
  return copy;
}

std::size_t PinnedTextBytes(std::size_t length) {
  return (sizeof(TextHeader) + (length + 1) * sizeof(char16_t) + 3) & ~static_cast<std::size_t>(3);
}

char16_t* PlaceText(void* where, const char16_t* text, std::size_t length) {
  auto* h = static_cast<TextHeader*>(where);
  h->tag = kPinnedTag;
  h->length = static_cast<std::uint32_t>(length);
  auto* chars = reinterpret_cast<char16_t*>(h + 1);
  if (length) std::copy(text, text + length, chars);
  chars[length] = 0;
  return chars;
}

char16_t* DupText(const char16_t* text) {
  if (!text) return nullptr;
  std::size_t n = 0;
  while (text[n]) ++n;
  return DupText(text, n);
}

void SortContactsByDisplayName(_CONTACTITEM* items, DWORD count) {
  if (!items || count < 2) return;
  // Sort a permutation, then move the records into place by swapping their
  // bytes: records own their texts, so moving bytes moves ownership.
  std::vector<DWORD> order(count);
  for (DWORD i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](DWORD x, DWORD y) {
    const char16_t* a = items[x].pszDisplayName;
    const char16_t* b = items[y].pszDisplayName;
    if (!a || !b) return false;
    return CompareNoCase(a, b) < 0;
  });
  std::vector<unsigned char> bytes(sizeof(_CONTACTITEM) * count);
  for (DWORD i = 0; i < count; ++i)
    std::memcpy(&bytes[i * sizeof(_CONTACTITEM)], static_cast<void*>(&items[order[i]]),
                sizeof(_CONTACTITEM));
  std::memcpy(static_cast<void*>(items), bytes.data(), bytes.size());
}

}  // namespace MAPIManaged
