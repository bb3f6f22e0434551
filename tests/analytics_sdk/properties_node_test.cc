#include "analytics/sdk/properties_node.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using test_support::StreamCapture;

using utils::ObjectNode;
using utils::ValueKind;

std::string Json(const ObjectNode& node) {
  return ObjectNode::ToJsonString(node);
}

TEST(ObjectNodeTest, EmptyNodeWritesBraces) {
  EXPECT_EQ(Json(PropertiesNode()), "{}");
}

TEST(ObjectNodeTest, KeysComeOutInUnsignedByteOrder) {
  PropertiesNode node;
  node.SetInt("b", 1);
  node.SetInt("ab", 2);
  node.SetInt("\xC3\xA9", 3);  // a byte above 0x7F sorts after every letter
  node.SetInt("a", 4);
  node.SetInt("$lib", 5);
  node.SetInt("B", 6);
  node.SetInt("_", 7);
  EXPECT_EQ(Json(node),
            "{\"$lib\":5,\"B\":6,\"_\":7,\"a\":4,\"ab\":2,\"b\":1,"
            "\"\xC3\xA9\":3}");
}

TEST(ObjectNodeTest, ResettingAKeyKeepsOneEntryWithTheLastKindAndValue) {
  PropertiesNode node;
  node.SetString("k", "text");
  node.SetList("k", {"x"});
  node.SetBool("k", false);
  node.SetNumber("k", 2.5);
  ASSERT_EQ(node.size(), 1u);
  EXPECT_EQ(node.Find("k")->kind(), ValueKind::NUMBER);
  EXPECT_EQ(Json(node), "{\"k\":2.5}");
}

TEST(ObjectNodeTest, ValuesOfEveryScalarKind) {
  PropertiesNode node;
  node.SetNumber("n3", 3.0);
  node.SetNumber("n15", 1.5);
  node.SetNumber("n01", 0.1);
  node.SetNumber("n1e20", 1e20);
  node.SetNumber("n100", 100.0);
  node.SetNumber("nthird", 1.0 / 3.0);
  node.SetNumber("nneg", -0.000012345);
  node.SetInt("i", -42);
  node.SetInt("imin", std::numeric_limits<int64_t>::min());
  node.SetInt("imax", std::numeric_limits<int64_t>::max());
  node.SetBool("t", true);
  node.SetBool("f", false);
  node.SetList("l0", {});
  node.SetList("l2", {"a\"b", "\xE4\xB8\xAD"});
  EXPECT_EQ(Json(node),
            "{\"f\":false,\"i\":-42,\"imax\":9223372036854775807,"
            "\"imin\":-9223372036854775808,\"l0\":[],"
            "\"l2\":[\"a\\\"b\",\"\xE4\xB8\xAD\"],\"n01\":0.1,"
            "\"n100\":100,\"n15\":1.5,\"n1e20\":1e+20,\"n3\":3,"
            "\"nneg\":-1.2345e-05,\"nthird\":0.333333333333333,"
            "\"t\":true}");
}

TEST(ObjectNodeTest, NonFiniteNumbersBecomeJsonNull) {
  PropertiesNode node;
  node.SetNumber("inf", std::numeric_limits<double>::infinity());
  node.SetNumber("nan", std::nan(""));
  EXPECT_EQ(Json(node), "{\"inf\":null,\"nan\":null}");
}

// The text numbers had when each was written through a classic-locale
// stream with 15 digits of precision: the record text must not change.
std::string StreamText(double value) {
  std::ostringstream stream;
  stream.imbue(std::locale::classic());
  stream.precision(15);
  stream << value;
  return stream.str();
}

