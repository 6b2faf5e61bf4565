// The one place where the clone run calls the stages that live in their own
// files beside it: the file-level partition copy, the MBR boot code and disk
// signature, the EFI system partition image and the offline registry and
// boot-store repair. Each call says whether the stage ran; a stage that is
// not linked into this build does not run, and the run copies such a
// partition by sectors instead.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"

// Copies (or verifies) one partition by files. False when the copy did not
// run (no file-level copy in this build).
bool CopyPartitionByFiles(const CString& source, const CString& destination, bool verify, bool* ran);
// The source's MBR boot code onto the destination, keeping the destination's
// table and signature.
bool CopyBootCodeStage(int32_t sourceListed, int32_t destinationListed);
// The source's disk signature onto the destination (the wizard's disks).
bool CopyDiskSignatureStage();
// Writes the EFI system partition image before a conversion's table.
bool WriteEspImageStage(int32_t destinationPhysical);
// The offline MountedDevices and boot-store repair of a GPT destination.
bool RepairGptSystemStage(int32_t destinationListed, const CString& systemDrive);
// True when the file-level copy is part of this build.
bool HasFileLevelCopy();
