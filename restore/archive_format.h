// The backup archive as the restore program reads it: the self-extract
// marker, the 717-byte header, the three item record kinds, the names pool,
// the block framing, the two block location tables and the names of volume
// and chain member files. Disk structures are packed little-endian records
// converted field by field into the in-memory ones below; all offsets are
// from the record's first byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace restore {

// The marker text in the program file: these letters, decimal digits (the
// byte offset of the appended archive) and a zero byte, in a 36-byte slot.
inline constexpr std::string_view kSelfExtractLetters = "CORVELWARESELFEXTRACTING";
inline constexpr size_t kMarkerSlotSize = 36;
// The plaintext of the passkey check block (header +23).
inline constexpr std::string_view kPasskeyCheckText = "Corvelwr";

inline constexpr size_t kHeaderSize = 717;
inline constexpr size_t kFileRecordSize = 48;
inline constexpr size_t kFolderRecordSize = 140;
inline constexpr size_t kDiskRecordSize = 78;
inline constexpr size_t kBlockLocationSize = 8;
inline constexpr size_t kChangedBlockEntrySize = 13;
inline constexpr size_t kSectorSize = 512;

// One block of uncompressed data: 63 sectors.
inline constexpr uint32_t kBlockBytes = 0x7E00;
inline constexpr uint32_t kBlockSectors = 63;
// Largest length word that announces data in this file; above it (and 0)
// the word refers to an older member of an incremental chain.
inline constexpr uint32_t kMaxStoredBlock = 0x8000;

// Room for disk items in the catalogue, and unit counts in the header.
inline constexpr int kMaxDiskItems = 31;
inline constexpr int kMaxUnitCountItems = 15;
// Components of a folder path (3 bytes each in a 96-byte list).
inline constexpr int kMaxPathComponents = 32;

enum class Compression : uint8_t { None = 0, Rle = 1, Zlib = 2 };

// A place in the archive: sector × 512 + byte, counted from the first byte
// of the file holding the archive's first volume. The byte part may be 512
// (the first byte of the next sector) after an advance.
struct ArchivePosition {
  int32_t sector = 0;
  int32_t byte = 0;
  int64_t offset() const { return int64_t{sector} * 512 + byte; }
  // Advances by n bytes (n >= 0), keeping the byte part within 0..512.
  void advance(uint32_t n);
  bool operator==(const ArchivePosition&) const = default;
};

struct ArchiveHeader {
  uint8_t type = 0;         // +0: 0 full archive, else member of an incremental chain
  uint8_t compression = 0;  // +1: 0 none, 1 RLE, 2 zlib
  uint8_t encrypted = 0;    // +2
  int32_t total_sectors = 0;   // +3
  ArchivePosition next_volume; // +7 sector, +11 byte
  int32_t split = 0;           // +15: > 0 when split into volume files
  int32_t table_volume = 0;    // +19
  std::array<uint8_t, 8> passkey_check{};  // +23
  int32_t disk_count = 0;      // +31
  int32_t file_count = 0;      // +35
  int32_t folder_count = 0;    // +39
  int64_t backup_time = 0;     // +47, seconds since 1970 UTC
  uint8_t no_unit_lookup = 0;  // +55: in a full archive, non-zero hides every unit
  ArchivePosition table;       // +57 sector, +61 byte: location or changed-block table
  std::u16string description;  // +65, 256 characters, zero-terminated
  std::array<int32_t, kMaxUnitCountItems + 1> unit_counts{};  // +577 + 4k, k = 1..15
  int32_t changed_count = 0;   // +641
  int32_t names_length = 0;    // +709, characters without the terminator
  bool is_chain_member() const { return type != 0; }
  bool is_split() const { return split > 0; }
};

struct FileItemRecord {
  int8_t selection = 0;      // +0: negative = not selected
  uint32_t name_offset = 0;  // +1, characters into the names pool
  uint8_t name_length = 0;   // +5
  int64_t size = 0;          // +6
  ArchivePosition data;      // +14 int32 sector, +18 int16 byte
  uint32_t attributes = 0;   // +20
  uint64_t creation_time = 0, access_time = 0, write_time = 0;  // +24, +32, +40 (FILETIME)
};

