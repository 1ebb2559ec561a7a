#include "platform/bounded_format.h"

#include <gtest/gtest.h>

#include <string>

TEST(BoundedFormat, FormatsNumbersTextsAndPadding) {
  char16_t out[64];
  ASSERT_EQ(BoundedFormat(out, 64, u"%04d/%02d %s,%d%%", {7, 3, u"lpxInitialize", -101}), kFormatOk);
  EXPECT_EQ(std::u16string(out), u"0007/03 lpxInitialize,-101%");
  char narrow[32];
  ASSERT_EQ(BoundedFormat(narrow, 32, "%d|%03d", {INT32_MIN, -5}), kFormatOk);
  EXPECT_STREQ(narrow, "-2147483648|-05");
}

TEST(BoundedFormat, CutsAtTheCapacityAndAlwaysTerminates) {
  char16_t out[6];
  EXPECT_EQ(BoundedFormat(out, 6, u"ERROR: %d", {304}), kFormatTruncated);
  EXPECT_EQ(std::u16string(out), u"ERROR");
  char exact[4];
  EXPECT_EQ(BoundedFormat(exact, 4, "abc", {}), kFormatOk);
  EXPECT_STREQ(exact, "abc");
  EXPECT_EQ(BoundedFormat(exact, 4, "abcd", {}), kFormatTruncated);
  EXPECT_STREQ(exact, "abc");
}

TEST(BoundedFormat, RefusesZeroOrHugeCapacity) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(BoundedFormat(out, 0, "a", {}), kFormatInvalid);
  EXPECT_EQ(out[0], 'x');
  EXPECT_EQ(BoundedFormat(out, kFormatMaxChars + 1, "a", {}), kFormatInvalid);
}
