#include "platform/text.h"

#include <gtest/gtest.h>

namespace zel::platform {
namespace {

TEST(TextTest, RoundTripsUtf8) {
  const std::string text = "Telviska \xE5\xBE\xAE\xE8\xBD\xAF \xF0\x9F\x98\x80";
  std::wstring wide = Utf8ToWide(text);
  EXPECT_EQ(wide.size(), 13u);
  EXPECT_EQ(WideToUtf8(wide), text);
}

TEST(TextTest, InvalidSequencesBecomeReplacement) {
  struct Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {"a\xFF"
       "b",
       L"a\uFFFDb"},
      {"\xC3", L"\uFFFD"},                      // truncated
      {"\xC0\xAF", L"\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // surrogate
  };
  for (const Case& c : cases)
    EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.in;
}

TEST(TextTest, SplitNonEmptyLeavesOutEmptyPieces) {
  struct Case {
    const char* text;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", {}},
      {"/", {}},
      {"a", {"a"}},
      {"/home//user/", {"home", "user"}},
      {"a/b/c", {"a", "b", "c"}},
      {" / ", {" ", " "}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitNonEmpty(c.text, '/'), c.pieces) << c.text;
}

}  // namespace
}  // namespace zel::platform
