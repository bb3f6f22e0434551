#ifndef QUILLON_EMBEDDING_ENCODABLE_VALUE_H_
#define QUILLON_EMBEDDING_ENCODABLE_VALUE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

// Holds one object of any copyable type, so that codec extensions can carry
// their own types inside an EncodableValue. Copying copies the held object;
// custom values compare by the address of the held object, so two distinct
// custom values are never equal.
class CustomValue {
 public:
  CustomValue() = default;

  // Explicit, so that no other type silently turns into a custom value when
  // an EncodableValue is built from it.
  template <typename T, typename = std::enable_if_t<
                            !std::is_same<std::decay_t<T>, CustomValue>::value>>
  explicit CustomValue(T&& value)
      : holder_(
            std::make_unique<Holder<std::decay_t<T>>>(std::forward<T>(value))) {
  }

  CustomValue(const CustomValue& other)
      : holder_(other.holder_ ? other.holder_->Clone() : nullptr) {}
  CustomValue(CustomValue&& other) noexcept = default;
  CustomValue& operator=(const CustomValue& other) {
    if (this != &other) {
      holder_ = other.holder_ ? other.holder_->Clone() : nullptr;
    }
    return *this;
  }
  CustomValue& operator=(CustomValue&& other) noexcept = default;
  ~CustomValue() = default;

  bool has_value() const { return holder_ != nullptr; }

  // The type of the held object; typeid(void) when empty.
  const std::type_info& type() const {
    return holder_ ? holder_->type() : typeid(void);
  }

  // The held object when it is a T, otherwise null.
  template <typename T>
  const T* TryGet() const {
    if (!holder_ || holder_->type() != typeid(T)) {
      return nullptr;
    }
    return static_cast<const T*>(holder_->address());
  }

  // Address of the held object (null when empty); the key of the ordering.
  const void* address() const { return holder_ ? holder_->address() : nullptr; }

 private:
  class HolderBase {
   public:
    virtual ~HolderBase() = default;
    virtual std::unique_ptr<HolderBase> Clone() const = 0;
    virtual const std::type_info& type() const = 0;
    virtual const void* address() const = 0;
  };

  template <typename T>
  class Holder final : public HolderBase {
   public:
    explicit Holder(T value) : value_(std::move(value)) {}
    std::unique_ptr<HolderBase> Clone() const override {
      return std::make_unique<Holder<T>>(value_);
    }
    const std::type_info& type() const override { return typeid(T); }
    const void* address() const override { return &value_; }

   private:
    T value_;
  };

  std::unique_ptr<HolderBase> holder_;
};

bool operator<(const CustomValue& a, const CustomValue& b);
bool operator==(const CustomValue& a, const CustomValue& b);
inline bool operator!=(const CustomValue& a, const CustomValue& b) {
  return !(a == b);
}

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

namespace internal {
// The alternative index is the wire tag's selector and the first key of the
// ordering: never reorder.
using EncodableValueVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string,
                 std::vector<uint8_t>, std::vector<int32_t>,
                 std::vector<int64_t>, std::vector<double>, EncodableList,
                 EncodableMap, CustomValue, std::vector<float>>;
}  // namespace internal

// The value of every channel message. It is a std::variant, so
// std::get, std::get_if, std::holds_alternative and index() work on it
// directly; it adds constructors and the ordering used for map keys.
class EncodableValue : public internal::EncodableValueVariant {
 public:
  using Variant = internal::EncodableValueVariant;
  using Variant::Variant;
  using Variant::operator=;

  EncodableValue() = default;
  EncodableValue(const EncodableValue&) = default;
  EncodableValue(EncodableValue&&) = default;
  EncodableValue& operator=(const EncodableValue&) = default;
  EncodableValue& operator=(EncodableValue&&) = default;
  ~EncodableValue() = default;

  // A string literal is text, never the bool alternative.
  EncodableValue(const char* text) : Variant(std::string(text)) {}
  EncodableValue& operator=(const char* text) {
    Variant::operator=(std::string(text));
    return *this;
  }

  bool IsNull() const { return index() == 0; }

  const Variant& variant() const { return *this; }
  Variant& variant() { return *this; }
};

// The ordering of map keys: first the alternative index, then the value
// within the alternative (numbers by value, strings and typed lists
// lexicographically with unsigned bytes, lists and maps lexicographically,
// custom values by address). Floating-point NaNs order after every number
// and among themselves by bit pattern, so that the ordering stays a strict
// weak order with NaNs in keys.
bool operator<(const EncodableValue& a, const EncodableValue& b);
inline bool operator>(const EncodableValue& a, const EncodableValue& b) {
  return b < a;
}
inline bool operator<=(const EncodableValue& a, const EncodableValue& b) {
  return !(b < a);
}
inline bool operator>=(const EncodableValue& a, const EncodableValue& b) {
  return !(a < b);
}

// Same alternative and equal contents (doubles by ==, so NaN is unequal to
// itself; custom values by address).
bool operator==(const EncodableValue& a, const EncodableValue& b);
inline bool operator!=(const EncodableValue& a, const EncodableValue& b) {
  return !(a == b);
}

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_ENCODABLE_VALUE_H_
