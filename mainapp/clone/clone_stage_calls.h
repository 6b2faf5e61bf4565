// The clone run's calls of the stages that live in their own files beside
// it: the file-level partition copy, the MBR boot code and disk signature and
// the offline registry and boot-store repair.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"

// Copies (or verifies) one partition by files.
bool CopyPartitionByFiles(const CString& source, const CString& destination, bool verify);
// The source's MBR boot code onto the destination, keeping the destination's
// table and signature.
bool CopyBootCodeStage(int32_t sourceListed, int32_t destinationListed);
// The source's disk signature onto the destination (the wizard's disks).
bool CopyDiskSignatureStage();
// The offline MountedDevices and boot-store repair of a GPT destination.
bool RepairGptSystemStage(int32_t destinationListed, const CString& systemDrive);
