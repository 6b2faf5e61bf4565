// INI files on the simulated PC's paths: GetPrivateProfileStringW,
// GetPrivateProfileIntW and WritePrivateProfileStringW, as the platform reads
// and writes them. A file name without a folder lives in the Windows folder.
// Sections and keys match without regard to case; values lose surrounding
// blanks and one pair of surrounding quotes. Files are read as UTF-16LE (with
// its byte-order mark), UTF-8 (with or without one) or, failing that, Latin-1,
// and written back in the form they were read.
#pragma once

#include "platform/core/types.h"

// With a null section: every section name; with a null key: every key of the
// section; each NUL-terminated, the list ending in a second NUL. A default's
// trailing blanks are dropped. Returns the characters copied without the
// final NUL (size - 1, or size - 2 for lists, when the buffer was too small).
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value, LPWSTR buffer, DWORD size,
                               LPCWSTR file);
// The key's leading decimal (or 0x hex) number; `default_value` when the key is
// missing, 0 when its value does not start with a number or is negative.
UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT default_value, LPCWSTR file);
// Sets a key (creating the section and the file when needed); a null value
// removes the key, a null key the whole section.
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);

// The ANSI form of GetDiskFreeSpaceW (root names are ASCII).
BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectors_per_cluster, LPDWORD bytes_per_sector, LPDWORD free_clusters,
                       LPDWORD total_clusters);
