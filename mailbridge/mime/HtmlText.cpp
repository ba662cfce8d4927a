#include "mailbridge/mime/HtmlText.h"

#include <glib.h>

#include <algorithm>
#include <cstring>

#include "platform/Text.h"

namespace mailbridge {

std::string HtmlEncode(std::string_view s) { return platform::HtmlEscape(s); }

std::u16string HtmlEncode16(std::string_view utf8) { return platform::Utf8ToUtf16(HtmlEncode(utf8)); }

std::u16string HtmlEncodeMarkup16(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return platform::Utf8ToUtf16(out);
}

namespace {

void AppendCodePoint(std::string& out, gunichar cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  char buf[8];
  int n = g_unichar_to_utf8(cp, buf);
  out.append(buf, static_cast<std::size_t>(n));
}

// Decodes one entity at s[pos] == '&'; returns the characters consumed (0: none).
std::size_t DecodeEntity(std::string_view s, std::size_t pos, std::string& out) {
  std::size_t semi = s.find(';', pos);
  if (semi == std::string_view::npos || semi - pos > 10) return 0;
  std::string_view name = s.substr(pos + 1, semi - pos - 1);
  if (name.size() >= 2 && name[0] == '#') {
    gunichar cp = 0;
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return 0;
    for (char c : digits) {
      int v = hex ? g_ascii_xdigit_value(c) : g_ascii_digit_value(c);
      if (v < 0) return 0;
      cp = cp * (hex ? 16 : 10) + static_cast<gunichar>(v);
      if (cp > 0x10FFFF) cp = 0x110000;
    }
    AppendCodePoint(out, cp);
    return semi - pos + 1;
  }
  static const struct { const char* name; const char* text; } named[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"},
      {"nbsp", "\xC2\xA0"}, {"copy", "\xC2\xA9"}, {"reg", "\xC2\xAE"}, {"mdash", "\xE2\x80\x94"},
      {"ndash", "\xE2\x80\x93"}, {"hellip", "\xE2\x80\xA6"}, {"euro", "\xE2\x82\xAC"}};
  for (const auto& e : named) {
    if (name == e.name) {
      out += e.text;
      return semi - pos + 1;
    }
  }
  return 0;
}

bool TagIs(std::string_view tag, const char* name) {
  std::size_t n = std::strlen(name);
  if (tag.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (g_ascii_tolower(tag[i]) != name[i]) return false;
  }
  return tag.size() == n || !g_ascii_isalnum(tag[n]);
}

}  // namespace

std::string HtmlDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '&') {
      std::size_t used = DecodeEntity(s, i, out);
      if (used) {
        i += used;
        continue;
      }
    }
    out.push_back(s[i++]);
  }
  return out;
}

