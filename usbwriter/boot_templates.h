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
