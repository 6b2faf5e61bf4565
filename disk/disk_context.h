// The process-wide disk state of the disk access layer and partition model,
// and the record types every disk list, bar and planner share.
//
// Units (they differ on purpose; callers rely on them):
//   PartitionEntry, DiskMapItem, disk sizes, DiskListRows: 512-byte units
//   LetterVolume: native sectors of its disk
//   LayoutEntry: bytes
//
// Every table below has a fixed size; the routines that fill them stop at the
// end of the table and never index it with a number it cannot hold.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

// ---- table sizes ---------------------------------------------------------------

constexpr int kMaxPhysicalDisks = 32;     // per-disk geometry tables, by physical number
constexpr int kMaxPartitions = 32;        // records of one partition list
constexpr int kMaxLayoutEntries = 64;     // the drive-layout table
constexpr int kMaxListedDisks = 15;       // listed numbers 1..15 (entry 0 stays empty)
constexpr int kLetterCount = 26;          // per-letter tables, index 0 = A:
constexpr int kMaxLetterVolumes = 26;     // letterVolumes 1..26 (entry 0 stays empty)
constexpr int kMaxListRows = 26;          // rows of the disk and partition lists
constexpr int kMaxDiskMapItems = 32;      // segments of one disk map
constexpr int kLayoutBufferSize = 16384;  // the caller's buffer for the drive-layout query

// ---- FileSystemCode --------------------------------------------------------------
// The one integer that names a partition's type or file system everywhere. Any
// type byte of the MBR type table stands for itself; these are the values the
// readers produce besides.
enum FileSystemCode : int32_t {
  FS_RAW = -1,              // GPT partition without a recognised boot sector (layout table only)
  FS_UNKNOWN = 0,           // type byte not in the table, or an unrecognised file system
  FS_FAT16_SMALL = 4,       // FAT below 32 MiB
  FS_FAT16 = 6,             // "FAT"
  FS_NTFS = 7,              // "NTFS"
  FS_FAT32_CHS = 11,        // FAT32 from a boot sector (superfloppy, type 4 with '3' at 85)
  FS_FAT32 = 12,            // "FAT32"; also the Microsoft reserved partition in the layout table
  FS_FAT16_LBA = 14,        // FAT addressed by LBA
  FS_EXTENDED = 15,         // covering entry of an extended partition whose chain yields nothing
  FS_EXFAT = 0x87,          // "exFAT"
  FS_GPT_NO_VOLUME = 0xEF,  // GPT partition with no mounted volume
};

// ---- records -----------------------------------------------------------------------

// One partition of a partition list.
struct PartitionEntry {
  uint64_t start;      // first sector, 512-byte units
  uint32_t reserved;   // always 0
  int32_t type;        // FileSystemCode
  uint64_t length;     // sector count, 512-byte units
  uint64_t ebrSector;  // native sector of the EBR describing a logical partition; 0 for primaries
  int32_t slot;        // 0..3 in its MBR or EBR table; 4 for a covering extended record
};

// One entry of the drive-layout table (bytes, as the platform reports them).
struct LayoutEntry {
  uint32_t partitionStyle;  // 0 MBR, 1 GPT, 2 RAW
  GUID typeGuid;
  GUID idGuid;
  uint64_t gptAttributes;
  uint32_t diskSignature;   // entry 0 only
  WCHAR name[37];           // GPT name, 36 characters and a terminating 0
  uint64_t startBytes;
  uint64_t lengthBytes;
  uint64_t newStartBytes;   // planned by the clone planner
  uint64_t newLengthBytes;
  int32_t driveLetter;      // character code, -1 when none
  int32_t newDriveLetter;
  int32_t fsCode;           // FileSystemCode
  int32_t newType;
  uint32_t partitionNumber;
  int32_t nesting;          // 0 top level, 1 inside an earlier entry, -1 extended container
  int32_t containerIndex;   // for nesting 1: the containing entry
  uint32_t hiddenSectors;
  uint32_t planAdjust;      // entry 0 only, kept by the planner
  uint32_t bootIndicator;   // 0x80 for the active partition
};

// The extent of one drive letter's volume (native sectors).
struct LetterVolume {
  int32_t letter;
  int32_t partitionNumber;
  uint64_t start;
  uint64_t length;
};