struct FolderItemRecord {
  int8_t kind = 0;            // +0: negative = not selected; 0..10 folder or file; above 10 a partition
  uint8_t path_bytes = 0;     // +1: 3 bytes per component
  std::array<uint32_t, kMaxPathComponents> components{};  // +2: 24-bit offsets into the pool
  int64_t size = 0;           // +98: -2 for a folder or partition entry
  ArchivePosition data;       // +106 int32 sector, +110 int16 byte
  uint32_t attributes = 0;    // +112
  uint64_t creation_time = 0, access_time = 0, write_time = 0;  // +116, +124, +132
  int component_count() const { return path_bytes / 3; }
  bool is_folder_entry() const { return size == -2; }
  bool is_partition() const { return kind > 10; }
  // Kinds 11 and 13 are FAT32 volumes, others above 10 NTFS.
  bool is_fat32_partition() const { return kind == 11 || kind == 13; }
};

struct DiskItemRecord {
  int8_t kind = 0;             // +0: negative not selected; 1 whole disk; above 1 a partition
  uint8_t disk_number = 0;     // +1
  std::u16string model;        // +2, 19 characters
  std::u16string drive_text;   // +40, 5 characters ("C:")
  uint16_t partition_type = 0; // +50
  int32_t sectors_per_unit = 0;  // +56
  int32_t first_sector = 0;      // +60
  int32_t full_units = 0;        // +64
  int32_t last_unit_sectors = 0; // +68
  bool is_whole_disk() const { return kind == 1; }
  // Sectors of the whole extent, without 32-bit wrap.
  int64_t extent_sectors() const { return int64_t{sectors_per_unit} * full_units + last_unit_sectors; }
  int64_t unit_count() const { return int64_t{full_units} + (last_unit_sectors > 0 ? 1 : 0); }
  // Sectors of unit `unit` (from 1).
  int64_t unit_sectors(int64_t unit) const { return unit <= full_units ? sectors_per_unit : last_unit_sectors; }
};

struct ChangedBlockEntry {
  int32_t unit = 0;      // +1
  ArchivePosition data;  // +5, +9
};

// Field-by-field conversion of the disk records. The input holds at least
// the record's size.
ArchiveHeader ParseHeader(const uint8_t* p);
FileItemRecord ParseFileRecord(const uint8_t* p);
FolderItemRecord ParseFolderRecord(const uint8_t* p);
DiskItemRecord ParseDiskRecord(const uint8_t* p);
ArchivePosition ParseBlockLocation(const uint8_t* p);
ChangedBlockEntry ParseChangedBlockEntry(const uint8_t* p);

// The reverse, for the archive writer of the tests.
void StoreHeader(const ArchiveHeader& h, uint8_t* p);
void StoreFileRecord(const FileItemRecord& r, uint8_t* p);
void StoreFolderRecord(const FolderItemRecord& r, uint8_t* p);
void StoreDiskRecord(const DiskItemRecord& r, uint8_t* p);

// The names pool: the text of a file record (offset and length), and the
// path of a folder record (components end at the next '?', length taken
// modulo 256, joined with '\'). Parts outside the pool are cut at its end.
std::u16string FileRecordPath(const FileItemRecord& r, std::u16string_view names);
std::u16string FolderRecordPath(const FolderItemRecord& r, std::u16string_view names);

// Offset of the appended archive named by a marker text (letters then
// digits; conversion stops at the first non-digit). -1 when the text does not
// start with the letters or has no digit.
int64_t ParseMarkerOffset(std::string_view marker);
// Where the marker's letters start in a program file, or npos.
size_t FindMarker(const std::vector<uint8_t>& file);

// "Yarv_" + name + "_" + chain + "_V" + volume + ".yqb".
std::u16string BuildVolumeName(std::u16string_view name, int32_t chain, int32_t volume);
struct VolumeName {
  std::u16string name;
  int32_t chain = 0;
  int32_t volume = 0;
};
// Splits a file name (without folder); a name without the "Yarv_" prefix is
// taken whole with chain and volume 0. False for a prefixed name without its
// second "_", its "V", or with numbers that do not fit.
bool ParseVolumeName(std::u16string_view file_name, VolumeName& out);

}  // namespace restore
