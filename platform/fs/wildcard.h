// The platform's wildcard rules for FindFirstFile patterns.
//
// A pattern is first rewritten the way the platform does it: '?' becomes a
// "DOS question mark" (one character, or nothing at the end of the name or
// before a dot), a '.' followed by '?' or '*' or ending the pattern becomes a
// "DOS dot" (a dot, or nothing at the end of the name), and a '*' followed by
// a '.' becomes a "DOS star" (anything up to the name's final dot). So "*.*"
// matches every name, dot or not, "*." matches names without a dot, and
// "a?.txt" matches "a.txt". Comparison ignores case.
#pragma once

#include <string>
#include <string_view>

namespace platform::fs {

class Wildcard {
 public:
  explicit Wildcard(std::u16string_view pattern);
  bool matches(std::u16string_view name) const;
  // True when the pattern holds no wildcard at all (a plain name).
  bool is_literal() const { return literal_; }

 private:
  std::u16string expression_;  // rewritten pattern, folded to upper case
  bool literal_ = true;
};

}  // namespace platform::fs
