#include "mainapp/clone/plan_application.h"

#include <algorithm>
#include <vector>

#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "disk/partition_list.h"
#include "disk/listed_disks.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_plan.h"
#include "mainapp/clone/destination_planner.h"
#include "mainapp/clone/manual_sizing.h"
#include "mainapp/records/clone_settings.h"
#include "platform/storage/partition_table.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr int64_t kSpareMargin = 33554432;  // 32 MiB
constexpr int64_t kUsedMargin = 16777216;   // 16 MiB
constexpr uint64_t kTailGap = 32768;        // sectors (16 MiB)

int64_t End(const LayoutEntry& e) { return static_cast<int64_t>(e.newStartBytes + e.newLengthBytes); }
bool HasLetter(const LayoutEntry& e) { return e.driveLetter > 0; }
int64_t UsedBytes(const LayoutEntry& e, const UsedSectorsOf& used) {
  return HasLetter(e) ? static_cast<int64_t>(used(e.driveLetter) * 512) : 0;
}
int64_t Room(const LayoutEntry& e, const UsedSectorsOf& used) {
  return static_cast<int64_t>(e.newLengthBytes) - UsedBytes(e, used);
}
void Shift(LayoutEntry& e, int64_t by) {
  int64_t s = static_cast<int64_t>(e.newStartBytes) + by;
  e.newStartBytes = static_cast<uint64_t>(s < 0 ? 0 : s);
}
int32_t Clamp(int32_t count) { return count < 0 ? 0 : (count > kMaxLayoutEntries ? kMaxLayoutEntries : count); }


void ShowTooSmall() {
  MessageBoxW(ShellState.MainDialogHandle, LookupString(u"IDS_DestinationTooSmall"), ShellState.messageCaption, MB_OK);
}

}  // namespace

bool NeedsGptConversion(uint64_t destinationSectors) { return destinationSectors / 2048 >= 2097152; }

uint64_t VolumeUsedSectors(int32_t letter) {
  return letter > 0 ? GetVolumeUsedSectors(static_cast<WCHAR>(letter)) : 0;
}

int32_t LeadingPlannedEntries(const LayoutEntry* table, int32_t count) {
  count = Clamp(count);
  int32_t n = 0;
  while (n < count && table[n].newLengthBytes != 0) ++n;
  return n;
}

uint64_t GiveSurplusSpace(LayoutEntry* t, int32_t count, uint64_t sourceSectors, uint64_t destinationSectors,
                          double scale) {
  count = Clamp(count);
  int32_t n = LeadingPlannedEntries(t, count);
  if (n == 0) return 0;
  const LayoutEntry& last = t[n - 1];
  double destinationFree = static_cast<double>(static_cast<int64_t>(destinationSectors * 512) - End(last));
  int64_t sourceFree = static_cast<int64_t>(sourceSectors * 512) - static_cast<int64_t>(last.startBytes + last.lengthBytes);
  if (sourceFree < 0) sourceFree = 0;
  int64_t extra = static_cast<int64_t>(destinationFree - static_cast<double>(sourceFree) * scale);
  if (extra <= kMiB) return 0;
  extra = extra / kMiB * kMiB;
  for (int32_t k = 0; k < count; ++k) {
    if (!HasLetter(t[k]) || t[k].newLengthBytes == 0) continue;
    t[k].newLengthBytes += static_cast<uint64_t>(extra);
    for (int32_t j = k + 1; j < count; ++j)
      if (t[j].fsCode != 0) Shift(t[j], extra);
    return static_cast<uint64_t>(extra);
  }
  return 0;
}

