// Boot code and disk signature of a clone's destination disk: after the
// partitions were copied, the destination's sector 0 gets the source disk's
// MBR boot code (or the program's own loader when the source carries none),
// and where asked the source's 4-byte disk signature. The partition entries,
// the boot signature and the rest of the first track stay exactly as the
// layout writer left them.
//
// Units: listed indexes are 0-based positions in the listed-disk table; the
// disks are read and written by native sector 0 (512 or 4096 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/disk_numbers.h"

#include "platform/core/cstring.h"

// MBR byte offsets.
constexpr int kMbrBootCodeBytes = 440;     // 0-439
constexpr int kMbrSignatureOffset = 440;   // 440-443
constexpr int kMbrTableOffset = 446;       // four entries of 16 bytes
constexpr int kMbrBootSignatureOffset = 510;

// The program's own MBR loader (boot_code_mbr.asm): kMbrBootCodeBytes bytes,
// starting 0x33 0xC0. Boots the active primary partition.
extern const uint8_t kOwnMbrBootCode[];
extern const size_t kOwnMbrBootCodeSize;

// Boot code is taken to be present when bytes 0-439 of sector 0 are not all
// zero (a table written by a partitioning tool alone leaves them zero).
bool HasMbrBootCode(const uint8_t* sector0);

// Puts boot code into the destination's sector 0: the source's bytes 0-439
// when its sector 0 carries boot code, else the program's own loader. The
// destination's signature, partition entries (MBR or protective) and boot
// signature are kept. When both disks are MBR disks, the sectors between the
// source's sector 0 and its first partition (where a loader that the boot
// code starts may live) are copied too, as far as the destination's own
// first partition leaves room (whole destination sectors); between disks of
// different sector sizes as bytes from each disk's native sector 1 on. A GPT
// disk keeps its headers and entries there, so nothing behind its sector 0
// changes.
// Shows IDS_COPYINGMBR in CloneRunState's status text. Writes nothing and
// returns false when either disk cannot be opened or read.
bool CopyMbrBootCode(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);

// Gives the destination disk the source disk's 4-byte disk signature (bytes
// 440-443 of sector 0), changing nothing else. Writes nothing when a read
// fails or when the source has no signature (0), so the destination never
// gets a stale sector or a zero signature. True when written.
bool CopyDiskSignatureBetween(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);
// The same for the wizard's source and destination (CloneSettings).
bool CopyDiskSignature();
// The 4-byte disk signature of a listed disk's sector 0; 0 when it cannot be read.
uint32_t ReadDiskSignature(ListedDiskIndex listed);

// Gives the destination volume the source volume's boot code while keeping
// the destination's own parameter block: volume names such as "C:", opened
// as "\\.\" + name. Both volumes must hold one file system (NTFS, FAT32 or
// FAT12/16; FAT volumes of one sector size). What moves is all of the boot
// code the file system keeps: NTFS's first 8 KiB (its $Boot) but bytes 11-83,
// FAT32's sector 0 but bytes 11-89 and its other reserved sectors up to 16
// but the information sector and the backup boot sectors, FAT12/16's sector
// 0 but bytes 11-61. The copy of the boot sector an NTFS or FAT32 volume
// keeps gets the new sector 0 when it matched the old one, so the two stay
// equal. Nothing is written, and the result is false, when a volume cannot
// be opened or read, when the file systems differ, or when the source's
// opening jump lands inside the parameter block kept (its code would be cut).
bool TransplantBootSector(const CString& sourceVolume, const CString& destinationVolume);
// The same on device paths ("\\.\C:", "\\?\Volume{...}").
bool TransplantVolumeBootCode(const CString& sourceDevice, const CString& destinationDevice);
