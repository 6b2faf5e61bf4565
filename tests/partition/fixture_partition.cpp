#include "fixture_partition.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "disk/disk_tables.h"
#include "mainapp/partition/disk_bar.h"
#include "mainapp/partition/partition_state.h"
#include "mainapp/records/disk_bars.h"

namespace partition_fixture {

std::vector<Row> ReadTable(const std::string& image, uint32_t sectorSize) {
  std::vector<Row> rows;
  if (sectorSize == 512) {
    std::string text;
    disk_fixture::Shell("sfdisk -d " + image, &text);
    static const std::regex line(R"(start=\s*(\d+), size=\s*(\d+), type=([0-9a-fA-F]+))");
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
      std::smatch m;
      if (std::regex_search(l, m, line))
        rows.push_back({std::stoull(m[1]), std::stoull(m[2]), std::stoi(m[3], nullptr, 16)});
    }
    return rows;
  }
  for (const auto& r : disk_fixture::FdiskRows(image, sectorSize, "Start,Sectors,Id"))
    if (r.size() >= 3) rows.push_back({std::stoull(r[0]), std::stoull(r[1]), std::stoi(r[2], nullptr, 16)});
  return rows;
}

std::vector<Row> DataRows(const std::vector<Row>& rows) {
  std::vector<Row> out;
  for (const Row& r : rows)
    if (r.type != 5 && r.type != 0xF && r.type != 0x85) out.push_back(r);
  return out;
}

void ExpectSound(const std::vector<Row>& rows) {
  const Row* container = nullptr;
  for (const Row& r : rows)
    if (r.type == 5 || r.type == 0xF) container = &r;
  std::vector<Row> data = DataRows(rows);
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_GT(data[i].start, 0u) << "row " << i;
    for (size_t j = i + 1; j < data.size(); ++j) {
      bool apart = data[i].start + data[i].count <= data[j].start || data[j].start + data[j].count <= data[i].start;
      EXPECT_TRUE(apart) << "rows at " << data[i].start << " and " << data[j].start << " overlap";
    }
  }
  // Primaries overlapping the container, and logical drives outside it.
  if (!container) return;
  for (const Row& r : data) {
    bool inside = r.start > container->start && r.start + r.count <= container->start + container->count;
    bool outside = r.start + r.count <= container->start || r.start >= container->start + container->count;
    EXPECT_TRUE(inside || outside) << "row at " << r.start << " straddles the extended partition";
  }
}

uint64_t HashSectors(disk_fixture::SimulatedPc& pc, int disk, uint64_t start, uint64_t count) {
  uint64_t ss = pc.SectorSize(disk);
  uint64_t h = 1469598103934665603ull;
  const uint64_t chunk = 1 << 20;
  for (uint64_t off = start * ss, end = (start + count) * ss; off < end; off += chunk) {
    auto bytes = pc.ReadBytes(disk, off, static_cast<size_t>(std::min(chunk, end - off)));
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  }
  return h;
}

void OpenManagerOn(disk_fixture::SimulatedPc& pc, int listed) {
  pc.Boot();
  DiskContext = DiskContextRecord{};
  DetectSystemAndSpecialDisks();
  PartitionManagerState = PartitionManagerStateRecord{};
  PartitionManagerState.selectedDisk = ListedDiskIndex{listed};
  RefreshMap();
}

void RefreshMap() { LayoutManagerMap(RECT{0, 0, 600, 60}); }

int FreeItem(bool insideExtended, int n) {
  const auto& s = PartitionManagerState;
  for (int i = 0; i < s.diskMapCount; ++i)
    if (s.diskMap[i].partitionIndex < 0 && (s.diskMap[i].outsideExtended == 0) == insideExtended && n-- == 0) return i;
  return -1;
}

int ItemAt(uint64_t start) {
  const auto& s = PartitionManagerState;
  for (int i = 0; i < s.diskMapCount; ++i)
    if (s.diskMap[i].start == start) return i;
  return -1;
}

}  // namespace partition_fixture

#include <cstdlib>
#include <filesystem>

#include "platform/core/text.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace partition_fixture {

void InstallLanguageFiles(disk_fixture::SimulatedPc& pc) {
  const std::string program = pc.folder() + "/program";
  std::filesystem::create_directories(program + "/Resources");
  const std::string lang = std::string(std::getenv("DRUM_SOURCE_DIR")) + "/resources/lang/";
  for (std::string c : {"001", "081"})
    EXPECT_EQ(disk_fixture::Shell("cat " + lang + c + ".txt $(ls " + lang + "*." + c +
                                  ".txt | sort) | sed 's/\\r$//; s/$/\\r/' | iconv -f UTF-8 -t UTF-16LE > " + program +
                                  "/Resources/" + c + ".dll"),
              0);
  pc.AppendIni("\n[mount P]\npath = P:\nhost = " + program + "\ndrive_type = remote\n");
}

bool UseLanguage(const char* name) {
  ShellState.programFolder = u"P:";
  ShellState.languageName = platform::to_utf16(name);
  return LoadLanguageStrings();
}

}  // namespace partition_fixture
