// printf-style formatting with the platform's rules, for wide (UTF-16) and
// narrow (ANSI code page) output.
//
// Conversions: %d %i %u %x %X %o %c %C %s %S %f %F %e %E %g %G %a %A %p %%,
// flags "-+ #0", width and precision as digits or '*'. Size prefixes follow the
// platform's data model, where long is 32 bits: h, hh, l (32 bits for integers,
// wide for c/s), ll, I64, I32, I (pointer-sized), j, z, t, L, w (wide).
// In a wide call %s and %c take wide text and %S and %C narrow text; in a
// narrow call the other way round; %ls/%ws and %hs name the width explicitly.
// Narrow text crossing into wide output (and back) goes through the ANSI code
// page. A null string prints as "(null)". %p prints the pointer as 16
// upper-case hexadecimal digits. %n writes nothing (the platform refuses it).
//
// The typed entry points (FormatWide/FormatNarrow with arguments) know each
// argument's type: a missing argument, or one of the wrong kind (text for
// %d, a number for %s), leaves the conversion text itself in the output
// instead of reading garbage. The va_list entry points trust the caller as the
// C library does.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/core/types.h"

namespace platform {

// One formatting argument with its type kept.
struct FormatArg {
  enum class Kind : uint8_t { Signed, Unsigned, Double, WideText, NarrowText, Pointer };
  Kind kind = Kind::Signed;
  union {
    int64_t s;
    uint64_t u;
    double d;
    const char16_t* wide;
    const char* narrow;
    const void* pointer;
  };
  FormatArg() : s(0) {}
};

// Anything with c_str() of char16_t or char (std::u16string, CStringW, ...)
// passes as its text; GetString() works too.
template <class T>
concept HasWideCStr = requires(const T& t) {
  { t.c_str() } -> std::convertible_to<const char16_t*>;
};
template <class T>
concept HasNarrowCStr = requires(const T& t) {
  { t.c_str() } -> std::convertible_to<const char*>;
};
template <class T>
concept HasWideGetString = requires(const T& t) {
  { t.GetString() } -> std::convertible_to<const char16_t*>;
};
template <class T>
concept HasNarrowGetString = requires(const T& t) {
  { t.GetString() } -> std::convertible_to<const char*>;
};

template <class T>
FormatArg MakeFormatArg(const T& value) {
  using U = std::remove_cvref_t<T>;
  FormatArg arg;
  if constexpr (std::is_same_v<U, bool>) {
    arg.kind = FormatArg::Kind::Signed;
    arg.s = value ? 1 : 0;
  } else if constexpr (std::is_enum_v<U>) {
    return MakeFormatArg(static_cast<std::underlying_type_t<U>>(value));
  } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
    arg.kind = FormatArg::Kind::Signed;
    arg.s = static_cast<int64_t>(value);
  } else if constexpr (std::is_integral_v<U>) {
    arg.kind = FormatArg::Kind::Unsigned;
    arg.u = static_cast<uint64_t>(value);
  } else if constexpr (std::is_floating_point_v<U>) {
    // long double too: on the platform it is the same type as double.
    arg.kind = FormatArg::Kind::Double;
    arg.d = static_cast<double>(value);
  } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
    arg.kind = FormatArg::Kind::Pointer;
    arg.pointer = nullptr;
  } else if constexpr (std::is_array_v<U> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char16_t>) {
    arg.kind = FormatArg::Kind::WideText;
    arg.wide = value;
  } else if constexpr (std::is_array_v<U> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char>) {
    arg.kind = FormatArg::Kind::NarrowText;
    arg.narrow = value;
  } else if constexpr (std::is_pointer_v<U> && std::is_same_v<std::remove_cv_t<std::remove_pointer_t<U>>, char16_t>) {
    arg.kind = FormatArg::Kind::WideText;
    arg.wide = value;
  } else if constexpr (std::is_pointer_v<U> && std::is_same_v<std::remove_cv_t<std::remove_pointer_t<U>>, char>) {
    arg.kind = FormatArg::Kind::NarrowText;
    arg.narrow = value;
  } else if constexpr (std::is_pointer_v<U>) {
    arg.kind = FormatArg::Kind::Pointer;
    arg.pointer = reinterpret_cast<const void*>(value);
  } else if constexpr (HasWideGetString<U>) {
    arg.kind = FormatArg::Kind::WideText;
    arg.wide = value.GetString();
  } else if constexpr (HasNarrowGetString<U>) {
    arg.kind = FormatArg::Kind::NarrowText;
    arg.narrow = value.GetString();
  } else if constexpr (HasWideCStr<U>) {
    arg.kind = FormatArg::Kind::WideText;
    arg.wide = value.c_str();
  } else if constexpr (HasNarrowCStr<U>) {
    arg.kind = FormatArg::Kind::NarrowText;
    arg.narrow = value.c_str();
  } else {
    static_assert(sizeof(U) == 0, "this type cannot be formatted");
  }
  return arg;
}

// Typed formatting over an argument list.
std::u16string FormatWideArgs(std::u16string_view format, const std::vector<FormatArg>& args);
std::string FormatNarrowArgs(std::string_view format, const std::vector<FormatArg>& args);

// C-style formatting over a va_list (the list is not consumed; a copy is read).
std::u16string FormatWideV(const char16_t* format, va_list args);
std::string FormatNarrowV(const char* format, va_list args);

template <class... Args>
std::u16string FormatWide(std::u16string_view format, const Args&... args) {
  return FormatWideArgs(format, std::vector<FormatArg>{MakeFormatArg(args)...});
}

template <class... Args>
std::string FormatNarrow(std::string_view format, const Args&... args) {
  return FormatNarrowArgs(format, std::vector<FormatArg>{MakeFormatArg(args)...});
}

}  // namespace platform
