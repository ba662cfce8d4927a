// The mail records exchanged between the component and the mail library.
// Field order and sizes match the fixed 32-bit layout; on 64-bit builds the
// same order with natural alignment. Owned texts are released by each
// record's destructor; arrays of records come from new[] and are released
// with delete[] (one allocator for both sides).
//
// Every text a record points at starts after a small header that says who
// owns it: a text from DupText belongs to the record and is freed with it; a
// pinned text (PlaceText) belongs to a text block that the library shares
// between its cache and any number of record arrays, and the record frees
// nothing. An array of mail items can hold such a block alive
// (NewMailItems): it is let go when the array is released, after the
// records' destructors ran.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/WinTypes.h"

namespace MAPIManaged {

struct _MAILITEM {
  GUID guidID{};
  BOOL bHasAttachments = 0;
  BOOL bRead = 0;
  LONG nImportance = 1;  // 0 low, 1 normal, 2 high
  char16_t* pszFrom = nullptr;
  char16_t* pszSubject = nullptr;
  FILETIME ftReceived{};
  char16_t* pszBody = nullptr;
  BYTE bMeetingRequest = 0;

  _MAILITEM() = default;
  _MAILITEM(const _MAILITEM&) = delete;
  _MAILITEM& operator=(const _MAILITEM&) = delete;
  ~_MAILITEM();
  static void* operator new[](std::size_t bytes);
  static void operator delete[](void* p) noexcept;
};

struct _MAILMESSAGE {
  GUID guidID{};
  char16_t* pszFrom = nullptr;
  char16_t* pszFromAddress = nullptr;
  char16_t* pszTo = nullptr;
  char16_t* pszToAddresses = nullptr;
  char16_t* pszCC = nullptr;
  char16_t* pszCCAddresses = nullptr;
  char16_t* pszSubject = nullptr;
  char16_t* pszBody = nullptr;
  char16_t* pszHTMLBody = nullptr;
  FILETIME ftSent{};
  BYTE bMeetingRequest = 0;

  _MAILMESSAGE() = default;
  _MAILMESSAGE(const _MAILMESSAGE&) = delete;
  _MAILMESSAGE& operator=(const _MAILMESSAGE&) = delete;
  ~_MAILMESSAGE();
  static void* operator new[](std::size_t bytes);
  static void operator delete[](void* p) noexcept;
};

struct _MAILMESSAGEATTACHMENTS {
  LONG nAttachID = 0;
  char16_t* pszFileName = nullptr;

  _MAILMESSAGEATTACHMENTS() = default;
  _MAILMESSAGEATTACHMENTS(const _MAILMESSAGEATTACHMENTS&) = delete;
  _MAILMESSAGEATTACHMENTS& operator=(const _MAILMESSAGEATTACHMENTS&) = delete;
  ~_MAILMESSAGEATTACHMENTS();
  static void* operator new[](std::size_t bytes);
  static void operator delete[](void* p) noexcept;
};

struct _CONTACTITEM {
  BYTE reserved[16]{};  // not read by the component
  char16_t* pszName1 = nullptr;
  char16_t* pszName2 = nullptr;
  char16_t* pszDisplayName = nullptr;
  char16_t* pszEmailAddress = nullptr;
  char16_t* pszOther[11]{};  // further owned texts, released but not read

  _CONTACTITEM() = default;
  _CONTACTITEM(const _CONTACTITEM&) = delete;
  _CONTACTITEM& operator=(const _CONTACTITEM&) = delete;
  ~_CONTACTITEM();
  static void* operator new[](std::size_t bytes);
  static void operator delete[](void* p) noexcept;
};

// Record arrays are counted while alive, so tests can check that every
// array handed out was released.
long LiveRecordArrays();

// A copy of a NUL-terminated UTF-16 text that the record owns.
char16_t* DupText(const char16_t* text);
char16_t* DupText(const char16_t* text, std::size_t length);

// Bytes a pinned text of `length` units takes in a text block (a multiple of
// 4, so that texts placed one after another stay aligned).
std::size_t PinnedTextBytes(std::size_t length);
// Writes a pinned text at `where` (4-byte aligned, PinnedTextBytes(length)
// bytes) and returns its characters, NUL-terminated. Records pointing at it
// never free it: whoever owns the block keeps it alive.
char16_t* PlaceText(void* where, const char16_t* text, std::size_t length);

// An array of `count` mail items that keeps `keepAlive` (the owner of the
// pinned texts its records will point at) until the array is released.
_MAILITEM* NewMailItems(std::size_t count, std::shared_ptr<const void> keepAlive);

// Sorts contact entries in place by display name, ignoring case; an entry
// with a null display name compares equal to any other.
void SortContactsByDisplayName(_CONTACTITEM* items, DWORD count);

#if UINTPTR_MAX == 0xFFFFFFFFu
// 32-bit builds: the exact layout of the exchange format.
static_assert(sizeof(_MAILITEM) == 52);
static_assert(offsetof(_MAILITEM, bHasAttachments) == 16);
static_assert(offsetof(_MAILITEM, bRead) == 20);
static_assert(offsetof(_MAILITEM, nImportance) == 24);
static_assert(offsetof(_MAILITEM, pszFrom) == 28);
static_assert(offsetof(_MAILITEM, pszSubject) == 32);
static_assert(offsetof(_MAILITEM, ftReceived) == 36);
static_assert(offsetof(_MAILITEM, pszBody) == 44);
static_assert(offsetof(_MAILITEM, bMeetingRequest) == 48);
static_assert(sizeof(_MAILMESSAGE) == 64);
static_assert(offsetof(_MAILMESSAGE, pszFrom) == 16);
static_assert(offsetof(_MAILMESSAGE, pszFromAddress) == 20);
static_assert(offsetof(_MAILMESSAGE, pszTo) == 24);
static_assert(offsetof(_MAILMESSAGE, pszToAddresses) == 28);
static_assert(offsetof(_MAILMESSAGE, pszCC) == 32);
static_assert(offsetof(_MAILMESSAGE, pszCCAddresses) == 36);
static_assert(offsetof(_MAILMESSAGE, pszSubject) == 40);
static_assert(offsetof(_MAILMESSAGE, pszBody) == 44);
static_assert(offsetof(_MAILMESSAGE, pszHTMLBody) == 48);
static_assert(offsetof(_MAILMESSAGE, ftSent) == 52);
static_assert(offsetof(_MAILMESSAGE, bMeetingRequest) == 60);
static_assert(sizeof(_MAILMESSAGEATTACHMENTS) == 8);
static_assert(offsetof(_MAILMESSAGEATTACHMENTS, pszFileName) == 4);
static_assert(sizeof(_CONTACTITEM) == 76);
static_assert(offsetof(_CONTACTITEM, pszName1) == 16);
static_assert(offsetof(_CONTACTITEM, pszName2) == 20);
static_assert(offsetof(_CONTACTITEM, pszDisplayName) == 24);
static_assert(offsetof(_CONTACTITEM, pszEmailAddress) == 28);
static_assert(offsetof(_CONTACTITEM, pszOther) == 32);
#endif

}  // namespace MAPIManaged
