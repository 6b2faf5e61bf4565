#include "platform/ui/time_source.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/core/clock.h"

namespace platform::ui {

uint64_t VirtualTimeSource::now_ms() const { return now_; }

void VirtualTimeSource::advance_to(uint64_t ms) {
  if (ms > now_) now_ = ms;
}

static int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

RealTimeSource::RealTimeSource() : origin_ns_(steady_ns()) {}

uint64_t RealTimeSource::now_ms() const {
  return static_cast<uint64_t>((steady_ns() - origin_ns_) / 1000000);
}

void RealTimeSource::advance_to(uint64_t ms) {
  uint64_t now = now_ms();
  if (ms > now) std::this_thread::sleep_for(std::chrono::milliseconds(ms - now));
}

uint64_t PlatformClockTimeSource::now_ms() const { return platform::Clock::instance().now_ms(); }

bool PlatformClockTimeSource::is_virtual() const {
  return platform::Clock::instance().mode() == platform::Clock::Mode::Virtual;
}

void PlatformClockTimeSource::advance_to(uint64_t ms) {
  auto& clock = platform::Clock::instance();
  uint64_t now = clock.now_ms();
  if (ms <= now) return;
  uint64_t step = ms - now;
  clock.sleep(static_cast<uint32_t>(step > 0xFFFFFFF0u ? 0xFFFFFFF0u : step));
}

namespace {
TimeSource& default_source() {
  static PlatformClockTimeSource source;
  return source;
}
std::atomic<TimeSource*> installed{nullptr};
}  // namespace

TimeSource& time_source() {
  TimeSource* s = installed.load(std::memory_order_acquire);
  return s ? *s : default_source();
}

void set_time_source(TimeSource* source) { installed.store(source, std::memory_order_release); }

}  // namespace platform::ui
