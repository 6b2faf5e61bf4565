#include "disk/raw_fat.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <set>
#include <unordered_set>

#include "disk/disk_access.h"
#include "disk/ntfs_reader.h"
#include "disk/raw_volume_io.h"
#include "platform/core/ascii_case.h"
#include "platform/fs/file_api.h"
#include "program_support/path_helpers.h"

FatVolumeRecord FatVolume;
FatRunTableRecord FatRuns;
std::vector<CString> PathComponents;
bool PathSubstringMode = false;
float UsedMapShare = 0.0f;
HANDLE RawVolumeHandle = INVALID_HANDLE_VALUE;

namespace {

// Directory levels the BCD search descends, and directory entries it reads.
constexpr int kMaxDirectoryDepth = 32;
constexpr uint64_t kMaxDirectoryClusters = 65536;
// Bytes of FAT cached at a time by the table reader.
constexpr uint64_t kFatWindowBytes = 64 * 1024;
constexpr char kBcdName[11] = {'B', 'C', 'D', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kLongNameAttributes = 0x0F;
constexpr uint8_t kDirectoryAttribute = 0x10;
constexpr uint8_t kVolumeLabelAttribute = 0x08;

using ReadBytesFn = std::function<bool(uint64_t partitionOffset, void* buffer, size_t length)>;

// The FAT of FatVolume read through a window cache; entries beyond the table
// or the volume's clusters read as end of chain.
class FatTable {
 public:
  explicit FatTable(ReadBytesFn read) : read_(std::move(read)) {}

  // Next cluster of `cluster`; false when the FAT cannot be read.
  bool Next(uint32_t cluster, uint32_t* next) {
    uint64_t bit_offset = static_cast<uint64_t>(cluster) * FatVolume.fatBits;
    uint64_t byte = bit_offset / 8;
    uint8_t raw[4] = {};
    size_t width = FatVolume.fatBits == 32 ? 4 : 2;
    if (byte + width > FatVolume.fatUnits * 512) {
      *next = kFat32EndOfChain;
      return true;
    }
    for (size_t i = 0; i < width; ++i) {
      if (!Byte(byte + i, &raw[i])) return false;
    }
    uint32_t value = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
    if (FatVolume.fatBits == 32) {
      *next = value & kFat32ClusterMask;  // the top four bits are reserved
    } else if (FatVolume.fatBits == 16) {
      *next = value >= 0xFFF8 ? kFat32EndOfChain : value;
    } else {
      value = (cluster & 1) ? value >> 4 : value & 0xFFF;
      *next = value >= 0xFF8 ? kFat32EndOfChain : value;
    }
    return true;
  }

 private:
  bool Byte(uint64_t at, uint8_t* out) {
    if (window_.empty() || at < window_start_ || at >= window_start_ + window_.size()) {
      uint64_t table = FatVolume.fatUnits * 512;
      window_start_ = at / kFatWindowBytes * kFatWindowBytes;
      window_.resize(std::min<uint64_t>(kFatWindowBytes, table - window_start_));
      if (!read_(FatVolume.fatStart * 512 + window_start_, window_.data(), window_.size())) {
        window_.clear();
        return false;
      }
    }
    *out = window_[at - window_start_];
    return true;
  }

  ReadBytesFn read_;
  std::vector<uint8_t> window_;
  uint64_t window_start_ = 0;
};

bool IsDataCluster(uint32_t cluster) { return cluster >= 2 && cluster - 2 < FatVolume.clusterCount; }

uint64_t ClusterUnit(uint32_t cluster) {
  return FatVolume.dataStart + static_cast<uint64_t>(cluster - 2) * FatVolume.unitsPerCluster;
}

// The clusters of a chain, at most `limit` of them. False for a chain that
// leaves the volume, reaches a free cluster, loops, or cannot be read.
bool WalkChain(FatTable& fat, uint32_t first, uint64_t limit, std::vector<uint32_t>* chain) {
  chain->clear();
  std::unordered_set<uint32_t> seen;
  uint32_t cluster = first;
  // A chain never holds more clusters than the volume, nor one twice.
  while (chain->size() < limit) {
    if (!IsDataCluster(cluster) || !seen.insert(cluster).second) return false;
    chain->push_back(cluster);
    if (chain->size() > FatVolume.clusterCount) return false;
    uint32_t next = 0;
    if (!fat.Next(cluster, &next)) return false;
    if (next >= kFat32EndOfChain) return true;
    cluster = next;
  }
  return true;
}

ReadBytesFn DiskReader() {
  return [](uint64_t offset, void* buffer, size_t length) {
    return ReadCurrentDiskBytes(FatVolume.partitionByteOffset + offset, buffer, length);
  };
}

ReadBytesFn VolumeReader() {
  return [](uint64_t offset, void* buffer, size_t length) {
    return ReadHandleBytes(RawVolumeHandle, offset, buffer, length);
  };
}

uint32_t EntryCluster(const FatDirEntry& e) {
  uint32_t low = e.clusterLow;
  return FatVolume.fatBits == 32 ? (static_cast<uint32_t>(e.clusterHigh) << 16 | low) : low;
}

bool IsLiveEntry(const FatDirEntry& e) { return e.name[0] != 0 && e.name[0] != kDeletedMark; }

// The root directory's bytes and where each of its 512-byte units lies.
struct DirectoryImage {
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> unitOf;  // partition-relative 512-byte unit of each 512 bytes
};

bool ReadDirectory(const ReadBytesFn& read, FatTable& fat, uint32_t first, bool fixedRoot, DirectoryImage* out) {
  out->bytes.clear();
  out->unitOf.clear();
  if (fixedRoot) {
    out->bytes.resize(FatVolume.rootDirUnits * 512);
    for (uint64_t u = 0; u < FatVolume.rootDirUnits; ++u) out->unitOf.push_back(FatVolume.rootDirStart + u);
    return read(FatVolume.rootDirStart * 512, out->bytes.data(), out->bytes.size());
  }
  std::vector<uint32_t> chain;
  if (!WalkChain(fat, first, kMaxDirectoryClusters, &chain)) return false;
  size_t cluster_bytes = FatVolume.unitsPerCluster * 512ull;
  out->bytes.resize(chain.size() * cluster_bytes);
  for (size_t i = 0; i < chain.size(); ++i) {
    uint64_t unit = ClusterUnit(chain[i]);
    for (uint32_t u = 0; u < FatVolume.unitsPerCluster; ++u) out->unitOf.push_back(unit + u);
    if (!read(unit * 512, out->bytes.data() + i * cluster_bytes, cluster_bytes)) return false;
  }
  return true;
}

// Searches the directory tree breadth-first for the live file entry named
// exactly "BCD" (no extension); among matches the one stored first on the
// volume wins. False when none is found.
bool SearchBcd(const ReadBytesFn& read, FatTable& fat, FatDirEntry* found, uint64_t* foundUnit) {
  struct Pending {
    uint32_t cluster;
    bool fixedRoot;
    int depth;
  };
  std::vector<Pending> queue{{FatVolume.rootCluster, FatVolume.fatBits != 32, 0}};
  std::set<uint32_t> visited;
  bool any = false;
  uint64_t read_clusters = 0;
  for (size_t q = 0; q < queue.size(); ++q) {
    Pending dir = queue[q];
    if (!dir.fixedRoot && !visited.insert(dir.cluster).second) continue;
    DirectoryImage image;
    if (!ReadDirectory(read, fat, dir.cluster, dir.fixedRoot, &image)) continue;
    read_clusters += image.unitOf.size();
    if (read_clusters > kMaxDirectoryClusters * 8) break;
    for (size_t off = 0; off + 32 <= image.bytes.size(); off += 32) {
      FatDirEntry e;
      memcpy(&e, &image.bytes[off], 32);
      if (e.name[0] == 0) break;
      if (!IsLiveEntry(e) || e.attributes == kLongNameAttributes) continue;
      if (e.attributes & kVolumeLabelAttribute) continue;
      bool is_dot = e.name[0] == '.';
      if (e.attributes & kDirectoryAttribute) {
        if (!is_dot && dir.depth + 1 < kMaxDirectoryDepth) queue.push_back({EntryCluster(e), false, dir.depth + 1});
        continue;
      }
      if (memcmp(e.name, kBcdName, 11) != 0) continue;
      uint64_t unit = image.unitOf[off / 512];
      if (!any || unit < *foundUnit) {
        *found = e;
        *foundUnit = unit;
        any = true;
      }
    }
  }
  return any;
}

// Opens the disk, reads and takes the boot sector. False (disk closed) on failure.
bool OpenFatPartition(int32_t disk, int64_t partitionByteOffset, bool forWriting) {
  if (partitionByteOffset < 0) return false;
  if (!EnsureSectorMultiplier(disk)) return false;
  HANDLE h = forWriting ? OpenDiskReadWrite(disk) : OpenDiskRead(disk);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
  uint8_t boot[512];
  if (!ReadCurrentDiskBytes(static_cast<uint64_t>(partitionByteOffset), boot, sizeof boot) ||
      !TakeFatBootSector(boot, static_cast<uint64_t>(partitionByteOffset))) {
    CloseCurrentDisk();
    return false;
  }
  return true;
}

// The chain from the current cluster, long enough for byteCount bytes.
bool ChainFor(int32_t byteCount, std::vector<uint32_t>* chain) {
  if (byteCount <= 0) return false;
  uint64_t cluster_bytes = FatVolume.unitsPerCluster * 512ull;
  uint64_t needed = (static_cast<uint64_t>(byteCount) + cluster_bytes - 1) / cluster_bytes;
  FatTable fat(DiskReader());
  if (!WalkChain(fat, FatVolume.currentCluster, needed, chain)) return false;
  return chain->size() == needed;
}

bool TransferByChain(int32_t disk, int64_t partitionByteOffset, void* buffer, int32_t byteCount, bool write) {
  uint32_t start_cluster = FatVolume.currentCluster;
  if (!OpenFatPartition(disk, partitionByteOffset, write)) return false;
  FatVolume.currentCluster = start_cluster;
  std::vector<uint32_t> chain;
  // The whole chain is checked before the first byte moves, so a short or
  // broken chain writes nothing.
  if (!ChainFor(byteCount, &chain)) {
    CloseCurrentDisk();
    return false;
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint64_t total = (static_cast<uint64_t>(byteCount) + 511) / 512 * 512;
  uint64_t cluster_bytes = FatVolume.unitsPerCluster * 512ull;
  bool ok = true;
  uint64_t offset = 0;
  for (uint32_t cluster : chain) {
    uint64_t take = std::min(cluster_bytes, total - offset);
    uint64_t at = FatVolume.partitionByteOffset + ClusterUnit(cluster) * 512;
    ok = write ? WriteCurrentDiskBytes(at, bytes + offset, take) : ReadCurrentDiskBytes(at, bytes + offset, take);
    FatVolume.currentCluster = cluster;
    if (!ok) break;
    offset += take;
  }
  CloseCurrentDisk();
  return ok;
}

CString EntryName(const FatDirEntry& e) {
  CString name;
  for (int i = 0; i < 8; ++i) {
    if (e.name[i] != ' ') name.AppendChar(static_cast<WCHAR>(i == 0 && e.name[0] == 0x05 ? 0xE5 : e.name[i]));
  }
  if (e.ext[0] != ' ') {
    name.AppendChar(u'.');
    for (int i = 0; i < 3; ++i) {
      if (e.ext[i] != ' ') name.AppendChar(static_cast<WCHAR>(e.ext[i]));
    }
  }
  return name;
}

// Fills FatRuns from a chain; RAWFS_TOO_MANY_RUNS past kMaxFatRuns runs.
int32_t RunsFromChain(const std::vector<uint32_t>& chain) {
  FatRuns.count = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    bool extends = i > 0 && chain[i] == chain[i - 1] + 1;
    if (extends) {
      FatRuns.length[FatRuns.count - 1] += FatVolume.unitsPerCluster;
      continue;
    }
    if (FatRuns.count == kMaxFatRuns) return RAWFS_TOO_MANY_RUNS;
    FatRuns.start[FatRuns.count] = ClusterUnit(chain[i]);
    FatRuns.length[FatRuns.count] = FatVolume.unitsPerCluster;
    ++FatRuns.count;
  }
  return RAWFS_OK;
}

// The directory the locator loaded last (for the deleted-entry listing).
std::vector<uint8_t> LoadedDirectory;

bool NameMatches(const CString& name, const CString& component) {
  if (PathSubstringMode) {
    CString n = name, c = component;
    return ContainsNoCase(n, c) >= 0;
  }
  return name.CompareNoCase(component) == 0;
}

}  // namespace

bool TakeFatBootSector(const uint8_t* sector, uint64_t partitionByteOffset) {
  FatBootSector b;
  memcpy(&b, sector, sizeof b);
  uint32_t bps = b.bytesPerSector;
  uint32_t spc = b.sectorsPerCluster;
  if ((bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) || spc == 0 || (spc & (spc - 1)) != 0) return false;
  if (b.reservedSectors == 0 || b.fatCount == 0 || b.fatCount > 4) return false;
  uint32_t spf = b.sectorsPerFat16 ? b.sectorsPerFat16 : b.sectorsPerFat32;
  uint64_t total = b.totalSectors16 ? b.totalSectors16 : b.totalSectors32;
  if (spf == 0 || total == 0) return false;
  uint64_t root_sectors = (static_cast<uint64_t>(b.rootEntries) * 32 + bps - 1) / bps;
  uint64_t meta = b.reservedSectors + static_cast<uint64_t>(b.fatCount) * spf + root_sectors;
  if (meta >= total) return false;
  uint64_t clusters = (total - meta) / spc;
  uint32_t bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
  if (bits == 32 && b.sectorsPerFat16 != 0) return false;
  // The FAT must hold an entry for every cluster.
  if ((clusters + 2) * bits > static_cast<uint64_t>(spf) * bps * 8) clusters = static_cast<uint64_t>(spf) * bps * 8 / bits - 2;
  uint32_t u = bps / 512;
  FatVolumeRecord v;
  v.bytesPerSector = bps;
  v.sectorsPerCluster = spc;
  v.unitsPerCluster = spc * u;
  v.reservedSectors = b.reservedSectors;
  v.fatCount = b.fatCount;
  v.rootEntries = b.rootEntries;
  v.totalSectors = total;
  v.sectorsPerFat = spf;
  v.rootCluster = bits == 32 ? b.rootCluster : 0;
  v.fatBits = bits;
  v.clusterCount = clusters;
  v.fatStart = static_cast<uint64_t>(b.reservedSectors) * u;
  v.fatUnits = static_cast<uint64_t>(spf) * u;
  v.rootDirStart = v.fatStart + v.fatCount * v.fatUnits;
  v.rootDirUnits = root_sectors * u;
  v.dataStart = v.rootDirStart + v.rootDirUnits;
  v.partitionByteOffset = partitionByteOffset;
  FatVolume = v;
  return true;
}

int32_t LocateBcdOnFat32(int32_t disk, int64_t partitionByteOffset, uint64_t* firstSector) {
  if (!OpenFatPartition(disk, partitionByteOffset, false)) return 0;
  FatTable fat(DiskReader());
  FatDirEntry found{};
  uint64_t unit = 0;
  int32_t size = 0;
  if (SearchBcd(DiskReader(), fat, &found, &unit)) {
    FatVolume.currentCluster = EntryCluster(found);
    if (firstSector) *firstSector = IsDataCluster(FatVolume.currentCluster) ? ClusterUnit(FatVolume.currentCluster) : 0;
    size = static_cast<int32_t>(std::min<uint32_t>(found.fileSize, INT32_MAX));
  }
  CloseCurrentDisk();
  return size;
}

int32_t FindBcdOnFat32(int32_t disk, int64_t partitionByteOffset) {
  uint64_t sector = 0;
  return LocateBcdOnFat32(disk, partitionByteOffset, &sector);
}

bool ReadFat32FileByChain(int32_t disk, int64_t partitionByteOffset, void* buffer, int32_t byteCount) {
  return TransferByChain(disk, partitionByteOffset, buffer, byteCount, false);
}

bool WriteFat32FileByChain(int32_t disk, int64_t partitionByteOffset, const void* buffer, int32_t byteCount) {
  return TransferByChain(disk, partitionByteOffset, const_cast<void*>(buffer), byteCount, true);
}

int32_t ContainsNoCase(char* text, char* part) {
  if (!text || !part) return -1;
  for (char* p = text; *p; ++p) *p = platform::AsciiUpper(*p);
  for (char* p = part; *p; ++p) *p = platform::AsciiUpper(*p);
  const char* at = strstr(text, part);
  return at ? static_cast<int32_t>(at - text) : -1;
}

int32_t ContainsNoCase(CString& text, CString& part) {
  text.MakeUpper();
  part.MakeUpper();
  return text.Find(part.GetString());
}

int32_t SplitPathComponents(const CString& path) {
  PathComponents.clear();
  CString rest = path + u"\\";
  int start = 0;
  for (int i = 0; i < rest.GetLength() && static_cast<int>(PathComponents.size()) < kMaxPathComponents; ++i) {
    if (rest[i] != u'\\') continue;
    if (i > start) PathComponents.push_back(rest.Mid(start, std::min(i - start, kMaxComponentLength)));
    start = i + 1;
  }
  return 0;
}

int32_t SplitPathByToken(const CString& path) {
  PathComponents.clear();
  int position = 0;
  for (CString token = path.Tokenize(u"\\", position);
       position >= 0 && static_cast<int>(PathComponents.size()) < kMaxPathComponents;
       token = path.Tokenize(u"\\", position)) {
    PathComponents.push_back(token.Left(kMaxComponentLength));
  }
  return 0;
}

DWORD ReadVolumeSectors(void* buffer, uint64_t sector, int32_t count) {
  if (count <= 0) return 0;
  if (!ReadHandleBytes(RawVolumeHandle, sector * 512, buffer, static_cast<size_t>(count) * 512)) return 0;
  return static_cast<DWORD>(count) * 512;
}

int32_t ReadFatVolumeParams() {
  uint8_t boot[512];
  if (ReadVolumeSectors(boot, 0, 1) != sizeof boot) return RAWFS_IO_FAILED;
  return TakeFatBootSector(boot, 0) ? RAWFS_OK : RAWFS_IO_FAILED;
}

int32_t LocateFileByPath(const CString& path) {
  SplitPathComponents(path);
  FatTable fat(VolumeReader());
  bool fixed_root = FatVolume.fatBits != 32;
  uint32_t cluster = FatVolume.rootCluster;
  FatRuns = FatRunTableRecord{};
  if (PathComponents.size() < 2) return RAWFS_NOT_FOUND;
  for (size_t c = 1; c < PathComponents.size(); ++c) {
    DirectoryImage dir;
    if (!ReadDirectory(VolumeReader(), fat, cluster, fixed_root, &dir)) return RAWFS_IO_FAILED;
    LoadedDirectory = dir.bytes;
    bool matched = false;
    for (size_t off = 0; off + 32 <= dir.bytes.size(); off += 32) {
      FatDirEntry e;
      memcpy(&e, &dir.bytes[off], 32);
      if (e.name[0] == 0) break;
      if (e.name[0] == kDeletedMark || e.attributes == kLongNameAttributes || (e.attributes & kVolumeLabelAttribute))
        continue;
      if (!NameMatches(EntryName(e), PathComponents[c])) continue;
      matched = true;
      cluster = EntryCluster(e);
      fixed_root = false;
      FatRuns.firstCluster = cluster;
      FatRuns.fileSize = e.fileSize;
      FatRuns.isDirectory = (e.attributes & kDirectoryAttribute) != 0;
      break;
    }
    if (!matched) return RAWFS_NOT_FOUND;
    if (cluster == 0) {  // an empty file owns no clusters
      if (c + 1 < PathComponents.size()) return RAWFS_NOT_FOUND;
      return RAWFS_OK;
    }
    std::vector<uint32_t> chain;
    if (!WalkChain(fat, cluster, kMaxDirectoryClusters * 1024, &chain)) return RAWFS_IO_FAILED;
    int32_t status = RunsFromChain(chain);
    if (status != RAWFS_OK) return status;
  }
  return RAWFS_OK;
}

int32_t CountDeletedEntries(int32_t limit, int32_t* count) {
  int32_t n = 0;
  for (size_t off = 0; off + 32 <= LoadedDirectory.size(); off += 32) {
    uint8_t first = LoadedDirectory[off];
    if (first == 0) break;
    if (first == kDeletedMark && LoadedDirectory[off + 11] != kLongNameAttributes) ++n;
  }
  if (n < limit) {
    *count = n;
    return RAWFS_OK;
  }
  *count = n + 1;
  return RAWFS_TOO_MANY_DELETED;
}

int32_t ListDeletedEntries(int32_t count, std::vector<DeletedEntry>* entries) {
  entries->clear();
  for (size_t off = 0; off + 32 <= LoadedDirectory.size() && static_cast<int32_t>(entries->size()) < count;
       off += 32) {
    FatDirEntry e;
    memcpy(&e, &LoadedDirectory[off], 32);
    if (e.name[0] == 0) break;
    if (e.name[0] != kDeletedMark || e.attributes == kLongNameAttributes) continue;
    DeletedEntry d;
    d.isDirectory = (e.attributes & kDirectoryAttribute) != 0;
    d.firstCluster = EntryCluster(e);
    d.name = EntryName(e);
    entries->push_back(d);
  }
  return RAWFS_OK;
}

std::unique_ptr<VolumeUsedMap> BuildFat32UsedMap(const std::vector<std::pair<uint64_t, uint64_t>>& skipRuns) {
  auto map = std::make_unique<VolumeUsedMap>();
  constexpr uint32_t kUnitsPerBit = 32;
  uint64_t volume_units = FatVolume.totalSectors * (FatVolume.bytesPerSector / 512);
  uint64_t bit_count = (volume_units + kUnitsPerBit - 1) / kUnitsPerBit;
  map->unitsPerBit = kUnitsPerBit;
  map->byteSize = static_cast<uint32_t>((bit_count + 7) / 8);
  // The bit array grows as groups are marked and gets its full size only
  // after the whole FAT was read, so a size the volume cannot back costs nothing.
  auto mark = [&](uint64_t first_unit, uint64_t units) {
    for (uint64_t b = first_unit / kUnitsPerBit; b <= (first_unit + units - 1) / kUnitsPerBit && b < bit_count; ++b) {
      if (b / 8 >= map->bits.size()) map->bits.resize(b / 8 + 1, 0);
      map->bits[b / 8] |= static_cast<uint8_t>(1u << (b % 8));
    }
  };
  // Boot sector, reserved area, FATs (and a FAT12/16 root directory) are always used.
  mark(0, FatVolume.dataStart);
  FatTable fat(VolumeReader());
  uint64_t used = 0;
  uint64_t free_clusters = 0;
  for (uint64_t c = 2; c < FatVolume.clusterCount + 2; ++c) {
    uint32_t next = 0;
    if (!fat.Next(static_cast<uint32_t>(c), &next)) return nullptr;
    if (next == 0) {
      ++free_clusters;
      continue;
    }
    // A used cluster of the pagefile is neither counted nor marked: its bytes
    // need no copy, and a large pagefile must not make the volume look full.
    // (Counted per cluster rather than per 32-unit group, so used and free
    // space are measured in one unit whatever the cluster size.)
    uint64_t unit = ClusterUnit(static_cast<uint32_t>(c));
    bool in_skip = std::any_of(skipRuns.begin(), skipRuns.end(),
                               [&](const auto& r) { return unit >= r.first && unit - r.first < r.second; });
    if (in_skip) continue;
    ++used;
    mark(unit, FatVolume.unitsPerCluster);
  }
  map->bits.resize(map->byteSize, 0);
  UsedMapShare = used + free_clusters ? static_cast<float>(used) / static_cast<float>(used + free_clusters) : 0.0f;
  if (UsedMapShare > 0.8f) return nullptr;
  return map;
}

int32_t BuildVolumeUsedMap(const CString& driveText, std::unique_ptr<VolumeUsedMap>* map) {
  map->reset();
  if (driveText.IsEmpty()) return 0;
  RawVolumeHandle = OpenVolumeDevice(driveText[0]);
  if (RawVolumeHandle == INVALID_HANDLE_VALUE) return 0;
  WCHAR fs_name[32] = {};
  CString root = driveText.Left(2) + u"\\";
  if (GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fs_name, 32)) {
    CString fs(fs_name);
    if (fs == u"FAT32") {
      if (ReadFatVolumeParams() == RAWFS_OK && FatVolume.fatBits == 32) {
        std::vector<std::pair<uint64_t, uint64_t>> skip;
        if (LocateFileByPath(driveText.Left(2) + u"\\PAGEFILE.SYS") == RAWFS_OK) {
          for (int i = 0; i < FatRuns.count; ++i) skip.emplace_back(FatRuns.start[i], FatRuns.length[i]);
        }
        *map = BuildFat32UsedMap(skip);
      }
    } else if (fs == u"NTFS") {
      // The NTFS reader opens the volume its own way.
      CloseHandle(RawVolumeHandle);
      RawVolumeHandle = INVALID_HANDLE_VALUE;
      NtfsPagefilePath.Empty();
      NtfsPagefileRecord = 0;
      CString drive = driveText.Left(2);
      CString pagefile = drive + u"\\pagefile.sys";
      if (NtfsOpenVolume(drive) == 0 && NtfsLoadMftRuns() == 0) {
        if (!FindFirstName(pagefile).IsEmpty() && LocateFileRuns(pagefile, 4)) NtfsPagefilePath = pagefile;
        *map = NtfsBuildUsedBitmap();
      }
    }
  }
  if (RawVolumeHandle != INVALID_HANDLE_VALUE) CloseHandle(RawVolumeHandle);
  RawVolumeHandle = INVALID_HANDLE_VALUE;
  return 0;
}
