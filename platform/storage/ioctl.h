// Device-open flags, disk/volume/S.M.A.R.T. control codes and the byte layouts
// of their input and output records, as the programs pass them to CreateFileW
// and DeviceIoControl. Every record keeps the platform's 64-bit layout; the
// offsets the programs rely on are pinned by static_asserts.
#pragma once

#include <cstddef>

#include "platform/core/types.h"

// ---- CreateFileW: access, sharing, disposition, flags ----------------------

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD FILE_READ_DATA = 0x0001;
constexpr DWORD FILE_WRITE_DATA = 0x0002;
constexpr DWORD FILE_APPEND_DATA = 0x0004;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;

constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_POSIX_SEMANTICS = 0x01000000;
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;

// Error codes the device layer returns that the core list does not name.
constexpr DWORD ERROR_NOT_LOCKED = 158;
constexpr DWORD ERROR_NOT_FOUND = 1168;

// ---- Control codes ---------------------------------------------------------
// code = device type << 16 | required access << 14 | function << 2 | transfer method

constexpr DWORD FILE_DEVICE_CONTROLLER = 0x04;
constexpr DWORD FILE_DEVICE_DISK = 0x07;
constexpr DWORD FILE_DEVICE_FILE_SYSTEM = 0x09;
constexpr DWORD FILE_DEVICE_MASS_STORAGE = 0x2D;
constexpr DWORD METHOD_BUFFERED = 0;
constexpr DWORD FILE_ANY_ACCESS = 0;
constexpr DWORD FILE_READ_ACCESS = 1;
constexpr DWORD FILE_WRITE_ACCESS = 2;

constexpr DWORD CTL_CODE(DWORD device_type, DWORD function, DWORD method, DWORD access) {
  return device_type << 16 | access << 14 | function << 2 | method;
}
// The access a control code demands of the handle (FILE_READ_ACCESS | FILE_WRITE_ACCESS bits).
constexpr DWORD ControlCodeAccess(DWORD code) { return (code >> 14) & 3; }

