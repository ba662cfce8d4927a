// The message table of the listing page: one row per message from the top
// index on, filtered by a search posted from the search bar, with icons, the
// link that opens the message, and (full output) the received time and a
// short preview of the body.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "frame/Encoding.h"
#include "host/HostKit.h"
#include "host/Intrinsics.h"
#include "inbox/MyInbox.h"
#include "listing/ListingConstants.h"
#include "listing/ListingSearch.h"
#include "platform/Format.h"
#include "platform/Guid.h"
#include "platform/Resources.h"
#include "platform/Text.h"

namespace {

// A row's opening tag, in the pieces around its class, its message's query
// (three times) and the context menu's name (which differs for meeting
// requests).
constexpr std::u16string_view kRowStart = u"<tr class='";
constexpr std::u16string_view kRowSelect =
    u"' valign='top' onselectstart='return false' onclick='selectItem(this,\"";
constexpr std::u16string_view kRowOpen = u"\",0)' ondblclick='openMessage(\"";
constexpr std::u16string_view kRowMenu = u"\")' oncontextmenu='displayMenu(this,";
constexpr std::u16string_view kMailMenu = u"mailPreviewOptionsMenu";
constexpr std::u16string_view kMeetingMenu = u"mailMeetingPreviewOptionsMenu";
constexpr std::u16string_view kRowEnd = u",\"";
constexpr std::u16string_view kRowClose = u"\",0)'>";

// Decoded characters a preview shows before it is cut.
constexpr std::size_t kPreviewChars = 156;

// A form item as text; a missing item or a failed conversion reads as empty.
std::u16string ReadFormItem(IRequestDictionary* form, std::u16string_view name) {
  CComVariant key(name);
  CComVariant item;
  if (FAILED(form->get_Item(key, &item)) || item.vt == VT_EMPTY) return {};
  CComVariant text;
  if (FAILED(VariantChangeType(&text, &item, 0, VT_BSTR)) || text.vt != VT_BSTR) return {};
  return std::u16string(platform::BstrView(text.bstrVal));
}

// Response text gathered and written in one piece before each call to the
// target (which writes to the response too) and at the end, so that a row
// costs a few writes instead of one per fragment. Whatever is pending when
// an exception leaves the writer is still written, as it would have been.
class PendingText {
 public:
  PendingText() = default;
  PendingText(const PendingText&) = delete;
  PendingText& operator=(const PendingText&) = delete;
  ~PendingText() {
    try {
      Flush();
    } catch (...) {
    }
  }
  void Add(std::u16string_view text) { text_ += text; }
  void Flush() {
    if (text_.empty()) return;
    VWriteResponseText(text_);
    text_.clear();
  }

 private:
  std::u16string text_;
};

// The icon cells' images and texts, made once per page.
struct IconTexts {
  CComBSTR low{u"gifs/Low.gif"}, important{u"gifs/Important.gif"}, none{u"gifs/null.gif"};
  CComBSTR read{u"gifs/InboxMessage.gif"}, unread{u"gifs/NewInboxMessage.gif"};
  CComBSTR attachment{u"gifs/Attachment.gif"};
  CComBSTR importAlt{u"Import"}, mailAlt{u"Mail"}, attachmentsAlt{u"Attachments"};
};

void WriteIconCell(ILumarestTarget* target, PendingText& out, BSTR image, BSTR alt) {
  out.Add(u"<td width=17>");
  out.Flush();
  target->WriteImage(image, alt, 0);
  target->EndTableData();
}

BSTR ImportanceIcon(const IconTexts& icons, LONG importance) {
  if (importance == 0) return icons.low;
  if (importance == 2) return icons.important;
  return icons.none;
}

}  // namespace

