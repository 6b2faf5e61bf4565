// Pellimor's own FAT32 and FAT16 formatters: they write the stick's volume
// as raw sectors through the current disk (usb_disk.h) instead of asking the
// system to format it, with the boot sector templates of boot_templates.h.
// Both run on the UI thread inside the confirmation page and report progress
// to it; both return false on a failed write (counted in CopyErrorCount), a
// volume they cannot lay out, or (FAT32) a cancel.
#pragma once

#include <array>
#include <cstdint>

#include "usbwriter/iso/iso_reader.h"
#include "usbwriter/usb_disk.h"

// The page that runs a format: IsoCopyHost's progress and Cancel, the
// progress range, and the busy indication (control 1418 and the wait cursor)
// it shows while the first sectors are cleared.
class FormatHost : public IsoCopyHost {
 public:
  virtual void SetProgressRange(int64_t maximum) = 0;
  virtual void ShowFormatBusy(bool busy) {}
};

// The write sequence's progress target before the format; the formatters set
// ProgressMaximum := ProgressTarget + FAT size and the range 0..ProgressMaximum.
extern int64_t ProgressTarget;
extern int64_t ProgressMaximum;

inline constexpr uint32_t kFat32ReservedSectors = 4348;
inline constexpr uint32_t kFat16ReservedSectors = 6;
inline constexpr uint32_t kFat16RootSectors = 32;  // 512 entries
inline constexpr uint32_t kFat32MinClusters = 65525;
inline constexpr uint32_t kFat16MinClusters = 4085;
inline constexpr uint32_t kFat16MaxClusters = 65524;

struct FatLayout {
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t fatSize = 0;      // sectors of one FAT
  uint32_t clusters = 0;     // data clusters, numbered from 2
  uint32_t totalSectors = 0; // of the volume
};

// FAT32 over `totalSectors` (at most 2^32 - 1 are used): sectors per cluster
// from the cylinder-rounded size (4; 16 above 2,097,152 sectors; 32 above
// 8,388,608; 64 above 33,554,432), halved while the volume would hold fewer
// than 65,525 clusters; the FAT sized so every cluster has an entry. False
// when even one sector per cluster gives too few clusters.
bool ComputeFat32Layout(uint64_t totalSectors, const UsbGeometry& geometry, FatLayout* layout);
// FAT16 with 6 reserved sectors and 512 root entries: 64 sectors per cluster,
// halved while there would be fewer than 4,085 clusters; a volume too big for
// 65,524 clusters of 32 KiB is cut to what they hold. False when the volume
// is too small for FAT16.
bool ComputeFat16Layout(uint64_t totalSectors, FatLayout* layout);

// The label from VolumeLabelText: blanks trimmed at both ends, its first 11
// characters upper-cased (characters a FAT name cannot hold become '_'),
// padded with blanks. *present is false for an empty text (the boot sector
// then says "NO NAME" and the root gets no label entry).
std::array<uint8_t, 11> PrepareVolumeLabel(bool* present);

// Formats FAT32 over the partition [firstSector, firstSector + totalSectors)
// of the current disk; first clears LBA 190 to 32,797 (within the disk),
// keeping a Windows image's loader sectors 1-2 at 190-191.
bool FormatFat32Raw(FormatHost* page, uint64_t firstSector, uint64_t totalSectors);
// Rewrites the MBR with one FAT16 partition (type 6, boot indicator as
// given) from `firstSector` over at most `limitSectors` (and never past the
// disk's end) and formats it.
bool FormatFat16Raw(FormatHost* page, uint64_t firstSector, uint8_t bootIndicator, uint64_t limitSectors);

// CHS word of a partition entry: low byte sector | (cylinder bits 8-9) << 6,
// high byte the cylinder's low 8 bits.
uint16_t PackChsWord(uint32_t cylinder, uint32_t sector);
// A partition entry's three CHS bytes (head, then the packed word) for
// `lba` on a disk of that geometry; past cylinder 1,023 the largest address.
void Chs(uint64_t lba, const UsbGeometry& geometry, uint8_t out[3]);
