// Mailbox names in modified UTF-7 (RFC 3501 section 5.1.3): printable ASCII
// as it is ("&" as "&-"), everything else as UTF-16 in base64 with ","
// for "/", between "&" and "-".
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mailbridge/store/Store.h"
#include "platform/Text.h"

namespace mailbridge {

namespace {

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int B64Value(char c) {
  const char* p = std::strchr(kB64, c);
  return c && p ? static_cast<int>(p - kB64) : -1;
}

bool NextCodePoint(std::string_view s, std::size_t& i, char32_t& cp) {
  auto b = static_cast<unsigned char>(s[i]);
  int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (n < 0 || i + static_cast<std::size_t>(n) >= s.size() + (n == 0 ? 1 : 0)) return false;
  cp = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k <= n; ++k) {
    auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3F);
  }
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += static_cast<std::size_t>(n) + 1;
  return true;
}


}  // namespace

bool EncodeMailboxName(std::string_view utf8, std::string& out) {
  out.clear();
  std::vector<std::uint16_t> run;  // UTF-16 units waiting to be base64-encoded
  auto flush = [&] {
    if (run.empty()) return;
    out.push_back('&');
    std::uint32_t bits = 0;
    int count = 0;
    for (std::uint16_t u : run) {
      for (int shift : {8, 0}) {
        bits = (bits << 8) | ((u >> shift) & 0xFF);
        count += 8;
        while (count >= 6) {
          count -= 6;
          out.push_back(kB64[(bits >> count) & 0x3F]);
        }
      }
    }
    if (count > 0) out.push_back(kB64[(bits << (6 - count)) & 0x3F]);
    out.push_back('-');
    run.clear();
  };
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    if (!NextCodePoint(utf8, i, cp)) return false;
    if (cp >= 0x20 && cp <= 0x7E) {
      flush();
      out.push_back(static_cast<char>(cp));
      if (cp == '&') out.push_back('-');
    } else if (cp < 0x10000) {
      run.push_back(static_cast<std::uint16_t>(cp));
    } else {
      cp -= 0x10000;
      run.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
      run.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
  flush();
  return true;
}

bool DecodeMailboxName(std::string_view imap, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < imap.size(); ++i) {
    char c = imap[i];
    if (c < 0x20 || c > 0x7E) return false;
    if (c != '&') {
      out.push_back(c);
      continue;
    }
    std::size_t end = imap.find('-', i + 1);
    if (end == std::string_view::npos) return false;
    if (end == i + 1) {
      out.push_back('&');
      i = end;
      continue;
    }
    std::uint32_t bits = 0;
    int count = 0;
    std::vector<std::uint16_t> units;
    for (std::size_t k = i + 1; k < end; ++k) {
      int v = B64Value(imap[k]);
      if (v < 0) return false;
      bits = (bits << 6) | static_cast<std::uint32_t>(v);
      count += 6;
      if (count >= 16) {
        count -= 16;
        units.push_back(static_cast<std::uint16_t>((bits >> count) & 0xFFFF));
      }
    }
    if (count >= 6 || (bits & ((1u << count) - 1)) != 0) return false;  // left-over bits must be zero padding
    for (std::size_t k = 0; k < units.size(); ++k) {
      char32_t cp = units[k];
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (k + 1 >= units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF) return false;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++k] - 0xDC00);
      } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
        return false;
      }
      platform::AppendUtf8(out, cp);
    }
    i = end;
  }
  return true;
}

}  // namespace mailbridge