// Values around every decimal rounding edge: random bit patterns (every
// exponent, subnormals, NaN and infinity), short decimals, integers near
// 10^15..10^17 and neighbours of powers of ten. The count can be raised
// for a long one-off check with QUILLON_NUMBER_CHECK_COUNT.
TEST(ObjectNodeTest, NumbersMatchTheFifteenDigitStreamForm) {
  size_t count = 200000;
  if (const char* text = std::getenv("QUILLON_NUMBER_CHECK_COUNT")) {
    count = static_cast<size_t>(std::strtoull(text, nullptr, 10));
  }
  std::mt19937_64 random(20261208);
  auto next = [&](size_t i) -> double {
    const uint64_t bits = random();
    double value = 0;
    switch (i % 4) {
      case 0:
        std::memcpy(&value, &bits, sizeof(value));
        return value;
      case 1:
        return static_cast<double>(static_cast<int64_t>(bits % 2000001) -
                                   1000000) /
               std::pow(10.0, static_cast<double>(bits % 19));
      case 2:
        return static_cast<double>(bits % 400000000000000000ull) *
               ((bits >> 63) ? -1.0 : 1.0);
      default:
        return std::nextafter(
            std::pow(10.0,
                     static_cast<double>(static_cast<int>(bits % 617) - 308)),
            (bits >> 63) ? 0.0 : HUGE_VAL);
    }
  };
  size_t mismatches = 0;
  std::string first_mismatch;
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    const double value = next(i);
    PropertiesNode node;
    node.SetNumber("n", value);
    text.clear();
    node.ToJson(&text);
    const std::string expected =
        "{\"n\":" + (std::isfinite(value) ? StreamText(value) : "null") + "}";
    if (text != expected && mismatches++ == 0) {
      first_mismatch = text + " instead of " + expected;
    }
  }
  EXPECT_EQ(mismatches, 0u) << first_mismatch;
}

// A numpunct that writes numbers the German way.
class CommaNumpunct : public std::numpunct<char> {
 protected:
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

class ScopedGlobalLocale {
 public:
  explicit ScopedGlobalLocale(const std::locale& locale)
      : old_(std::locale::global(locale)) {}
  ~ScopedGlobalLocale() { std::locale::global(old_); }

 private:
  std::locale old_;
};

TEST(ObjectNodeTest, NumbersIgnoreTheGlobalCppLocale) {
  ScopedGlobalLocale german(
      std::locale(std::locale::classic(), new CommaNumpunct));
  PropertiesNode node;
  node.SetNumber("a", 1.5);
  node.SetNumber("b", 1234567.25);
  node.SetInt("c", 1234567);
  EXPECT_EQ(Json(node), "{\"a\":1.5,\"b\":1234567.25,\"c\":1234567}");
}

TEST(ObjectNodeTest, NumbersIgnoreTheCLocale) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE",
                         "German_Germany.1252", "German"};
  std::string old = std::setlocale(LC_ALL, nullptr);
  bool comma = false;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr &&
        std::localeconv()->decimal_point[0] == ',') {
      comma = true;
      break;
    }
  }
  if (!comma) {
    std::setlocale(LC_ALL, old.c_str());
    GTEST_SKIP() << "no C locale with a decimal comma on this machine";
  }
  PropertiesNode node;
  node.SetNumber("a", 0.1);
  node.SetNumber("b", 3.0);
  const std::string text = Json(node);
  std::setlocale(LC_ALL, old.c_str());
  EXPECT_EQ(text, "{\"a\":0.1,\"b\":3}");
}

void UseZoneThreeHoursEast() {
#ifdef _WIN32
  _putenv_s("TZ", "QQQ-3");
  _tzset();
#else
  setenv("TZ", "QQQ-3", 1);
  tzset();
#endif
}

TEST(ObjectNodeTest, DateTimeIsWrittenInLocalTimeWithMilliseconds) {
  UseZoneThreeHoursEast();
  ObjectNode node;
  node.SetDateTime("d", 1738299909, 5);     // 2025-01-31 05:05:09 UTC
  node.SetDateTime("e", 1738299909, 1234);  // printed as stored
  EXPECT_EQ(Json(node),
            "{\"d\":\"2025-01-31 08:05:09.005\","
            "\"e\":\"2025-01-31 08:05:09.1234\"}");
}

TEST(ObjectNodeTest, StringsAreEscapedOnlyWhereJsonNeedsIt) {
  ObjectNode node;
  node.SetString("s", "tab\tlf\ncr\rq\"bs\\\xE4\xB8\xAD\xE6\x96\x87/");
  node.SetList("l", {std::string("\b\f", 2)});
  EXPECT_EQ(Json(node),
            "{\"l\":[\"\\b\\f\"],"
            "\"s\":\"tab\\tlf\\ncr\\rq\\\"bs\\\\\xE4\xB8\xAD\xE6\x96\x87/\"}");
}

TEST(ObjectNodeTest, UncheckedKeysAndListItemsStillMakeValidJson) {
  // Keys and list items are not checked on the way in; what JSON cannot hold
  // raw is escaped (control characters) or replaced (broken UTF-8).
  ObjectNode node;
  node.SetList("l", {std::string("\x01\x1f\x7f", 3), "\xC0\xAF\xE4\xB8\xAD"});
  node.SetInt(std::string("k\x00\xFF", 3), 1);
  EXPECT_EQ(Json(node),
            "{\"k\\u0000\\ufffd\":1,"
            "\"l\":[\"\\u0001\\u001f\x7f\",\"\\ufffd\\ufffd\xE4\xB8\xAD\"]}");
}

