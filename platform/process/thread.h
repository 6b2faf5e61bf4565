// Threads of the simulated programs.
//
// CreateThread runs the routine on a host thread. Ending a thread from the
// outside is cooperative: TerminateThread marks the thread ended at once (its
// handle is signalled and GetExitCodeThread reports the given code), and the
// routine itself stops at its next wait of this library (WaitForSingleObject,
// pipe reads, WaitNamedPipeW, ...), which unwinds the thread instead of
// returning. A routine that never waits runs to its end, but its result is
// ignored. ExitThread unwinds the calling thread the same way.
#pragma once

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFF;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD thread_id);
DWORD ResumeThread(HANDLE thread);
[[noreturn]] void ExitThread(DWORD exit_code);
BOOL TerminateThread(HANDLE thread, DWORD exit_code);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
DWORD GetCurrentThreadId();
HANDLE GetCurrentThread();
DWORD GetThreadId(HANDLE thread);

namespace platform::process {

// Thrown through a thread that was terminated or called ExitThread; caught by
// the thread's own start-up code. Program code must let it pass.
struct ThreadUnwind {
  DWORD exit_code;
};

// Called by the waits of this library: unwinds the calling thread when it was
// terminated meanwhile.
void CheckThreadTermination();

}  // namespace platform::process
