#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
using platform::FormatBounded;
using platform::FormatW;

// Decoding: the shortest form of each length up to U+10FFFF is taken; overlong
// forms, truncated sequences, stray continuation bytes, encoded surrogates and
// values past U+10FFFF become replacement characters.
TEST(Utf, DecodesShortestFormsOnlyAndEncodesBack) {
  const std::pair<const char*, std::u16string> cases[] = {
      {"a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", u"a\u00e9\u4e2d\U0001F600"},
      {"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\u0080\u0800\U00010000\U0010FFFF"},
      {"\xC0\xAFx", u"\uFFFD\uFFFDx"},
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"a\xE4\xB8", u"a\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(utf16, platform::Utf8ToUtf16(utf8)) << utf8;
    if (utf16.find(u'\uFFFD') == std::u16string::npos) {
      EXPECT_EQ(utf8, platform::Utf16ToUtf8(utf16));
    }
  }
  EXPECT_EQ("\xEF\xBF\xBD", platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))));
}

TEST(Text, ParsesLeadingDigitsLikeWtol) {
  // Digits after text, none and empty text are seen through the attachment id.
  EXPECT_EQ(-7, platform::ParseLongPrefix(u"  -7"));
  EXPECT_EQ(2147483647, platform::ParseLongPrefix(u"99999999999999999999"));
  EXPECT_EQ(u"a b", platform::Trim(u" \t a b \r\n"));
  EXPECT_TRUE(platform::EqualsNoCase(u"DivedOzuvizizi", u"divedOZUVIZIZI"));
  EXPECT_TRUE(platform::EqualsNoCase(u"\u00c9T\u00c9", u"\u00e9t\u00e9"));
}

TEST(Format, WritesTheConversionsTheTextsUse) {
  EXPECT_EQ(u"a=x b=-5 c=7 d=ff e=FF f=0A g=Z %", FormatW(u"a=%s b=%d c=%i d=%x e=%X f=%02X g=%c %%",
                                                         u"x", -5, 7L, 255u, 255u, 10, u'Z'));
  EXPECT_EQ(u"[x%0lX] 80004005", FormatW(u"[x%%0lX] %0lX", static_cast<unsigned long>(0x80004005u)));
  EXPECT_EQ(u"(null)|  ab|ab  |007", FormatW(u"%s|%4s|%-4s|%03d", static_cast<const char16_t*>(nullptr),
                                             u"ab", u"ab", 7));
  EXPECT_EQ(u"ffffffff", FormatW(u"%x", -1));  // 32-bit view of a negative number
  EXPECT_EQ(u"100%", FormatW(u"100%%"));
}

TEST(Format, WrongOrMissingArgumentsRaiseInsteadOfReadingGarbage) {
  EXPECT_THROW(FormatW(u"%d", u"text"), CInvalidArgException);
  EXPECT_THROW(FormatW(u"%s", 5), CInvalidArgException);
  EXPECT_THROW(FormatW(u"%s %s", u"one"), CInvalidArgException);
  EXPECT_THROW(FormatW(u"%q", 1), CInvalidArgException);
}

TEST(Format, BoundedFormCutsToTheBufferLessOne) {
  std::u16string longText(6000, u'a');
  auto cut = FormatBounded(5012, u"x=%s", longText);
  EXPECT_EQ(5011u, cut.size());
  EXPECT_EQ(u"x=aa", cut.substr(0, 4));
  EXPECT_EQ(u"short", FormatBounded(2048, u"short"));
  EXPECT_EQ(u"", FormatBounded(1, u"abc"));
}

TEST(Exceptions, ComErrorTextsFollowTheSystemThenDispatchThenUnknownRule) {
  EXPECT_EQ(u"Unspecified error", CComError(E_FAIL).ErrorMessage());
  EXPECT_EQ(u"IDispatch error #3", CComError(MakeHr(0x80040203)).ErrorMessage());
  EXPECT_EQ(u"Unknown error 0x80991234", CComError(MakeHr(0x80991234)).ErrorMessage());
}

}  // namespace

namespace {
TEST(Text, HtmlEscapeEscapesTheFiveMarkupCharactersInBothWidths) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"<a href='x'>&\"</a>", "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;"},
      {"&amp;", "&amp;amp;"},  // escaped again, never taken as an entity
      {"\xC3\x9Cn\xC3\xAF" "code stays", "\xC3\x9Cn\xC3\xAF" "code stays"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.out, platform::HtmlEscape(std::string_view(c.in))) << c.in;
    EXPECT_EQ(platform::U16(c.out), platform::HtmlEscape(platform::U16(c.in))) << c.in;
  }
  // UTF-16 text keeps NUL and surrogates as they are.
  const std::u16string odd{u'a', u'\0', char16_t(0xD83D), char16_t(0xDE00), u'<'};
  EXPECT_EQ((std::u16string{u'a', u'\0', char16_t(0xD83D), char16_t(0xDE00)} + u"&lt;"),
            platform::HtmlEscape(odd));
}

TEST(Text, ReplaceAllDoesNotRescanWhatItPutIn) {
  std::u16string s = u"a&b&&c";
  platform::ReplaceAll(s, u"&", u"&amp;");
  EXPECT_EQ(u"a&amp;b&amp;&amp;c", s);
  std::u16string t = u"aaaa";
  platform::ReplaceAll(t, u"aa", u"a");
  EXPECT_EQ(u"aa", t);
  std::u16string u = u"xyz";
  platform::ReplaceAll(u, u"", u"q");
  EXPECT_EQ(u"xyz", u);
}
}  // namespace
