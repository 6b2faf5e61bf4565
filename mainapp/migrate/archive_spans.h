// Readers of an archive spread over several volume files, shared with the
// backup product whose restore build is Yarv. Each volume file carries
// framed blocks (a 2-byte little-endian length, then the block) and tables
// of where blocks lie: a full archive a location table of 12-byte entries
// (64-bit sector, 32-bit byte offset) one per block of every disk item, item
// after item; a later chain member a table of 17-byte changed-block entries
// (8-bit item, 32-bit block, 64-bit sector, 32-bit byte offset). Positions
// are sector x 512 + byte offset from the start of the volume's file.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/core/types.h"

constexpr int kSpanItems = 15;               // disk items 1..15
constexpr int32_t kSpanBlockLimit = 32768;   // longest framed block
constexpr size_t kLocationEntrySize = 12;
constexpr size_t kChangedEntrySize = 17;

struct SpanPosition {
  int64_t sector = 0;  // 0: no position (nothing to read there)
  int32_t byte = 0;
  int64_t offset() const { return sector * 512 + byte; }
  // Moves on by n bytes: whole sectors first, the byte part folded into the
  // sector only once it exceeds 512 (a byte part of 512 stays).
  void advance(int64_t n);
  bool operator==(const SpanPosition&) const = default;
};

struct ChangedBlockEntry {
  uint8_t item = 0;
  int32_t block = 0;
  SpanPosition position;
  bool operator==(const ChangedBlockEntry&) const = default;
};

// One volume (chain member) of the archive being read.
struct ArchiveSpanVolume {
  HANDLE file = INVALID_HANDLE_VALUE;
  SpanPosition current;  // where its next block is read
  SpanPosition saved;
  SpanPosition table;    // its location table (member 0) or changed-block table
  std::array<int64_t, kSpanItems + 1> blockCounts{};  // per disk item 1..15
  int32_t changedCount = 0;                           // entries of its changed-block table
  std::vector<uint8_t> nameTable;
};

// The volume table: index 0 is the full archive, later ones its members.
extern std::vector<ArchiveSpanVolume> SpanVolumes;

// The block locations being recorded while an archive is written.
struct SpanRecorder {
  SpanPosition position;  // current write position
  std::array<int64_t, kSpanItems + 1> blockCounts{};
  std::vector<SpanPosition> locations;
  std::vector<ChangedBlockEntry> changed;
  bool changedOnly = false;   // both mode flags: record changed-block entries
};
extern SpanRecorder SpanRecord;

// Where a block lies; file is INVALID_HANDLE_VALUE when it is nowhere.
struct SpanLocation {
  HANDLE file = INVALID_HANDLE_VALUE;
  SpanPosition position;
};

// The changed-block entry and location entry in their file form and back
// (little-endian, packed).
std::array<uint8_t, kChangedEntrySize> EncodeChangedBlock(const ChangedBlockEntry& entry);
ChangedBlockEntry DecodeChangedBlock(const uint8_t* bytes);
SpanPosition DecodeLocationEntry(const uint8_t* bytes);

// Block `block` (from 1) of disk item `item` (1..15) in volume `member`:
// member 0 looks it up in its location table, a later member in its
// changed-block table (the first entry of that item and block). Anything
// out of range, unreadable or not there gives a location without file.
SpanLocation LocateSpanBlock(int member, int item, int64_t block);
// Notes the current write position as the place of block `block` (from 0)
// of item `item`: in the location table after the blocks of the items
// before it, or as a changed-block entry when SpanRecord.changedOnly.
// False (nothing recorded) for an item outside 1..15 or a negative block.
bool RecordBlockLocation(int item, int64_t block);
// The next framed block, from the last volume that has a position to the
// first: its length (at most kSpanBlockLimit and `capacity`), the block in
// `buffer`, the volume's position moved past it. A length word beyond those
// bounds sends the search to the next volume; 0 when no volume has a block;
// -1 when a volume's block cannot be read whole (its position is cleared).
int32_t ReadNextSpanBlock(uint8_t* buffer, size_t capacity);
// Frees the name tables of, and closes the files of, the first `count` volumes.
void FreeVolumeNameTables(int count);
void CloseVolumeFiles(int count);

// A read of `count` 512-byte units of the current disk (ReadDiskSectors) at
// base + (block - 1) x blockSectors + index x unit.
struct SpanSectorRequest {
  uint64_t baseSector = 0;
  int64_t block = 1;  // from 1
  int64_t blockSectors = 0;
  int64_t index = 0;
  int64_t unit = 0;
  int32_t count = 0;
  void* buffer = nullptr;
};
// ReadDiskSectors' answer (0 read, -1 failed); -1 without reading for a block
// below 1, a negative index, size or count, or a sector past 64 bits.
int32_t ReadArchiveSectors(const SpanSectorRequest& request);
