// Whole pages kept byte for byte as reviewed files: tests/golden/<name>.html.
// With LUMAREST_UPDATE_GOLDEN=1 in the environment a comparison rewrites the
// file with the page instead, for review with git diff.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace testing_support {

// Empty when the page's UTF-8 bytes equal the file (or the file was
// rewritten); else where the first difference lies, with context.
std::string GoldenMismatch(std::string_view name, std::u16string_view page);

inline ::testing::AssertionResult MatchesGolden(std::string_view name, std::u16string_view page) {
  std::string mismatch = GoldenMismatch(name, page);
  if (mismatch.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << mismatch;
}

}  // namespace testing_support
