#include "embedding/encodable_value.h"

#include <algorithm>
#include <functional>

namespace flutter {

bool operator<(const CustomValue& a, const CustomValue& b) {
  // std::less gives a total order even for unrelated addresses.
  return std::less<const void*>()(a.address(), b.address());
}

bool operator==(const CustomValue& a, const CustomValue& b) {
  return a.address() == b.address();
}

namespace {

// Strings compare as unsigned bytes whatever the signedness of char.
bool StringLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
      });
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
      return std::get<4>(a) < std::get<4>(b);
    case 5:
      return StringLess(std::get<5>(a), std::get<5>(b));
    case 6:
      return std::get<6>(a) < std::get<6>(b);
    case 7:
      return std::get<7>(a) < std::get<7>(b);
    case 8:
      return std::get<8>(a) < std::get<8>(b);
    case 9:
      return std::get<9>(a) < std::get<9>(b);
    case 10:
      return std::get<10>(a) < std::get<10>(b);
    case 11:
      return MapLess(std::get<11>(a), std::get<11>(b));
    case 12:
      return std::get<12>(a) < std::get<12>(b);
    case 13:
      return std::get<13>(a) < std::get<13>(b);
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
