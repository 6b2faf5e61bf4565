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

// Boot code is taken to be present when a sector starts 0x33 0xC0.
bool HasMbrBootCode(const uint8_t* sector0);

// Puts boot code into the destination's sector 0: the source's bytes 0-439
// when its sector 0 carries boot code, else the program's own loader. Only
// those 440 bytes change; the destination's signature, partition entries
// (MBR or protective), boot signature and the rest of its track are kept.
// Shows IDS_COPYINGMBR in CloneRunState's status text. Writes nothing and
// returns false when either disk cannot be opened or read.
bool CopyMbrBootCode(int32_t sourceListed, int32_t destinationListed);

// Gives the destination disk the source disk's 4-byte disk signature (bytes
// 440-443 of sector 0), changing nothing else. Writes nothing when a read
// fails or when the source has no signature (0), so the destination never
// gets a stale sector or a zero signature. True when written.
bool CopyDiskSignatureBetween(int32_t sourceListed, int32_t destinationListed);
// The same for the wizard's source and destination (CloneSettings).
bool CopyDiskSignature();

// Gives the destination volume the source volume's boot code while keeping
// the destination's own BIOS parameter block: volume names such as "C:",
// opened as "\\.\" + name. With j the offset byte of the destination's
// opening short jump (EB j), its bytes 11 to j + 1 are laid over the source's
// first 512 bytes, which then replace the destination's (a 4096-byte sector
// keeps the rest of its bytes). The copy of the boot sector an NTFS or FAT32
// volume keeps gets the same bytes when it matched the old boot sector, so
// the two stay equal. Nothing is written, and the result is false,
// when a volume cannot be opened or read, or when the two boot sectors do not
// both open with the same short jump (code placed differently would be cut
// by the other's parameter block). The clone run does not call it.
bool TransplantBootSector(const CString& sourceVolume, const CString& destinationVolume);