constexpr DWORD IOCTL_DISK_GET_DRIVE_GEOMETRY = CTL_CODE(FILE_DEVICE_DISK, 0x00, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_DISK_GET_PARTITION_INFO = CTL_CODE(FILE_DEVICE_DISK, 0x01, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_DISK_GET_PARTITION_INFO_EX = CTL_CODE(FILE_DEVICE_DISK, 0x12, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_DISK_GET_DRIVE_LAYOUT_EX = CTL_CODE(FILE_DEVICE_DISK, 0x14, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_DISK_SET_DRIVE_LAYOUT_EX =
    CTL_CODE(FILE_DEVICE_DISK, 0x15, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD IOCTL_DISK_CREATE_DISK = CTL_CODE(FILE_DEVICE_DISK, 0x16, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD IOCTL_DISK_GET_LENGTH_INFO = CTL_CODE(FILE_DEVICE_DISK, 0x17, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD SMART_GET_VERSION = CTL_CODE(FILE_DEVICE_DISK, 0x20, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD SMART_SEND_DRIVE_COMMAND = CTL_CODE(FILE_DEVICE_DISK, 0x21, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD SMART_RCV_DRIVE_DATA = CTL_CODE(FILE_DEVICE_DISK, 0x22, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD IOCTL_DISK_GET_DRIVE_GEOMETRY_EX = CTL_CODE(FILE_DEVICE_DISK, 0x28, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_DISK_GROW_PARTITION = CTL_CODE(FILE_DEVICE_DISK, 0x34, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD IOCTL_DISK_UPDATE_PROPERTIES = CTL_CODE(FILE_DEVICE_DISK, 0x50, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER = CTL_CODE(FILE_DEVICE_MASS_STORAGE, 0x304, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_STORAGE_GET_DEVICE_NUMBER = CTL_CODE(FILE_DEVICE_MASS_STORAGE, 0x420, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_STORAGE_QUERY_PROPERTY = CTL_CODE(FILE_DEVICE_MASS_STORAGE, 0x500, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = CTL_CODE('V', 0, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_SCSI_MINIPORT = CTL_CODE(FILE_DEVICE_CONTROLLER, 0x402, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD IOCTL_SCSI_MINIPORT_IDENTIFY = 0x001B0501;  // SRB_IO_CONTROL::ControlCode
constexpr DWORD FSCTL_LOCK_VOLUME = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 6, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD FSCTL_UNLOCK_VOLUME = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 7, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD FSCTL_DISMOUNT_VOLUME = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 8, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD FSCTL_GET_NTFS_VOLUME_DATA = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 25, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD FSCTL_SET_REPARSE_POINT = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 41, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD FSCTL_GET_REPARSE_POINT = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 42, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD METHOD_NEITHER = 3;
constexpr DWORD FILE_SPECIAL_ACCESS = FILE_ANY_ACCESS;
// In: nothing (or one byte, nonzero = sparse). Marks a file sparse.
constexpr DWORD FSCTL_SET_SPARSE = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 49, METHOD_BUFFERED, FILE_SPECIAL_ACCESS);
// In: one FILE_ALLOCATED_RANGE_BUFFER (the span asked about); out: the
// allocated ranges within it, ERROR_MORE_DATA when they do not all fit.
constexpr DWORD FSCTL_QUERY_ALLOCATED_RANGES = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 51, METHOD_NEITHER, FILE_READ_ACCESS);
// In: a USHORT compression format (COMPRESSION_FORMAT_NONE 0, _DEFAULT 1, _LZNT1 2).
constexpr DWORD FSCTL_SET_COMPRESSION =
    CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 16, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr USHORT COMPRESSION_FORMAT_NONE = 0;
constexpr USHORT COMPRESSION_FORMAT_DEFAULT = 1;
constexpr USHORT COMPRESSION_FORMAT_LZNT1 = 2;
static_assert(FSCTL_SET_COMPRESSION == 0x0009C040);
static_assert(FSCTL_SET_SPARSE == 0x000900C4);
static_assert(FSCTL_QUERY_ALLOCATED_RANGES == 0x000940CF);

static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY == 0x00070000);
static_assert(IOCTL_DISK_GET_PARTITION_INFO == 0x00074004);
static_assert(IOCTL_DISK_GET_PARTITION_INFO_EX == 0x00070048);
static_assert(IOCTL_DISK_GET_DRIVE_LAYOUT_EX == 0x00070050);
static_assert(IOCTL_DISK_SET_DRIVE_LAYOUT_EX == 0x0007C054);
static_assert(IOCTL_DISK_CREATE_DISK == 0x0007C058);
static_assert(IOCTL_DISK_GET_LENGTH_INFO == 0x0007405C);
static_assert(SMART_GET_VERSION == 0x00074080);
static_assert(SMART_SEND_DRIVE_COMMAND == 0x0007C084);
static_assert(SMART_RCV_DRIVE_DATA == 0x0007C088);
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX == 0x000700A0);
static_assert(IOCTL_DISK_GROW_PARTITION == 0x0007C0D0);
static_assert(IOCTL_DISK_UPDATE_PROPERTIES == 0x00070140);
static_assert(IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER == 0x002D0C10);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == 0x002D1080);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x002D1400);
static_assert(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == 0x00560000);
static_assert(IOCTL_SCSI_MINIPORT == 0x0004D008);
static_assert(FSCTL_LOCK_VOLUME == 0x00090018);
static_assert(FSCTL_UNLOCK_VOLUME == 0x0009001C);
static_assert(FSCTL_DISMOUNT_VOLUME == 0x00090020);
static_assert(FSCTL_GET_NTFS_VOLUME_DATA == 0x00090064);
static_assert(FSCTL_SET_REPARSE_POINT == 0x000900A4);
static_assert(FSCTL_GET_REPARSE_POINT == 0x000900A8);

// ---- Geometry and length ----------------------------------------------------

enum MEDIA_TYPE : DWORD { Unknown = 0, RemovableMedia = 11, FixedMedia = 12 };

struct DISK_GEOMETRY {
  LARGE_INTEGER Cylinders;   // +0x00
  MEDIA_TYPE MediaType;      // +0x08
  DWORD TracksPerCylinder;   // +0x0c
  DWORD SectorsPerTrack;     // +0x10
  DWORD BytesPerSector;      // +0x14
};                           // 24 bytes
static_assert(sizeof(DISK_GEOMETRY) == 24);
static_assert(offsetof(DISK_GEOMETRY, BytesPerSector) == 20);

enum PARTITION_STYLE : DWORD { PARTITION_STYLE_MBR = 0, PARTITION_STYLE_GPT = 1, PARTITION_STYLE_RAW = 2 };

struct DISK_PARTITION_INFO {
  DWORD SizeOfPartitionInfo;  // +0x00
  PARTITION_STYLE PartitionStyle;  // +0x04
  union {
    struct {
      DWORD Signature;        // +0x08
      DWORD CheckSum;         // +0x0c
    } Mbr;
    struct {
      GUID DiskId;            // +0x08
    } Gpt;
  };
};                            // 24 bytes
static_assert(sizeof(DISK_PARTITION_INFO) == 24);

// The geometry, the size in bytes, then (when the caller's buffer has room)
// the partition information; Data marks where the variable part starts.
struct DISK_GEOMETRY_EX {
  DISK_GEOMETRY Geometry;     // +0x00
  LARGE_INTEGER DiskSize;     // +0x18
  BYTE Data[1];               // +0x20 DISK_PARTITION_INFO, then detection information
};
static_assert(offsetof(DISK_GEOMETRY_EX, DiskSize) == 24);
static_assert(offsetof(DISK_GEOMETRY_EX, Data) == 32);

struct GET_LENGTH_INFORMATION {
  LARGE_INTEGER Length;       // +0x00 bytes
};
static_assert(sizeof(GET_LENGTH_INFORMATION) == 8);

// ---- Partitions and layouts -------------------------------------------------

struct PARTITION_INFORMATION {
  LARGE_INTEGER StartingOffset;   // +0x00
  LARGE_INTEGER PartitionLength;  // +0x08
  DWORD HiddenSectors;            // +0x10
  DWORD PartitionNumber;          // +0x14
  BYTE PartitionType;             // +0x18
  BOOLEAN BootIndicator;          // +0x19
  BOOLEAN RecognizedPartition;    // +0x1a
  BOOLEAN RewritePartition;       // +0x1b
};                                // 32 bytes
static_assert(sizeof(PARTITION_INFORMATION) == 32);
static_assert(offsetof(PARTITION_INFORMATION, PartitionType) == 24);

struct PARTITION_INFORMATION_MBR {
  BYTE PartitionType;             // +0x00
  BOOLEAN BootIndicator;          // +0x01
  BOOLEAN RecognizedPartition;    // +0x02
  DWORD HiddenSectors;            // +0x04
  GUID PartitionId;               // +0x08
};                                // 24 bytes
static_assert(sizeof(PARTITION_INFORMATION_MBR) == 24);
static_assert(offsetof(PARTITION_INFORMATION_MBR, HiddenSectors) == 4);

struct PARTITION_INFORMATION_GPT {
  GUID PartitionType;             // +0x00
  GUID PartitionId;               // +0x10
  DWORD64 Attributes;             // +0x20
  WCHAR Name[36];                 // +0x28
};                                // 112 bytes
static_assert(sizeof(PARTITION_INFORMATION_GPT) == 112);

struct PARTITION_INFORMATION_EX {
  PARTITION_STYLE PartitionStyle; // +0x00
  LARGE_INTEGER StartingOffset;   // +0x08
  LARGE_INTEGER PartitionLength;  // +0x10
  DWORD PartitionNumber;          // +0x18
  BOOLEAN RewritePartition;       // +0x1c
  BOOLEAN IsServicePartition;     // +0x1d
  union {                         // +0x20
    PARTITION_INFORMATION_MBR Mbr;
    PARTITION_INFORMATION_GPT Gpt;
  };
};                                // 144 bytes
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144);
static_assert(offsetof(PARTITION_INFORMATION_EX, StartingOffset) == 8);
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == 24);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == 32);
static_assert(offsetof(PARTITION_INFORMATION_EX, Gpt) == 32);

struct DRIVE_LAYOUT_INFORMATION_MBR {
  DWORD Signature;                // +0x00
  DWORD CheckSum;                 // +0x04
};
struct DRIVE_LAYOUT_INFORMATION_GPT {
  GUID DiskId;                    // +0x00
  LARGE_INTEGER StartingUsableOffset;  // +0x10
  LARGE_INTEGER UsableLength;     // +0x18
  DWORD MaxPartitionCount;        // +0x20
};                                // 40 bytes
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_GPT) == 40);

struct DRIVE_LAYOUT_INFORMATION_EX {
  DWORD PartitionStyle;           // +0x00
  DWORD PartitionCount;           // +0x04
  union {                         // +0x08
    DRIVE_LAYOUT_INFORMATION_MBR Mbr;
    DRIVE_LAYOUT_INFORMATION_GPT Gpt;
  };
  PARTITION_INFORMATION_EX PartitionEntry[1];  // +0x30, PartitionCount entries
};
constexpr size_t kDriveLayoutHeaderSize = 48;
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr) == 8);
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == kDriveLayoutHeaderSize);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == kDriveLayoutHeaderSize + 144);

struct CREATE_DISK_MBR {
  DWORD Signature;
};
struct CREATE_DISK_GPT {
  GUID DiskId;
  DWORD MaxPartitionCount;
};
struct CREATE_DISK {
  PARTITION_STYLE PartitionStyle; // +0x00
  union {                         // +0x04
    CREATE_DISK_MBR Mbr;
    CREATE_DISK_GPT Gpt;
  };
};                                // 24 bytes
static_assert(sizeof(CREATE_DISK) == 24);
static_assert(offsetof(CREATE_DISK, Gpt) == 4);

struct DISK_GROW_PARTITION {
  DWORD PartitionNumber;          // +0x00
  LARGE_INTEGER BytesToGrow;      // +0x08
};                                // 16 bytes
static_assert(sizeof(DISK_GROW_PARTITION) == 16);

// ---- Storage class queries ---------------------------------------------------

struct STORAGE_DEVICE_NUMBER {
  DWORD DeviceType;               // +0x00 FILE_DEVICE_DISK
  DWORD DeviceNumber;             // +0x04 physical disk number
  DWORD PartitionNumber;          // +0x08 0 for the whole disk
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);

enum STORAGE_PROPERTY_ID : DWORD { StorageDeviceProperty = 0, StorageAdapterProperty = 1 };
enum STORAGE_QUERY_TYPE : DWORD { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };

struct STORAGE_PROPERTY_QUERY {
  STORAGE_PROPERTY_ID PropertyId; // +0x00
  STORAGE_QUERY_TYPE QueryType;   // +0x04
  BYTE AdditionalParameters[1];   // +0x08
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);

struct STORAGE_DESCRIPTOR_HEADER {
  DWORD Version;
  DWORD Size;
};

struct STORAGE_DEVICE_DESCRIPTOR {
  DWORD Version;                  // +0x00 sizeof(STORAGE_DEVICE_DESCRIPTOR)
  DWORD Size;                     // +0x04 bytes of the whole answer, strings included
  BYTE DeviceType;                // +0x08 SCSI peripheral type (0 = direct access)
  BYTE DeviceTypeModifier;        // +0x09
  BOOLEAN RemovableMedia;         // +0x0a
  BOOLEAN CommandQueueing;        // +0x0b
  DWORD VendorIdOffset;           // +0x0c 0 = none; else a NUL-terminated ASCII text
  DWORD ProductIdOffset;          // +0x10
  DWORD ProductRevisionOffset;    // +0x14
  DWORD SerialNumberOffset;       // +0x18
  DWORD BusType;                  // +0x1c STORAGE_BUS_TYPE
  DWORD RawPropertiesLength;      // +0x20
  BYTE RawDeviceProperties[1];    // +0x24
};                                // 40 bytes
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) == 36);

constexpr DWORD BusTypeScsi = 1;
constexpr DWORD BusTypeAta = 3;
constexpr DWORD BusTypeUsb = 7;
constexpr DWORD BusTypeSata = 11;
constexpr DWORD BusTypeNvme = 17;

struct MEDIA_SERIAL_NUMBER_DATA {
  DWORD SerialNumberLength;       // +0x00
  DWORD Result;                   // +0x04
  DWORD Reserved[2];              // +0x08
  BYTE SerialNumberData[1];       // +0x10
};
static_assert(offsetof(MEDIA_SERIAL_NUMBER_DATA, SerialNumberData) == 16);

struct DISK_EXTENT {
  DWORD DiskNumber;               // +0x00
  LARGE_INTEGER StartingOffset;   // +0x08
  LARGE_INTEGER ExtentLength;     // +0x10
};                                // 24 bytes
static_assert(sizeof(DISK_EXTENT) == 24);

struct VOLUME_DISK_EXTENTS {
  DWORD NumberOfDiskExtents;      // +0x00
  DISK_EXTENT Extents[1];         // +0x08
};                                // 32 bytes
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32);
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8);

