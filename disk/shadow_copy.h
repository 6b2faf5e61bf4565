// The shadow-copy client: a live volume is read through a point-in-time
// shadow copy that an outside component makes (the program never makes one
// itself): a shadow library on 32-bit Windows, "Vshadow64.exe" or the
// companion ZvqThunk.exe with its message pipe on 64-bit Windows. Under WinPE
// no shadow copy is made. Also the two platform queries the same decisions
// use: WOW64 and the Windows version code.
#pragma once

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// The loaded shadow library; loaded on first use and kept.
extern HMODULE ShadowLibrary;
// The temporary folder with its trailing backslash; filled only by the
// "Vshadow64.exe" path of CreateShadowCopy (the BCD repair builds its work
// file names on it).
extern CString TempFolder;
extern const WCHAR* const ShadowPipeName;
constexpr DWORD kShadowReplyBytes = 131072;
// The current shadow copy: its volume text and the device path CreateShadowCopy gave for it.
extern CString ShadowSourceVolume;
extern CString ShadowDevicePath;

// Starts of the companion, and waits for a busy pipe, before a request gives up.
constexpr int kShadowPipeAttempts = 3;
// Longest wait for the companion's reply (virtual time in tests).
constexpr DWORD kShadowReplyTimeoutMs = 120000;

// Major version + 1 on NT-family systems (XP 6, Vista and 7 7); 0 otherwise.
int GetOsVersionCode();
// The shadow device path for "D:" or a volume path without trailing
// backslash (a root text such as "D:\" or a volume path with its trailing
// backslash is taken without it); empty when there is none.
CString CreateShadowCopy(const CString& volume);
void ReleaseShadowCopy();
// One request and its reply over the companion's pipe; empty on failure.
CString SendShadowRequest(const CString& request);
