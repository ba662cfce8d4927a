#include "records/MailRecords.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <cwctype>
#include <vector>

namespace MAPIManaged {

namespace {
std::atomic<long> g_liveArrays{0};

void Free(char16_t*& p) {
  delete[] p;
  p = nullptr;
}

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
  void* p = ::operator new[](bytes);
  ++g_liveArrays;
  return p;
}
void _MAILITEM::operator delete[](void* p) noexcept {
  if (!p) return;
  --g_liveArrays;
  ::operator delete[](p);
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
  auto* copy = new char16_t[length + 1];
  std::copy(text, text + length, copy);
  copy[length] = 0;
  return copy;
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