bool CorrectShrinkingPlan(LayoutEntry* t, int32_t count, uint64_t destinationSectors, const UsedSectorsOf& used) {
  count = Clamp(count);
  const int64_t dbytes = static_cast<int64_t>(destinationSectors * 512);
  int32_t e = -1;
  for (int32_t k = 0; k < count; ++k)
    if (t[k].fsCode != 0) e = k;
  if (e < 0) return true;
  bool fits = true;
  int64_t over = End(t[e]) - dbytes;
  if (over > 0) {
    for (int32_t k = 0; k < e; ++k) {
      if (!HasLetter(t[k]) || Room(t[k], used) <= over + kSpareMargin) continue;
      t[k].newLengthBytes -= static_cast<uint64_t>(over);
      for (int32_t j = k + 1; j <= e; ++j) Shift(t[j], -over);
      over = 0;
      break;
    }
    fits = over == 0;
  }
  for (int32_t x = count - 1; x >= 0; --x) {
    LayoutEntry& entry = t[x];
    if (entry.fsCode == 0 || entry.newLengthBytes == 0) continue;
    int64_t need = HasLetter(entry) ? UsedBytes(entry, used) + kUsedMargin - static_cast<int64_t>(entry.newLengthBytes)
                                    : static_cast<int64_t>(entry.lengthBytes) - static_cast<int64_t>(entry.newLengthBytes);
    if (need <= 0 || platform::storage::IsDosExtendedType(entry.fsCode)) continue;
    for (int32_t k = 0; k < count; ++k) {
      if (k == x || !HasLetter(t[k]) || Room(t[k], used) <= need + kSpareMargin) continue;
      t[k].newLengthBytes -= static_cast<uint64_t>(need);
      if (k < x) {
        for (int32_t j = k + 1; j <= x; ++j) Shift(t[j], -need);
      } else {
        // The room lies after the entry: everything between moves up.
        for (int32_t j = x + 1; j <= k; ++j)
          if (t[j].fsCode != 0) Shift(t[j], need);
      }
      entry.newLengthBytes += static_cast<uint64_t>(need);
      break;
    }
  }
  return fits;
}

bool EndContainersAfterTheirLogicalDrives(LayoutEntry* t, int32_t count, uint64_t destinationSectors) {
  count = Clamp(count);
  const int64_t dbytes = static_cast<int64_t>(destinationSectors * 512);
  bool fits = true;
  for (int32_t k = 0; k < count; ++k) {
    LayoutEntry& container = t[k];
    if (!platform::storage::IsDosExtendedType(container.fsCode) || container.newLengthBytes == 0 ||
        End(container) <= dbytes)
      continue;
    int64_t last = static_cast<int64_t>(container.newStartBytes);
    for (int32_t j = k + 1; j < count; ++j) {
      const LayoutEntry& drive = t[j];
      if (drive.nesting <= 0 || drive.fsCode == 0 || drive.newLengthBytes == 0) continue;
      if (drive.newStartBytes < container.newStartBytes || static_cast<int64_t>(drive.newStartBytes) >= End(container))
        continue;
      last = std::max(last, End(drive));
    }
    if (last > dbytes) fits = false;
    container.newLengthBytes = static_cast<uint64_t>(last) - container.newStartBytes;
  }
  return fits;
}

namespace {
// The entries the planned map shows, one item each and in order.
bool IsMappedEntry(const LayoutEntry& e) {
  return e.newLengthBytes != 0 && e.fsCode != 0 && !platform::storage::IsDosExtendedType(e.fsCode);
}
}  // namespace

int32_t BuildPlannedMap(const LayoutEntry* t, int32_t count, uint64_t destinationSectors, bool converting,
                        bool gptResult, DiskMapItem* items) {
  count = Clamp(count);
  for (int i = 0; i < kMaxDiskMapItems; ++i) items[i] = DiskMapItem{};
  int32_t n = 0;
  int32_t numbered = 0;
  for (int32_t k = 0; k < count && n < kMaxDiskMapItems; ++k) {
    const LayoutEntry& e = t[k];
    if (!IsMappedEntry(e)) continue;
    DiskMapItem& item = items[n++];
    item.start = e.newStartBytes / 512;
    item.length = e.newLengthBytes / 512;
    item.type = converting ? e.newType : e.fsCode;
    item.driveLetter = e.driveLetter;
    item.outsideExtended = e.nesting > 0 ? 0 : 1;
    item.partitionIndex = item.type > 0 ? numbered++ : -1;
    if (item.type <= 0 && item.partitionIndex < 0) item.partitionIndex = numbered++;  // a RAW partition is still one
  }
  if (n == 0) return 0;
  DiskMapItem& last = items[n - 1];
  uint64_t end = last.start + last.length;
  if (end + kTailGap < destinationSectors) {
    if (gptResult) {
      last.length = destinationSectors - last.start;
    } else if (n < kMaxDiskMapItems) {
      DiskMapItem& free = items[n++];
      free.partitionIndex = -1;
      free.type = -1;
      free.outsideExtended = 1;
      free.start = end;
      free.length = destinationSectors - end;
      free.driveLetter = -1;
    }
  }
  return n;
}

