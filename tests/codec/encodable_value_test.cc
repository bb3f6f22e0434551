#include "embedding/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace flutter {
namespace {

TEST(EncodableValueTest, ATextLiteralIsTextNotTheBoolItsPointerConvertsTo) {
  EncodableValue text("abc");
  ASSERT_TRUE(std::holds_alternative<std::string>(text));
  EXPECT_EQ(std::get<std::string>(text), "abc");
  text = "xyz";
  EXPECT_EQ(std::get<std::string>(text), "xyz");
}

TEST(EncodableValueTest, CopiesAreDeepAndMovedFromValuesStayUsable) {
  EncodableValue original(
      EncodableList{EncodableValue("a"),
                    EncodableValue(EncodableMap{{EncodableValue(1), "one"}})});
  EncodableValue copy = original;
  std::get<EncodableMap>(std::get<EncodableList>(copy)[1])[EncodableValue(1)] =
      "changed";
  EXPECT_EQ(std::get<EncodableMap>(std::get<EncodableList>(original)[1])
                .at(EncodableValue(1)),
            EncodableValue("one"));

  EncodableValue moved = std::move(original);
  EXPECT_EQ(std::get<EncodableList>(moved).size(), 2u);
  original = EncodableValue(5);  // assignable again
  EXPECT_EQ(original, EncodableValue(5));
}

TEST(EncodableValueTest, AlternativeIndexOrdersFirst) {
  std::vector<EncodableValue> ascending = {
      EncodableValue(),
      EncodableValue(false),
      EncodableValue(true),
      EncodableValue(100),
      EncodableValue(int64_t{-100}),
      EncodableValue(-1e300),
      EncodableValue(""),
      EncodableValue(std::vector<uint8_t>{}),
      EncodableValue(std::vector<int32_t>{}),
      EncodableValue(std::vector<int64_t>{}),
      EncodableValue(std::vector<double>{}),
      EncodableValue(EncodableList{}),
      EncodableValue(EncodableMap{}),
      EncodableValue(CustomValue(0)),
      EncodableValue(std::vector<float>{}),
  };
  for (size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(ascending[i], ascending[i + 1]) << i;
    EXPECT_FALSE(ascending[i + 1] < ascending[i]) << i;
  }
  // A 32-bit and a 64-bit 5 are different keys.
  EncodableMap map{{EncodableValue(5), "int32"},
                   {EncodableValue(int64_t{5}), "int64"}};
  EXPECT_EQ(map.size(), 2u);
}

TEST(EncodableValueTest, ValuesWithinAnAlternativeOrderAsDescribed) {
  EXPECT_FALSE(EncodableValue() < EncodableValue());
  EXPECT_LT(EncodableValue(-3), EncodableValue(2));
  EXPECT_LT(EncodableValue(int64_t{-3}), EncodableValue(int64_t{2}));
  EXPECT_LT(EncodableValue(-0.5), EncodableValue(0.25));
  // Bytes compare unsigned, so 0x80 follows 'z'; a proper prefix first.
  EXPECT_LT(EncodableValue("z"), EncodableValue("\x80"));
  EXPECT_LT(EncodableValue("ab"), EncodableValue("abc"));
  EXPECT_LT(EncodableValue(std::vector<uint8_t>{0x7f}),
            EncodableValue(std::vector<uint8_t>{0x80}));
  EXPECT_LT(EncodableValue(std::vector<int32_t>{-1, 9}),
            EncodableValue(std::vector<int32_t>{0}));
  EXPECT_LT(EncodableValue(std::vector<int64_t>{1}),
            EncodableValue(std::vector<int64_t>{1, 0}));
  EXPECT_LT(EncodableValue(std::vector<float>{-1.f}),
            EncodableValue(std::vector<float>{1.f}));
  // Lists compare element by element with the value ordering.
  EXPECT_LT(EncodableValue(EncodableList{EncodableValue(9)}),
            EncodableValue(EncodableList{EncodableValue(int64_t{0})}));
  EXPECT_LT(EncodableValue(EncodableList{EncodableValue(1)}),
            EncodableValue(EncodableList{EncodableValue(1), EncodableValue()}));
  // Maps compare entry by entry: the key first, then the value.
  EncodableValue small_key(
      EncodableMap{{EncodableValue(1), EncodableValue(9)}});
  EncodableValue large_key(
      EncodableMap{{EncodableValue(2), EncodableValue(0)}});
  EncodableValue large_value(
      EncodableMap{{EncodableValue(1), EncodableValue(10)}});
  EXPECT_LT(small_key, large_key);
  EXPECT_LT(small_key, large_value);
  EXPECT_LT(large_value, large_key);
  // Zeros of either sign are one key; NaN follows every number.
  EXPECT_FALSE(EncodableValue(-0.0) < EncodableValue(0.0));
  EXPECT_FALSE(EncodableValue(0.0) < EncodableValue(-0.0));
  EncodableValue nan(std::numeric_limits<double>::quiet_NaN());
  EXPECT_LT(EncodableValue(std::numeric_limits<double>::infinity()), nan);
  EXPECT_FALSE(nan < EncodableValue(1.0));
  EXPECT_FALSE(nan < nan);
}

// Maps need a strict weak order: irreflexive, transitive, and with
// incomparability transitive too. NaN under plain < breaks the last one
// (NaN would be "equal" to both 1 and 2).
TEST(EncodableValueTest, OrderingStaysStrictWeakWithNaNs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double other_nan = -nan;  // another bit pattern
  const float fnan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<EncodableValue> values = {
      EncodableValue(1.0),
      EncodableValue(2.0),
      EncodableValue(-inf),
      EncodableValue(inf),
      EncodableValue(nan),
      EncodableValue(other_nan),
      EncodableValue(-0.0),
      EncodableValue(0.0),
      EncodableValue(std::vector<double>{nan}),
      EncodableValue(std::vector<double>{1.0}),
      EncodableValue(std::vector<double>{nan, 1.0}),
      EncodableValue(std::vector<double>{nan, 2.0}),
      EncodableValue(std::vector<float>{fnan}),
      EncodableValue(std::vector<float>{1.f}),
      EncodableValue(EncodableList{EncodableValue(nan)}),
      EncodableValue(EncodableList{EncodableValue(3.0)}),
  };
  auto equivalent = [](const EncodableValue& a, const EncodableValue& b) {
    return !(a < b) && !(b < a);
  };
  for (const auto& a : values) {
    EXPECT_FALSE(a < a);
    for (const auto& b : values) {
      EXPECT_FALSE(a < b && b < a);
      for (const auto& c : values) {
        if (a < b && b < c) {
          EXPECT_TRUE(a < c);
        }
        if (equivalent(a, b) && equivalent(b, c)) {
          EXPECT_TRUE(equivalent(a, c));
        }
      }
    }
  }
  // Each NaN bit pattern is its own key; equal NaNs are one key.
  EncodableMap map;
  for (const auto& v : values) map.emplace(v, EncodableValue(true));
  EXPECT_EQ(map.size(), values.size() - 1);  // -0.0 and 0.0 are one key
  EXPECT_EQ(map.count(EncodableValue(std::vector<double>{nan})), 1u);
}

TEST(EncodableValueTest, CustomValuesHoldAnyTypeAndCompareByAddress) {
  struct Point {
    int x;
    int y;
  };
  CustomValue point(Point{1, 2});
  ASSERT_NE(point.TryGet<Point>(), nullptr);
  EXPECT_EQ(point.TryGet<Point>()->y, 2);
  EXPECT_EQ(point.TryGet<int>(), nullptr);
  EXPECT_TRUE(point.type() == typeid(Point));

  // A copy holds its own object: equal contents, yet a distinct value.
  CustomValue copy = point;
  ASSERT_NE(copy.TryGet<Point>(), nullptr);
  EXPECT_EQ(copy.TryGet<Point>()->x, 1);
  EXPECT_NE(copy.address(), point.address());
  EncodableValue a(point), b(copy);
  EXPECT_NE(a, b);
  EXPECT_EQ(a < b,
            std::less<const void*>()(std::get<CustomValue>(a).address(),
                                     std::get<CustomValue>(b).address()));
  EXPECT_NE(a < b, b < a);
  EXPECT_EQ(a, a);

  // Moving keeps the held object where it is.
  const void* address = point.address();
  CustomValue moved = std::move(point);
  EXPECT_EQ(moved.address(), address);
}

}  // namespace
}  // namespace flutter
