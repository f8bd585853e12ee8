// Size arithmetic on lengths that come from outside: overflow is reported,
// never wrapped.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

namespace vh {

template <typename T>
[[nodiscard]] constexpr bool CheckedAdd(T a, T b, T* out) {
  static_assert(std::is_unsigned_v<T>, "unsigned sizes only");
  if (a > std::numeric_limits<T>::max() - b) return false;
  *out = a + b;
  return true;
}

template <typename T>
[[nodiscard]] constexpr bool CheckedMul(T a, T b, T* out) {
  static_assert(std::is_unsigned_v<T>, "unsigned sizes only");
  if (a != 0 && b > std::numeric_limits<T>::max() / a) return false;
  *out = a * b;
  return true;
}

}  // namespace vh
