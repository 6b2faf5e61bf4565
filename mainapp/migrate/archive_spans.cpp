#include "mainapp/migrate/archive_spans.h"

#include <algorithm>
#include <limits>

#include "disk/disk_access.h"
#include "platform/core/little_endian.h"
#include "platform/fs/file_api.h"

std::vector<ArchiveSpanVolume> SpanVolumes;
SpanRecorder SpanRecord;

namespace {

int64_t Le(const uint8_t* p, int bytes) {
  uint64_t v = platform::ReadLe(p, bytes);
  if (bytes < 8 && (v >> (8 * bytes - 1)) & 1) v |= ~uint64_t{0} << (8 * bytes);
  return static_cast<int64_t>(v);
}

// Reads exactly n bytes at `offset` of the file; false otherwise.
bool ReadAt(HANDLE file, int64_t offset, void* buffer, DWORD n) {
  if (file == INVALID_HANDLE_VALUE || offset < 0) return false;
  LARGE_INTEGER to{};
  to.QuadPart = offset;
  if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) return false;
  return n == 0 || ReadFileBytes(file, n, buffer) == n;
}

// A stored position that can name a byte of a file.
bool Plausible(const SpanPosition& p) {
  return p.sector > 0 && p.sector < (std::numeric_limits<int64_t>::max() / 512) - 1 && p.byte >= 0 && p.byte <= 512;
}

// Entries before item `item`'s first in a location table; -1 on overflow.
int64_t BlocksBefore(const std::array<int64_t, kSpanItems + 1>& counts, int item) {
  int64_t sum = 0;
  for (int i = 1; i < item; ++i) {
    if (counts[static_cast<size_t>(i)] < 0 || sum > std::numeric_limits<int64_t>::max() - counts[static_cast<size_t>(i)])
      return -1;
    sum += counts[static_cast<size_t>(i)];
  }
  return sum;
}

}  // namespace

void SpanPosition::advance(int64_t n) {
  if (n <= 0) return;
  sector += n / 512;
  byte += static_cast<int32_t>(n % 512);
  if (byte > 512) {
    sector += byte / 512;
    byte %= 512;
  }
}

std::array<uint8_t, kChangedEntrySize> EncodeChangedBlock(const ChangedBlockEntry& entry) {
  std::array<uint8_t, kChangedEntrySize> out{};
  out[0] = entry.item;
  platform::WriteLe(out.data() + 1, static_cast<uint64_t>(entry.block), 4);
  platform::WriteLe(out.data() + 5, static_cast<uint64_t>(entry.position.sector), 8);
  platform::WriteLe(out.data() + 13, static_cast<uint64_t>(entry.position.byte), 4);
  return out;
}

ChangedBlockEntry DecodeChangedBlock(const uint8_t* bytes) {
  ChangedBlockEntry e;
  e.item = bytes[0];
  e.block = static_cast<int32_t>(Le(bytes + 1, 4));
  e.position.sector = Le(bytes + 5, 8);
  e.position.byte = static_cast<int32_t>(Le(bytes + 13, 4));
  return e;
}

SpanPosition DecodeLocationEntry(const uint8_t* bytes) {
  SpanPosition p;
  p.sector = Le(bytes, 8);
  p.byte = static_cast<int32_t>(Le(bytes + 8, 4));
  return p;
}

SpanLocation LocateSpanBlock(int member, int item, int64_t block) {
  SpanLocation none;
  if (member < 0 || static_cast<size_t>(member) >= SpanVolumes.size() || item < 1 || item > kSpanItems || block < 1)
    return none;
  const ArchiveSpanVolume& v = SpanVolumes[static_cast<size_t>(member)];
  if (v.file == INVALID_HANDLE_VALUE || !Plausible(v.table)) return none;
  if (member == 0) {
    // Entry number (blocks of the items before + block), from 1; the item
    // must have that many blocks, so no entry of the next item is taken.
    const int64_t before = BlocksBefore(v.blockCounts, item);
    if (before < 0 || block > v.blockCounts[static_cast<size_t>(item)]) return none;
    const int64_t number = before + block;
    if (number > (std::numeric_limits<int64_t>::max() - v.table.offset()) / static_cast<int64_t>(kLocationEntrySize))
      return none;
    uint8_t entry[kLocationEntrySize];
    if (!ReadAt(v.file, v.table.offset() + (number - 1) * static_cast<int64_t>(kLocationEntrySize), entry,
                sizeof entry))
      return none;
    const SpanPosition at = DecodeLocationEntry(entry);
    if (!Plausible(at)) return none;
    return SpanLocation{v.file, at};
  }
  if (v.changedCount <= 0) return none;
  // The whole table, read once; an entry matches on its item and its block
  // (blocks are numbered within their item).
  std::vector<uint8_t> table(static_cast<size_t>(v.changedCount) * kChangedEntrySize);
  if (!ReadAt(v.file, v.table.offset(), table.data(), static_cast<DWORD>(table.size()))) return none;
  for (size_t at = 0; at < table.size(); at += kChangedEntrySize) {
    const ChangedBlockEntry e = DecodeChangedBlock(table.data() + at);
    if (e.item == item && e.block == block) return Plausible(e.position) ? SpanLocation{v.file, e.position} : none;
  }
  return none;
}

