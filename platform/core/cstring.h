// CStringW (alias CString) and CStringA: the framework's string class as the
// programs use it.
//
// Out-of-range positions and counts are clamped the way the framework's class
// clamps them, never trusted: Mid(50) of a 10-character string is empty,
// Left(-3) is empty, Delete past the end deletes nothing, GetAt out of range
// gives 0. Narrow text converts to and from wide text through the ANSI code
// page. Format follows the platform's printf rules (see format.h); in a
// CStringW format %s is wide and %S narrow.
//
// Between GetBuffer(n) and ReleaseBuffer() the caller may write n characters
// and a terminating zero; no other member may be used in between.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

#include "platform/core/format.h"
#include "platform/core/types.h"

namespace platform {

// Where CString::LoadString finds string resources: the user-interface
// library installs the loader of the running program's resources. Without
// one, LoadString finds nothing.
using StringResourceLoader = std::function<bool(UINT id, std::u16string& text)>;
void SetStringResourceLoader(StringResourceLoader loader);

template <class T>
struct OtherChar;
template <>
struct OtherChar<char16_t> {
  using type = char;
};
template <>
struct OtherChar<char> {
  using type = char16_t;
};

template <class T>
class CStringT {
 public:
  using XCHAR = T;
  using YCHAR = typename OtherChar<T>::type;
  using PXSTR = T*;
  using PCXSTR = const T*;
  using PCYSTR = const YCHAR*;
  using StdString = std::basic_string<T>;

  CStringT() = default;
  CStringT(const T* text);                // null gives an empty string
  CStringT(const T* text, int length);    // at most length characters; stops at no zero
  CStringT(const YCHAR* text);            // converted through the ANSI code page
  CStringT(const YCHAR* text, int length);
  explicit CStringT(T ch, int repeat = 1);
  CStringT(const StdString& text) : s_(text) {}
  CStringT(std::basic_string_view<T> text) : s_(text) {}
  CStringT(const CStringT<YCHAR>& other);
  CStringT(const CStringT&) = default;
  CStringT(CStringT&&) noexcept = default;
  CStringT& operator=(const CStringT&) = default;
  CStringT& operator=(CStringT&&) noexcept = default;
  CStringT& operator=(const T* text);
  CStringT& operator=(const YCHAR* text);
  CStringT& operator=(T ch);
  CStringT& operator=(const CStringT<YCHAR>& other);

  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  T GetAt(int index) const;
  void SetAt(int index, T ch);
  T operator[](int index) const { return GetAt(index); }
  const T* GetString() const { return s_.c_str(); }
  operator const T*() const { return s_.c_str(); }
  const StdString& str() const { return s_; }
  void SetString(const T* text);
  void SetString(const T* text, int length);
  // The string resource id of the running program; false (and the string
  // unchanged) when there is none.
  BOOL LoadString(UINT id);

  T* GetBuffer();
  T* GetBuffer(int min_length);
  T* GetBufferSetLength(int length);
  void ReleaseBuffer(int new_length = -1);
  void ReleaseBufferSetLength(int new_length) { ReleaseBuffer(new_length); }
  void Preallocate(int length);

  void Append(const T* text);
  void Append(const T* text, int length);
  void Append(const CStringT& text) { s_ += text.s_; }
  void AppendChar(T ch) { s_ += ch; }
  CStringT& operator+=(const CStringT& text) {
    s_ += text.s_;
    return *this;
  }
  CStringT& operator+=(const T* text) {
    Append(text);
    return *this;
  }
  CStringT& operator+=(const YCHAR* text) { return *this += CStringT(text); }
  CStringT& operator+=(T ch) {
    s_ += ch;
    return *this;
  }

  // -1, 0 or 1 by code units; CompareNoCase folds case first.
  int Compare(const T* text) const;
  int CompareNoCase(const T* text) const;
  int Collate(const T* text) const { return Compare(text); }
  int CollateNoCase(const T* text) const { return CompareNoCase(text); }

  // Positions or -1. A start outside the string finds nothing.
  int Find(T ch, int start = 0) const;
  int Find(const T* text, int start = 0) const;
  int FindOneOf(const T* chars) const;
  int ReverseFind(T ch) const;

