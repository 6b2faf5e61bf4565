#include "platform/ui/time_source.h"

#include <atomic>
#include <chrono>
#include <thread>

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

namespace {
VirtualTimeSource& default_source() {
  static VirtualTimeSource source;
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
