// The platform formatter: FormatEx as fmifs.dll exports it, and SHFormatDrive.
//
// A volume is formatted by Debian's own tools on a sparse scratch file of the
// volume's size (mkfs.fat, mkntfs, with the partition's hidden-sector count
// and geometry), whose written ranges are then copied onto the volume. On a
// system from Windows Vista on, NTFS, FAT32 and FAT16 volumes of 512-byte sectors
// get boot code that starts the boot manager (platform/fs/boot), as the
// system's own format gives them, in place of the tools' stub. A full
// format also clears every non-zero byte of the volume first. Progress goes
// to the callback as percent steps; the done report carries success or
// failure (unknown volume, locked volume, unsupported file system or cluster
// size, a size the file system cannot hold, a write fault, a cancel).
#pragma once

#include <functional>
#include <string>

#include "platform/core/types.h"

// Callback command codes the programs look at.
constexpr DWORD FMIFS_PROGRESS = 0;  // ActionInfo: DWORD* percent
constexpr DWORD FMIFS_DONE = 11;     // ActionInfo: BOOLEAN* success

// Media types callers pass.
constexpr DWORD FMIFS_REMOVABLE_MEDIA = 11;
constexpr DWORD FMIFS_FIXED_MEDIA = 12;

// Returns TRUE to let the format go on.
using PFMIFSCALLBACK = BOOLEAN (*)(DWORD command, DWORD sub_action, PVOID action_info);

void FormatEx(WCHAR* drive_root, DWORD media_type, WCHAR* file_system, WCHAR* label, BOOL quick, DWORD cluster_size,
              PFMIFSCALLBACK callback);

constexpr UINT SHFMT_ID_DEFAULT = 0xFFFF;
constexpr UINT SHFMT_OPT_FULL = 0x0001;
constexpr DWORD SHFMT_ERROR = 0xFFFFFFFF;
constexpr DWORD SHFMT_CANCEL = 0xFFFFFFFE;
constexpr DWORD SHFMT_NOFORMAT = 0xFFFFFFFD;

// The shell's format dialog, answered as a user who formats the drive as NTFS
// with the options given. Returns SHFMT_ID_DEFAULT on success, SHFMT_ERROR on failure.
DWORD SHFormatDrive(HWND owner, UINT drive, UINT format_id, UINT options);

namespace platform::fs {

// Who holds a volume lock (the storage layer's volume handles install this):
// true when the volume with this GUID path is locked, so it cannot be formatted.
void SetVolumeLockQuery(std::function<bool(const std::u16string& guid_path)> query);

}  // namespace platform::fs