TEST(ObjectNodeTest, ToJsonAppendsToExistingText) {
  ObjectNode node;
  node.SetBool("x", true);
  std::string text = "prefix:";
  node.ToJson(&text);
  EXPECT_EQ(text, "prefix:{\"x\":true}");
}

TEST(ObjectNodeTest, StringLengthLimitIsInclusiveAndKeepsTheOldValue) {
  PropertiesNode node;
  node.SetString("k", "old");
  const std::string fits(MAX_STRING_PROPERTY_LENGTH, 'a');
  const std::string too_long(MAX_STRING_PROPERTY_LENGTH + 1, 'b');
  {
    StreamCapture capture;
    node.SetString("k", too_long);
    EXPECT_EQ(capture.err(),
              "String property 'k' is too long, value: " + too_long + "\n");
    EXPECT_EQ(capture.out(), "");
  }
  EXPECT_EQ(std::get<std::string>(node.Find("k")->payload), "old");
  {
    StreamCapture capture;
    node.SetString("k", fits);
    EXPECT_EQ(capture.err(), "");
  }
  EXPECT_EQ(std::get<std::string>(node.Find("k")->payload), fits);
}

TEST(ObjectNodeTest, InvalidUtf8AndNullAreRefusedWithTheirMessages) {
  PropertiesNode node;
  node.SetString("k", "old");
  StreamCapture capture;
  node.SetString("k", std::string("a\x01", 2));
  node.SetString("k", static_cast<const char*>(nullptr));
  EXPECT_EQ(capture.err(),
            "String property 'k' is not valid UTF-8 string, value: a\x01\n"
            "String property 'k' value is NULL\n");
  EXPECT_EQ(std::get<std::string>(node.Find("k")->payload), "old");
  node.SetString("c", "from a C string");
  EXPECT_EQ(std::get<std::string>(node.Find("c")->payload), "from a C string");
}

TEST(IsValidUtf8Test, SingleBytesArePrintableAsciiTabLfCrOnly) {
  EXPECT_TRUE(utils::IsValidUtf8(""));
  EXPECT_TRUE(utils::IsValidUtf8(" ~\t\n\r"));
  for (int byte : {0x00, 0x01, 0x08, 0x0B, 0x0C, 0x1F, 0x7F, 0x80, 0xBF, 0xC0,
                   0xC1, 0xF5, 0xFF}) {
    EXPECT_FALSE(utils::IsValidUtf8(std::string(1, static_cast<char>(byte))))
        << "byte " << byte;
  }
}

TEST(IsValidUtf8Test, MultiByteSequencesAtTheirEdges) {
  struct Case {
    const char* bytes;
    bool valid;
  };
  const Case cases[] = {
      {"\xC2\x80", true},           // U+0080
      {"\xDF\xBF", true},           // U+07FF
      {"\xC0\x80", false},          // overlong NUL
      {"\xC2\x7F", false},          // bad continuation
      {"\xE0\xA0\x80", true},       // U+0800
      {"\xE0\x9F\xBF", false},      // overlong
      {"\xED\x9F\xBF", true},       // U+D7FF
      {"\xED\xA0\x80", false},      // surrogate
      {"\xEE\x80\x80", true},       // U+E000
      {"\xEF\xBF\xBF", true},       // U+FFFF
      {"\xF0\x90\x80\x80", true},   // U+10000
      {"\xF0\x8F\xBF\xBF", false},  // overlong
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xE4\xB8\xAD\xE6\x96\x87", true},
      {"\xE4\xB8", false},      // cut short by the end
      {"\xF0\x9F\x98", false},  // cut short by the end
      {"a\xE4\xB8\xADz", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utils::IsValidUtf8(c.bytes), c.valid)
        << "bytes of length " << std::string(c.bytes).size();
  }
}

// Whether `Node` takes a nested object.
template <typename Node, typename = void>
struct TakesObjects : std::false_type {};
template <typename Node>
struct TakesObjects<Node, std::void_t<decltype(std::declval<Node&>().SetObject(
                              "k", ObjectNode()))>> : std::true_type {};