  CStringT Left(int count) const;
  CStringT Mid(int first) const;
  CStringT Mid(int first, int count) const;
  CStringT Right(int count) const;
  CStringT SpanIncluding(const T* chars) const;
  CStringT SpanExcluding(const T* chars) const;
  // The next token after skipping delimiters from start; start moves past the
  // token's delimiter, and becomes -1 (with an empty result) once none is left.
  CStringT Tokenize(const T* delimiters, int& start) const;

  // These return the new length, or the number of changes for Remove/Replace.
  int Insert(int index, T ch);
  int Insert(int index, const T* text);
  int Delete(int index, int count = 1);
  int Remove(T ch);
  int Replace(T old_ch, T new_ch);
  int Replace(const T* old_text, const T* new_text);

  CStringT& MakeUpper();
  CStringT& MakeLower();
  CStringT& MakeReverse();
  CStringT& Trim();
  CStringT& Trim(T ch);
  CStringT& Trim(const T* chars);
  CStringT& TrimLeft();
  CStringT& TrimLeft(T ch);
  CStringT& TrimLeft(const T* chars);
  CStringT& TrimRight();
  CStringT& TrimRight(T ch);
  CStringT& TrimRight(const T* chars);

  template <class... Args>
  void Format(const T* format, const Args&... args) {
    s_ = format ? run_format(format, args...) : StdString();
  }
  template <class... Args>
  void AppendFormat(const T* format, const Args&... args) {
    if (format) s_ += run_format(format, args...);
  }
  void FormatV(const T* format, va_list args);
  void AppendFormatV(const T* format, va_list args);

  friend CStringT operator+(const CStringT& a, const CStringT& b) {
    CStringT r(a);
    r.s_ += b.s_;
    return r;
  }
  friend CStringT operator+(const CStringT& a, const T* b) {
    CStringT r(a);
    r.Append(b);
    return r;
  }
  friend CStringT operator+(const T* a, const CStringT& b) {
    CStringT r(a);
    r.s_ += b.s_;
    return r;
  }
  friend CStringT operator+(const CStringT& a, T b) {
    CStringT r(a);
    r.s_ += b;
    return r;
  }
  friend CStringT operator+(T a, const CStringT& b) {
    CStringT r(a);
    r.s_ += b.s_;
    return r;
  }
  friend bool operator==(const CStringT& a, const CStringT& b) { return a.s_ == b.s_; }
  friend bool operator==(const CStringT& a, const T* b) { return a.Compare(b) == 0; }
  friend bool operator==(const T* a, const CStringT& b) { return b.Compare(a) == 0; }
  friend bool operator!=(const CStringT& a, const CStringT& b) { return a.s_ != b.s_; }
  friend bool operator!=(const CStringT& a, const T* b) { return a.Compare(b) != 0; }
  friend bool operator!=(const T* a, const CStringT& b) { return b.Compare(a) != 0; }
  friend bool operator<(const CStringT& a, const CStringT& b) { return a.Compare(b.GetString()) < 0; }
  friend bool operator<(const CStringT& a, const T* b) { return a.Compare(b) < 0; }
  friend bool operator>(const CStringT& a, const CStringT& b) { return a.Compare(b.GetString()) > 0; }
  friend bool operator>(const CStringT& a, const T* b) { return a.Compare(b) > 0; }
  friend bool operator<=(const CStringT& a, const CStringT& b) { return a.Compare(b.GetString()) <= 0; }
  friend bool operator<=(const CStringT& a, const T* b) { return a.Compare(b) <= 0; }
  friend bool operator>=(const CStringT& a, const CStringT& b) { return a.Compare(b.GetString()) >= 0; }
  friend bool operator>=(const CStringT& a, const T* b) { return a.Compare(b) >= 0; }

 private:
  template <class... Args>
  static StdString run_format(const T* format, const Args&... args) {
    if constexpr (std::is_same_v<T, char16_t>)
      return FormatWide(std::u16string_view(format), args...);
    else
      return FormatNarrow(std::string_view(format), args...);
  }

  StdString s_;
};

extern template class CStringT<char16_t>;
extern template class CStringT<char>;

}  // namespace platform

using CStringW = platform::CStringT<char16_t>;
using CStringA = platform::CStringT<char>;
using CString = CStringW;
