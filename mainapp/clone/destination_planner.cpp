#include "mainapp/clone/destination_planner.h"

#include <algorithm>
#include <cstring>

#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "disk/listed_disks.h"
#include "mainapp/clone/clone_plan.h"
#include "platform/core/align.h"
#include "platform/core/guid.h"
#include "platform/process/system_info.h"
#include "platform/storage/partition_table.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr int64_t kEspEnd = 134217728;  // the new EFI system partition ends at 128 MiB
constexpr char16_t kMsrName[] = u"Microsoft reserved partition";
constexpr char16_t kBasicDataName[] = u"Basic data partition";
constexpr GUID kEspType = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
constexpr GUID kBasicDataType = {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};

int64_t Scaled(uint64_t v, double f) { return static_cast<int64_t>(static_cast<double>(v) * f); }
int64_t End(const LayoutEntry& e) { return static_cast<int64_t>(e.newStartBytes + e.newLengthBytes); }
bool HasLetter(const LayoutEntry& e) { return e.driveLetter > 0; }
void SetLength(LayoutEntry& e, int64_t v) { e.newLengthBytes = static_cast<uint64_t>(v < 0 ? 0 : v); }
void SetStart(LayoutEntry& e, int64_t v) { e.newStartBytes = static_cast<uint64_t>(v < 0 ? 0 : v); }

// Hidden NTFS and FAT32 types become their visible forms on the copy.
int32_t MappedType(int32_t code) {
  if (code == 0x17 || code == 0x27) return 7;
  if (code == 0x1C || code == 0x2C) return 0x0C;
  return code;
}

// A partition that does not fit behind `r` is cut at the disk's end (or gets
// length 0); one that fits is rounded up to whole units.
int64_t FitOrCut(int64_t r, int64_t length, int64_t dbytes, int64_t b) {
  if (r + length > dbytes) return r < dbytes ? dbytes - r : 0;
  return platform::AlignUp(length, b);
}

void PlanGptConversion(LayoutEntry* t, int32_t count, const PlannerInputs& in, double scale, int64_t dbytes,
                       int64_t b, PlannerResults& out) {
  LayoutEntry copy[kMaxLayoutEntries];
  memcpy(copy, t, sizeof copy);
  for (int i = 0; i < kMaxLayoutEntries; ++i) t[i] = LayoutEntry{};
  LayoutEntry& esp = t[0];
  esp.partitionStyle = 1;
  esp.typeGuid = kEspType;
  CoCreateGuid(&esp.idGuid);
  esp.diskSignature = copy[0].diskSignature;
  esp.startBytes = copy[0].startBytes;
  esp.lengthBytes = copy[0].lengthBytes;
  esp.newStartBytes = in.multiplier == 8 ? 24576 : 17408;
  esp.newLengthBytes = kEspEnd - esp.newStartBytes;
  esp.driveLetter = -1;
  esp.fsCode = esp.newType = 0xEE;
  int64_t r = kEspEnd;
  out.newPartitionCount = 1;
  int32_t o = 1;
  for (int32_t k = 0; k < count && o < kMaxLayoutEntries; ++k) {
    if (copy[k].fsCode == 0 || platform::storage::IsDosExtendedType(copy[k].fsCode)) continue;
    ++out.newPartitionCount;
    LayoutEntry& e = t[o];
    e = copy[k];
    e.partitionStyle = 1;
    e.typeGuid = kBasicDataType;
    CoCreateGuid(&e.idGuid);
    e.gptAttributes = 0x8000000000000000ull;
    memset(e.name, 0, sizeof e.name);
    memcpy(e.name, kBasicDataName, (sizeof kBasicDataName) - sizeof(char16_t));
    e.nesting = 0;
    e.containerIndex = 0;
    int64_t length = k < in.systemIndex ? static_cast<int64_t>(e.lengthBytes) : Scaled(e.lengthBytes, scale);
    length = FitOrCut(r, length, dbytes, b);
    if (length == 0) {
      e = LayoutEntry{};
      continue;
    }
    e.newLengthBytes = static_cast<uint64_t>(length);
    e.newStartBytes = static_cast<uint64_t>(r);
    e.newType = e.fsCode;
    r += length;
    ++o;
  }
  out.count = o;
}

