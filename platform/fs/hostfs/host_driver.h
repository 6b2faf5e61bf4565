// The host-folder driver: a folder of the host shown as a volume (a whole
// drive letter such as WinPE's X:, or a folder inside a volume).
//
// Names match without regard to case and keep their case. What the host file
// system cannot hold is kept in a side store, a file named ".drumfs-meta" in
// the folder's root (never listed): the hidden, system and archive
// attributes and the creation time. Read-only is the host's write
// permission bits. Times are the host's modification and access times.
//
// Several programs of the simulated PC may mount the same folder at once.
// Names: each look-up sees every change to the folder complete before it
// began (see name_cache.h). Side store: every change to it is made under a
// lock on the folder after taking in what the others wrote, so no record is
// lost, and every call takes in the records the others added before it.
#pragma once

#include <memory>
#include <string>

#include "platform/fs/volume_driver.h"

namespace platform::fs::hostfs {

inline constexpr const char* kSideStoreName = ".drumfs-meta";

// Null with *error (ERROR_PATH_NOT_FOUND) when `folder` is not a folder.
std::unique_ptr<VolumeDriver> Mount(const std::string& folder, bool read_only, DWORD* error);

}  // namespace platform::fs::hostfs
