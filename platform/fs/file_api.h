// The file API on paths: CreateFileW and friends over the volume drivers.
//
// Open files and find handles are kernel objects (see platform/core/kobject.h),
// so ReadFile, WriteFile, SetFilePointer(Ex), GetFileSize(Ex), SetEndOfFile,
// FlushFileBuffers, DeviceIoControl and CloseHandle work on them. Device names
// go to the storage layer and "\\.\pipe\..." names to the handler registered
// for that prefix.
#pragma once

#include <functional>
#include <string>

#include "platform/core/kobject.h"
#include "platform/core/types.h"
#include "platform/fs/volume_driver.h"
#include "platform/storage/ioctl.h"

// ---- Records ---------------------------------------------------------------

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;      // +0x00
  FILETIME ftCreationTime;     // +0x04
  FILETIME ftLastAccessTime;   // +0x0c
  FILETIME ftLastWriteTime;    // +0x14
  DWORD nFileSizeHigh;         // +0x1c
  DWORD nFileSizeLow;          // +0x20
  DWORD dwReserved0;           // +0x24 reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
  DWORD dwReserved1;           // +0x28
  WCHAR cFileName[MAX_PATH];   // +0x2c
  WCHAR cAlternateFileName[14];  // +0x234
};                               // 0x250 bytes
static_assert(sizeof(WIN32_FIND_DATAW) == 0x250);
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 0x2c);
static_assert(offsetof(WIN32_FIND_DATAW, cAlternateFileName) == 0x234);
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;     // +0x00
  FILETIME ftCreationTime;    // +0x04
  FILETIME ftLastAccessTime;  // +0x0c
  FILETIME ftLastWriteTime;   // +0x14
  DWORD nFileSizeHigh;        // +0x1c
  DWORD nFileSizeLow;         // +0x20
};                            // 0x24 bytes
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) == 0x24);

enum STREAM_INFO_LEVELS { FindStreamInfoStandard = 0, FindStreamInfoMaxInfoLevel = 1 };

struct WIN32_FIND_STREAM_DATA {
  LARGE_INTEGER StreamSize;        // +0x00
  WCHAR cStreamName[MAX_PATH + 36];  // +0x08 ":name:$DATA", "::$DATA" for the file's own data
};                                 // 0x258 bytes
static_assert(sizeof(WIN32_FIND_STREAM_DATA) == 0x258);

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0, GetFileExMaxInfoLevel = 1 };

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;      // +0x00
  FILETIME ftCreationTime;     // +0x04
  FILETIME ftLastAccessTime;   // +0x0c
  FILETIME ftLastWriteTime;    // +0x14
  DWORD dwVolumeSerialNumber;  // +0x1c
  DWORD nFileSizeHigh;         // +0x20
  DWORD nFileSizeLow;          // +0x24
  DWORD nNumberOfLinks;        // +0x28
  DWORD nFileIndexHigh;        // +0x2c
  DWORD nFileIndexLow;         // +0x30
};                             // 0x34 bytes
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 0x34);

using SECURITY_INFORMATION = DWORD;
using PSECURITY_DESCRIPTOR = void*;
constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x00000001;
constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x00000002;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x00000004;
constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x00000008;
// With DACL_SECURITY_INFORMATION: the DACL does (or does not) inherit from the parent.
constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000;
constexpr SECURITY_INFORMATION UNPROTECTED_DACL_SECURITY_INFORMATION = 0x20000000;

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x00000002;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;

constexpr DWORD FSCTL_DELETE_REPARSE_POINT = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 43, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(FSCTL_DELETE_REPARSE_POINT == 0x000900AC);

// ---- Calls -----------------------------------------------------------------

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags_and_attributes, HANDLE template_file);
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR name);
BOOL DeleteFileW(LPCWSTR name);
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists);
// A further name `link` for the file `existing` on the same volume (a hard
// link). ERROR_NOT_SAME_DEVICE across volumes, ERROR_NOT_SUPPORTED where the
// file system has no hard links (FAT), ERROR_ALREADY_EXISTS when taken.
BOOL CreateHardLinkW(LPCWSTR link, LPCWSTR existing, LPSECURITY_ATTRIBUTES security);

