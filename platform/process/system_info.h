// What a program asks about the system it runs on: version, WOW64, COM
// start-up and the power-management request.
#pragma once

#include "platform/core/error.h"
#include "platform/core/guid.h"  // CoCreateGuid
#include "platform/core/types.h"

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;  // +0x00 must be 276 or 284
  DWORD dwMajorVersion;       // +0x04
  DWORD dwMinorVersion;       // +0x08
  DWORD dwBuildNumber;        // +0x0c
  DWORD dwPlatformId;         // +0x10
  WCHAR szCSDVersion[128];    // +0x14 service pack text
};                            // 276 bytes
using LPOSVERSIONINFOW = OSVERSIONINFOW*;
static_assert(sizeof(OSVERSIONINFOW) == 276);

struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;  // +0x00
  DWORD dwMajorVersion;       // +0x04
  DWORD dwMinorVersion;       // +0x08
  DWORD dwBuildNumber;        // +0x0c
  DWORD dwPlatformId;         // +0x10
  WCHAR szCSDVersion[128];    // +0x14
  WORD wServicePackMajor;     // +0x114
  WORD wServicePackMinor;     // +0x116
  WORD wSuiteMask;            // +0x118
  BYTE wProductType;          // +0x11a
  BYTE wReserved;             // +0x11b
};                            // 284 bytes
static_assert(sizeof(OSVERSIONINFOEXW) == 284);
static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMajor) == 0x114);
static_assert(offsetof(OSVERSIONINFOEXW, wProductType) == 0x11a);

constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Takes an OSVERSIONINFOW or OSVERSIONINFOEXW, told apart by its size field;
// any other size fails with ERROR_INSUFFICIENT_BUFFER.
BOOL GetVersionExW(LPOSVERSIONINFOW info);
BOOL IsWow64Process(HANDLE process, BOOL* wow64);

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);
// S_OK for the thread's first call, S_FALSE for a repeat in the same model,
// RPC_E_CHANGED_MODE for a different model.
HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
void CoUninitialize();

using EXECUTION_STATE = DWORD;
constexpr EXECUTION_STATE ES_SYSTEM_REQUIRED = 0x00000001;
constexpr EXECUTION_STATE ES_DISPLAY_REQUIRED = 0x00000002;
constexpr EXECUTION_STATE ES_AWAYMODE_REQUIRED = 0x00000040;
constexpr EXECUTION_STATE ES_CONTINUOUS = 0x80000000;
// Returns the thread's previous continuous state; 0 for an invalid request.
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags);

namespace platform::process {
// Number of SetThreadExecutionState requests made so far (tests).
uint64_t ExecutionStateRequests();
}  // namespace platform::process
