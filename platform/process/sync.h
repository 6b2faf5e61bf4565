// Events, mutexes (named ones shared by every process of the simulated PC),
// critical sections, interlocked helpers and multi-object waits.
//
// A named mutex is backed by a lock file in the machine folder
// (locks/<name>.lock) on which every host process that has the name open holds
// a shared flock, so a process of the same simulated PC that creates the name
// while any other has it open gets ERROR_ALREADY_EXISTS, and a process's hold
// goes away with it however it ends. Ownership (WaitForSingleObject/ReleaseMutex) is tracked per
// thread inside one host process only.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/core/access_rights.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/types.h"

constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD ERROR_NOT_OWNER = 288;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCWSTR name);
HANDLE OpenMutexW(DWORD desired_access, BOOL inherit, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD timeout_ms);

// The layout is private to this library; callers only declare and pass it.
struct CRITICAL_SECTION {
  void* impl;
  LONG reserved[8];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Full-barrier atomics on naturally aligned 32-bit values, returning as the
// platform does (Increment/Decrement: the new value; Exchange/CompareExchange/
// ExchangeAdd: the old value).
LONG InterlockedIncrement(LONG volatile* target);
LONG InterlockedDecrement(LONG volatile* target);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
LONG InterlockedExchangeAdd(LONG volatile* target, LONG value);
