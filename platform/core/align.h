// Rounding to a multiple of a unit (sectors, clusters, alignment grains).
#pragma once

#include <type_traits>

namespace platform {

// `value` rounded down or up to a multiple of `unit`; a unit of 0 (or a
// negative one) leaves the value as it is rather than dividing by it.
template <typename T>
constexpr T AlignDown(T value, T unit) {
  static_assert(std::is_integral_v<T>);
  return unit > 0 ? value / unit * unit : value;
}
template <typename T>
constexpr T AlignUp(T value, T unit) {
  static_assert(std::is_integral_v<T>);
  return unit > 0 ? (value + unit - 1) / unit * unit : value;
}

}  // namespace platform
