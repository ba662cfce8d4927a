// UTF-16 text helpers: conversion to and from UTF-8, lengths, case folding.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace platform {

// Invalid input sequences become U+FFFD; nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Appends a code point up to U+10FFFF: one unit, or a surrogate pair above U+FFFF.
void AppendCodePoint(std::u16string& out, char32_t cp);
// Appends a code point up to U+10FFFF as one to four UTF-8 bytes.
void AppendUtf8(std::string& out, char32_t cp);

// Length of a NUL-terminated UTF-16 text; null counts as 0.
std::size_t TextLength(const char16_t* text);
// A view of a NUL-terminated text; null reads as empty.
inline std::u16string_view View(const char16_t* text) {
  return text ? std::u16string_view(text, TextLength(text)) : std::u16string_view();
}

// Lower-cases one UTF-16 unit (ASCII and the BMP letters the C library knows).
char16_t ToLowerUnit(char16_t c);
char16_t ToUpperUnit(char16_t c);
std::u16string ToLower(std::u16string_view text);
std::u16string ToUpper(std::u16string_view text);
// Case-insensitive comparison, like _wcsicmp.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
inline bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return CompareNoCase(a, b) == 0;
}
// White space as iswspace sees it in the C locale plus NBSP-free ASCII blanks.
bool IsSpace(char16_t c);
std::u16string Trim(std::u16string_view text);

// Replaces every occurrence of what by with, left to right, without
// rescanning what was put in; one pass, so hostile input stays linear.
void ReplaceAll(std::u16string& text, std::u16string_view what, std::u16string_view with);

// Escapes the five characters that HTML text or a quoted attribute value
// must not carry raw: & < > " ' become &amp; &lt; &gt; &quot; &#39;.
// Everything else passes unchanged. One rule for UTF-16 and UTF-8 text.
std::u16string HtmlEscape(std::u16string_view text);
std::string HtmlEscape(std::string_view text);

// Leading optional sign and decimal digits, like _wtol/_wtoi: none gives 0.
long ParseLongPrefix(std::u16string_view text);

inline std::u16string U16(std::string_view utf8) { return Utf8ToUtf16(utf8); }
inline std::string U8(std::u16string_view utf16) { return Utf16ToUtf8(utf16); }

}  // namespace platform
