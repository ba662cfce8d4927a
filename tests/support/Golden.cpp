// Built into the fixtures library, which is built without GoogleTest too:
// the gtest wrapper stays in Golden.h.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace testing_support {
namespace {

// Bytes shown with control characters escaped, so \r\n differences show.
std::string Shown(const std::string& bytes, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < std::min(to, bytes.size()); ++i) {
    char c = bytes[i];
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

}  // namespace

std::string GoldenMismatch(std::string_view name, std::u16string_view page);
std::string GoldenMismatch(std::string_view name, std::u16string_view page) {
  const std::string path = std::string(LUMAREST_GOLDEN_DIR) + "/" + std::string(name) + ".html";
  const std::string actual = platform::Utf16ToUtf8(page);
  const char* update = std::getenv("LUMAREST_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << actual;
    return out ? std::string() : "cannot write " + path;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return "no golden file " + path + " (LUMAREST_UPDATE_GOLDEN=1 writes it)";
  const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (expected == actual) return {};
  const auto diff = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const std::size_t at = static_cast<std::size_t>(diff.first - expected.begin());
  const std::size_t from = at > 60 ? at - 60 : 0;
  return path + ": first difference at byte " + std::to_string(at) + " (golden " +
         std::to_string(expected.size()) + " bytes, page " + std::to_string(actual.size()) +
         ")\n  golden: ..." + Shown(expected, from, at + 60) + "\n  page:   ..." +
         Shown(actual, from, at + 60) + "\n  " + std::string(11 + Shown(expected, from, at).size(), ' ') +
         "^ (LUMAREST_UPDATE_GOLDEN=1 rewrites the file for review)";
}

}  // namespace testing_support
