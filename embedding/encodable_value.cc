#include "embedding/encodable_value.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <type_traits>

namespace flutter {

bool operator<(const CustomValue& a, const CustomValue& b) {
  // std::less gives a total order even for unrelated addresses.
  return std::less<const void*>()(a.address(), b.address());
}

bool operator==(const CustomValue& a, const CustomValue& b) {
  return a.address() == b.address();
}

namespace {

// Strings compare as unsigned bytes whatever the signedness of char (memcmp
// compares unsigned bytes); a prefix sorts first.
bool StringLess(const std::string& a, const std::string& b) {
  // Keys mostly differ in their first byte: decided without a call.
  if (!a.empty() && !b.empty() && a[0] != b[0]) {
    return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
  }
  const size_t common = std::min(a.size(), b.size());
  const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  return order != 0 ? order < 0 : a.size() < b.size();
}

// Floating-point numbers by value, with every NaN after all numbers and NaNs
// among themselves by bit pattern. Plain < would make a NaN equivalent to
// every number, which is no strict weak order: a map holding NaN keys could
// then lose keys or find the wrong one.
template <typename T>
bool FloatLess(T a, T b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (!a_nan && !b_nan) return a < b;
  if (a_nan != b_nan) return b_nan;
  using Bits = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;
  Bits a_bits;
  Bits b_bits;
  std::memcpy(&a_bits, &a, sizeof(a));
  std::memcpy(&b_bits, &b, sizeof(b));
  return a_bits < b_bits;
}

template <typename T>
bool FloatListLess(const std::vector<T>& a, const std::vector<T>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      FloatLess<T>);
}

bool MapLess(const EncodableMap& a, const EncodableMap& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const EncodableMap::value_type& x, const EncodableMap::value_type& y) {
        if (x.first < y.first) return true;
        if (y.first < x.first) return false;
        return x.second < y.second;
      });
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) {
    return a.index() < b.index();
  }
  switch (a.index()) {
    case 0:
      return false;
    case 1:
      return std::get<1>(a) < std::get<1>(b);
    case 2:
      return std::get<2>(a) < std::get<2>(b);
    case 3:
      return std::get<3>(a) < std::get<3>(b);
    case 4:
      return FloatLess(std::get<4>(a), std::get<4>(b));
    case 5:
      return StringLess(std::get<5>(a), std::get<5>(b));
    case 6:
      return std::get<6>(a) < std::get<6>(b);
    case 7:
      return std::get<7>(a) < std::get<7>(b);
    case 8:
      return std::get<8>(a) < std::get<8>(b);
    case 9:
      return FloatListLess(std::get<9>(a), std::get<9>(b));
    case 10:
      return std::get<10>(a) < std::get<10>(b);
    case 11:
      return MapLess(std::get<11>(a), std::get<11>(b));
    case 12:
      return std::get<12>(a) < std::get<12>(b);
    case 13:
      return FloatListLess(std::get<13>(a), std::get<13>(b));
  }
  return false;
}

bool operator==(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) {
    return false;
  }
  switch (a.index()) {
    case 0:
      return true;
    case 1:
      return std::get<1>(a) == std::get<1>(b);
    case 2:
      return std::get<2>(a) == std::get<2>(b);
    case 3:
      return std::get<3>(a) == std::get<3>(b);
    case 4:
      return std::get<4>(a) == std::get<4>(b);
    case 5:
      return std::get<5>(a) == std::get<5>(b);
    case 6:
      return std::get<6>(a) == std::get<6>(b);
    case 7:
      return std::get<7>(a) == std::get<7>(b);
    case 8:
      return std::get<8>(a) == std::get<8>(b);
    case 9:
      return std::get<9>(a) == std::get<9>(b);
    case 10:
      return std::get<10>(a) == std::get<10>(b);
    case 11:
      return std::get<11>(a) == std::get<11>(b);
    case 12:
      return std::get<12>(a) == std::get<12>(b);
    case 13:
      return std::get<13>(a) == std::get<13>(b);
  }
  return false;
}

}  // namespace flutter
