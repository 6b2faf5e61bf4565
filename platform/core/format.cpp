#include "platform/core/format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/core/code_page.h"

namespace platform {
namespace {

// Widths and precisions beyond this are clamped: a hostile format must not
// make us allocate gigabytes.
constexpr int kMaxField = 1 << 16;

enum class Size { None, H, HH, L, LL, Ptr, I32, LongDouble, Wide };

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  Size size = Size::None;
  char conv = 0;
};

// Where conversions take their arguments from.
class ArgSource {
 public:
  virtual ~ArgSource() = default;
  virtual std::optional<int> star() = 0;
  // The argument as 64 raw bits; the caller narrows it to the conversion's size.
  virtual std::optional<uint64_t> integer(Size size) = 0;
  virtual std::optional<long double> floating(Size size) = 0;
  // Text: exactly one of the two pointers is used (both null = null text).
  struct Text {
    const char16_t* wide = nullptr;
    const char* narrow = nullptr;
  };
  virtual std::optional<Text> text(bool want_wide) = 0;
  virtual std::optional<const void*> pointer() = 0;
};

class VaListSource : public ArgSource {
 public:
  explicit VaListSource(va_list args) { va_copy(args_, args); }
  ~VaListSource() override { va_end(args_); }
  std::optional<int> star() override { return va_arg(args_, int); }
  std::optional<uint64_t> integer(Size size) override {
    switch (size) {
      case Size::LL: return static_cast<uint64_t>(va_arg(args_, long long));
      case Size::Ptr: return static_cast<uint64_t>(va_arg(args_, size_t));
      default: return static_cast<uint64_t>(static_cast<int64_t>(va_arg(args_, int)));
    }
  }
  std::optional<long double> floating(Size size) override {
    if (size == Size::LongDouble) return va_arg(args_, long double);
    return static_cast<long double>(va_arg(args_, double));
  }
  std::optional<Text> text(bool want_wide) override {
    Text t;
    if (want_wide)
      t.wide = va_arg(args_, const char16_t*);
    else
      t.narrow = va_arg(args_, const char*);
    return t;
  }
  std::optional<const void*> pointer() override { return va_arg(args_, const void*); }

 private:
  va_list args_;
};

class TypedSource : public ArgSource {
 public:
  explicit TypedSource(const std::vector<FormatArg>& args) : args_(args) {}
  std::optional<int> star() override {
    auto v = integer(Size::None);
    if (!v) return std::nullopt;
    return static_cast<int>(static_cast<int32_t>(*v));
  }
  std::optional<uint64_t> integer(Size) override {
    const FormatArg* a = next();
    if (!a) return std::nullopt;
    switch (a->kind) {
      case FormatArg::Kind::Signed: return static_cast<uint64_t>(a->s);
      case FormatArg::Kind::Unsigned: return a->u;
      case FormatArg::Kind::Pointer: return reinterpret_cast<uintptr_t>(a->pointer);
      case FormatArg::Kind::Double: return static_cast<uint64_t>(static_cast<int64_t>(a->d));
      default: return std::nullopt;
    }
  }
  std::optional<long double> floating(Size) override {
    const FormatArg* a = next();
    if (!a) return std::nullopt;
    switch (a->kind) {
      case FormatArg::Kind::Double: return static_cast<long double>(a->d);
      case FormatArg::Kind::Signed: return static_cast<long double>(a->s);
      case FormatArg::Kind::Unsigned: return static_cast<long double>(a->u);
      default: return std::nullopt;
    }
  }
  std::optional<Text> text(bool) override {
    const FormatArg* a = next();
    if (!a) return std::nullopt;
    Text t;
    switch (a->kind) {
      case FormatArg::Kind::WideText: t.wide = a->wide; return t;
      case FormatArg::Kind::NarrowText: t.narrow = a->narrow; return t;
      case FormatArg::Kind::Pointer:
        if (a->pointer == nullptr) return t;  // a literal null prints as "(null)"
        return std::nullopt;
      case FormatArg::Kind::Signed:
      case FormatArg::Kind::Unsigned:
        if (a->u == 0) return t;  // NULL is an integer zero here
        return std::nullopt;
      default: return std::nullopt;
    }
  }
  std::optional<const void*> pointer() override {
    const FormatArg* a = next();
    if (!a) return std::nullopt;
    switch (a->kind) {
      case FormatArg::Kind::Pointer: return a->pointer;
      case FormatArg::Kind::WideText: return static_cast<const void*>(a->wide);
      case FormatArg::Kind::NarrowText: return static_cast<const void*>(a->narrow);
      case FormatArg::Kind::Signed:
      case FormatArg::Kind::Unsigned: return reinterpret_cast<const void*>(static_cast<uintptr_t>(a->u));
      default: return std::nullopt;
    }
  }

