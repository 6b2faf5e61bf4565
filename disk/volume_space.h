// Volume space helpers: free and used space of a drive in 512-byte units,
// bytes used by a folder tree, the size of a file, finding a volume by its disk
// and start offset, volume lock and unlock.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// Nesting counter of the recursive folder walks, shared with the tree copy;
// the clone run sets it to 0 before it copies.
extern int32_t FolderDepth;
constexpr int32_t kFolderDepthLimit = 256;
// GetFolderUsedBytes' result for a tree nested deeper than the limit.
constexpr uint64_t kFolderTooDeep = UINT64_MAX;

// Free space of letter + ":\" in 512-byte units; 0 when the query fails.
uint64_t GetFreeSectors(WCHAR letter);
// Bytes used by the folder tree, or by the whole volume for a root such as
// "D:\". kFolderTooDeep when folders nest deeper than 256 anywhere below.
uint64_t GetFolderUsedBytes(const CString& path);
// Size in bytes; -1 when the file cannot be opened.
int64_t GetFileSizeBytes(const CString& path);

// "\\?\Volume{...}" (no trailing backslash) of the first volume whose first
// extent lies on `disk` at byte offset `start`; empty when none.
CString FindVolumeByExtent(int32_t disk, uint64_t start);
// FSCTL_LOCK_VOLUME, 22 attempts 200 ms apart; true even when every attempt
// failed (the caller goes on unlocked).
bool LockVolume(HANDLE volume);
bool UnlockVolume(HANDLE volume);
// Used space of letter + ":\" in 512-byte units (64-bit); 0 when unreadable.
uint64_t GetVolumeUsedSectors(WCHAR letter);
