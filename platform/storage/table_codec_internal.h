// Shared pieces of the partition-table codec (MBR and GPT halves). Not for
// use outside platform/storage.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/error.h"
#include "platform/storage/partition_table.h"

namespace platform::storage::codec {

static_assert(std::endian::native == std::endian::little, "on-disk structures are read in place");

#pragma pack(push, 1)
// One slot of an MBR or EBR partition table.
struct MbrSlotDisk {
  uint8_t boot;          // +0x00 0x80 = active
  uint8_t chs_first[3];  // +0x01
  uint8_t type;          // +0x04
  uint8_t chs_last[3];   // +0x05
  uint32_t lba_first;    // +0x08 sectors (MBR: from disk start; EBR: see the codec)
  uint32_t lba_count;    // +0x0c sectors
};                       // 16 bytes
static_assert(sizeof(MbrSlotDisk) == 16);

// The first 512 bytes of sector 0 or of an EBR.
struct MbrSectorDisk {
  uint8_t boot_code[440];  // +0x000
  uint32_t signature;      // +0x1b8 disk signature (MBR only)
  uint16_t reserved;       // +0x1bc
  MbrSlotDisk slots[4];    // +0x1be
  uint8_t magic[2];        // +0x1fe 0x55 0xAA
};                         // 512 bytes
static_assert(sizeof(MbrSectorDisk) == 512);
static_assert(offsetof(MbrSectorDisk, signature) == 440);
static_assert(offsetof(MbrSectorDisk, slots) == 446);
static_assert(offsetof(MbrSectorDisk, magic) == 510);

// GPT header (LBA 1 and the last sector of the disk).
struct GptHeaderDisk {
  char signature[8];          // +0x00 "EFI PART"
  uint32_t revision;          // +0x08 0x00010000
  uint32_t header_size;       // +0x0c 92 .. sector size
  uint32_t header_crc;        // +0x10 CRC32 of header_size bytes with this field zero
  uint32_t reserved;          // +0x14
  uint64_t my_lba;            // +0x18
  uint64_t alternate_lba;     // +0x20
  uint64_t first_usable_lba;  // +0x28
  uint64_t last_usable_lba;   // +0x30
  GUID disk_guid;             // +0x38
  uint64_t entries_lba;       // +0x48
  uint32_t entry_count;       // +0x50
  uint32_t entry_size;        // +0x54 a multiple of 128
  uint32_t entries_crc;       // +0x58 CRC32 of entry_count * entry_size bytes
};                            // 92 bytes
static_assert(sizeof(GptHeaderDisk) == 92);
static_assert(offsetof(GptHeaderDisk, disk_guid) == 0x38);
static_assert(offsetof(GptHeaderDisk, entries_crc) == 0x58);

// One GPT entry (the first 128 bytes of a possibly larger entry).
struct GptEntryDisk {
  GUID type_guid;       // +0x00 zero = unused
  GUID id_guid;         // +0x10
  uint64_t first_lba;   // +0x20
  uint64_t last_lba;    // +0x28 inclusive
  uint64_t attributes;  // +0x30
  char16_t name[36];    // +0x38 UTF-16LE, NUL-padded
};                      // 128 bytes
static_assert(sizeof(GptEntryDisk) == 128);
static_assert(offsetof(GptEntryDisk, name) == 0x38);
#pragma pack(pop)

constexpr char kGptSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr uint32_t kGptRevision = 0x00010000;
constexpr uint32_t kGptHeaderSize = 92;
constexpr uint32_t kGptEntrySize = 128;
constexpr uint64_t kMaxGptArrayBytes = 4u << 20;  // refuse larger entry arrays

inline TableResult Ok() { return {}; }
TableResult Fail(TableStatus status, std::string message);
// ReadFailed / WriteFailed carrying the device's last error.
TableResult DeviceFail(TableStatus status, const std::string& what, uint64_t offset);

bool ReadSector(BlockDevice& disk, uint64_t lba, std::vector<uint8_t>* sector, TableResult* result);
bool WriteBytes(BlockDevice& disk, uint64_t offset, const void* data, size_t length, TableResult* result);

// True when sector 0 ends with the boot signature.
bool HasBootMagic(const std::vector<uint8_t>& sector);

TableResult ReadMbr(BlockDevice& disk, const std::vector<uint8_t>& sector0, DiskLayout* layout);
TableResult WriteMbr(BlockDevice& disk, const DiskLayout& layout);
TableResult ReadGpt(BlockDevice& disk, DiskLayout* layout);
TableResult WriteGpt(BlockDevice& disk, const DiskLayout& layout);
// Zeroes stale GPT headers (LBA 1 and the last sector) when they carry the signature.
TableResult WipeGptHeaders(BlockDevice& disk);

std::string Hex(uint64_t value);

}  // namespace platform::storage::codec