namespace listing {

PostedSearch ReadPostedSearch() {
  PostedSearch search;
  CComPtr<IRequest> request;
  if (FAILED(VGetIISObject(request)) || !request) return search;
  CComPtr<IRequestDictionary> form;
  if (FAILED(request->get_Form(&form)) || !form) return search;
  int fields = 0;
  if (FAILED(form->get_Count(&fields)) || fields == 0) return search;
  if (platform::EqualsNoCase(ReadFormItem(form, u"Show All"), u"Show All")) return search;

  std::u16string text = ReadFormItem(form, u"SearchText");
  std::u16string type = ReadFormItem(form, u"SearchType");
  if (!text.empty()) {
    search.text = platform::ToLower(text);
    search.type = static_cast<int>(platform::ParseLongPrefix(type));
  }
  return search;
}

namespace {

// The length of a NUL-terminated text and whether it holds an "&", in one
// pass, eight units at a time where the text is 2-byte aligned. An aligned
// 16-byte load never crosses a page, so reading past the NUL inside the last
// block is safe; the address sanitizer would still see a read beyond the
// allocation, hence the attribute.
__attribute__((no_sanitize_address)) std::size_t ScanText(const char16_t* text, bool& ampersand) {
  const char16_t* p = text;
  unsigned any = 0;
#ifdef __SSE2__
  if ((reinterpret_cast<std::uintptr_t>(p) & 1) == 0) {
    for (; reinterpret_cast<std::uintptr_t>(p) & 15; ++p) {
      if (!*p) {
        ampersand = any != 0;
        return static_cast<std::size_t>(p - text);
      }
      any |= *p == u'&';
    }
    const __m128i zero = _mm_setzero_si128(), amp = _mm_set1_epi16(u'&');
    __m128i amps = _mm_setzero_si128();
    for (;; p += 8) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
      if (const int nul = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero))) {
        const std::size_t k = static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(nul))) / 2;
        for (std::size_t j = 0; j < k; ++j) any |= p[j] == u'&';
        ampersand = any != 0 || _mm_movemask_epi8(amps) != 0;
        return static_cast<std::size_t>(p - text) + k;
      }
      amps = _mm_or_si128(amps, _mm_cmpeq_epi16(v, amp));
    }
  }
#endif
  for (; *p; ++p) any |= *p == u'&';
  ampersand = any != 0;
  return static_cast<std::size_t>(p - text);
}

struct LowerUnit {
  char16_t operator()(char16_t c) const {
    if (c < 0x80) return static_cast<char16_t>(static_cast<unsigned>(c - u'A') < 26u ? c + 32 : c);
    return platform::ToLowerUnit(c);
  }
};

struct SameUnit {
  char16_t operator()(char16_t c) const { return c; }
};

// Whether needle starts at text, each text unit lowered on its own.
template <typename Lower>
bool MatchesAt(const char16_t* text, std::u16string_view needle, Lower lower) {
  for (std::size_t k = 0; k < needle.size(); ++k)
    if (lower(text[k]) != needle[k]) return false;
  return true;
}

// Whether lower(text) holds needle, each unit lowered on its own as the
// search does it (ASCII letters directly, others through the locale). Eight
// starting places at a time: a place is looked at further only where its
// first and last units both match. Blocks with units outside ASCII (which
// may lower to ASCII letters) are checked unit by unit.
template <typename Lower>
bool Contains(std::u16string_view text, std::u16string_view needle, Lower lower) {
  const std::size_t m = needle.size(), n = text.size();
  if (m == 0) return true;
  if (m > n) return false;
  const char16_t* t = text.data();
  std::size_t i = 0;
#ifdef __SSE2__
  constexpr bool kLowers = !std::is_same_v<Lower, SameUnit>;
  const __m128i first = _mm_set1_epi16(static_cast<short>(needle[0]));
  const __m128i last = _mm_set1_epi16(static_cast<short>(needle[m - 1]));
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80)), zero = _mm_setzero_si128();
  const __m128i upperA = _mm_set1_epi16(u'A'), below = _mm_set1_epi16(-1), span = _mm_set1_epi16(26);
  const __m128i caseBit = _mm_set1_epi16(32);
  auto lowerAscii = [&](__m128i v) {
    const __m128i d = _mm_sub_epi16(v, upperA);
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(d, below), _mm_cmpgt_epi16(span, d));
    return _mm_add_epi16(v, _mm_and_si128(upper, caseBit));
  };
  for (; i + m - 1 + 8 <= n; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + m - 1));
    if constexpr (kLowers) {
      const __m128i high = _mm_and_si128(_mm_or_si128(a, b), nonAscii);
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF) {
        for (std::size_t j = i; j < i + 8; ++j)
          if (MatchesAt(t + j, needle, lower)) return true;
        continue;
      }
      a = lowerAscii(a);
      b = lowerAscii(b);
    }
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, last))));
    while (mask) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      if (MatchesAt(t + i + bit / 2, needle, lower)) return true;
      mask &= ~(3u << bit);
    }
  }