DWORD GetFileAttributesW(LPCWSTR name);
BOOL GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID info);
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME last_access, LPFILETIME last_write);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* last_access, const FILETIME* last_write);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
BOOL SetFileShortNameW(HANDLE file, LPCWSTR short_name);

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);
// The data streams of a file or folder: a file's own data ("::$DATA") first,
// then its named streams (":name:$DATA"). ERROR_HANDLE_EOF when there is none
// (a folder without named streams); FindClose ends the search.
HANDLE FindFirstStreamW(LPCWSTR name, STREAM_INFO_LEVELS level, LPVOID data, DWORD flags);
BOOL FindNextStreamW(HANDLE find, LPVOID data);

DWORD GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* file_part);
DWORD GetShortPathNameW(LPCWSTR name, LPWSTR buffer, DWORD size);
DWORD GetLongPathNameW(LPCWSTR name, LPWSTR buffer, DWORD size);
BOOL SetCurrentDirectoryW(LPCWSTR name);
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);

BOOL GetFileSecurityW(LPCWSTR name, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor, DWORD size,
                      LPDWORD needed);
BOOL SetFileSecurityW(LPCWSTR name, SECURITY_INFORMATION which, PSECURITY_DESCRIPTOR descriptor);

BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR label, DWORD label_size, LPDWORD serial, LPDWORD max_component,
                           LPDWORD flags, LPWSTR file_system, DWORD file_system_size);
BOOL SetVolumeLabelW(LPCWSTR root, LPCWSTR label);
BOOL GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectors_per_cluster, LPDWORD bytes_per_sector, LPDWORD free_clusters,
                       LPDWORD total_clusters);
BOOL GetDiskFreeSpaceExW(LPCWSTR folder, PULARGE_INTEGER free_to_caller, PULARGE_INTEGER total,
                         PULARGE_INTEGER total_free);

namespace platform::fs {

// Device names ("\\.\PhysicalDrive0", "\\.\C:", "\\?\Volume{...}") are opened
// by the storage layer; it installs its opener here.
using DeviceOpener = std::function<HANDLE(const std::u16string& name, DWORD access, DWORD share, DWORD disposition,
                                          DWORD flags)>;
void SetDeviceOpener(DeviceOpener opener);

// Names under a prefix such as u"\\\\.\\pipe\\" go to a handler (named pipes).
using NamespaceHandler = std::function<HANDLE(const std::u16string& name, DWORD access, DWORD share,
                                              DWORD disposition, DWORD flags)>;
void RegisterNamespaceHandler(const std::u16string& prefix, NamespaceHandler handler);

// FSCTL_GET_NTFS_VOLUME_DATA for a volume handle (the storage layer's volume
// objects call this with the volume's GUID path). Fills `out` (at least 96
// bytes, NTFS_VOLUME_DATA_BUFFER) and sets *returned.
BOOL QueryNtfsVolumeData(const std::u16string& volume_guid_path, void* out, DWORD out_size, DWORD* returned);

// The current folder of this process (a full path), as SetCurrentDirectoryW sets it.
std::u16string CurrentDirectory();

// Copies `size` bytes of the file `from`, starting at `from_offset`, into the
// file `to` at its file pointer and moves that pointer on, as ReadFile and
// WriteFile through a buffer would, but as one copy made by the host (no
// bytes through the caller). *done is short only when `from` ends. FALSE with
// ERROR_NOT_SUPPORTED, nothing written, where the host cannot make the copy
// (a file inside a disk image, a write-through or append-only handle): the
// caller then moves the bytes itself.
BOOL CopyFileRange(HANDLE from, uint64_t from_offset, HANDLE to, DWORD size, DWORD* done);

}  // namespace platform::fs
