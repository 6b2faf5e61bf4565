// Drive letters, volume names, mount points and DOS device names, as the
// programs call them. All answers come from the mount manager's table
// (mount_manager.h) and fail with the platform's error codes; a null or short
// buffer is an error, never a write outside it.
#pragma once

#include <functional>
#include <string>

#include "platform/core/error.h"
#include "platform/core/types.h"

using LPWCH = WCHAR*;

// GetDriveTypeW answers.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// DefineDosDeviceW flags.
constexpr DWORD DDD_RAW_TARGET_PATH = 0x00000001;
constexpr DWORD DDD_REMOVE_DEFINITION = 0x00000002;
constexpr DWORD DDD_EXACT_MATCH_ON_REMOVE = 0x00000004;
constexpr DWORD DDD_NO_BROADCAST_SYSTEM = 0x00000008;

// Bit 0 = A:, bit 2 = C: ... Counts as a mount pass (new volumes may show).
DWORD GetLogicalDrives();
// "C:\<0>D:\<0><0>". Returns the characters written without the final NUL, or,
// when the buffer is too short, the size needed including it (buffer untouched).
DWORD GetLogicalDriveStringsW(DWORD buffer_length, LPWSTR buffer);
// Root "C:\" or "C:", a volume GUID path, or a folder mount point "C:\Mnt\".
// Null means the current directory's drive.
UINT GetDriveTypeW(LPCWSTR root_path);

// Volume enumeration. Names are "\\?\Volume{...}\". Too short a buffer fails
// with ERROR_FILENAME_EXCED_RANGE; the end with ERROR_NO_MORE_FILES.
HANDLE FindFirstVolumeW(LPWSTR volume_name, DWORD buffer_length);
BOOL FindNextVolumeW(HANDLE find, LPWSTR volume_name, DWORD buffer_length);
BOOL FindVolumeClose(HANDLE find);

// "C:\" (trailing backslash required), a folder mount point or a volume GUID
// path -> the volume GUID path. ERROR_INVALID_PARAMETER without the trailing
// backslash, ERROR_FILE_NOT_FOUND for an unknown drive or volume,
// ERROR_NOT_A_REPARSE_POINT for a folder that is no mount point,
// ERROR_FILENAME_EXCED_RANGE for a short buffer. Counts as a mount pass.
BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR mount_point, LPWSTR volume_name, DWORD buffer_length);
// The volume's letter root and folder mount points as a list of strings
// ended by an extra NUL. *return_length gets the size needed (with a short
// buffer: ERROR_MORE_DATA). ERROR_INVALID_NAME for a malformed name,
// ERROR_FILE_NOT_FOUND for an unknown volume.
BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volume_name, LPWCH path_names, DWORD buffer_length,
                                      PDWORD return_length);
// Binds "X:\" or an empty folder "C:\Mnt\" to a volume; errors as the
// mount manager's AssignLetter / AddFolderMountPoint.
BOOL SetVolumeMountPointW(LPCWSTR mount_point, LPCWSTR volume_name);
BOOL DeleteVolumeMountPointW(LPCWSTR mount_point);

// Null name: every DOS device name. Otherwise the targets of one name ("C:",
// "PhysicalDrive0", "Volume{...}"), newest first. Strings end with NUL and the
// list with another; returns the characters stored, or 0 with
// ERROR_INSUFFICIENT_BUFFER / ERROR_FILE_NOT_FOUND.
DWORD QueryDosDeviceW(LPCWSTR device_name, LPWSTR target_path, DWORD max_chars);
// Defines, or with DDD_REMOVE_DEFINITION removes, a DOS device name.
// Without DDD_RAW_TARGET_PATH the target is a path and is stored as "\??\" + path.
BOOL DefineDosDeviceW(DWORD flags, LPCWSTR device_name, LPCWSTR target_path);

namespace platform::storage {
// The file API tells the volume APIs what the current directory is (for
// GetDriveTypeW(NULL)); without it the current drive is C:.
void SetCurrentDirectoryQuery(std::function<std::u16string()> query);
}  // namespace platform::storage