std::string HtmlToText(std::string_view html) {
  std::string text;
  text.reserve(html.size() / 2);
  std::size_t i = 0;
  const std::size_t n = html.size();
  auto skipUntilClose = [&](const char* closing) {
    // Skips raw content up to and including the closing tag.
    std::size_t len = std::strlen(closing);
    while (i < n) {
      if (html[i] == '<' && i + len <= n && g_ascii_strncasecmp(html.data() + i, closing, len) == 0) {
        std::size_t gt = html.find('>', i);
        i = gt == std::string_view::npos ? n : gt + 1;
        return;
      }
      ++i;
    }
  };
  while (i < n) {
    char c = html[i];
    if (c == '<') {
      if (html.substr(i, 4) == "<!--") {
        std::size_t end = html.find("-->", i + 4);
        i = end == std::string_view::npos ? n : end + 3;
        continue;
      }
      std::size_t gt = html.find('>', i);
      if (gt == std::string_view::npos) break;
      std::string_view tag = html.substr(i + 1, gt - i - 1);
      bool closing = !tag.empty() && tag[0] == '/';
      std::string_view name = closing ? tag.substr(1) : tag;
      i = gt + 1;
      if (!closing) {
        const char* rawEnd = TagIs(name, "script")  ? "</script"
                             : TagIs(name, "style") ? "</style"
                             : TagIs(name, "head")  ? "</head"
                             : TagIs(name, "title") ? "</title"
                                                    : nullptr;
        if (rawEnd) {
          skipUntilClose(rawEnd);
          continue;
        }
      }
      if (TagIs(name, "br") || TagIs(name, "p") || TagIs(name, "div") || TagIs(name, "tr") ||
          TagIs(name, "li") || TagIs(name, "h1") || TagIs(name, "h2") || TagIs(name, "h3") ||
          TagIs(name, "table") || TagIs(name, "blockquote")) {
        if (!text.empty() && text.back() != '\n') text.push_back('\n');
      } else if (TagIs(name, "td") || TagIs(name, "th")) {
        if (!text.empty() && text.back() != '\n' && text.back() != ' ') text.push_back(' ');
      }
      continue;
    }
    if (c == '&') {
      std::size_t used = DecodeEntity(html, i, text);
      if (used) {
        i += used;
        continue;
      }
    }
    if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
      if (!text.empty() && text.back() != ' ' && text.back() != '\n') text.push_back(' ');
      ++i;
      continue;
    }
    text.push_back(c);
    ++i;
  }
  // Trim blanks at line ends and collapse runs of empty lines.
  std::string out;
  out.reserve(text.size());
  std::size_t blankLines = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string_view line(text.data() + pos, eol - pos);
    while (!line.empty() && (line.front() == ' ')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) {
      ++blankLines;
    } else {
      if (!out.empty()) out += blankLines ? "\n\n" : "\n";
      out.append(line);
      blankLines = 0;
    }
    pos = eol + 1;
  }
  return MakeValidUtf8(out);
}

std::string SafeFileName(std::string_view utf8In) {
  std::string withoutNul(utf8In);
  std::replace(withoutNul.begin(), withoutNul.end(), '\0', '/');
  std::string valid = MakeValidUtf8(withoutNul);
  std::string out;
  const char* p = valid.c_str();
  const char* end = p + valid.size();
  while (p < end) {
    gunichar c = g_utf8_get_char(p);
    const char* next = g_utf8_next_char(p);
    bool keep = g_unichar_isalpha(c) || g_unichar_isdigit(c) || g_unichar_ismark(c) || c == ' ' ||
                c == '.' || c == '_' || c == '-' || c == '(' || c == ')';
    if (keep) {
      if (out.size() + static_cast<std::size_t>(next - p) > 150) break;
      out.append(p, next);
    } else {
      if (out.size() + 1 > 150) break;
      out.push_back('_');
    }
    p = next;
  }
  // Leading and trailing blanks and dots make awkward names; a name made of
  // dots alone would climb out of the folder.
  while (!out.empty() && (out.front() == ' ' || out.front() == '.')) out.erase(0, 1);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.empty()) out = "attachment";
  return out;
}

std::string MakeValidUtf8(std::string_view bytes) {
  const char* end = nullptr;
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), &end) &&
      bytes.find('\0') == std::string_view::npos) {
    return std::string(bytes);
  }
  static const gunichar cp1252[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size() + 8);
  const char* p = bytes.data();
  const char* stop = p + bytes.size();
  while (p < stop) {
    gunichar c = g_utf8_get_char_validated(p, stop - p);
    if (c != static_cast<gunichar>(-1) && c != static_cast<gunichar>(-2) && c != 0) {
      const char* next = g_utf8_next_char(p);
      out.append(p, next);
      p = next;
      continue;
    }
    unsigned char b = static_cast<unsigned char>(*p);
    if (b == 0) {
      // NUL would end the text early on the other side.
      ++p;
      continue;
    }
    AppendCodePoint(out, b >= 0x80 && b < 0xA0 ? cp1252[b - 0x80] : b);
    ++p;
  }
  return out;
}

std::string TruncateUtf16Units(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    std::size_t add = len == 4 ? 2 : 1;
    if (units + add > maxUnits) break;
    units += add;
    i += len;
  }
  return std::string(utf8.substr(0, std::min(i, utf8.size())));
}

}  // namespace mailbridge