// ---- S.M.A.R.T. ---------------------------------------------------------------

#pragma pack(push, 1)
struct GETVERSIONINPARAMS {
  BYTE bVersion;                  // +0x00
  BYTE bRevision;                 // +0x01
  BYTE bReserved;                 // +0x02
  BYTE bIDEDeviceMap;             // +0x03 bit per drive position
  DWORD fCapabilities;            // +0x04 CAP_*
  DWORD dwReserved[4];            // +0x08
};                                // 24 bytes
static_assert(sizeof(GETVERSIONINPARAMS) == 24);

constexpr DWORD CAP_ATA_ID_CMD = 1;
constexpr DWORD CAP_ATAPI_ID_CMD = 2;
constexpr DWORD CAP_SMART_CMD = 4;

struct IDEREGS {
  BYTE bFeaturesReg;              // +0x00
  BYTE bSectorCountReg;           // +0x01
  BYTE bSectorNumberReg;          // +0x02
  BYTE bCylLowReg;                // +0x03
  BYTE bCylHighReg;               // +0x04
  BYTE bDriveHeadReg;             // +0x05
  BYTE bCommandReg;               // +0x06
  BYTE bReserved;                 // +0x07
};
static_assert(sizeof(IDEREGS) == 8);

struct SENDCMDINPARAMS {
  DWORD cBufferSize;              // +0x00
  IDEREGS irDriveRegs;            // +0x04
  BYTE bDriveNumber;              // +0x0c
  BYTE bReserved[3];              // +0x0d
  DWORD dwReserved[4];            // +0x10
  BYTE bBuffer[1];                // +0x20
};                                // 33 bytes
static_assert(sizeof(SENDCMDINPARAMS) == 33);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);

