// printf-style formatting of UTF-16 formats: %s %d %i %u %ld %lu %x %X %0lX %c %%
// with flags (- 0 + blank #), width and precision. An argument of the wrong
// kind, or a missing one, raises CInvalidArgException: never undefined behaviour.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace platform {

class FormatArg {
 public:
  enum class Kind { Signed, Unsigned, Text, Char };
  FormatArg(int v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(long v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(long long v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(unsigned v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(char16_t c) : kind_(Kind::Char), u_(c) {}
  FormatArg(const char16_t* s) : kind_(Kind::Text), s_(s), null_(s == nullptr) {
    if (s) n_ = std::u16string_view(s).size();
  }
  FormatArg(char16_t* s) : FormatArg(static_cast<const char16_t*>(s)) {}
  FormatArg(const std::u16string& s) : kind_(Kind::Text), s_(s.data()), n_(s.size()) {}
  FormatArg(std::u16string_view s) : kind_(Kind::Text), s_(s.data()), n_(s.size()) {}
  FormatArg(bool) = delete;
  FormatArg(const char*) = delete;

  Kind kind() const { return kind_; }
  long long Signed() const { return kind_ == Kind::Signed ? i_ : static_cast<long long>(u_); }
  unsigned long long Unsigned() const {
    return kind_ == Kind::Signed ? static_cast<unsigned long long>(i_) : u_;
  }
  std::u16string_view Text() const { return null_ ? u"(null)" : std::u16string_view(s_, n_); }

 private:
  Kind kind_;
  long long i_ = 0;
  unsigned long long u_ = 0;
  const char16_t* s_ = nullptr;
  std::size_t n_ = 0;
  bool null_ = false;
};

std::u16string FormatV(std::u16string_view format, std::initializer_list<FormatArg> args);

template <class... A>
std::u16string FormatW(std::u16string_view format, const A&... args) {
  return FormatV(format, {FormatArg(args)...});
}

// Formats into a buffer of bufferChars characters: the result is cut to
// bufferChars - 1 characters (the buffer keeps its terminator).
template <class... A>
std::u16string FormatBounded(std::size_t bufferChars, std::u16string_view format,
                             const A&... args) {
  std::u16string s = FormatV(format, {FormatArg(args)...});
  std::size_t max = bufferChars ? bufferChars - 1 : 0;
  if (s.size() > max) s.resize(max);
  return s;
}

}  // namespace platform