 private:
  const FormatArg* next() { return index_ < args_.size() ? &args_[index_++] : nullptr; }
  const std::vector<FormatArg>& args_;
  size_t index_ = 0;
};

size_t bounded_length(const char16_t* s, int limit) {
  size_t n = 0;
  while ((limit < 0 || n < static_cast<size_t>(limit)) && s[n] != 0) ++n;
  return n;
}

size_t bounded_length(const char* s, int limit) {
  size_t n = 0;
  while ((limit < 0 || n < static_cast<size_t>(limit)) && s[n] != 0) ++n;
  return n;
}

template <class CharT>
class Formatter {
 public:
  using String = std::basic_string<CharT>;
  static constexpr bool kWide = std::is_same_v<CharT, char16_t>;

  Formatter(std::basic_string_view<CharT> format, ArgSource& args) : format_(format), args_(args) {}

  String run() {
    size_t i = 0;
    while (i < format_.size()) {
      CharT c = format_[i];
      if (c != CharT('%')) {
        out_ += c;
        ++i;
        continue;
      }
      size_t start = i++;
      if (i < format_.size() && format_[i] == CharT('%')) {
        out_ += CharT('%');
        ++i;
        continue;
      }
      Spec spec;
      if (!parse(i, spec)) {
        // A format cut off in the middle of a conversion: keep its text.
        out_.append(format_.substr(start));
        break;
      }
      if (!convert(spec)) out_.append(format_.substr(start, i - start));
    }
    return std::move(out_);
  }

 private:
  bool at(size_t i, char c) const { return i < format_.size() && format_[i] == CharT(c); }

  // Reads flags, width, precision, size and the conversion character.
  // Returns false when the format ends first.
  bool parse(size_t& i, Spec& spec) {
    for (; i < format_.size(); ++i) {
      CharT c = format_[i];
      if (c == CharT('-')) spec.left = true;
      else if (c == CharT('+')) spec.plus = true;
      else if (c == CharT(' ')) spec.space = true;
      else if (c == CharT('#')) spec.alt = true;
      else if (c == CharT('0')) spec.zero = true;
      else break;
    }
    if (at(i, '*')) {
      ++i;
      pending_star_width_ = true;
    } else {
      spec.width = read_number(i);
    }
    if (at(i, '.')) {
      ++i;
      if (at(i, '*')) {
        ++i;
        pending_star_precision_ = true;
      } else {
        spec.precision = std::max(read_number(i), 0);
      }
    }
    if (at(i, 'h')) {
      ++i;
      spec.size = Size::H;
      if (at(i, 'h')) {
        ++i;
        spec.size = Size::HH;
      }
    } else if (at(i, 'l')) {
      ++i;
      spec.size = Size::L;
      if (at(i, 'l')) {
        ++i;
        spec.size = Size::LL;
      }
    } else if (at(i, 'I')) {
      ++i;
      if (at(i, '6') && at(i + 1, '4')) {
        i += 2;
        spec.size = Size::LL;
      } else if (at(i, '3') && at(i + 1, '2')) {
        i += 2;
        spec.size = Size::I32;
      } else {
        spec.size = Size::Ptr;
      }
    } else if (at(i, 'j')) {
      ++i;
      spec.size = Size::LL;
    } else if (at(i, 'z') || at(i, 't')) {
      ++i;
      spec.size = Size::Ptr;
    } else if (at(i, 'L')) {
      ++i;
      spec.size = Size::LongDouble;
    } else if (at(i, 'w')) {
      ++i;
      spec.size = Size::Wide;
    }
    if (i >= format_.size()) return false;
    CharT conv = format_[i++];
    spec.conv = conv < 0x80 ? static_cast<char>(conv) : '?';
    return true;
  }

  int read_number(size_t& i) {
    if (i >= format_.size() || format_[i] < CharT('0') || format_[i] > CharT('9')) return -1;
    int64_t v = 0;
    while (i < format_.size() && format_[i] >= CharT('0') && format_[i] <= CharT('9')) {
      v = std::min<int64_t>(v * 10 + (format_[i] - CharT('0')), kMaxField);
      ++i;
    }
    return static_cast<int>(v);
  }

