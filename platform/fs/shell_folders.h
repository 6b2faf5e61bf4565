// The system and user folders of the simulated PC: GetWindowsDirectoryW,
// GetSystemDirectoryW, GetTempPathW, SHGetSpecialFolderPathW and the
// "Shell Folders" registry values.
//
// They follow the machine's OS facts: the Windows, system, temp and program
// folders as machine.ini names them, and the user profile under
// "Documents and Settings" (major version 5 and below: "My Documents",
// "Application Data") or "Users" (later: "Documents", "AppData\Roaming").
#pragma once

#include <string>

#include "platform/core/types.h"

constexpr int CSIDL_DESKTOP = 0x0000;
constexpr int CSIDL_PROGRAMS = 0x0002;
constexpr int CSIDL_PERSONAL = 0x0005;
constexpr int CSIDL_MYDOCUMENTS = CSIDL_PERSONAL;
constexpr int CSIDL_STARTUP = 0x0007;
constexpr int CSIDL_STARTMENU = 0x000b;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;
constexpr int CSIDL_FONTS = 0x0014;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x0019;
constexpr int CSIDL_APPDATA = 0x001a;
constexpr int CSIDL_LOCAL_APPDATA = 0x001c;
constexpr int CSIDL_COMMON_APPDATA = 0x0023;
constexpr int CSIDL_WINDOWS = 0x0024;
constexpr int CSIDL_SYSTEM = 0x0025;
constexpr int CSIDL_PROGRAM_FILES = 0x0026;
constexpr int CSIDL_MYPICTURES = 0x0027;
constexpr int CSIDL_PROFILE = 0x0028;
constexpr int CSIDL_PROGRAM_FILESX86 = 0x002a;
constexpr int CSIDL_COMMON_DOCUMENTS = 0x002e;
constexpr int CSIDL_FLAG_CREATE = 0x8000;

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
// `buffer` holds MAX_PATH characters. With `create`, missing folders are made.
BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create);

namespace platform::fs {

// The folder for a CSIDL value (without CSIDL_FLAG_CREATE), or empty when unknown.
std::u16string SpecialFolder(int csidl);
// Writes HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders
// (Desktop, Personal, AppData, ...). Returns a Win32 error.
DWORD WriteShellFolderValues();

}  // namespace platform::fs