bool RecordBlockLocation(int item, int64_t block) {
  if (item < 1 || item > kSpanItems || block < 0) return false;
  SpanRecorder& r = SpanRecord;
  if (r.changedOnly) {
    if (block > std::numeric_limits<int32_t>::max()) return false;
    r.changed.push_back(ChangedBlockEntry{static_cast<uint8_t>(item), static_cast<int32_t>(block), r.position});
    return true;
  }
  const int64_t before = BlocksBefore(r.blockCounts, item);
  if (before < 0 || block > std::numeric_limits<int64_t>::max() - before) return false;
  const int64_t index = before + block;
  if (static_cast<uint64_t>(index) >= r.locations.max_size()) return false;
  if (static_cast<size_t>(index) >= r.locations.size()) r.locations.resize(static_cast<size_t>(index) + 1);
  r.locations[static_cast<size_t>(index)] = r.position;
  ++r.blockCounts[static_cast<size_t>(item)];
  return true;
}

int32_t ReadNextSpanBlock(uint8_t* buffer, size_t capacity) {
  for (size_t n = SpanVolumes.size(); n-- > 0;) {
    ArchiveSpanVolume& v = SpanVolumes[n];
    if (v.file == INVALID_HANDLE_VALUE || !Plausible(v.current)) continue;
    uint8_t word[2];
    if (!ReadAt(v.file, v.current.offset(), word, sizeof word)) continue;
    const int32_t length = word[0] | (word[1] << 8);
    if (length > kSpanBlockLimit || static_cast<size_t>(length) > capacity || (length > 0 && !buffer)) continue;
    if (!ReadAt(v.file, v.current.offset() + 2, buffer, static_cast<DWORD>(length))) {
      v.current = SpanPosition{};
      return -1;
    }
    v.current.advance(2 + int64_t{length});
    return length;
  }
  return 0;
}

void FreeVolumeNameTables(int count) {
  const size_t n = std::min(SpanVolumes.size(), static_cast<size_t>(std::max(count, 0)));
  for (size_t i = 0; i < n; ++i) std::vector<uint8_t>().swap(SpanVolumes[i].nameTable);
}

void CloseVolumeFiles(int count) {
  const size_t n = std::min(SpanVolumes.size(), static_cast<size_t>(std::max(count, 0)));
  for (size_t i = 0; i < n; ++i) {
    if (SpanVolumes[i].file != INVALID_HANDLE_VALUE) CloseHandle(SpanVolumes[i].file);
    SpanVolumes[i].file = INVALID_HANDLE_VALUE;
  }
}

int32_t ReadArchiveSectors(const SpanSectorRequest& r) {
  if (r.block < 1 || r.blockSectors < 0 || r.index < 0 || r.unit < 0 || r.count <= 0 || !r.buffer) return -1;
  // base + (block - 1) x blockSectors + index x unit, every step checked.
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const uint64_t blocks = static_cast<uint64_t>(r.block - 1), size = static_cast<uint64_t>(r.blockSectors);
  const uint64_t index = static_cast<uint64_t>(r.index), unit = static_cast<uint64_t>(r.unit);
  if ((size != 0 && blocks > kMax / size) || (unit != 0 && index > kMax / unit)) return -1;
  const uint64_t into = blocks * size, within = index * unit;
  if (into > kMax - r.baseSector || within > kMax - r.baseSector - into) return -1;
  return ReadDiskSectors(r.buffer, r.baseSector + into + within, r.count);
}
