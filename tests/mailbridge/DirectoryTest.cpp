// Reading the directory files and matching typed names against them.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "mailbridge/directory/Directory.h"

using namespace mailbridge;

namespace {

const std::string kVCards = mbtest::Data("vcards.vcf");

TEST(VCard, NamesAddressesFoldingAndEncodings) {
  std::vector<std::string> got;
  for (const auto& e : ReadVCardText(kVCards)) {
    got.push_back(e.displayName + "|" + e.givenName + "|" + e.familyName + "|" + e.nickname + "|" + e.email + "|" +
                  e.organization);
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "Joanna Smith|Joanna|Smith|jo|joanna@example.org|Acme, Inc.",  // the preferred address
                     "Jürgen Müller|Jürgen|Müller||jm@example.org|", "Folded Name|||||"}));
}

TEST(Ldif, EntriesBase64ValuesAndComments) {
  const char* ldif =
      "# directory export\n"
      "dn: cn=Ann Lee,dc=example\ncn: Ann Lee\ngivenName: Ann\nsn: Lee\nmail: ann@example.org\n\n"
      "dn: cn=x\ncn:: SsO8cmdlbg==\nmail: j@example.org\n continued\n\n"
      "dn: cn=nothing\n\n";
  auto list = ReadLdifText(ldif);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].displayName, "Ann Lee");
  EXPECT_EQ(list[0].email, "ann@example.org");
  EXPECT_EQ(list[1].displayName, "Jürgen");
  EXPECT_EQ(list[1].email, "j@example.orgcontinued");
}

TEST(Matching, SubstringWordsAndExactResolution) {
  auto list = ReadVCardText(kVCards);
  const DirectoryEntry& jo = list[0];
  const std::pair<const char*, bool> substring[] = {{"ANN", true}, {"", true}, {"smith joanna", false}},
                                     words[] = {{"smith joanna", true}, {"smith bob", false}},
                                     exact[] = {{"joanna smith", true}, {"JO", true}, {"joanna", true},  // local part
                                                {"joan", false},        {"  ", false}};
  for (const auto& [text, hit] : substring) EXPECT_EQ(Matches(jo, text, MatchMode::Substring), hit) << text;
  for (const auto& [text, hit] : words) EXPECT_EQ(Matches(jo, text, MatchMode::AllWords), hit) << text;
  for (const auto& [text, hit] : exact) EXPECT_EQ(ResolvesExactly(jo, text), hit) << text;
  EXPECT_TRUE(Matches(list[1], "müller", MatchMode::Substring));
}

}  // namespace
