#include "platform/core/cstring.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "platform/core/ascii_case.h"
#include "platform/core/code_page.h"
#include "platform/core/wide_text.h"

namespace platform {
namespace {

template <class T>
size_t length_of(const T* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

template <class T>
size_t bounded_length_of(const T* s, size_t limit) {
  if (!s) return 0;
  size_t n = 0;
  while (n < limit && s[n]) ++n;
  return n;
}

char16_t fold_upper(char16_t c) { return towupper(c); }
char16_t fold_lower(char16_t c) { return towlower(c); }
char fold_upper(char c) { return AsciiUpper(c); }
char fold_lower(char c) { return AsciiLower(c); }

template <class T>
bool is_space(T c) {
  return c == T(' ') || (c >= T(0x09) && c <= T(0x0D));
}

template <class T>
bool contains(const T* set, T c) {
  if (!set) return false;
  for (; *set; ++set)
    if (*set == c) return true;
  return false;
}

template <class T>
int compare_units(std::basic_string_view<T> a, std::basic_string_view<T> b, bool fold) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    using U = std::make_unsigned_t<T>;
    U x = static_cast<U>(fold ? fold_lower(a[i]) : a[i]);
    U y = static_cast<U>(fold ? fold_lower(b[i]) : b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// A narrow string in a double-byte ANSI page: changing case must not touch
// the trail byte of a double-byte character.
bool is_lead_byte(char c) {
  if (ResolveCodePage(CP_ACP) != 932) return false;
  auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

template <class T>
void change_case(std::basic_string<T>& s, bool upper) {
  for (size_t i = 0; i < s.size(); ++i) {
    if constexpr (std::is_same_v<T, char>) {
      if (is_lead_byte(s[i])) {
        ++i;
        continue;
      }
    }
    s[i] = upper ? fold_upper(s[i]) : fold_lower(s[i]);
  }
}

// Clamps an int position to [0, size].
size_t clamp_position(int position, size_t size) {
  if (position <= 0) return 0;
  return std::min(static_cast<size_t>(position), size);
}

std::mutex& loader_mutex() {
  static std::mutex m;
  return m;
}

StringResourceLoader& loader() {
  static StringResourceLoader l;
  return l;
}

}  // namespace

void SetStringResourceLoader(StringResourceLoader l) {
  std::lock_guard lock(loader_mutex());
  loader() = std::move(l);
}

template <class T>
BOOL CStringT<T>::LoadString(UINT id) {
  StringResourceLoader l;
  {
    std::lock_guard lock(loader_mutex());
    l = loader();
  }
  std::u16string text;
  if (!l || !l(id, text)) return FALSE;
  if constexpr (std::is_same_v<T, char16_t>)
    s_ = std::move(text);
  else
    s_ = Encode(CP_ACP, text);
  return TRUE;
}

template <class T>
CStringT<T>::CStringT(const T* text) : s_(text ? text : StdString()) {}

template <class T>
CStringT<T>::CStringT(const T* text, int length) {
  if (text && length > 0) s_.assign(text, static_cast<size_t>(length));
}

template <class T>
CStringT<T>::CStringT(const YCHAR* text) {
  *this = text;
}

template <class T>
CStringT<T>::CStringT(const YCHAR* text, int length) {
  if (!text || length <= 0) return;
  std::basic_string_view<YCHAR> view(text, static_cast<size_t>(length));
  if constexpr (std::is_same_v<T, char16_t>)
    s_ = Decode(CP_ACP, view);
  else
    s_ = Encode(CP_ACP, view);
}

template <class T>
CStringT<T>::CStringT(T ch, int repeat) {
  if (repeat > 0) s_.assign(static_cast<size_t>(repeat), ch);
}

template <class T>
CStringT<T>::CStringT(const CStringT<YCHAR>& other) {
  *this = other.GetString();
}

template <class T>
CStringT<T>& CStringT<T>::operator=(const T* text) {
  if (text)
    s_ = text;  // handles text pointing into our own buffer
  else
    s_.clear();
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::operator=(const YCHAR* text) {
  if (!text) {
    s_.clear();
    return *this;
  }
  std::basic_string_view<YCHAR> view(text, length_of(text));
  if constexpr (std::is_same_v<T, char16_t>)
    s_ = Decode(CP_ACP, view);
  else
    s_ = Encode(CP_ACP, view);
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::operator=(T ch) {
  s_.assign(1, ch);
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::operator=(const CStringT<YCHAR>& other) {
  return *this = other.GetString();
}

template <class T>
T CStringT<T>::GetAt(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= s_.size()) return T(0);
  return s_[static_cast<size_t>(index)];
}

template <class T>
void CStringT<T>::SetAt(int index, T ch) {
  if (index < 0 || static_cast<size_t>(index) >= s_.size()) return;
  s_[static_cast<size_t>(index)] = ch;
}

template <class T>
void CStringT<T>::SetString(const T* text) {
  *this = text;
}

template <class T>
void CStringT<T>::SetString(const T* text, int length) {
  if (!text || length <= 0) {
    s_.clear();
    return;
  }
  StdString copy(text, bounded_length_of(text, static_cast<size_t>(length)));
  s_.swap(copy);
}

template <class T>
T* CStringT<T>::GetBuffer() {
  return s_.data();
}

template <class T>
T* CStringT<T>::GetBuffer(int min_length) {
  if (min_length > 0 && static_cast<size_t>(min_length) > s_.size()) s_.resize(static_cast<size_t>(min_length));
  return s_.data();
}

template <class T>
T* CStringT<T>::GetBufferSetLength(int length) {
  s_.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return s_.data();
}

template <class T>
void CStringT<T>::ReleaseBuffer(int new_length) {
  if (new_length < 0) {
    // Up to the first zero the caller wrote, never past the buffer.
    s_.resize(bounded_length_of(s_.data(), s_.size()));
  } else {
    s_.resize(std::min(static_cast<size_t>(new_length), s_.size()));
  }
}

template <class T>
void CStringT<T>::Preallocate(int length) {
  if (length > 0) s_.reserve(static_cast<size_t>(length));
}

template <class T>
void CStringT<T>::Append(const T* text) {
  if (text) s_.append(text);
}

template <class T>
void CStringT<T>::Append(const T* text, int length) {
  if (text && length > 0) s_.append(text, bounded_length_of(text, static_cast<size_t>(length)));
}

template <class T>
int CStringT<T>::Compare(const T* text) const {
  return compare_units<T>(s_, text ? std::basic_string_view<T>(text) : std::basic_string_view<T>(), false);
}

template <class T>
int CStringT<T>::CompareNoCase(const T* text) const {
  return compare_units<T>(s_, text ? std::basic_string_view<T>(text) : std::basic_string_view<T>(), true);
}

template <class T>
int CStringT<T>::Find(T ch, int start) const {
  if (start < 0 || static_cast<size_t>(start) >= s_.size()) return -1;
  size_t at = s_.find(ch, static_cast<size_t>(start));
  return at == StdString::npos ? -1 : static_cast<int>(at);
}

template <class T>
int CStringT<T>::Find(const T* text, int start) const {
  if (!text || start < 0 || static_cast<size_t>(start) > s_.size()) return -1;
  size_t at = s_.find(text, static_cast<size_t>(start));
  return at == StdString::npos ? -1 : static_cast<int>(at);
}

template <class T>
int CStringT<T>::FindOneOf(const T* chars) const {
  if (!chars || !*chars) return -1;
  size_t at = s_.find_first_of(chars);
  return at == StdString::npos ? -1 : static_cast<int>(at);
}

template <class T>
int CStringT<T>::ReverseFind(T ch) const {
  size_t at = s_.rfind(ch);
  return at == StdString::npos ? -1 : static_cast<int>(at);
}

template <class T>
CStringT<T> CStringT<T>::Left(int count) const {
  return CStringT(StdString(s_, 0, clamp_position(count, s_.size())));
}

template <class T>
CStringT<T> CStringT<T>::Mid(int first) const {
  return CStringT(StdString(s_, clamp_position(first, s_.size())));
}

template <class T>
CStringT<T> CStringT<T>::Mid(int first, int count) const {
  size_t from = clamp_position(first, s_.size());
  size_t n = clamp_position(count, s_.size() - from);
  return CStringT(StdString(s_, from, n));
}

template <class T>
CStringT<T> CStringT<T>::Right(int count) const {
  size_t n = clamp_position(count, s_.size());
  return CStringT(StdString(s_, s_.size() - n));
}

template <class T>
CStringT<T> CStringT<T>::SpanIncluding(const T* chars) const {
  size_t n = 0;
  while (n < s_.size() && contains(chars, s_[n])) ++n;
  return Left(static_cast<int>(n));
}

template <class T>
CStringT<T> CStringT<T>::SpanExcluding(const T* chars) const {
  size_t n = 0;
  while (n < s_.size() && !contains(chars, s_[n])) ++n;
  return Left(static_cast<int>(n));
}

template <class T>
CStringT<T> CStringT<T>::Tokenize(const T* delimiters, int& start) const {
  if (start < 0 || static_cast<size_t>(start) >= s_.size()) {
    start = -1;
    return CStringT();
  }
  size_t from = static_cast<size_t>(start);
  if (!delimiters || !*delimiters) {
    // No delimiters: the rest is one token. The position moves to the end so
    // that the next call reports the end instead of returning it again.
    start = static_cast<int>(s_.size());
    return CStringT(StdString(s_, from));
  }
  while (from < s_.size() && contains(delimiters, s_[from])) ++from;
  if (from >= s_.size()) {
    start = -1;
    return CStringT();
  }
  size_t to = from;
  while (to < s_.size() && !contains(delimiters, s_[to])) ++to;
  start = static_cast<int>(std::min<size_t>(to + 1, static_cast<size_t>(std::numeric_limits<int>::max())));
  return CStringT(StdString(s_, from, to - from));
}

template <class T>
int CStringT<T>::Insert(int index, T ch) {
  s_.insert(clamp_position(index, s_.size()), 1, ch);
  return GetLength();
}

template <class T>
int CStringT<T>::Insert(int index, const T* text) {
  if (text) {
    StdString copy(text);  // text may point into this string
    s_.insert(clamp_position(index, s_.size()), copy);
  }
  return GetLength();
}

template <class T>
int CStringT<T>::Delete(int index, int count) {
  size_t from = clamp_position(index, s_.size());
  size_t n = clamp_position(count, s_.size() - from);
  s_.erase(from, n);
  return GetLength();
}

template <class T>
int CStringT<T>::Remove(T ch) {
  size_t before = s_.size();
  s_.erase(std::remove(s_.begin(), s_.end(), ch), s_.end());
  return static_cast<int>(before - s_.size());
}

template <class T>
int CStringT<T>::Replace(T old_ch, T new_ch) {
  int count = 0;
  for (T& c : s_)
    if (c == old_ch) {
      c = new_ch;
      ++count;
    }
  return count;
}

template <class T>
int CStringT<T>::Replace(const T* old_text, const T* new_text) {
  if (!old_text || !*old_text) return 0;
  StdString from(old_text);
  StdString to(new_text ? new_text : StdString());
  StdString result;
  int count = 0;
  size_t pos = 0;
  for (;;) {
    size_t at = s_.find(from, pos);
    if (at == StdString::npos) break;
    result.append(s_, pos, at - pos);
    result += to;
    pos = at + from.size();
    ++count;
  }
  if (count == 0) return 0;
  result.append(s_, pos, StdString::npos);
  s_.swap(result);
  return count;
}

template <class T>
CStringT<T>& CStringT<T>::MakeUpper() {
  change_case(s_, true);
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::MakeLower() {
  change_case(s_, false);
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::MakeReverse() {
  std::reverse(s_.begin(), s_.end());
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::Trim() {
  return TrimRight().TrimLeft();
}
template <class T>
CStringT<T>& CStringT<T>::Trim(T ch) {
  return TrimRight(ch).TrimLeft(ch);
}
template <class T>
CStringT<T>& CStringT<T>::Trim(const T* chars) {
  return TrimRight(chars).TrimLeft(chars);
}

template <class T>
CStringT<T>& CStringT<T>::TrimLeft() {
  size_t n = 0;
  while (n < s_.size() && is_space(s_[n])) ++n;
  s_.erase(0, n);
  return *this;
}
template <class T>
CStringT<T>& CStringT<T>::TrimLeft(T ch) {
  size_t n = 0;
  while (n < s_.size() && s_[n] == ch) ++n;
  s_.erase(0, n);
  return *this;
}
template <class T>
CStringT<T>& CStringT<T>::TrimLeft(const T* chars) {
  size_t n = 0;
  while (n < s_.size() && contains(chars, s_[n])) ++n;
  s_.erase(0, n);
  return *this;
}

template <class T>
CStringT<T>& CStringT<T>::TrimRight() {
  size_t n = s_.size();
  while (n > 0 && is_space(s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}
template <class T>
CStringT<T>& CStringT<T>::TrimRight(T ch) {
  size_t n = s_.size();
  while (n > 0 && s_[n - 1] == ch) --n;
  s_.resize(n);
  return *this;
}
template <class T>
CStringT<T>& CStringT<T>::TrimRight(const T* chars) {
  size_t n = s_.size();
  while (n > 0 && contains(chars, s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}

template <class T>
void CStringT<T>::FormatV(const T* format, va_list args) {
  s_.clear();
  AppendFormatV(format, args);
}

template <class T>
void CStringT<T>::AppendFormatV(const T* format, va_list args) {
  if (!format) return;
  if constexpr (std::is_same_v<T, char16_t>)
    s_ += FormatWideV(format, args);
  else
    s_ += FormatNarrowV(format, args);
}

template class CStringT<char16_t>;
template class CStringT<char>;

}  // namespace platform
