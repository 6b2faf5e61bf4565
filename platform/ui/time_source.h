// The clock the message loop reads for timers and message times.
//
// Tests and headless runs use virtual time: the loop jumps the clock to the
// next timer instead of waiting. Interactive runs use real time. The installed
// source is process-wide; set it before any window exists.
#pragma once

#include <cstdint>

namespace platform::ui {

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual uint64_t now_ms() const = 0;
  // True when advance_to() jumps instead of sleeping.
  virtual bool is_virtual() const = 0;
  // Moves the clock to at least `ms` (virtual: jumps; real: sleeps).
  virtual void advance_to(uint64_t ms) = 0;
};

// A clock that only moves when told to; starts at 0.
class VirtualTimeSource : public TimeSource {
 public:
  uint64_t now_ms() const override;
  bool is_virtual() const override { return true; }
  void advance_to(uint64_t ms) override;

 private:
  uint64_t now_ = 0;
};

// Monotonic host time in milliseconds since the source was made.
class RealTimeSource : public TimeSource {
 public:
  RealTimeSource();
  uint64_t now_ms() const override;
  bool is_virtual() const override { return false; }
  void advance_to(uint64_t ms) override;

 private:
  int64_t origin_ns_;
};

// The platform clock (platform/core/clock.h) seen as a time source: the
// same clock Sleep and GetTickCount read, so timers and the programs' own
// waits keep one order. Advancing sleeps on it, which in virtual mode jumps
// unless another thread's work is in progress.
class PlatformClockTimeSource : public TimeSource {
 public:
  uint64_t now_ms() const override;
  bool is_virtual() const override;
  void advance_to(uint64_t ms) override;
};

// The installed source; the platform clock until set_time_source() is called.
TimeSource& time_source();
// Installs `source` (not owned; must outlive every window). Null restores the default.
void set_time_source(TimeSource* source);

}  // namespace platform::ui