#endif
  for (; i + m <= n; ++i)
    if (MatchesAt(t + i, needle, lower)) return true;
  return false;
}

}  // namespace

bool FieldMatches(const char16_t* field, std::u16string_view search, std::u16string& scratch) {
  if (!field) return false;
  bool ampersand = false;
  const std::size_t n = ScanText(field, ampersand);
  if (n == 0) return false;
  const std::u16string_view text(field, n);
  // Without an "&" there is nothing to decode: search the text as it is,
  // lowering only the units looked at.
  if (!ampersand) return Contains(text, search, LowerUnit{});
  // Lower-case first, then decode, as the stored texts are HTML-encoded.
  // ASCII in one branch-free pass; other letters, rare in practice, after.
  scratch.resize(n);
  const char16_t* in = text.data();
  char16_t* out = scratch.data();
  unsigned seen = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = in[i];
    seen |= c;
    out[i] = static_cast<char16_t>(static_cast<unsigned>(c - u'A') < 26u ? c + 32 : c);
  }
  if (seen >= 0x80) {
    for (std::size_t i = 0; i < n; ++i)
      if (in[i] >= 0x80) out[i] = platform::ToLowerUnit(in[i]);
  }
  scratch = VHTMLDecodeString(scratch);
  return Contains(scratch, search, SameUnit{});
}

std::u16string BuildPreview(const char16_t* body) {
  // Decoding never lengthens a text and only acts on entities: a short body,
  // or one without any "&" in the prefix decoded first below, needs no
  // decoding to be measured or cut (that prefix would decode to itself and
  // be cut at the same place), so a long body is not measured to its end.
  std::size_t take = kPreviewChars + kPreviewChars / 4;
  std::size_t head = 0;
  bool ampersand = false;
  if (body) {
    for (; head < take && body[head]; ++head) ampersand |= body[head] == u'&';
  }
  if (head <= kPreviewChars) return std::u16string(body, head) + u"...[END]";
  if (!ampersand) {
    std::u16string preview = VHTMLEncodeString2(std::u16string_view(body, kPreviewChars));
    preview += u"...[MORE]";
    return preview;
  }
  // Decode a prefix only, long enough to hold the cut. A prefix decodes as
  // the start of the whole text when its last "&" is closed by a ";" inside
  // it: no entity decision then depends on what follows the prefix. The
  // body is measured only as far as the prefixes reach: `seen` units are
  // known to come before its end, all of it once `whole`.
  std::size_t seen = head;
  bool whole = head < take;
  auto reach = [&](std::size_t want) {
    for (; !whole && seen < want; ++seen) {
      if (!body[seen]) whole = true;
      if (whole) break;
    }
  };
  for (;;) {
    reach(take + 1);
    std::u16string_view known(body, seen);
    if (whole && take >= seen) {
      take = seen;
    } else if (std::size_t amp = known.rfind(u'&', take - 1); amp != std::u16string_view::npos) {
      std::size_t semi = amp + 1;
      for (;; ++semi) {
        reach(semi + 1);
        if (semi >= seen) break;
        if (body[semi] == u';') break;
      }
      if (semi >= take) take = semi >= seen ? seen : semi + 1;
    }
    reach(take + 1);
    std::u16string decoded = VHTMLDecodeString(std::u16string_view(body, take));
    if (decoded.size() > kPreviewChars) {
      decoded.resize(kPreviewChars);
      return VHTMLEncodeString2(decoded) + u"...[MORE]";
    }
    if (whole && take == seen) break;
    take *= 2;
  }
  return std::u16string(body, seen) + u"...[END]";
}

}  // namespace listing

