#include "host/process_setup.h"

#include <gtest/gtest.h>

namespace {

TEST(ToUtf8Test, ConvertsValidText) {
  EXPECT_EQ(ToUtf8(L"plain"), "plain");
  EXPECT_EQ(ToUtf8(L"h\u00e9 \u4e2d"), "h\xc3\xa9 \xe4\xb8\xad");
  // A surrogate pair is one four-byte character.
  EXPECT_EQ(ToUtf8(L"\xd83d\xde00"), "\xf0\x9f\x98\x80");
}

TEST(ToUtf8Test, NullAndEmptyGiveEmpty) {
  EXPECT_EQ(ToUtf8(nullptr), "");
  EXPECT_EQ(ToUtf8(L""), "");
}

TEST(ToUtf8Test, InvalidUtf16GivesEmptyNotReplacementCharacters) {
  EXPECT_EQ(ToUtf8(L"a\xd800z"), "");
  EXPECT_EQ(ToUtf8(L"\xdc00"), "");
  EXPECT_EQ(ToUtf8(L"ok\xd83d"), "");
}

}  // namespace
