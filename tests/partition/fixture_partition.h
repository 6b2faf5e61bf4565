// Shared by the partition manager's tests: the tables an independent reader
// finds on an image (sfdisk -d for 512-byte sectors, fdisk -b 4096 for larger
// ones, both walking the whole EBR chain), a check that they do not overlap,
// a hash of a partition's bytes, and the manager's state opened on a disk of
// a booted simulated PC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/fixture_images.h"

namespace partition_fixture {

// One partition as the reader lists it, native sectors.
struct Row {
  uint64_t start = 0;
  uint64_t count = 0;
  int type = 0;
  bool operator==(const Row&) const = default;
};

// The reader's rows in its order (primaries by slot, then logical drives in chain order).
std::vector<Row> ReadTable(const std::string& image, uint32_t sectorSize);
// The rows without the extended container.
std::vector<Row> DataRows(const std::vector<Row>& rows);
// Fails the test when two data rows overlap, when a logical drive lies
// outside its container, or when a row starts in the first sector.
void ExpectSound(const std::vector<Row>& rows);
// FNV-1a of the image bytes [start, start + count) in native sectors.
uint64_t HashSectors(disk_fixture::SimulatedPc& pc, int disk, uint64_t start, uint64_t count);

// Boots the PC, refreshes the disk tables and shows listed disk `listed`
// (0-based) in the manager's state, its map laid out over 600 pixels.
void OpenManagerOn(disk_fixture::SimulatedPc& pc, int listed = 0);
// Rebuilds the manager's map from the disk.
void RefreshMap();
// Index of the n-th free item of the map inside (or outside) the extended partition; -1 when none.
int FreeItem(bool insideExtended, int n = 0);
// Index of the map item that starts at `start` (512-byte units); -1 when none.
int ItemAt(uint64_t start);

}  // namespace partition_fixture

namespace partition_fixture {

// Builds the language files from their sources into `folder`/Resources, maps
// the folder as P:, and (after the PC boots) makes it the program folder.
void InstallLanguageFiles(disk_fixture::SimulatedPc& pc);
// Loads the language ("English" or "Japanese") from P:\Resources.
bool UseLanguage(const char* name);

}  // namespace partition_fixture
