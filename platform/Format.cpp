#include "platform/Format.h"

#include <iterator>

#include "platform/Exceptions.h"

namespace platform {

namespace {
std::u16string Digits(unsigned long long v, unsigned base, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char16_t digits[64];  // enough for 64 bits in base 8
  char16_t* end = digits + std::size(digits);
  char16_t* at = end;
  do {
    *--at = static_cast<char16_t>(set[v % base]);
    v /= base;
  } while (v);
  return std::u16string(at, end);
}

[[noreturn]] void Fail(const char16_t* what) {
  throw CInvalidArgException(std::u16string(u"Bad format argument: ") + what);
}
}  // namespace

std::u16string FormatV(std::u16string_view f, std::initializer_list<FormatArg> args) {
  std::u16string out;
  std::size_t room = f.size() + 16;
  for (const auto& a : args) room += a.kind() == FormatArg::Kind::Text ? a.Text().size() : 20;
  out.reserve(room);
  auto next = args.begin();
  for (std::size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c != u'%') {
      // Literal text up to the next "%" is copied in one piece.
      std::size_t percent = f.find(u'%', i);
      if (percent == std::u16string_view::npos) percent = f.size();
      out.append(f.substr(i, percent - i));
      i = percent - 1;
      continue;
    }
    if (++i >= f.size()) {
      out.push_back(u'%');  // a lone trailing percent is written as it stands
      break;
    }
    if (f[i] == u'%') {
      out.push_back(u'%');
      continue;
    }
    bool left = false, zero = false, plus = false, blank = false, alt = false;
    for (; i < f.size(); ++i) {
      if (f[i] == u'-') left = true;
      else if (f[i] == u'0') zero = true;
      else if (f[i] == u'+') plus = true;
      else if (f[i] == u' ') blank = true;
      else if (f[i] == u'#') alt = true;
      else break;
    }
    std::size_t width = 0;
    while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') width = width * 10 + (f[i++] - u'0');
    long precision = -1;
    if (i < f.size() && f[i] == u'.') {
      ++i;
      precision = 0;
      while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') precision = precision * 10 + (f[i++] - u'0');
    }
    while (i < f.size() && (f[i] == u'l' || f[i] == u'h' || f[i] == u'w' || f[i] == u'L'))
      ++i;
    if (i >= f.size()) Fail(u"incomplete conversion");
    char16_t conv = f[i];
    if (next == args.end()) Fail(u"missing argument");
    const FormatArg& a = *next++;
    if ((conv == u's' || conv == u'S') && width == 0 && a.kind() == FormatArg::Kind::Text) {
      // Plain text in its place, cut to the precision: no padding to work out.
      std::u16string_view text = a.Text();
      if (precision >= 0 && text.size() > static_cast<std::size_t>(precision)) text = text.substr(0, precision);
      out.append(text);
      continue;
    }
    std::u16string body;
    std::u16string sign;
    switch (conv) {
      case u's':
      case u'S':
        if (a.kind() != FormatArg::Kind::Text) Fail(u"%s needs text");
        body = std::u16string(a.Text());
        if (precision >= 0 && body.size() > static_cast<std::size_t>(precision)) body.resize(precision);
        zero = false;
        break;
      case u'c':
      case u'C':
        if (a.kind() != FormatArg::Kind::Char && a.kind() != FormatArg::Kind::Signed &&
            a.kind() != FormatArg::Kind::Unsigned)
          Fail(u"%c needs a character");
        body.push_back(static_cast<char16_t>(a.Unsigned()));
        zero = false;
        break;
      case u'd':
      case u'i': {
        if (a.kind() == FormatArg::Kind::Text) Fail(u"%d needs a number");
        long long v = a.Signed();
        if (a.kind() == FormatArg::Kind::Unsigned) v = static_cast<int>(a.Unsigned());
        if (v < 0) sign = u"-";
        else if (plus) sign = u"+";
        else if (blank) sign = u" ";
        unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        body = Digits(mag, 10, false);
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        if (a.kind() == FormatArg::Kind::Text) Fail(u"%x needs a number");
        unsigned long long v = a.Unsigned();
        // 32-bit integers in this code base: keep the low 32 bits of negatives.
        if (a.kind() == FormatArg::Kind::Signed && a.Signed() < 0 && a.Signed() >= INT32_MIN)
          v &= 0xFFFFFFFFull;
        unsigned base = conv == u'u' ? 10 : conv == u'o' ? 8 : 16;
        body = Digits(v, base, conv == u'X');
        if (alt && v && base == 16) sign = conv == u'X' ? u"0X" : u"0x";
        break;
      }
      default:
        Fail(u"unknown conversion");
    }
    if (precision >= 0 && conv != u's' && conv != u'S' && conv != u'c' && conv != u'C') {
      while (body.size() < static_cast<std::size_t>(precision)) body.insert(body.begin(), u'0');
      zero = false;
    }
    std::size_t len = sign.size() + body.size();
    if (len < width) {
      std::size_t pad = width - len;
      if (left) {
        out += sign;
        out += body;
        out.append(pad, u' ');
      } else if (zero) {
        out += sign;
        out.append(pad, u'0');
        out += body;
      } else {
        out.append(pad, u' ');
        out += sign;
        out += body;
      }
    } else {
      out += sign;
      out += body;
    }
  }
  return out;
}

}  // namespace platform
