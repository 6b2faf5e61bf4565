#include "mainapp/shell/remaining_time.h"

#include <cstdio>

namespace shell {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kHour = 3600;
constexpr int64_t kLead = 30;  // the boundary lies 30 s before the full hour

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Boundaries passed up to and including `t`.
int64_t BoundariesUpTo(int64_t t) { return FloorDiv(t + kLead, kHour); }

}  // namespace

std::string RemainingTimeClock::Format(int64_t now) {
  int64_t previous = has_last_ ? last_ : now - 1;
  int64_t passed = BoundariesUpTo(now) - BoundariesUpTo(previous);
  if (passed > 0) {
    int64_t hours = static_cast<int64_t>(remaining_hours_) - passed;
    remaining_hours_ = static_cast<int32_t>(hours < 0 ? 0 : hours);
  }
  if (!has_last_ || now > last_) last_ = now;
  has_last_ = true;

  int64_t time_of_day = now - FloorDiv(now, kDay) * kDay;
  int64_t u = time_of_day + kLead;
  int64_t span = kDay - 1 - u;
  if (span < 0) span = 0;
  char text[40];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(remaining_hours_),
                static_cast<int>((span / 60) % 60), static_cast<int>(span % 60));
  return text;
}

}  // namespace shell