  // Takes the '*' width and precision arguments, which come before the value.
  bool take_stars(Spec& spec) {
    const bool star_width = pending_star_width_;
    const bool star_precision = pending_star_precision_;
    pending_star_width_ = pending_star_precision_ = false;
    if (star_width) {
      auto w = args_.star();
      if (!w) return false;
      if (*w < 0) {
        spec.left = true;
        spec.width = *w == INT32_MIN ? kMaxField : std::min(-*w, kMaxField);
      } else {
        spec.width = std::min(*w, kMaxField);
      }
    }
    if (star_precision) {
      auto p = args_.star();
      if (!p) return false;
      spec.precision = *p < 0 ? -1 : std::min(*p, kMaxField);
    }
    return true;
  }

  bool convert(Spec& spec) {
    if (!take_stars(spec)) return false;
    switch (spec.conv) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o': return convert_integer(spec);
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A': return convert_float(spec);
      case 'c':
      case 'C': return convert_char(spec);
      case 's':
      case 'S': return convert_text(spec);
      case 'p': return convert_pointer(spec);
      case 'n': {
        // Writing through a caller's pointer is refused, as the platform does;
        // the argument is still used up.
        auto p = args_.pointer();
        return p.has_value();
      }
      default: return false;
    }
  }

  // Whether a c/s conversion means wide text in this call.
  bool wants_wide(const Spec& spec) const {
    if (spec.size == Size::L || spec.size == Size::Wide) return true;
    if (spec.size == Size::H || spec.size == Size::HH) return false;
    bool upper = spec.conv == 'C' || spec.conv == 'S';
    return kWide ? !upper : upper;
  }

  void put_ascii(std::string_view s) {
    for (char c : s) out_ += static_cast<CharT>(static_cast<unsigned char>(c));
  }

  void pad(int count, CharT fill) {
    if (count > 0) out_.append(static_cast<size_t>(count), fill);
  }

  // Puts body with the field's width: spaces left or right, or zeros when
  // the '0' flag asks for them (the platform zero-fills text fields too).
  void put_field(const String& body, const Spec& spec) {
    int fill = spec.width - static_cast<int>(std::min<size_t>(body.size(), kMaxField));
    if (spec.left) {
      out_ += body;
      pad(fill, CharT(' '));
    } else {
      pad(fill, spec.zero ? CharT('0') : CharT(' '));
      out_ += body;
    }
  }

  bool convert_integer(const Spec& spec) {
    auto raw = args_.integer(spec.size);
    if (!raw) return false;
    const bool is_signed = spec.conv == 'd' || spec.conv == 'i';
    uint64_t bits = *raw;
    bool negative = false;
    uint64_t magnitude = 0;
    int width_bits = 32;
    switch (spec.size) {
      case Size::HH: width_bits = 8; break;
      case Size::H: width_bits = 16; break;
      case Size::LL: width_bits = 64; break;
      case Size::Ptr: width_bits = 64; break;
      default: width_bits = 32; break;
    }
    if (width_bits < 64) bits &= (uint64_t{1} << width_bits) - 1;
    if (is_signed) {
      int64_t value;
      if (width_bits == 64) {
        value = static_cast<int64_t>(bits);
      } else {
        uint64_t sign = uint64_t{1} << (width_bits - 1);
        value = static_cast<int64_t>((bits ^ sign)) - static_cast<int64_t>(sign);
      }
      negative = value < 0;
      magnitude = negative ? (~static_cast<uint64_t>(value) + 1) : static_cast<uint64_t>(value);
    } else {
      magnitude = bits;
    }

    std::string digits;
    unsigned base = spec.conv == 'o' ? 8 : (spec.conv == 'x' || spec.conv == 'X') ? 16 : 10;
    const char* symbols = spec.conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    for (uint64_t v = magnitude; v != 0; v /= base) digits.insert(digits.begin(), symbols[v % base]);
    int precision = spec.precision;
    if (precision < 0) precision = 1;
    if (static_cast<int>(digits.size()) < precision) digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
    if (spec.alt && base == 8 && (digits.empty() || digits[0] != '0')) digits.insert(digits.begin(), '0');

    std::string prefix;
    if (is_signed) {
      if (negative) prefix = "-";
      else if (spec.plus) prefix = "+";
      else if (spec.space) prefix = " ";
    }
    if (spec.alt && base == 16 && magnitude != 0) prefix += spec.conv == 'X' ? "0X" : "0x";

    int length = static_cast<int>(prefix.size() + digits.size());
    int fill = spec.width - length;
    if (spec.left) {
      put_ascii(prefix);
      put_ascii(digits);
      pad(fill, CharT(' '));
    } else if (spec.zero && spec.precision < 0) {
      put_ascii(prefix);
      pad(fill, CharT('0'));
      put_ascii(digits);
    } else {
      pad(fill, CharT(' '));
      put_ascii(prefix);
      put_ascii(digits);
    }
    return true;
  }

