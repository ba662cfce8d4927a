#include "platform/Text.h"

#include <cstdint>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <clocale>
#include <cwctype>
#include <type_traits>
#include <locale.h>

namespace platform {

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      // A run of ASCII is widened in one piece.
      std::size_t end = i + 1;
      while (end < n && p[end] < 0x80) ++end;
      const std::size_t at = out.size();
      out.resize(at + (end - i));
      for (std::size_t k = i; k < end; ++k) out[at + (k - i)] = p[k];
      i = end;
      continue;
    }
    char32_t cp;
    std::size_t len;
    if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    std::size_t k = 1;
    for (; k < len; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!ok) {
      // A truncated sequence becomes one replacement character.
      out.push_back(0xFFFD);
      i += k;
      continue;
    }
    // Reject overlong forms, surrogates and values past U+10FFFF.
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += len;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // lone surrogate
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// Eight units at a time once the text is 16-byte aligned: an aligned load
// never crosses a page, so reading past the NUL inside the last block is
// safe; the address sanitizer would still see a read beyond the allocation,
// hence the attribute.
__attribute__((no_sanitize_address)) std::size_t TextLength(const char16_t* text) {
  if (!text) return 0;
  const char16_t* p = text;
#ifdef __SSE2__
  if ((reinterpret_cast<std::uintptr_t>(p) & 1) == 0) {
    for (; reinterpret_cast<std::uintptr_t>(p) & 15; ++p)
      if (!*p) return static_cast<std::size_t>(p - text);
    const __m128i zero = _mm_setzero_si128();
    for (;; p += 8) {
      const int nul = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(p)), zero));
      if (nul) return static_cast<std::size_t>(p - text) + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(nul))) / 2;
    }
  }
#endif
  while (*p) ++p;
  return static_cast<std::size_t>(p - text);
}

namespace {
locale_t Utf8Locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}
}  // namespace

char16_t ToLowerUnit(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  auto r = towlower_l(static_cast<wint_t>(c), Utf8Locale());
  return r <= 0xFFFF ? static_cast<char16_t>(r) : c;
}

char16_t ToUpperUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  auto r = towupper_l(static_cast<wint_t>(c), Utf8Locale());
  return r <= 0xFFFF ? static_cast<char16_t>(r) : c;
}

std::u16string ToLower(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = ToLowerUnit(c);
  return out;
}

std::u16string ToUpper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = ToUpperUnit(c);
  return out;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = ToLowerUnit(a[i]), y = ToLowerUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

std::u16string Trim(std::u16string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return std::u16string(text.substr(b, e - b));
}

void ReplaceAll(std::u16string& text, std::u16string_view what, std::u16string_view with) {
  if (what.empty()) return;
  std::size_t at = text.find(what);
  if (at == std::u16string::npos) return;
  std::u16string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (; at != std::u16string::npos; at = text.find(what, from)) {
    out.append(text, from, at - from);
    out.append(with);
    from = at + what.size();
  }
  out.append(text, from, std::u16string::npos);
  text = std::move(out);
}

long ParseLongPrefix(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x7FFFFFFFLL + 1) value = 0x7FFFFFFFLL + 1;  // saturate, never overflow
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
  if (value < -0x80000000LL) value = -0x80000000LL;
  return static_cast<long>(value);
}

namespace {
template <class Char>
std::basic_string<Char> EscapeHtml(std::basic_string_view<Char> text) {
  std::basic_string<Char> out;
  out.reserve(text.size() + text.size() / 8);
  auto append = [&out](const char* ascii) {
    for (; *ascii; ++ascii) out.push_back(static_cast<Char>(*ascii));
  };
  // Runs without a character to escape are copied in one piece. The five
  // escaped characters are all below 64: one mask tells them apart.
  constexpr std::uint64_t kEscaped =
      (1ull << '&') | (1ull << '<') | (1ull << '>') | (1ull << '"') | (1ull << '\'');
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(text[i]));
    if (unit >= 64 || !((kEscaped >> unit) & 1)) continue;
    const char* escaped = nullptr;
    switch (text[i]) {
      case '&': escaped = "&amp;"; break;
      case '<': escaped = "&lt;"; break;
      case '>': escaped = "&gt;"; break;
      case '"': escaped = "&quot;"; break;
      case '\'': escaped = "&#39;"; break;
      default: continue;
    }
    out.append(text.substr(run, i - run));
    append(escaped);
    run = i + 1;
  }
  out.append(text.substr(run));
  return out;
}
}  // namespace

std::u16string HtmlEscape(std::u16string_view text) { return EscapeHtml(text); }
std::string HtmlEscape(std::string_view text) { return EscapeHtml(text); }

}  // namespace platform
