// Volume boot code that starts the boot manager, assembled from
// platform/fs/boot/*.asm at build time: the platform's formatter writes it on
// the volumes it makes, as the system's own format does, and Pellimor on its
// sticks. Fields the writers fill are noted in each source.
#pragma once

#include <cstdint>

// FAT32 volume boot sector and the code sector written at volume sector 12
// (found by the boot sector; it loads BOOTMGR from the root directory).
extern const uint8_t Fat32BootTemplate[512];
extern const uint8_t Fat32BootContinuation[372];
// The FAT32 boot sector's parameter block ends before this byte; its code
// (and the jump table the continuation calls) lies behind it.
constexpr int kFat32ParameterBlockEnd = 90;
// The volume sector that holds the FAT32 continuation.
constexpr int kFat32ContinuationSector = 12;

// FAT16 volume boot sectors: one loads NTLDR from the root directory, the
// other BOOTMGR. Their parameter blocks end before byte 62, where the code
// starts.
extern const uint8_t Fat16BootTemplate[512];
extern const uint8_t Fat16BootmgrTemplate[512];
constexpr int kFat16ParameterBlockEnd = 62;

// NTFS boot code, bytes 80 to 4,607 of the volume's first nine sectors
// (loads BOOTMGR through the root directory's index); bytes 0-79 are the
// formatter's jump, name and parameter block.
extern const uint8_t NtfsBootCodeTemplate[4528];
constexpr int kNtfsBootCodeOffset = 80;