void PlanGptSource(LayoutEntry* t, int32_t count, const PlannerInputs& in, double scale, int64_t dbytes, int64_t b,
                   PlannerResults& out) {
  int64_t r = static_cast<int64_t>(t[0].startBytes);
  out.newPartitionCount = 0;
  for (int32_t k = 0; k < count; ++k) {
    LayoutEntry& e = t[k];
    ++out.newPartitionCount;
    bool keep = k < in.systemIndex || !HasLetter(e) || std::u16string_view(e.name) == kMsrName;
    int64_t length = keep ? static_cast<int64_t>(e.lengthBytes) : Scaled(e.lengthBytes, scale);
    length = FitOrCut(r, length, dbytes, b);
    e.newLengthBytes = static_cast<uint64_t>(length);
    e.newStartBytes = static_cast<uint64_t>(r);
    e.newType = k < in.systemIndex ? 7 : e.fsCode;
    r += length;
  }
  out.count = count;
}

// The system-migration pass: the first N partitions, the last of them (the
// chosen Windows partition) running to the disk's end.
void PlanMigration(LayoutEntry* t, int32_t count, const PlannerInputs& in, double scale, int64_t dbytes, int64_t b,
                   int64_t c) {
  double f = scale;
  for (int32_t i = 0; i < count; ++i) {
    LayoutEntry& e = t[i];
    if (e.fsCode == 0) continue;
    if (i < in.systemIndex || e.fsCode == FS_RAW) f = 1.0;  // kept for every later entry too
    e.newType = MappedType(e.fsCode);
    if (c > 0) {
      SetStart(e, c);
    } else {
      int64_t s = f == 1.0 ? static_cast<int64_t>(e.startBytes) : Scaled(e.startBytes, f);
      SetStart(e, i == 0 ? s : platform::AlignDown(s, b));
    }
    if (i < count - 1) {
      int64_t length = f > 1.0 ? Scaled(e.lengthBytes, f) : static_cast<int64_t>(e.lengthBytes);
      SetLength(e, platform::AlignDown(length, b));
    } else {
      SetLength(e, platform::AlignDown(dbytes - static_cast<int64_t>(e.newStartBytes), b));
      if (End(e) > dbytes) SetLength(e, dbytes - static_cast<int64_t>(e.newStartBytes));
    }
    c = End(e);
  }
}

