// Waiting for kernel objects on the platform clock.
//
// Every blocking call of this library (waits on threads, processes, events and
// mutexes, WaitNamedPipeW, pipe reads) goes through WaitUntil, which waits on
// platform::Clock: a bounded wait ends early when its condition holds, and
// otherwise when the clock reaches the deadline (at once on the virtual clock
// when no thread is working; while a stand-in program, a host child or other
// real work runs, only once the timeout has passed in real time as well).
// Objects whose state changes call NotifyStateChanged so that waiters re-test
// their condition before time moves on. A thread that was terminated leaves its
// wait by unwinding (see thread.h).
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

}  // namespace platform::process
