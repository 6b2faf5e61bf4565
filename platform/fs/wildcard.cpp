#include "platform/fs/wildcard.h"

#include <vector>

#include "platform/fs/path_name.h"

namespace platform::fs {

namespace {
// Private-use code units stand for the DOS forms; they never occur in file names we accept.
constexpr char16_t kDosStar = 0xF8F0;
constexpr char16_t kDosQm = 0xF8F1;
constexpr char16_t kDosDot = 0xF8F2;
}  // namespace

Wildcard::Wildcard(std::u16string_view pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    char16_t c = pattern[i];
    char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : 0;
    if (c == u'?') {
      expression_ += kDosQm;
      literal_ = false;
    } else if (c == u'*') {
      expression_ += next == u'.' ? kDosStar : u'*';
      literal_ = false;
    } else if (c == u'.' && (next == u'?' || next == u'*' || next == 0)) {
      expression_ += kDosDot;
    } else {
      expression_ += FoldCase(c);
    }
  }
}

bool Wildcard::matches(std::u16string_view raw) const {
  std::u16string name(raw.size(), u'\0');
  for (size_t i = 0; i < raw.size(); ++i) name[i] = FoldCase(raw[i]);
  const size_t np = expression_.size(), nn = name.size();
  size_t last_dot = name.rfind(u'.');
  // can[p][n]: expression from p matches name from n. Filled backwards.
  std::vector<std::vector<char>> can(np + 1, std::vector<char>(nn + 1, 0));
  can[np][nn] = 1;
  for (size_t p = np; p-- > 0;) {
    char16_t e = expression_[p];
    for (size_t n = nn + 1; n-- > 0;) {
      bool ok = false;
      bool more = n < nn;
      switch (e) {
        case u'*':
          ok = can[p + 1][n] || (more && can[p][n + 1]);
          break;
        case kDosStar:
          // Anything up to (not including) the final dot; everything when there is none.
          ok = can[p + 1][n] || (more && (last_dot == std::u16string::npos || n < last_dot) && can[p][n + 1]);
          break;
        case kDosQm:
          if (!more || name[n] == u'.') {
            // Skip this and every following DOS question mark without using a character.
            size_t q = p;
            while (q < np && expression_[q] == kDosQm) ++q;
            ok = can[q][n];
          } else {
            ok = can[p + 1][n + 1];
          }
          break;
        case kDosDot:
          ok = (more && name[n] == u'.' && can[p + 1][n + 1]) || (!more && can[p + 1][n]);
          break;
        default:
          ok = more && name[n] == e && can[p + 1][n + 1];
          break;
      }
      can[p][n] = ok;
    }
  }
  return can[0][0];
}

}  // namespace platform::fs