static_assert(TakesObjects<ObjectNode>::value, "records nest objects");
static_assert(!TakesObjects<PropertiesNode>::value, "properties stay flat");

TEST(ObjectNodeTest, SetObjectNestsADeepCopy) {
  ObjectNode inner;
  inner.SetString("s", "before");
  inner.SetList("l", {"x"});
  ObjectNode outer;
  outer.SetObject("o", inner);
  inner.SetString("s", "after");
  inner.SetList("l", {"y", "z"});
  EXPECT_EQ(Json(outer), "{\"o\":{\"l\":[\"x\"],\"s\":\"before\"}}");

  // Taken over instead of copied: the same text.
  ObjectNode source(inner);
  ObjectNode moved;
  moved.SetObject("o", std::move(source));
  EXPECT_EQ(Json(moved), "{\"o\":{\"l\":[\"y\",\"z\"],\"s\":\"after\"}}");
}

// The entries are a sorted vector: inserting, replacing, finding and
// removing in any order must behave as a map ordered by unsigned bytes.
TEST(ObjectNodeTest, EntriesBehaveAsAByteOrderedMap) {
  std::mt19937 random(17);
  std::map<std::string, int64_t, utils::ByteOrder> model;
  ObjectNode node;
  const std::string letters = "ab\xC3_$Z";
  for (int step = 0; step < 4000; ++step) {
    std::string key;
    for (size_t length = random() % 4; length > 0; --length) {
      key += letters[random() % letters.size()];
    }
    const int64_t value = static_cast<int64_t>(random() % 1000);
    switch (random() % 3) {
      case 0:
      case 1:
        node.SetInt(key, value);
        model[key] = value;
        break;
      default:
        EXPECT_EQ(node.Remove(key), model.erase(key) == 1);
    }
    const utils::ValueNode* found = node.Find(key);
    const auto expected = model.find(key);
    ASSERT_EQ(found != nullptr, expected != model.end());
    if (found != nullptr) {
      EXPECT_EQ(std::get<int64_t>(found->payload), expected->second);
    }
  }
  ASSERT_EQ(node.size(), model.size());
  auto expected = model.begin();
  for (const auto& entry : node) {
    EXPECT_EQ(entry.first, expected->first);
    EXPECT_EQ(std::get<int64_t>(entry.second.payload), expected->second);
    ++expected;
  }
}

TEST(ObjectNodeTest, CopiesAreDeepAndSelfAssignmentKeepsEntries) {
  ObjectNode nested;
  nested.SetString("n", "v");
  ObjectNode original;
  original.SetObject("o", nested);
  original.SetList("l", {"a"});
  ObjectNode copy(original);
  ObjectNode assigned;
  assigned.SetInt("gone", 1);
  assigned = original;
  original.SetObject("o", ObjectNode());
  original.SetList("l", {});
  EXPECT_EQ(Json(copy), "{\"l\":[\"a\"],\"o\":{\"n\":\"v\"}}");
  EXPECT_EQ(Json(assigned), Json(copy));

  ObjectNode& alias = assigned;
  assigned = alias;
  EXPECT_EQ(Json(assigned), Json(copy));
}

TEST(ObjectNodeTest, SettersMayBeGivenThisNodesOwnPayload) {
  ObjectNode node;
  node.SetString("s", "value");
  node.SetList("l", {"a", "b"});
  node.SetString("s", std::get<std::string>(node.Find("s")->payload));
  node.SetList("l",
               std::get<std::vector<std::string>>(node.Find("l")->payload));
  node.SetObject("self", node);
  EXPECT_EQ(Json(node),
            "{\"l\":[\"a\",\"b\"],\"s\":\"value\","
            "\"self\":{\"l\":[\"a\",\"b\"],\"s\":\"value\"}}");
}

TEST(ObjectNodeTest, MergeFromOverwritesAndAddsButKeepsOthers) {
  PropertiesNode target;
  target.SetString("only_target", "t");
  target.SetList("shared", {"old1", "old2", "old3"});
  target.SetInt("kind_change", 7);
  PropertiesNode source;
  source.SetList("shared", {"new"});
  source.SetString("kind_change", "now text");
  source.SetBool("only_source", true);
  target.MergeFrom(source);
  EXPECT_EQ(Json(target),
            "{\"kind_change\":\"now text\",\"only_source\":true,"
            "\"only_target\":\"t\",\"shared\":[\"new\"]}");
  target.MergeFrom(target);
  EXPECT_EQ(target.size(), 4u);
}

}  // namespace
}  // namespace analytics