struct DRIVERSTATUS {
  BYTE bDriverError;              // +0x00 SMART_* driver error
  BYTE bIDEError;                 // +0x01 the drive's error register
  BYTE bReserved[2];
  DWORD dwReserved[2];
};                                // 12 bytes
static_assert(sizeof(DRIVERSTATUS) == 12);

struct SENDCMDOUTPARAMS {
  DWORD cBufferSize;              // +0x00
  DRIVERSTATUS DriverStatus;      // +0x04
  BYTE bBuffer[1];                // +0x10 the command's data
};                                // 17 bytes
static_assert(sizeof(SENDCMDOUTPARAMS) == 17);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16);

// SCSI miniport pass-through header (IOCTL_SCSI_MINIPORT).
struct SRB_IO_CONTROL {
  DWORD HeaderLength;             // +0x00
  BYTE Signature[8];              // +0x04 "SCSIDISK"
  DWORD Timeout;                  // +0x0c seconds
  DWORD ControlCode;              // +0x10 IOCTL_SCSI_MINIPORT_IDENTIFY ...
  DWORD ReturnCode;               // +0x14
  DWORD Length;                   // +0x18 bytes after the header
};                                // 28 bytes
static_assert(sizeof(SRB_IO_CONTROL) == 28);
#pragma pack(pop)

