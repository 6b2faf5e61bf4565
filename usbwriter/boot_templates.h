// The boot code the writer puts on a stick, assembled from boot/*.asm at
// build time. Fields the formatters and the write sequence fill are noted in
// each source.
#pragma once

#include <cstdint>

// FAT32 volume boot sector and the code sector written at volume sector 12.
extern const uint8_t Fat32BootTemplate[512];
extern const uint8_t Fat32BootContinuation[372];
// FAT16 volume boot sector.
extern const uint8_t Fat16BootTemplate[512];

// The stick's loader (LBA 0-1): code, partition table room, the disk address
// packet at 512, the text at 528, option bytes 752-757, the menu from 758.
extern const uint8_t LoaderTemplate[1024];
// Boot code of LBA 2 for Windows images: starts the active partition.
extern const uint8_t MbrCodeTemplate[434];
// NTFS boot code, bytes 80 to 4,607 of the volume's first nine sectors.
extern const uint8_t NtfsBootCodeTemplate[4528];