  bool convert_float(const Spec& spec) {
    auto value = args_.floating(spec.size);
    if (!value) return false;
    std::string c_spec = "%";
    if (spec.left) c_spec += '-';
    if (spec.plus) c_spec += '+';
    if (spec.space) c_spec += ' ';
    if (spec.alt) c_spec += '#';
    if (spec.zero) c_spec += '0';
    if (spec.width >= 0) c_spec += std::to_string(spec.width);
    if (spec.precision >= 0) c_spec += "." + std::to_string(spec.precision);
    c_spec += 'L';
    c_spec += spec.conv;
    int needed = std::snprintf(nullptr, 0, c_spec.c_str(), *value);
    if (needed < 0) return false;
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(text.data(), text.size(), c_spec.c_str(), *value);
    text.resize(static_cast<size_t>(needed));
    put_ascii(text);
    return true;
  }

  bool convert_char(const Spec& spec) {
    auto raw = args_.integer(Size::None);
    if (!raw) return false;
    String body;
    if (wants_wide(spec)) {
      char16_t ch = static_cast<char16_t>(*raw & 0xFFFF);
      if constexpr (kWide) {
        body += ch;
      } else {
        std::string bytes = Encode(CP_ACP, std::u16string_view(&ch, 1));
        body.assign(bytes.begin(), bytes.end());
      }
    } else {
      char ch = static_cast<char>(*raw & 0xFF);
      if constexpr (kWide) {
        body = ch == 0 ? std::u16string(1, u'\0') : Decode(CP_ACP, std::string_view(&ch, 1));
      } else {
        body += ch;
      }
    }
    put_field(body, spec);
    return true;
  }

  bool convert_text(const Spec& spec) {
    bool want_wide = wants_wide(spec);
    auto text = args_.text(want_wide);
    if (!text) return false;
    String body;
    if (text->wide) {
      std::u16string_view source(text->wide, bounded_length(text->wide, spec.precision));
      if constexpr (kWide) {
        body.assign(source);
      } else {
        std::string bytes = Encode(CP_ACP, source);
        if (spec.precision >= 0 && bytes.size() > static_cast<size_t>(spec.precision)) bytes.resize(spec.precision);
        body.assign(bytes);
      }
    } else if (text->narrow) {
      std::string_view source(text->narrow, bounded_length(text->narrow, spec.precision));
      if constexpr (kWide) {
        body = Decode(CP_ACP, source);
      } else {
        body.assign(source);
      }
    } else {
      const char* null_text = "(null)";
      size_t n = spec.precision >= 0 ? std::min<size_t>(6, spec.precision) : 6;
      for (size_t k = 0; k < n; ++k) body += static_cast<CharT>(null_text[k]);
    }
    put_field(body, spec);
    return true;
  }

  bool convert_pointer(const Spec& spec) {
    auto p = args_.pointer();
    if (!p) return false;
    char digits[32];
    std::snprintf(digits, sizeof(digits), "%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(*p)));
    String body;
    for (const char* d = digits; *d; ++d) body += static_cast<CharT>(*d);
    Spec field = spec;
    field.zero = false;
    put_field(body, field);
    return true;
  }

  std::basic_string_view<CharT> format_;
  ArgSource& args_;
  String out_;
  bool pending_star_width_ = false;
  bool pending_star_precision_ = false;
};

}  // namespace

std::u16string FormatWideArgs(std::u16string_view format, const std::vector<FormatArg>& args) {
  TypedSource source(args);
  return Formatter<char16_t>(format, source).run();
}

std::string FormatNarrowArgs(std::string_view format, const std::vector<FormatArg>& args) {
  TypedSource source(args);
  return Formatter<char>(format, source).run();
}

std::u16string FormatWideV(const char16_t* format, va_list args) {
  if (!format) return {};
  VaListSource source(args);
  return Formatter<char16_t>(std::u16string_view(format), source).run();
}

std::string FormatNarrowV(const char* format, va_list args) {
  if (!format) return {};
  VaListSource source(args);
  return Formatter<char>(std::string_view(format), source).run();
}

}  // namespace platform
