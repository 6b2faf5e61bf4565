// NTFS metadata reader: the boot sector, the master file table ($MFT) and its
// data runs, FILE records of 1,024 bytes (4,096 on volumes of 4096-byte
// sectors; buffers hold kNtfsMaxRecordBytes) with update-sequence fix-ups applied, their
// $FILE_NAME and $DATA attributes, run lists, and the volume's $Bitmap. On
// top: the used-cluster map of a volume ($Bitmap with the pagefile's clusters
// cleared), the copy of one file's data by its record, and a file locator
// that scans every record and checks the chain of parent folders.
//
// Record numbers given to the record readers are 1-based (1 $MFT, 6 the root
// folder, 7 $Bitmap). Every operation returns a RawFsStatus code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "disk/raw_fat.h"
#include "disk/raw_fs_status.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/storage/ioctl.h"

constexpr uint32_t kNtfsRecordBytes = 1024;     // the usual FILE record
constexpr uint32_t kNtfsMaxRecordBytes = 4096;  // FILE records on 4096-byte-sector volumes; record buffers hold this
constexpr uint32_t kNtfsAttrFileName = 0x30;
constexpr uint32_t kNtfsAttrData = 0x80;
constexpr uint32_t kNtfsAttrEnd = 0xFFFFFFFF;
constexpr uint64_t kNtfsRootRecord = 6;    // 1-based
constexpr uint64_t kNtfsBitmapRecord = 7;  // 1-based
constexpr uint64_t kNtfsNoOffset = UINT64_MAX;

#pragma pack(push, 1)
struct NtfsBootSector {
  uint8_t jump[3];               // +0x00
  char oemId[8];                 // +0x03 "NTFS    "
  uint16_t bytesPerSector;       // +0x0b
  uint8_t sectorsPerCluster;     // +0x0d
  uint8_t unused1[26];           // +0x0e
  uint64_t totalSectors;         // +0x28
  uint64_t mftCluster;           // +0x30
  uint64_t mftMirrCluster;       // +0x38
  int8_t clustersPerRecord;      // +0x40 negative: 2^-n bytes
  uint8_t unused2[3];            // +0x41
  int8_t clustersPerIndex;       // +0x44
  uint8_t rest[512 - 0x45];      // +0x45
};
struct NtfsRecordHeader {
  char magic[4];                 // +0x00 "FILE"
  uint16_t fixupOffset;          // +0x04
  uint16_t fixupCount;           // +0x06 sequence number + one word per stride
  uint64_t logSequence;          // +0x08
  uint16_t sequence;             // +0x10
  uint16_t linkCount;            // +0x12
  uint16_t firstAttribute;       // +0x14
  uint16_t flags;                // +0x16 1 in use, 2 folder
  uint32_t usedSize;             // +0x18
  uint32_t allocatedSize;        // +0x1c
  uint64_t baseRecord;           // +0x20
};
struct NtfsAttributeHeader {
  uint32_t type;                 // +0x00
  uint32_t length;               // +0x04
  uint8_t nonResident;           // +0x08
  uint8_t nameLength;            // +0x09
  uint16_t nameOffset;           // +0x0a
  uint16_t flags;                // +0x0c compression 0x00ff, sparse 0x8000, encrypted 0x4000
  uint16_t id;                   // +0x0e
  // resident: uint32 value length at +0x10, uint16 value offset at +0x14
  // non-resident: start VCN +0x10, last VCN +0x18, run list offset +0x20,
  // allocated size +0x28, data size +0x30
};
#pragma pack(pop)
static_assert(sizeof(NtfsBootSector) == 512);
static_assert(offsetof(NtfsBootSector, totalSectors) == 40);
static_assert(offsetof(NtfsBootSector, mftCluster) == 48);
static_assert(offsetof(NtfsBootSector, clustersPerRecord) == 64);
static_assert(offsetof(NtfsBootSector, clustersPerIndex) == 68);
static_assert(sizeof(NtfsRecordHeader) == 40);
static_assert(offsetof(NtfsRecordHeader, firstAttribute) == 20);
static_assert(offsetof(NtfsRecordHeader, baseRecord) == 32);
static_assert(sizeof(NtfsAttributeHeader) == 16);

// One run of the $MFT run table: its first cluster and its length in records.
struct NtfsMftRun {
  uint64_t firstCluster = 0;
  uint64_t records = 0;
};