constexpr BYTE ATA_IDENTIFY_DEVICE = 0xEC;
constexpr BYTE ATAPI_IDENTIFY_DEVICE = 0xA1;
constexpr BYTE ATA_SMART_CMD = 0xB0;
constexpr BYTE SMART_CYL_LOW = 0x4F;
constexpr BYTE SMART_CYL_HI = 0xC2;
constexpr BYTE READ_ATTRIBUTES = 0xD0;
constexpr BYTE READ_THRESHOLDS = 0xD1;
constexpr BYTE ENABLE_DISABLE_AUTOSAVE = 0xD2;
constexpr BYTE SAVE_ATTRIBUTE_VALUES = 0xD3;
constexpr BYTE EXECUTE_OFFLINE_DIAGS = 0xD4;
constexpr BYTE ENABLE_SMART = 0xD8;
constexpr BYTE DISABLE_SMART = 0xD9;
constexpr BYTE RETURN_SMART_STATUS = 0xDA;
constexpr DWORD READ_ATTRIBUTE_BUFFER_SIZE = 512;
constexpr DWORD IDENTIFY_BUFFER_SIZE = 512;
constexpr BYTE SMART_NO_ERROR = 0;
constexpr BYTE SMART_IDE_ERROR = 1;
constexpr BYTE SMART_INVALID_COMMAND = 3;

// ---- NTFS volume data (answered by the NTFS driver) ---------------------------

struct NTFS_VOLUME_DATA_BUFFER {
  LARGE_INTEGER VolumeSerialNumber;          // +0x00
  LARGE_INTEGER NumberSectors;               // +0x08
  LARGE_INTEGER TotalClusters;               // +0x10
  LARGE_INTEGER FreeClusters;                // +0x18
  LARGE_INTEGER TotalReserved;               // +0x20
  DWORD BytesPerSector;                      // +0x28
  DWORD BytesPerCluster;                     // +0x2c
  DWORD BytesPerFileRecordSegment;           // +0x30
  DWORD ClustersPerFileRecordSegment;        // +0x34
  LARGE_INTEGER MftValidDataLength;          // +0x38
  LARGE_INTEGER MftStartLcn;                 // +0x40
  LARGE_INTEGER Mft2StartLcn;                // +0x48
  LARGE_INTEGER MftZoneStart;                // +0x50
  LARGE_INTEGER MftZoneEnd;                  // +0x58
};                                           // 96 bytes
static_assert(sizeof(NTFS_VOLUME_DATA_BUFFER) == 96);
static_assert(offsetof(NTFS_VOLUME_DATA_BUFFER, BytesPerSector) == 40);
static_assert(offsetof(NTFS_VOLUME_DATA_BUFFER, MftStartLcn) == 64);
