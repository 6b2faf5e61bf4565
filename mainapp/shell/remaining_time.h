// The remaining-WinPE-time display of the main dialog: minutes and seconds
// count down from 59:59 at half a minute before every full UTC hour, and an
// hour figure that starts at 71 falls each time that boundary passes.
#pragma once

#include <cstdint>
#include <string>

namespace shell {

class RemainingTimeClock {
 public:
  static constexpr int32_t kStartHours = 71;

  // Text for the tick at `now` (seconds since 1970-01-01 00:00 UTC), in the
  // form "H:MM:SS". The hour figure drops once for every boundary passed
  // since the previous tick, so a late tick (the dialog was busy in a tool)
  // still drops it; the first tick drops it only when it lands exactly on
  // one. It never goes below 0. In the last 30 seconds of a UTC day the span
  // would be negative; it shows as 00:00.
  std::string Format(int64_t now);

  int32_t remaining_hours() const { return remaining_hours_; }

 private:
  int32_t remaining_hours_ = kStartHours;
  bool has_last_ = false;
  int64_t last_ = 0;
};

}  // namespace shell
