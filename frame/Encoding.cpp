// URL-safe text encoding and mail time formatting.
#include "frame/Encoding.h"

#include <array>

#include "platform/Text.h"
#include "platform/Time.h"

namespace {

constexpr char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_*";
constexpr char16_t kPad = u'-';

// Lookup by the low 7 bits of a character: the 6-bit value, kSkip for the
// pad, kInvalid for everything else.
constexpr signed char kInvalid = -1;
constexpr signed char kSkip = -2;

constexpr std::array<signed char, 128> MakeDecodeTable() {
  std::array<signed char, 128> table{};
  for (auto& entry : table) entry = kInvalid;
  for (int value = 0; value < 64; ++value) table[kAlphabet[value]] = static_cast<signed char>(value);
  table[kPad] = kSkip;
  return table;
}
constexpr std::array<signed char, 128> kDecodeTable = MakeDecodeTable();

bool SameFields(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

}  // namespace

std::u16string EncodeUrlSafe(const char16_t* text) {
  if (!text) return {};
  return EncodeUrlSafe(platform::View(text));
}

std::u16string EncodeUrlSafe(std::u16string_view text) {
  const std::string bytes = platform::Utf16ToUtf8(text);
  std::u16string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  unsigned bits = 0;  // bits waiting in the low end of buffer
  unsigned buffer = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(kAlphabet[(buffer >> bits) & 0x3F]);
    }
    buffer &= (1u << bits) - 1;
  }
  if (bits > 0) out.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3F]);
  while (out.size() % 4 != 0) out.push_back(kPad);
  return out;
}

std::u16string DecodeUrlSafe(std::u16string_view encoded) {
  std::string bytes;
  bytes.reserve(encoded.size() * 3 / 4 + 1);
  unsigned bits = 0;
  unsigned buffer = 0;
  for (char16_t c : encoded) {
    signed char value = kDecodeTable[c & 0x7F];
    if (value == kInvalid) return {};
    if (value == kSkip) continue;
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
      buffer &= (1u << bits) - 1;
    }
  }
  std::u16string text = platform::Utf8ToUtf16(bytes);
  // The result buffer holds as many characters as the input had.
  if (text.size() > encoded.size()) text.resize(encoded.size());
  return text;
}

std::u16string FormatMailTime(const FILETIME& time, std::u16string_view format) {
  // Times are shown as delivered (UTC): no time-zone shift.
  SYSTEMTIME fields{};
  DATE date = 0;
  SYSTEMTIME back{};
  if (!FileTimeToSystemTime(&time, &fields) || !SystemTimeToVariantTime(&fields, &date) ||
      !VariantTimeToSystemTime(date, &back) || !SameFields(fields, back))
    return u"Invalid DateTime";
  std::u16string out;
  // wcsftime gives nothing when the result does not fit in 256 characters.
  if (!platform::FormatCalendarTime(fields, format, 256, out)) return {};
  return out;
}
