// The registry as the programs call it: Win32-named globals over the live
// registry (a file of the simulated PC, see live_registry.h) and over offline
// hive files mounted with RegLoadKeyW (see hive_store.h).
//
// Every call returns a LONG error code (ERROR_SUCCESS on success) and does not
// touch GetLastError. Names of keys and values compare case-insensitively and
// keep the case they were created with. HKEY_CLASSES_ROOT is a view of
// HKLM\SOFTWARE\Classes, and HKLM\SYSTEM\CurrentControlSet a link to the
// control set that HKLM\SYSTEM\Select "Current" names (ControlSet001 by
// default). There is one registry view: the WOW64 flags change nothing.
#pragma once

#include "platform/core/access_rights.h"
#include "platform/core/error.h"
#include "platform/core/types.h"

using LSTATUS = LONG;
using REGSAM = DWORD;
using PFILETIME = FILETIME*;

// Predefined root keys. Their values are the platform's, so code that stores
// or compares them keeps working.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000000)));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001)));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002)));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000003)));

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_RESOURCE_LIST = 8;
constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// Access rights of a key handle.

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_WOW64_RES = 0x0300;
constexpr REGSAM KEY_READ = (STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE;
constexpr REGSAM KEY_WRITE = (STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = (STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                                   KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK) &
                                  ~SYNCHRONIZE;
static_assert(KEY_READ == 0x20019);
static_assert(KEY_WRITE == 0x20006);
static_assert(KEY_ALL_ACCESS == 0xF003F);

// Options of RegCreateKeyExW. Volatile keys are kept like non-volatile ones.
constexpr DWORD REG_OPTION_RESERVED = 0x0;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
constexpr DWORD REG_OPTION_VOLATILE = 0x1;
constexpr DWORD REG_OPTION_CREATE_LINK = 0x2;
constexpr DWORD REG_OPTION_BACKUP_RESTORE = 0x4;
constexpr DWORD REG_OPTION_OPEN_LINK = 0x8;

// Dispositions reported by RegCreateKeyExW.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Longest names the platform accepts, in characters without the terminator.
constexpr DWORD REG_MAX_KEY_NAME = 255;
constexpr DWORD REG_MAX_VALUE_NAME = 16383;

// Creates every missing key of lpSubKey below hKey and opens the last one.
// ERROR_ACCESS_DENIED when a key must be created below a handle without
// KEY_CREATE_SUB_KEY; ERROR_BAD_PATHNAME for a path that starts with a
// backslash or holds an empty name.
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult);
// ERROR_FILE_NOT_FOUND when the key does not exist.
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult);
LSTATUS RegCloseKey(HKEY hKey);
// Every change is already on disk when the call that made it returns; a
// flush of a key of a loaded hive writes the hive file.
LSTATUS RegFlushKey(HKEY hKey);

// Data lengths follow the platform: the bytes given are stored exactly, so a
// REG_SZ written without its terminating zero reads back without it. With
// lpData null the query reports only type and size; a buffer that is too
// short gives ERROR_MORE_DATA with *lpcbData set to the stored size.
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise).
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD Reserved);
// Deletes a key with everything below it; with lpSubKey null or empty it
// empties hKey itself (its values and subkeys).
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// Subkeys enumerate in the platform's order (names compared upper-cased);
// values in the order they were first set. ERROR_NO_MORE_ITEMS past the end.
// Name counts are in characters: on input the buffer size including the
// terminator, on output the length without it.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LSTATUS RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName);
LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime);

// Mounts the hive file lpFile (a path of the simulated PC) as the key lpSubKey
// directly below HKEY_USERS or HKEY_LOCAL_MACHINE. A damaged hive gives
// ERROR_BADDB and is left as it was; a name already in use ERROR_ALREADY_EXISTS.
LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile);
// Writes the hive's changes to its file and unmounts it. ERROR_ACCESS_DENIED
// while a handle to a key of the hive is still open.
LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey);