// One decoded data run in clusters; `sparse` runs own no clusters.
struct NtfsClusterRun {
  uint64_t firstCluster = 0;
  uint64_t clusters = 0;
  bool sparse = false;
};

// The volume read last (one at a time).
struct NtfsVolumeRecord {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint64_t clusterCount = 0;
  uint64_t mftCluster = 0;
  uint64_t mftMirrCluster = 0;
  int32_t clustersPerRecord = 0;
  int32_t clustersPerIndex = 0;
  uint32_t recordBytes = kNtfsRecordBytes;  // FILE record size from the boot sector
  // Reads come from RawVolumeHandle, or, in disk mode, from the current disk
  // at partitionByteOffset.
  bool diskMode = false;
  uint64_t partitionByteOffset = 0;
  std::vector<NtfsMftRun> mftRuns;
  uint64_t recordCount = 0;
  uint64_t lastReadOffset = 0;  // byte offset of the record NtfsReadRecordByRuns read last
  uint64_t foundRecord = 0;     // 1-based record the file locator found last
  uint64_t foundOffset = 0;
  uint64_t ClusterBytes() const { return static_cast<uint64_t>(bytesPerSector) * sectorsPerCluster; }
};
extern NtfsVolumeRecord NtfsVolume;
// "X:\pagefile.sys" when the volume has a pagefile whose clusters the used
// map leaves clear; empty otherwise. Its record is NtfsVolume.foundRecord.
extern CString NtfsPagefilePath;
extern uint64_t NtfsPagefileRecord;

int32_t NtfsOpenVolume(const CString& driveText);
// Reads the boot sector (volume start, or partition start in disk mode) into
// NtfsVolume; 0, or RAWFS_IO_FAILED / RAWFS_BAD_RUNS for an unreadable or
// foreign boot sector.
int32_t NtfsReadBootParams();
int32_t NtfsLoadMftRuns();
// Record n straight from the $MFT's first cluster (buffer of kNtfsMaxRecordBytes);
// RAWFS_OK or RAWFS_IO_FAILED (in volume mode the handle is then closed).
int32_t NtfsReadRecord(uint64_t n, uint8_t* buffer);
uint64_t NtfsRecordOffset(uint64_t index);
// RAWFS_OK, RAWFS_IO_FAILED, or 0 when n lies beyond the run table.
int32_t NtfsReadRecordByRuns(uint64_t n, uint8_t* buffer);
// Applies the update-sequence fix-ups in place; false for a torn record (its
// magic then reads "BAAD", so it fails the "FILE" check).
bool NtfsApplyFixups(uint8_t* record);

int32_t NtfsFindDataAttribute(const uint8_t* record, std::vector<uint8_t>* copy);
int32_t NtfsAttributeResidency(const uint8_t* attribute);
// The $MFT run table form: entries of first cluster and length in records.
int32_t NtfsDecodeRuns(const uint8_t* attribute, size_t attributeLength, int32_t residency,
                       std::vector<NtfsMftRun>* table);
// Clusters of a non-resident attribute; RAWFS_OK or RAWFS_BAD_RUNS.
int32_t NtfsDecodeClusterRuns(const uint8_t* attribute, size_t attributeLength, std::vector<NtfsClusterRun>* runs);

int32_t NtfsCheckFileMagic(const uint8_t* record);
int32_t NtfsCheckFlagsClear(const uint8_t* record);
int32_t NtfsCheckNotInUse(const uint8_t* record);
int32_t NtfsCheckBaseRecord(const uint8_t* record);
int32_t NtfsCheckPlainFile(const uint8_t* record);
int32_t NtfsIsCompressedRoot(const CString& driveText);

void NtfsGetFileName(const uint8_t* record, CString* longName, CString* dosName);
uint64_t NtfsParentRecord(const uint8_t* record);

int32_t NtfsCopyFileByRecord(const CString& target, uint64_t n, uint64_t byteCount);
std::unique_ptr<VolumeUsedMap> NtfsBuildUsedBitmap();
void NtfsClearFileClusters(VolumeUsedMap& map);
int32_t NtfsQueryVolumeData(NTFS_VOLUME_DATA_BUFFER* data);
int32_t LoadNtFsControlFile();

// 1 when the file was found, else 0. Mode 4 scans the NTFS records (the $MFT
// runs must be loaded); modes 2 and 3 use the FAT path locator on the path's
// short form.
int32_t LocateFileRuns(const CString& path, int32_t mode);
