// The boot code the writer puts on a stick: the volume boot sectors it shares
// with the platform's formatter (platform/fs/boot), and its own loader and
// MBR code, assembled from boot/*.asm at build time. Fields the formatters and
// the write sequence fill are noted in each source.
#pragma once

#include <cstdint>

#include "platform/fs/boot/volume_boot_code.h"

// The stick's loader (LBA 0-1): code, partition table room, the disk address
// packet at 512, the text at 528, option bytes 752-757, the menu from 758.
extern const uint8_t LoaderTemplate[1024];
// Boot code of LBA 2 for Windows images: starts the active partition.
extern const uint8_t MbrCodeTemplate[434];