// The first 512-byte sector past the last whole native sector a GPT disk of
// `diskSectors` lets partitions use: one native sector of header and 16 KiB
// of entries end the disk.
namespace {
uint64_t GptUsableEnd(uint64_t diskSectors, uint64_t m) {
  const uint64_t backup = m + 16384 / 512;
  return diskSectors > backup ? (diskSectors - backup) / m * m : 0;
}
}  // namespace

void WriteBackConvertedTail(const DiskMapRecord& map, LayoutEntry* t, int32_t count, uint64_t diskSectors,
                            int32_t multiplier) {
  count = Clamp(count);
  int32_t entryOf[kMaxDiskMapItems] = {};
  int32_t mapped = 0;
  for (int32_t k = 0; k < count && mapped < kMaxDiskMapItems; ++k)
    if (IsMappedEntry(t[k])) entryOf[mapped++] = k;
  const uint64_t m = static_cast<uint64_t>(std::max(multiplier, 1));
  const uint64_t usableEnd = GptUsableEnd(diskSectors, m);
  const int32_t items = std::min(std::clamp(map.count, 0, kMaxDiskMapItems), mapped);
  for (int32_t i = std::max(items - 2, 0); i < items; ++i) {
    const DiskMapItem& item = map.items[i];
    if (item.partitionIndex < 0 || item.start >= usableEnd) continue;
    const uint64_t length = std::min(item.length, usableEnd - item.start) / m * m;
    if (length == 0) continue;
    t[entryOf[i]].newStartBytes = item.start * 512;
    t[entryOf[i]].newLengthBytes = length * 512;
  }
}

void KeepInsideGptUsableSectors(LayoutEntry* t, int32_t count, uint64_t diskSectors, int32_t multiplier) {
  count = Clamp(count);
  const uint64_t m = static_cast<uint64_t>(std::max(multiplier, 1));
  const uint64_t usableEnd = GptUsableEnd(diskSectors, m) * 512;
  for (int32_t k = 0; k < count; ++k) {
    LayoutEntry& e = t[k];
    if (e.newLengthBytes == 0 || e.newStartBytes + e.newLengthBytes <= usableEnd) continue;
    const uint64_t length = e.newStartBytes < usableEnd ? (usableEnd - e.newStartBytes) / (512 * m) * (512 * m) : 0;
    e.newLengthBytes = length;
    if (length == 0) e.newStartBytes = 0;
  }
}

void SettleWholeDiskPlan(int32_t plannedEntries) {
  const ListedDiskIndex listed = CloneSettings.chosenDestinationDisk;
  if (CloneSettings.convertToGpt)
    WriteBackConvertedTail(PlannedDiskMap, DiskContext.layoutTable, plannedEntries, ListedSize(listed),
                           SectorMultiplierOf(ListedPhysicalDisk(listed).value));
  if (CloneSettings.sizingMode == SizingMode::SameSize ||
      (CloneSettings.sizingMode == SizingMode::Manual && ManualSizing.changed)) {
    WriteBackPlannedMap(PlannedDiskMap, DiskContext.layoutTable, plannedEntries);
    DestinationDiskMap = PlannedDiskMap;
  }
  // Any GPT result, a GPT source's plan too, ends before the backup table.
  if (CloneSettings.convertToGpt || CloneSettings.sourceIsGpt)
    KeepInsideGptUsableSectors(DiskContext.layoutTable, plannedEntries, ListedSize(listed),
                               SectorMultiplierOf(ListedPhysicalDisk(listed).value));
}

PlanTotals ComputePlanTotals(const LayoutEntry* t, int32_t count, const UsedSectorsOf& used) {
  count = Clamp(count);
  PlanTotals totals;
  for (int32_t k = 0; k < count; ++k) {
    if (!HasLetter(t[k])) continue;
    uint64_t u = used(t[k].driveLetter);
    totals.required += u + u / 4;
    totals.planned += t[k].newLengthBytes / 512;
  }
  return totals;
}

