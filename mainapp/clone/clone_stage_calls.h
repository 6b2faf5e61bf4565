// The clone run's calls of the stages that live in their own files beside
// it: the file-level partition copy, the MBR boot code and disk signature and
// the offline registry and boot-store repair.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"

#include "platform/core/cstring.h"

// Copies (or verifies) one partition by files.
bool CopyPartitionByFiles(const CString& source, const CString& destination, bool verify);
// The source's MBR boot code onto the destination, keeping the destination's
// table and signature.
bool CopyBootCodeStage(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);
// The boot code of the source's volume at byte `sourceStart` of physical disk
// `sourceDisk` onto the copy's volume at `destinationStart` of
// `destinationDisk`, keeping the copy's parameter block (a volume copied by
// files starts with what its formatter wrote).
bool TransplantBootCodeStage(int32_t sourceDisk, uint64_t sourceStart, int32_t destinationDisk,
                             uint64_t destinationStart);
// The same between two lettered volumes ("C:").
bool TransplantBootSectorStage(const CString& sourceDrive, const CString& destinationDrive);
// The source's disk signature onto the destination (the wizard's disks); a
// system copied by a basic whole-disk clone onto an MBR disk follows the
// signature in its MountedDevices, and so does a system copied as a single
// partition (onto the volume with the destination selection's letter).
bool CopyDiskSignatureStage();
// After a basic whole-disk clone from MBR to MBR: the copied system's
// MountedDevices names its partitions on the destination disk (its own
// signature and the planned offsets) instead of the source's.
bool BindCopiedSystemStage(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);
// After a single partition was copied by files: a system on the copy names
// the copy's partition where it named the source's (MountedDevices, boot store).
bool BindCopiedVolumeStage(const CString& sourceDrive, const CString& destinationDrive);
// The offline MountedDevices and boot-store repair of a GPT destination.
bool RepairGptSystemStage(ListedDiskIndex destinationListed, const CString& systemDrive);
