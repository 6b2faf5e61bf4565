// Raw FAT access: FAT structures read straight from a disk or volume, without
// the platform's file system. The BCD repair finds the file named BCD on an
// EFI system partition (FAT32, no drive letter) and reads and rewrites its
// bytes along its cluster chain; the path locator finds a file's cluster runs
// by path; the used-cluster map marks which 32-sector groups of a volume are
// in use so that a copy can skip free space (its NTFS side: ntfs_reader.h).
//
// Units: the process-wide derived values count 512-byte units from the
// partition start, converted by the volume's own bytes per sector, so the
// routines serve 512- and 4096-byte sectors alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "disk/raw_fs_status.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

// FAT boot sector (the fields these routines read), 512 bytes.
#pragma pack(push, 1)
struct FatBootSector {
  uint8_t jump[3];             // +0x00
  char oemName[8];             // +0x03
  uint16_t bytesPerSector;     // +0x0b
  uint8_t sectorsPerCluster;   // +0x0d
  uint16_t reservedSectors;    // +0x0e
  uint8_t fatCount;            // +0x10
  uint16_t rootEntries;        // +0x11 FAT12/16 only
  uint16_t totalSectors16;     // +0x13
  uint8_t media;               // +0x15
  uint16_t sectorsPerFat16;    // +0x16
  uint16_t sectorsPerTrack;    // +0x18
  uint16_t heads;              // +0x1a
  uint32_t hiddenSectors;      // +0x1c
  uint32_t totalSectors32;     // +0x20
  uint32_t sectorsPerFat32;    // +0x24 FAT32
  uint16_t extFlags;           // +0x28
  uint16_t version;            // +0x2a
  uint32_t rootCluster;        // +0x2c FAT32
  uint8_t rest[512 - 0x30];    // +0x30
};
#pragma pack(pop)
static_assert(sizeof(FatBootSector) == 512);
static_assert(offsetof(FatBootSector, sectorsPerCluster) == 13);
static_assert(offsetof(FatBootSector, totalSectors32) == 32);
static_assert(offsetof(FatBootSector, rootCluster) == 44);

// One 32-byte directory entry.
#pragma pack(push, 1)
struct FatDirEntry {
  uint8_t name[8];         // +0x00 0xE5 deleted, 0 end of directory
  uint8_t ext[3];          // +0x08
  uint8_t attributes;      // +0x0b 0x10 directory, 0x0F long-name entry
  uint8_t reserved[8];     // +0x0c
  uint16_t clusterHigh;    // +0x14 FAT32
  uint8_t times[4];        // +0x16
  uint16_t clusterLow;     // +0x1a
  uint32_t fileSize;       // +0x1c
};
#pragma pack(pop)
static_assert(sizeof(FatDirEntry) == 32);
static_assert(offsetof(FatDirEntry, clusterHigh) == 20);
static_assert(offsetof(FatDirEntry, clusterLow) == 26);

constexpr uint32_t kFat32EndOfChain = 0x0FFFFFF8;
constexpr uint32_t kFat32ClusterMask = 0x0FFFFFFF;
constexpr int kMaxFatRuns = 10;         // runs the path locator keeps
constexpr int kFatRunTableSize = 100;
constexpr int kMaxPathComponents = 64;
constexpr int kMaxComponentLength = 255;

// The volume read last (one volume at a time).
struct FatVolumeRecord {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;   // in the volume's sectors (unsigned: 128 is valid)
  uint32_t unitsPerCluster = 0;     // 512-byte units per cluster
  uint32_t reservedSectors = 0;
  uint32_t fatCount = 0;
  uint32_t rootEntries = 0;
  uint64_t totalSectors = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t rootCluster = 0;
  uint32_t fatBits = 0;             // 12, 16 or 32
  uint64_t clusterCount = 0;        // data clusters
  uint64_t fatStart = 0;            // 512-byte units from the partition start
  uint64_t fatUnits = 0;            // one FAT, 512-byte units
  uint64_t rootDirStart = 0;        // FAT12/16 root directory, 512-byte units
  uint64_t rootDirUnits = 0;
  uint64_t dataStart = 0;           // first data cluster (cluster 2), 512-byte units
  uint32_t currentCluster = 0;      // first cluster of the file found last, advanced by the walks
  uint64_t partitionByteOffset = 0;
};
extern FatVolumeRecord FatVolume;

