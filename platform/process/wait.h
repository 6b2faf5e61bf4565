// Waiting for kernel objects on the platform clock.
//
// Every blocking call of this library (waits on threads, processes, events and
// mutexes, WaitNamedPipeW, pipe reads) goes through WaitUntil. Objects whose
// state changes call NotifyStateChanged so that waiters re-test their
// condition. A bounded wait ends early when its condition holds; otherwise it
// ends when the platform clock reaches the deadline. With the virtual clock
// that happens at once when nothing is working (no ActivityScope is open), and
// never while a stand-in program or other real work is still running.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/core/types.h"

namespace platform::process {

// Returns true when ready() held, false when timeout_ms (INFINITE: never)
// passed on the clock first. ready() is called without any lock of this
// library held and must be cheap.
bool WaitUntil(const std::function<bool()>& ready, DWORD timeout_ms);

// Wakes every WaitUntil so that it re-tests its condition.
void NotifyStateChanged();

// Marks real work in progress: while any scope is open, bounded waits on the
// virtual clock do not expire before their condition is re-tested after the
// work ends. Stand-in programs hold one while they run.
class WorkScope {
 public:
  WorkScope();
  // Takes over work counted by ReserveWork on another thread (a starting program).
  struct Adopt {};
  explicit WorkScope(Adopt);
  ~WorkScope();
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;
};

// Counts work that a thread about to start will adopt with WorkScope(Adopt{}),
// so that no wait expires between the start request and the thread running.
void ReserveWork();
// Ends work reserved with ReserveWork that no thread adopted.
void EndReservedWork();

// Milliseconds on the clock that the waits of this library use.
uint64_t ClockMilliseconds();
// Virtual clock only: moves time forward (tests and headless scripts).
void AdvanceClock(uint64_t milliseconds);

}  // namespace platform::process
