// What reaches a page: encoding, names for cached attachment files, text
// from HTML.
#include <gtest/gtest.h>

#include "mailbridge/mime/HtmlText.h"

using namespace mailbridge;

namespace {

TEST(HtmlEncode, EveryMarkupCharacterIncludingBothQuotes) {
  EXPECT_EQ(HtmlEncode("<a href=\"x\" title='y'>&</a>"),
            "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(HtmlEncode("Ünïcode stays"), "Ünïcode stays");
  EXPECT_EQ(HtmlDecode(HtmlEncode("O'Brien & <Sons> \"Ltd\"")), "O'Brien & <Sons> \"Ltd\"");
  EXPECT_EQ(HtmlDecode("&#x41;&#66;&bogus;&"), "AB&bogus;&");
}

// Letters of any script and the allowed marks stay; nothing climbs out or
// comes out empty.
TEST(SafeFileName, KeepsLettersAndMarksNeverClimbsOutOrComesOutEmpty) {
  const std::pair<std::string, std::string> cases[] = {
      {"Report (final) v1.2_a-b.pdf", "Report (final) v1.2_a-b.pdf"},
      {"Отчёт 報告.docx", "Отчёт 報告.docx"},
      {"a<b>\"c'd/e\\f:g.txt", "a_b__c_d_e_f_g.txt"},
      {"tab\there\x01.txt", "tab_here_.txt"},
      {"../../etc/passwd", "_.._etc_passwd"},
      {"..", "attachment"},
      {"", "attachment"},
      {std::string("a\0b", 3), "a_b"},
      {"/", "_"},
  };
  for (const auto& [name, safe] : cases) EXPECT_EQ(SafeFileName(name), safe) << name;
  EXPECT_LE(SafeFileName(std::string(400, 'x')).size(), 150u);
  // Cut on a character boundary: the result stays valid UTF-8.
  std::string longCyrillic;
  for (int i = 0; i < 100; ++i) longCyrillic += "ж";
  EXPECT_EQ(SafeFileName(longCyrillic).size() % 2, 0u);
}

TEST(HtmlToText, BlocksBecomeLinesAndHiddenPartsGo) {
  EXPECT_EQ(HtmlToText("<div>one</div><div>two<br>three</div>"), "one\ntwo\nthree");
  EXPECT_EQ(HtmlToText("<!-- secret --><title>T</title>shown"), "shown");
  EXPECT_EQ(HtmlToText("a   b\n\n c"), "a b c");
  EXPECT_EQ(HtmlToText("<table><tr><td>x</td><td>y</td></tr></table>"), "x y");
  EXPECT_EQ(HtmlToText("unterminated <b"), "unterminated");
}

TEST(MakeValidUtf8, InvalidBytesReadAsWindows1252) {
  EXPECT_EQ(MakeValidUtf8("\x93quoted\x94"), "\u201Cquoted\u201D");
  EXPECT_EQ(MakeValidUtf8("ok"), "ok");
  EXPECT_EQ(MakeValidUtf8(std::string("a\0b", 3)), "ab");
}

TEST(TruncateUtf16Units, CountsSurrogatePairsAsTwo) {
  EXPECT_EQ(TruncateUtf16Units("abc", 2), "ab");
  EXPECT_EQ(TruncateUtf16Units("a😀b", 2), "a");
  EXPECT_EQ(TruncateUtf16Units("a😀b", 3), "a😀");
  EXPECT_EQ(TruncateUtf16Units("ж", 5), "ж");
}

}  // namespace