// Runs of the path locator: start sector and length in 512-byte units from
// the partition start (after conversion), with their count.
struct FatRunTableRecord {
  uint64_t start[kFatRunTableSize] = {};
  uint64_t length[kFatRunTableSize] = {};
  int32_t count = 0;
  uint32_t firstCluster = 0;  // of the last component found
  uint32_t fileSize = 0;
  bool isDirectory = false;
};
extern FatRunTableRecord FatRuns;

// Path components of the path locator.
extern std::vector<CString> PathComponents;
// Substring mode of the path locator and the NTFS file locator: a component
// matches a name that contains it.
extern bool PathSubstringMode;

// Takes the fields of a boot sector into FatVolume. False (FatVolume
// untouched) when the fields cannot describe a FAT volume.
bool TakeFatBootSector(const uint8_t* sector, uint64_t partitionByteOffset);

// ---- BCD access (a partition given by disk and byte offset) ----
// Size of the first live entry named "BCD" (any extension) in the data area,
// 0 when none; sets FatVolume and its current cluster; *firstSector gets the
// file's first 512-byte unit from the partition start.
int32_t LocateBcdOnFat32(int32_t disk, int64_t partitionByteOffset, uint64_t* firstSector);
int32_t FindBcdOnFat32(int32_t disk, int64_t partitionByteOffset);
// Transfer byteCount bytes along the chain from the current cluster, in
// 512-byte steps (the buffer holds byteCount rounded up to 512). False when the
// chain ends early, leaves the volume, or a transfer fails.
bool ReadFat32FileByChain(int32_t disk, int64_t partitionByteOffset, void* buffer, int32_t byteCount);
bool WriteFat32FileByChain(int32_t disk, int64_t partitionByteOffset, const void* buffer, int32_t byteCount);

// ---- path locator ----
// Position of part in text after both were turned to upper case in place; -1 when none.
int32_t ContainsNoCase(char* text, char* part);
int32_t ContainsNoCase(CString& text, CString& part);
// Fill PathComponents; return 0.
int32_t SplitPathComponents(const CString& path);
int32_t SplitPathByToken(const CString& path);
// The volume the path locator, the used-cluster maps and the NTFS reader work
// on (one at a time); INVALID_HANDLE_VALUE when none is open.
extern HANDLE RawVolumeHandle;
// Reads the boot sector of RawVolumeHandle into FatVolume; RAWFS_OK or RAWFS_IO_FAILED.
int32_t ReadFatVolumeParams();
// "X:\DIR\FILE.EXT" (short names; the first component, the drive, is not
// looked up). On RAWFS_OK, FatRuns holds the runs of the last component. The
// volume must have been read by ReadFatVolumeParams.
int32_t LocateFileByPath(const CString& path);

// Deleted entries of the directory the locator loaded last.
struct DeletedEntry {
  bool isDirectory = false;
  uint32_t firstCluster = 0;
  CString name;
};
int32_t CountDeletedEntries(int32_t limit, int32_t* count);
int32_t ListDeletedEntries(int32_t count, std::vector<DeletedEntry>* entries);

// ---- used-cluster map ----
// A map of which groups of `unitsPerBit` 512-byte units of a volume hold used
// data: bit n of bits[n / 8] (value 1 << (n % 8)) stands for group n.
struct VolumeUsedMap {
  uint32_t unitsPerBit = 0;  // 32 on FAT32; the cluster size on NTFS
  uint32_t byteSize = 0;     // bytes of the bit array that count
  std::vector<uint8_t> bits;
  bool IsUsed(uint64_t group) const {
    return group / 8 < bits.size() && (bits[group / 8] >> (group % 8)) & 1;
  }
};
// Share of used space of the last map build.
extern float UsedMapShare;

// Reads count x 512 bytes at unit `sector` of RawVolumeHandle; returns the bytes read.
DWORD ReadVolumeSectors(void* buffer, uint64_t sector, int32_t count);
// Opens the volume "X:", decides by file system: no map for FAT12/16, the
// FAT32 map, or the NTFS map; *map stays empty when none. Returns 0.
int32_t BuildVolumeUsedMap(const CString& driveText, std::unique_ptr<VolumeUsedMap>* map);
// The FAT32 map of an open volume whose parameters FatVolume holds; the
// clusters inside `skipRuns` (pairs of first 512-byte unit and length, from
// the partition start) stay clear. Empty when above 80 % used or on a read failure.
std::unique_ptr<VolumeUsedMap> BuildFat32UsedMap(const std::vector<std::pair<uint64_t, uint64_t>>& skipRuns);
