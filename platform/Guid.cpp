#include "platform/Guid.h"

#include <array>
#include <cstdlib>

#include "platform/Com.h"
#include "platform/Text.h"

namespace platform {

namespace {
int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool ReadHex(std::u16string_view s, std::size_t pos, std::size_t digits, std::uint64_t& out) {
  out = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    int v = HexValue(s[pos + i]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<unsigned>(v);
  }
  return true;
}
}  // namespace

bool ParseGuid(std::u16string_view s, GUID& g) {
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' ||
      s[19] != u'-' || s[24] != u'-')
    return false;
  std::uint64_t v;
  if (!ReadHex(s, 1, 8, v)) return false;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!ReadHex(s, 10, 4, v)) return false;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(s, 15, 4, v)) return false;
  g.Data3 = static_cast<std::uint16_t>(v);
  static constexpr std::size_t kPos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(s, kPos[i], 2, v)) return false;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  return true;
}

std::u16string GuidToString(REFGUID g) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string out(38, u'-');
  char16_t* at = out.data();
  auto put = [&](std::uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) *at++ = static_cast<char16_t>(kHex[(value >> (i * 4)) & 0xF]);
  };
  *at++ = u'{';
  put(g.Data1, 8);
  ++at;  // '-'
  put(g.Data2, 4);
  ++at;
  put(g.Data3, 4);
  ++at;
  put(g.Data4[0], 2);
  put(g.Data4[1], 2);
  ++at;
  for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
  *at = u'}';
  return out;
}

namespace {
// Minimal SHA-1 for name-based UUIDs.
std::array<std::uint8_t, 20> Sha1(const std::string& msg) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string m = msg;
  std::uint64_t bits = static_cast<std::uint64_t>(msg.size()) * 8;
  m.push_back(static_cast<char>(0x80));
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<char>((bits >> (i * 8)) & 0xFF));
  auto rol = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  for (std::size_t off = 0; off < m.size(); off += 64) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i)
      w[i] = (std::uint32_t(std::uint8_t(m[off + 4 * i])) << 24) |
             (std::uint32_t(std::uint8_t(m[off + 4 * i + 1])) << 16) |
             (std::uint32_t(std::uint8_t(m[off + 4 * i + 2])) << 8) |
             std::uint32_t(std::uint8_t(m[off + 4 * i + 3]));
    for (int i = 16; i < 80; ++i) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      std::uint32_t f, k;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      std::uint32_t t = rol(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = rol(b, 30);
      b = a;
      a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> out{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[i * 4 + j] = static_cast<std::uint8_t>(h[i] >> (24 - 8 * j));
  return out;
}
}  // namespace

GUID NameBasedGuid(REFGUID ns, std::string_view name) {
  // RFC 4122 section 4.3: namespace bytes in network order, then the name.
  std::string input;
  for (int i = 3; i >= 0; --i) input.push_back(static_cast<char>(ns.Data1 >> (i * 8)));
  for (int i = 1; i >= 0; --i) input.push_back(static_cast<char>(ns.Data2 >> (i * 8)));
  for (int i = 1; i >= 0; --i) input.push_back(static_cast<char>(ns.Data3 >> (i * 8)));
  for (auto b : ns.Data4) input.push_back(static_cast<char>(b));
  input.append(name);
  auto hash = Sha1(input);
  GUID g;
  g.Data1 = (std::uint32_t(hash[0]) << 24) | (std::uint32_t(hash[1]) << 16) |
            (std::uint32_t(hash[2]) << 8) | hash[3];
  g.Data2 = static_cast<std::uint16_t>((hash[4] << 8) | hash[5]);
  g.Data3 = static_cast<std::uint16_t>(((hash[6] << 8) | hash[7]) & 0x0FFF) | 0x5000;
  for (int i = 0; i < 8; ++i) g.Data4[i] = hash[8 + i];
  g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

}  // namespace platform

HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
  if (!iid) return E_INVALIDARG;
  if (!text || !platform::ParseGuid(platform::View(text), *iid)) return E_INVALIDARG;
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (!clsid) return E_INVALIDARG;
  if (!text || !platform::ParseGuid(platform::View(text), *clsid)) return CO_E_CLASSSTRING;
  return S_OK;
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) {
  if (!text) return E_INVALIDARG;
  auto s = platform::GuidToString(iid);
  auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
  if (!p) return E_OUTOFMEMORY;
  std::copy(s.begin(), s.end(), p);
  p[s.size()] = 0;
  *text = p;
  return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  if (!buffer || cchMax < 39) return 0;
  auto s = platform::GuidToString(guid);
  std::copy(s.begin(), s.end(), buffer);
  buffer[38] = 0;
  return 39;
}