// One segment of a drawn disk bar (512-byte units).
struct DiskMapItem {
  int32_t partitionIndex;   // -1 for an unallocated segment
  uint64_t start;
  uint64_t length;
  int32_t type;             // FileSystemCode, -1 for an unallocated segment
  int32_t outsideExtended;  // 1 outside the extended partition, 0 inside
  int32_t pixelWidth;       // set by the disk-bar layout
  int32_t driveLetter;      // -1 none, 0 when built without refreshing
};

// ---- DiskContext --------------------------------------------------------------------

struct DiskContextRecord {
  // Disk access layer.
  int32_t currentDisk = 0;
  HANDLE currentDiskHandle = nullptr;  // 0 after a failed open; keeps the closed value after a close
  int32_t openDiskCount = 0;
  int32_t ioErrorCount = 0;
  int32_t sectorMultiplier[kMaxPhysicalDisks] = {};  // native bytes per sector / 512; 0 = geometry not read
  int32_t sectorsPerTrack[kMaxPhysicalDisks] = {};   // at most 63
  int32_t lastSectorsPerTrack = 0;
  bool currentDiskOpen = false;  // whether currentDiskHandle is still open (never closed twice)

  // Partition list reader.
  int32_t partitionCount = 0;
  PartitionEntry partitions[kMaxPartitions] = {};
  int32_t isGptDisk = 0;
  int64_t extendedStart = -1;   // native sectors, -1 when there is none
  uint64_t extendedLength = 0;  // native sectors
  int32_t msrIndex = -1;

  // Drive-layout table.
  LayoutEntry layoutTable[kMaxLayoutEntries] = {};
  int32_t layoutRealCount = 0;
  int32_t layoutByteCount = 0;
  void* layoutBuffer = nullptr;
  int32_t systemPartitionIndex = 0;
  int32_t letteredUsedSectors = 0;  // low 32 bits of the sum

  // Disk and drive-letter tables (listed numbers from 1; entry 0 stays empty).
  int32_t diskCount = 0;
  int32_t listedToPhysical[kMaxListedDisks + 1] = {};
  uint64_t listedDiskSize[kMaxListedDisks + 1] = {};
  CString listedModel[kMaxListedDisks + 1];
  CString listedBusName[kMaxListedDisks + 1];
  int32_t letterToDisk[kLetterCount] = {};           // index 0 = A:; disk + 1, -1 unmapped
  int32_t letterPartitionNumber[kLetterCount] = {};
  LetterVolume letterVolumes[kMaxLetterVolumes + 1] = {};
  int32_t letterVolumeCount = 0;
  PhysicalDiskNumber systemDisk = kNoPhysicalDisk;
  // The empty disk the lists offer first as the destination.
  ListedDiskIndex destinationDisk = kNoListedDisk;
  // Listed number of the boot medium, the disk whose sector 0 carries the
  // one-touch marker (the last such disk), 0 when none: its rows cannot be
  // ticked on the scan and wipe target pages.
  int32_t markedBootDisk = 0;
};

extern DiskContextRecord DiskContext;

// The rows of the disk and partition lists (parallel tables).
struct DiskListRowsRecord {
  int32_t rowKind[kMaxListRows] = {};       // -n: row of listed disk n; >= 0: partition row of that disk row
  uint64_t rowStart[kMaxListRows] = {};
  uint64_t rowLength[kMaxListRows] = {};
  uint64_t rowEbrSector[kMaxListRows] = {};
  int32_t rowSlot[kMaxListRows] = {};
  int32_t partitionsPerDisk[kMaxListedDisks + 1] = {};
  int32_t rowCount = 0;  // rows filled by the last rebuild (at most kMaxListRows)
};

extern DiskListRowsRecord DiskListRows;

// Receives each disk's partition list while the rows are built; the disk map
// works on it too.
extern PartitionEntry sharedPartitionBuffer[kMaxPartitions];

// Bus names by the identity record's bus code 0..7 (disk/drive_identity.h).
extern const WCHAR* const busNames[8];

// ---- bounded accessors ----------------------------------------------------------------

// The sector multiplier of a physical disk; 0 for a number outside the table.
int32_t SectorMultiplierOf(int32_t disk);
// Index of a drive letter in the per-letter tables (A = 0), -1 for anything else.
int LetterIndex(int32_t letter);
