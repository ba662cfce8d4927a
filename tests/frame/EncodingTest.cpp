#include "frame/Encoding.h"

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "platform/Time.h"

namespace {

TEST(UrlSafeEncoding, EncodesWithPadsAndTheUnderscoreStarAlphabet) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"abc", u"YWJj"}, {u"ab", u"YWI-"},  // two bytes: three characters and one pad
      {u"a", u"YQ--"},   {u"", u""},
      {u"\u00FF", u"w78-"},  // C3 BF: 110000 111011 1111(00)
      {u"\uFFFF", u"77_*"},  // EF BF BF: values 59 59 62 63
      {u"?>", u"Pz4-"},      // 3F 3E: 001111 110011 1110(00)
      {u"\U0001F600", u"8J_YgA--"}};  // a surrogate pair: F0 9F 98 80
  for (const auto& [text, encoded] : cases) {
    EXPECT_EQ(encoded, EncodeUrlSafe(text)) << platform::U8(text);
    EXPECT_EQ(text, DecodeUrlSafe(encoded)) << platform::U8(encoded);
  }
  EXPECT_EQ(u"", EncodeUrlSafe(static_cast<const char16_t*>(nullptr)));
}

TEST(UrlSafeEncoding, DecodeSkipsPadsAndRefusesForeignCharacters) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"YWI", u"ab"},         // missing pad
      {u"-Y-W-J-j-", u"abc"},  // "-" skipped wherever it stands
      {u"-", u""}, {u"----", u""},
      {u"Y", u""},  // six bits make no byte
      {u"YW+j", u""}, {u"YW/j", u""}, {u"YWJ=", u""}, {u"YW%j", u""},
      {std::u16string(u"YW\0j", 4), u""}, {u"YWJj ", u""},
      // High characters are read by their low seven bits: 'Y' 'W' 'J' 'j',
      // then '-' (skipped like the pad) and '+' (invalid).
      {u"\u00D9\u0157\uFF4A\u00EA", u"abc"}, {u"YW\u00ADJj", u"abc"}, {u"YW\u00ABJj", u""},
      // "_*" is byte 0xFB: not UTF-8, so U+FFFD, never more characters than input.
      {u"_*--", u"\uFFFD"}};
  for (const auto& [encoded, text] : cases) EXPECT_EQ(text, DecodeUrlSafe(encoded)) << platform::U8(encoded);
}

FILETIME At(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

TEST(MailTime, FormatsWithoutTimeZoneShift) {
  FILETIME ft = At(2024, 3, 5, 14, 7, 9);
  EXPECT_EQ(u"2024-03-05 14:07:09", FormatMailTime(ft, u"%Y-%m-%d %H:%M:%S"));
  EXPECT_EQ(u"Tue 05 Mar 2024", FormatMailTime(ft, u"%a %d %b %Y"));
  EXPECT_EQ(u"100% 14", FormatMailTime(ft, u"100%% %H"));
}

TEST(MailTime, RangeEdges) {
  EXPECT_EQ(u"1601-01-01 00:00:00", FormatMailTime(FILETIME{0, 0}, u"%Y-%m-%d %H:%M:%S"));
  EXPECT_EQ(u"9999-12-31 23:59:59", FormatMailTime(At(9999, 12, 31, 23, 59, 59), u"%Y-%m-%d %H:%M:%S"));
  // Year 10000 has no OLE date.
  EXPECT_EQ(u"Invalid DateTime", FormatMailTime(At(10000, 1, 1, 0, 0, 0), u"%c"));
  // Values with the top bit set have no calendar fields at all.
  EXPECT_EQ(u"Invalid DateTime", FormatMailTime(FILETIME{0, 0x80000000u}, u"%c"));
  EXPECT_EQ(u"Invalid DateTime", FormatMailTime(FILETIME{0xFFFFFFFFu, 0x7FFFFFFFu}, u"%c"));
}

TEST(MailTime, ResultLongerThan256CharactersIsDropped) {
  FILETIME ft = At(2024, 3, 5, 14, 7, 9);
  std::u16string format(250, u'x');
  EXPECT_EQ(format, FormatMailTime(ft, format));        // 250 + terminator fits
  EXPECT_EQ(std::u16string(250, u'x') + u"2024", FormatMailTime(ft, std::u16string(250, u'x') + u"%Y"));
  EXPECT_EQ(u"", FormatMailTime(ft, std::u16string(253, u'x') + u"%Y"));  // 257 does not
  EXPECT_EQ(u"", FormatMailTime(ft, u""));
}

}  // namespace