bool ApplyDestinationPlan(int32_t* planCount) {
  ManualSizing.changed = false;
  CloneSettings.convertToGpt = 0;
  PlanSourceSectors = ListedSize(CloneSettings.copySourceDisk);
  PlanDestinationSectors = ListedSize(CloneSettings.chosenDestinationDisk);
  const uint64_t d = PlanDestinationSectors;
  if (CloneSettings.sizingMode != SizingMode::SameSize && CloneSettings.sourceIsGpt == 0 && NeedsGptConversion(d))
    CloneSettings.convertToGpt = 1;
  const int32_t source = ListedPhysicalDisk(CloneSettings.copySourceDisk).value;
  std::vector<uint8_t> buffer(kLayoutBufferSize);
  int32_t count = source >= 0 ? QueryDriveLayout(source, buffer.data()) : -1;
  PlannedDiskMap = DiskMapRecord{};
  PlanRequiredSectors = PlanPlannedSectors = 0;
  if (count < 0 || d == 0) {
    for (auto& entry : DiskContext.layoutTable) entry = LayoutEntry{};
    if (planCount) *planCount = 0;
    ShowTooSmall();
    return false;
  }
  int32_t planned;
  if (CloneSettings.systemMigration) {
    int32_t n = CloneSettings.migrationPartitionCount;
    if (n > count) n = count;
    planned = PlanDestinationLayout(source, buffer.data(), n < 0 ? 0 : n);
  } else {
    planned = PlanDestinationLayout(source, buffer.data(), count);
  }
  if (planCount) *planCount = planned;
  LayoutEntry* table = DiskContext.layoutTable;
  const UsedSectorsOf used = VolumeUsedSectors;
  GiveSurplusSpace(table, planned, PlanSourceSectors, d, ScaleFactor);
  if (ScaleFactor < 1.0 && LeadingPlannedEntries(table, planned) > 0 && !CorrectShrinkingPlan(table, planned, d, used))
    MessageBoxW(ShellState.MainDialogHandle, u"Insuffcient space in destination disk", ShellState.messageCaption,
                MB_OK);
  // A plan the layout writer would refuse ("Partition Error") is refused
  // here, where the After bar would show it.
  if (!CloneSettings.convertToGpt && !CloneSettings.sourceIsGpt &&
      !EndContainersAfterTheirLogicalDrives(table, planned, d)) {
    ShowTooSmall();
    return false;
  }
  // The planned map; the remembered extended partition follows the scale.
  DiskContext.extendedLength = static_cast<uint64_t>(static_cast<double>(DiskContext.extendedLength) * ScaleFactor);
  bool converting = CloneSettings.convertToGpt != 0;
  PlannedDiskMap.count = BuildPlannedMap(table, planned, d, converting, converting || CloneSettings.sourceIsGpt != 0,
                                         PlannedDiskMap.items);
  PlanTotals totals = ComputePlanTotals(table, planned, used);
  PlanRequiredSectors = totals.required;
  PlanPlannedSectors = totals.planned;
  if (d < totals.required) {
    ShowTooSmall();
    return false;
  }
  return true;
}

uint64_t ComputeRequiredSectors() {
  const int32_t source = ListedPhysicalDisk(CloneSettings.copySourceDisk).value;
  if (source < 0) return 0;
  std::vector<uint8_t> buffer(kLayoutBufferSize);
  int32_t count = QueryDriveLayout(source, buffer.data());
  if (count < 0) return 0;
  FillLayoutTable(source, buffer.data(), count);
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  uint64_t sum = 0;
  for (int32_t k = 0; k < count; ++k) {
    const LayoutEntry& e = DiskContext.layoutTable[k];
    if (e.nesting > 0) continue;
    if (HasLetter(e)) {
      uint64_t u = VolumeUsedSectors(e.driveLetter);
      sum += u + u / 4;
    } else if (!platform::storage::IsDosExtendedType(e.fsCode)) {
      sum += e.lengthBytes / 512;
    }
  }
  return sum;
}