void PlanMbr(LayoutEntry* t, int32_t& count, const PlannerInputs& in, double scale, int64_t dbytes, int64_t b,
             PlannerResults& out) {
  const int64_t m = in.multiplier > 0 ? in.multiplier : 1;
  int64_t c = static_cast<int64_t>(t[0].startBytes);
  out.singlePartitionMoved = 0;
  // First-track rule: a first partition inside the destination's first track moves to 1 MiB.
  if (t[0].partitionStyle == 0 && static_cast<int64_t>(t[0].startBytes / 512) < in.sectorsPerTrack * m) {
    c = kMiB;
    if (count == 1) {
      count = 4;
      for (int i = 1; i < 4; ++i) t[i] = LayoutEntry{};
      out.singlePartitionMoved = 1;
    }
  }
  if (in.systemMigration) {
    PlanMigration(t, count, in, scale, dbytes, b, c);
    return;
  }
  int32_t i = 0;
  int32_t last = 0;      // L: the last primary handled
  int32_t extended = 0;  // X: the last extended partition seen
  while (i < count) {
    // Primary pass.
    for (; i < count && t[i].nesting <= 0; ++i) {
      LayoutEntry& e = t[i];
      double f = scale;
      if (i > 0 && platform::storage::IsDosExtendedType(e.fsCode)) extended = i;
      if (e.fsCode == 0) {
        e.newType = 0;
        continue;
      }
      if (i < in.systemIndex || e.fsCode == FS_RAW || !HasLetter(e)) f = 1.0;
      if (c > 0) {
        SetStart(e, c);
      } else {
        int64_t s = f == 1.0 ? static_cast<int64_t>(e.startBytes) : Scaled(e.startBytes, f);
        SetStart(e, i != 0 && f != 1.0 ? platform::AlignDown(s, b) : s);
      }
      if (f == 1.0) {
        e.newLengthBytes = e.lengthBytes;
      } else {
        int64_t p = i > 1 ? End(t[i - 1]) : static_cast<int64_t>(e.newStartBytes);
        int64_t length = i == in.realCount - 1 ? dbytes - p : Scaled(e.lengthBytes, f);
        SetLength(e, platform::AlignDown(length, b * m));
      }
      c = End(e);
      if (m > 1) c = platform::AlignUp(c, b * m);
      if (End(e) > dbytes && HasLetter(e) && e.nesting == 0)
        SetLength(e, dbytes - static_cast<int64_t>(e.newStartBytes));
      last = i;
      e.newType = MappedType(e.fsCode);
    }
    // Logical pass, from entry i to the end of the table.
    int32_t container = i < kMaxLayoutEntries ? t[i].containerIndex : 0;
    if (container < 0 || container >= kMaxLayoutEntries) container = 0;
    c = static_cast<int64_t>(t[container].newStartBytes) + b;
    LayoutEntry& l = t[last];
    if (in.systemIndex != 0 && in.sizingMode != SizingMode::SameSize && HasLetter(l) && l.nesting == 0)
      SetLength(l, dbytes - static_cast<int64_t>(l.newStartBytes));
    if (i >= count) break;
    if (t[i].fsCode == 0) {
      t[i].newType = 0;
      ++i;
      continue;
    }
    for (int32_t j = i; j < count; ++j) {
      LayoutEntry& e = t[j];
      double f = e.nesting != 0 ? 1.0 : (HasLetter(e) ? scale : 1.0);
      if (e.fsCode == 0) continue;
      if (extended != 0) {
        const LayoutEntry& x = t[extended];
        SetStart(e, static_cast<int64_t>(x.newStartBytes) + (static_cast<int64_t>(e.startBytes) -
                                                             static_cast<int64_t>(x.startBytes)));
        e.newLengthBytes = e.lengthBytes;
        e.containerIndex = extended;
        c = End(e);
      } else {
        if (c > 0) {
          SetStart(e, c);
        } else {
          int64_t s = f == 1.0 ? static_cast<int64_t>(e.startBytes) : Scaled(e.startBytes, f);
          SetStart(e, platform::AlignDown(s, b));
        }
        int64_t length = f == 1.0 ? static_cast<int64_t>(e.lengthBytes) : Scaled(e.lengthBytes, f);
        SetLength(e, platform::AlignDown(length, b));
      }
      if (j + 1 < kMaxLayoutEntries && t[j + 1].containerIndex != extended) {
        // What follows lies behind the container, which may end after its
        // last logical drive: never inside it.
        if (extended != 0) c = std::max(c, End(t[extended]));
        extended = 0;
      }
      e.newType = MappedType(e.fsCode);
    }
    break;
  }
}

}  // namespace

int32_t AlignmentUnitFor(int32_t windowsMajor, int32_t lastSectorsPerTrack) {
  if (windowsMajor >= 6) return 2048;
  return lastSectorsPerTrack > 0 ? lastSectorsPerTrack : 63;
}

void SortLayoutEntries(LayoutEntry* table, int32_t count) {
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  if (count < 2) return;
  LayoutEntry copy[kMaxLayoutEntries];
  memcpy(copy, table, sizeof copy);
  int32_t newIndex[kMaxLayoutEntries];
  for (int32_t k = 0; k < kMaxLayoutEntries; ++k) newIndex[k] = k;
  bool taken[kMaxLayoutEntries] = {};
  int32_t p = 1;
  for (;; ++p) {
    int32_t best = -1;
    for (int32_t k = 1; k < count; ++k)
      if (!taken[k] && copy[k].startBytes != 0 && (best < 0 || copy[k].startBytes < copy[best].startBytes)) best = k;
    if (best < 0) break;
    taken[best] = true;
    table[p] = copy[best];
    newIndex[best] = p;
  }
  // The slots after the last partition are empty: left as they were, they
  // would repeat partitions already placed.
  for (int32_t k = p; k < count; ++k) table[k] = LayoutEntry{};
  for (int32_t k = 1; k < p; ++k) {
    LayoutEntry& e = table[k];
    if (e.nesting > 0) e.containerIndex = newIndex[e.containerIndex];
  }
  // An extended link inside an extended partition belongs to it, so the
  // logical drives after it keep their offsets inside the container.
  for (int32_t k = 1; k < p; ++k) {
    LayoutEntry& e = table[k];
    if (!platform::storage::IsDosExtendedType(e.fsCode)) continue;
    for (int32_t j = 0; j < k; ++j) {
      const LayoutEntry& x = table[j];
      if (!platform::storage::IsDosExtendedType(x.fsCode) || x.nesting > 0 || x.startBytes >= e.startBytes) continue;
      if (e.startBytes - x.startBytes < x.lengthBytes) {
        e.containerIndex = j;
        break;
      }
    }
  }
}