void CMyInbox::WriteListingRows(const MAPIManaged::_MAILITEM* items, DWORD count, LONG sort) {
  using namespace listing;
  if (!items) count = 0;

  // The search is read before anything is written.
  PostedSearch posted = ReadPostedSearch();
  std::u16string searchText = std::move(posted.text);
  const int searchType = posted.type;

  LONG fullOutput = 0;
  m_pTarget->get_FullOutput(&fullOutput);

  VWriteResponseText(u"<div class='ContentBody'>");
  {
    CComBSTR tableName(u"class='box' width='100%'");
    m_pTarget->StartTable(tableName, 0);
  }
  if (fullOutput) WriteColumnHeader(searchType >= 0, sort);

  // Per-page values, worked out once.
  const std::u16string folder = EncodeUrlSafe(m_strFolder);
  const std::u16string_view store = m_bstrStore.View();
  const std::u16string viewUrlFormat = platform::LoadString(kIdsViewUrl);
  std::u16string dateFormat;
  if (fullOutput) {
    dateFormat = platform::LoadString(kIdsDateFormat);
    if (dateFormat.empty()) dateFormat = u"%c";
  }

  const IconTexts icons;
  PendingText out;
  std::u16string scratch;
  int rows = 0;
  // Unsigned: a negative top index lies beyond any count and lists nothing.
  for (DWORD index = static_cast<DWORD>(m_nTopIndex); index < count && rows < kPageSize; ++index) {
    const MAPIManaged::_MAILITEM& item = items[index];

    const char16_t* field = nullptr;
    switch (searchType) {
      case 0: field = item.pszFrom; break;
      case 1: field = item.pszBody; break;
      case 2: field = item.pszSubject; break;
      default:
        // An unknown type lists everything from here on.
        searchText.clear();
        break;
    }
    if (!searchText.empty() && !FieldMatches(field, searchText, scratch)) continue;
    ++rows;

    const bool read = item.bRead != 0;
    const std::u16string id = platform::GuidToString(item.guidID);
    const std::u16string viewUrl = platform::FormatW(viewUrlFormat, id, m_nTopIndex, folder, store);
    std::u16string_view query;
    if (std::size_t q = viewUrl.find(u'?'); q != std::u16string::npos)
      query = std::u16string_view(viewUrl).substr(q + 1);

    if (fullOutput) {
      out.Add(kRowStart);
      out.Add(read ? u"InboxRead" : u"InboxUnread");
      out.Add(kRowSelect);
      out.Add(query);
      out.Add(kRowOpen);
      out.Add(query);
      out.Add(kRowMenu);
      out.Add(item.bMeetingRequest ? kMeetingMenu : kMailMenu);
      out.Add(kRowEnd);
      out.Add(query);
      out.Add(kRowClose);
    } else {
      m_pTarget->StartTableRow();
    }

    WriteIconCell(m_pTarget, out, ImportanceIcon(icons, item.nImportance), icons.importAlt);
    WriteIconCell(m_pTarget, out, read ? icons.read : icons.unread, icons.mailAlt);
    WriteIconCell(m_pTarget, out, item.bHasAttachments ? icons.attachment : icons.none, icons.attachmentsAlt);

    if (fullOutput) {
      const std::u16string received = FormatMailTime(item.ftReceived, dateFormat);
      const std::u16string preview = BuildPreview(item.pszBody);
      out.Add(u"<td>");
      out.Add(platform::View(item.pszFrom));
      out.Add(u"</td><td>");
      out.Add(platform::View(item.pszSubject));
      out.Add(u"<br>");
      out.Add(read ? u"<span class='MessagePreviewRead'>" : u"<span class='MessagePreviewUnread'>");
      out.Add(preview);
      out.Add(u"</span>");
      out.Add(u"</td><td>");
      out.Add(received);
      out.Add(u"</td>");
      out.Add(u"</tr>");
    } else {
      m_pTarget->StartTableData();
      std::u16string text(platform::View(item.pszFrom));
      text += u" - ";
      text += platform::View(item.pszSubject);
      if (!viewUrl.empty()) {
        // Unread messages stand out in bold.
        if (!read) out.Add(u"<b>");
        out.Add(platform::FormatW(platform::LoadString(kIdsSubjectLink), viewUrl, text));
        if (!read) out.Add(u"</b>");
      } else {
        const bool bold = item.bRead == 1;
        if (bold) out.Add(u"<b>");
        out.Add(platform::LoadString(kIdsCannotRead));
        if (bold) out.Add(u"</b>");
      }
      out.Flush();
      m_pTarget->EndTableData();
      m_pTarget->EndTableRow();
    }
  }

  out.Flush();
  m_pTarget->EndTable();
  VWriteResponseText(u"</div>");
  m_pTarget->WriteLine();
}
