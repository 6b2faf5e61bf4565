// The clone wizard's choices: one process-wide record that the wizard pages,
// the quick duplicate pages and one-click copy write, and the planner and the
// clone run read. Every page reads and writes the fields directly; all pages
// run on the one user-interface thread, so nothing is locked.
//
// Units: listed indexes are 0-based positions in the listed-disk table (the
// lists show index + 1); sector numbers here are 512-byte units.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"
#include "platform/core/cstring.h"

// How the destination partitions are sized.
enum class SizingMode : int32_t {
  None = -1,      // not chosen yet
  Automatic = 0,  // partitions scaled by the planner
  SameSize = 1,   // every partition keeps its size
  Manual = 2,     // sized by hand
};

// The start values are the values at program start; only the pages named in
// each comment change them.
struct CloneSettingsRecord {
  // 1: basic duplication (only the sectors that hold data, file-level copy of
  // lettered volumes); 0: sector by sector.
  uint8_t basicDuplication = 0;
  // 1: one partition onto another; 0: whole disk.
  uint8_t partitionMode = 0;
  SizingMode sizingMode = SizingMode::None;
  // Listed index of the source disk, -1 none.
  ListedDiskIndex sourceDisk = kNoListedDisk;
  // The ticked row of the disk list on screen, -1 none; a page that opens
  // again re-ticks this row.
  int32_t checkedRow = -1;
  // Ticked row of the destination list, -1 none.
  int32_t destinationRow = 0;
  // Listed index of the destination disk, -1 none.
  ListedDiskIndex chosenDestinationDisk{0};
  // Scan the destination for bad sectors before copying.
  uint8_t badSectorScan = 0;
  // Verify every copied range after copying.
  uint8_t verifyAfterCopy = 0;
  // The options page's hidden check box; nothing but that page reads it.
  uint8_t changeSid = 0;
  // 1: the destination becomes a GPT disk.
  int32_t convertToGpt = 0;
  // 1: the source disk carries a GPT.
  int32_t sourceIsGpt = 0;
  // System migration: the whole source disk, but only its first
  // migrationPartitionCount partitions.
  uint8_t systemMigration = 0;
  int32_t migrationPartitionCount = 0;
  // List row of the partition chosen for system migration, -1 none.
  int32_t migrationRow = -1;
  // The source snapshot taken when the source page's Next is pressed.
  ListedDiskIndex copySourceDisk{0};
  uint64_t copySourceStart = 0;      // partition start; 0 for a whole disk
  uint64_t copySourceLength = 0;     // partition length or disk size
  uint32_t copySourceLength32 = 0;   // low 32 bits of copySourceLength, partition mode only
  int32_t copySourceFsCode = 0;      // partition mode: 7 (NTFS) or 12 (FAT32)
  uint8_t sourceActive = 0;          // partition mode, primary partition with boot indicator 0x80
  // Upper-case code of the ticked source partition's drive letter, -1 none.
  int32_t sourceLetter = 0;
  // The drive letter and its colon of the ticked partition row.
  CString sourceLetterText;
  // Descriptions of the ticked source row and of the chosen destination row.
  CString sourceDescription;
  CString destinationDescription;
  // Short name of the source: "Disk N" or "Partition X:".
  CString sourceName;
  // Partition mode: the source partition's segment in the source disk map, else -1.
  int32_t sourceMapItem = 0;
};

extern CloneSettingsRecord CloneSettings;
