// Every string id the component can load exists in every shipped satellite,
// each satellite parses, and a translation keeps the format conversions of
// the English text so that formatting it cannot go wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "platform/Resources.h"
#include "platform/Text.h"
#include "portal/Util.h"

namespace portal_test {
namespace {

namespace fs = std::filesystem;

const fs::path kSatellites = fs::path(LUMAREST_PORTAL_SOURCE_DIR) / "satellites";

std::multimap<std::string, UINT> RequiredIds() {
  std::multimap<std::string, UINT> ids;
  std::ifstream in(fs::path(LUMAREST_TEST_DATA) / "string-ids.txt");
  std::string base;
  UINT id;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    if (ls >> base >> id) ids.emplace(base, id);
  }
  return ids;
}

platform::StringTable Load(const fs::path& file) {
  std::string text;
  EXPECT_TRUE(portal::ReadFile(file, text)) << file;
  return platform::ParseStringTable(text, file.string());
}

// The printf conversions of a text, in order ("%%" is not one).
std::vector<std::string> Conversions(const std::u16string& text) {
  std::vector<std::string> out;
  std::string s = platform::U8(text);
  std::regex conv("%(%|0?l?[sdicxX])");
  for (auto it = std::sregex_iterator(s.begin(), s.end(), conv); it != std::sregex_iterator(); ++it)
    if ((*it)[1] != "%") out.push_back((*it)[1]);
  return out;
}

TEST(Satellites, EveryLoadedIdIsInEveryLanguage) {
  auto ids = RequiredIds();
  ASSERT_GT(ids.size(), 90u);
  for (const char* base : {"quorraFax", "quorraCore"})
    for (const char* lang : {"en", "fr", "de"}) {
      fs::path file = kSatellites / (std::string(base) + "_" + lang + ".strings");
      auto table = Load(file);
      auto range = ids.equal_range(base);
      for (auto it = range.first; it != range.second; ++it) {
        auto found = table.find(it->second);
        ASSERT_NE(found, table.end()) << file.filename() << " lacks " << it->second;
        EXPECT_FALSE(found->second.empty()) << file.filename() << " " << it->second;
      }
    }
}

TEST(Satellites, TranslationsKeepTheFormatConversions) {
  for (const char* base : {"quorraFax", "quorraCore"}) {
    auto en = Load(kSatellites / (std::string(base) + "_en.strings"));
    for (const char* lang : {"fr", "de"}) {
      auto other = Load(kSatellites / (std::string(base) + "_" + lang + ".strings"));
      for (const auto& [id, text] : en)
        EXPECT_EQ(Conversions(other[id]), Conversions(text)) << base << "_" << lang << " " << id;
    }
  }
}

TEST(Satellites, OpenTextsCarryTheFieldsThePagesPost) {
  for (const char* lang : {"en", "fr", "de"}) {
    auto t = Load(kSatellites / (std::string("quorraFax_") + lang + ".strings"));
    std::string picker = platform::U8(t[3239]);
    for (const char* field : {"name=Contacts", "name=ContactSource", "name=Search", "value='0'"})
      EXPECT_NE(picker.find(field), std::string::npos) << lang << " 3239 " << field;
    EXPECT_EQ(Conversions(t[3239]), (std::vector<std::string>{"s", "s", "s", "s", "s"}));
    std::string search = platform::U8(t[3240]);
    EXPECT_NE(search.find("name='SearchType'"), std::string::npos) << lang;
    // The listing compares the posted value with "Show All" in every language.
    EXPECT_NE(search.find("name='Show All' value='Show All'"), std::string::npos) << lang;
    EXPECT_EQ(Conversions(t[3257]).size(), 5u);
    // The alert text stands inside a double-quoted script string.
    EXPECT_EQ(platform::U8(t[3238]).find_first_of("\"\\\n"), std::string::npos) << lang;
  }
}

}  // namespace
}  // namespace portal_test