PlannerResults PlanLayoutEntries(LayoutEntry* table, int32_t count, const PlannerInputs& in) {
  PlannerResults out;
  if (count < 0) return out;
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  out.count = count;
  PlannerInputs inputs = in;
  if (inputs.convertToGpt) {
    ++inputs.realCount;  // the new EFI system partition
    if (inputs.realCount > 4) count = count + 4 > kMaxLayoutEntries ? kMaxLayoutEntries : count + 4;
  }
  double c = inputs.convertToGpt ? 131072.0 : 0.0;
  if (inputs.sizingMode == SizingMode::SameSize || inputs.sourceSectors == 0)
    out.scaleFactor = 1.0;
  else
    out.scaleFactor = (static_cast<double>(inputs.destinationSectors) - c) / static_cast<double>(inputs.sourceSectors);
  const int64_t unit = inputs.alignUnit > 0 ? inputs.alignUnit : 2048;
  const int64_t b = unit * 512;
  const int64_t dbytes = static_cast<int64_t>(inputs.destinationSectors * 512);
  if (inputs.convertToGpt)
    PlanGptConversion(table, count, inputs, out.scaleFactor, dbytes, b, out);
  else if (inputs.sourceIsGpt)
    PlanGptSource(table, count, inputs, out.scaleFactor, dbytes, b, out);
  else {
    PlanMbr(table, count, inputs, out.scaleFactor, dbytes, b, out);
    out.count = count;
    // A plan that does not shrink gets no correction afterwards: an entry
    // that kept a size reaching past the destination (a damaged source
    // table) is cut at the destination's end.
    if (out.scaleFactor >= 1.0)
      for (int32_t i = 0; i < count; ++i) {
        LayoutEntry& e = table[i];
        if (e.newLengthBytes == 0 || End(e) <= dbytes) continue;
        SetLength(e, dbytes - static_cast<int64_t>(e.newStartBytes));
        if (e.newLengthBytes == 0) e.newStartBytes = 0;
      }
  }
  return out;
}

int32_t PlanDestinationLayout(int32_t sourcePhysicalDisk, const void* layout, int32_t count) {
  if (count < 0) {
    for (auto& entry : DiskContext.layoutTable) entry = LayoutEntry{};
    return 0;
  }
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExW(&version);
  PlannerInputs in;
  in.alignUnit = AlignmentUnitFor(static_cast<int32_t>(version.dwMajorVersion), DiskContext.lastSectorsPerTrack);
  FillLayoutTable(sourcePhysicalDisk, layout, count);
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  SortLayoutEntries(DiskContext.layoutTable, count);
  FindSystemPartition(count);
  const int32_t physical = ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).value;
  in.multiplier = SectorMultiplierOf(physical) > 0 ? SectorMultiplierOf(physical) : 1;
  in.sectorsPerTrack = physical >= 0 && physical < kMaxPhysicalDisks && DiskContext.sectorsPerTrack[physical] > 0
                           ? DiskContext.sectorsPerTrack[physical]
                           : 63;
  in.sourceSectors = PlanSourceSectors;
  in.destinationSectors = PlanDestinationSectors;
  in.sizingMode = CloneSettings.sizingMode;
  in.convertToGpt = CloneSettings.convertToGpt != 0;
  in.sourceIsGpt = CloneSettings.sourceIsGpt != 0;
  in.systemMigration = CloneSettings.systemMigration != 0;
  in.systemIndex = DiskContext.systemPartitionIndex;
  in.realCount = DiskContext.layoutRealCount;
  PlannerResults out = PlanLayoutEntries(DiskContext.layoutTable, count, in);
  ScaleFactor = out.scaleFactor;
  if (in.convertToGpt || in.sourceIsGpt) NewPartitionCount = out.newPartitionCount;
  SinglePartitionMoved = out.singlePartitionMoved;
  return out.count;
}
