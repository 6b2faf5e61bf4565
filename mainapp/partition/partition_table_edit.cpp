#include "mainapp/partition/partition_table_edit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_layout_table.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "platform/core/align.h"
#include "platform/core/kobject.h"
#include "mainapp/partition/partition_state.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"

namespace {

constexpr uint32_t kNewDiskSignature = 0xA4B57300;
constexpr uint64_t kFirstPartitionSector = 63;  // native sectors: the MBR's first track
constexpr uint64_t kEbrGap = 2048;              // 512-byte units between a boot record and its logical drive
constexpr uint64_t kMbrAddressLimit = 0xFFFFFFFFull;  // native sectors an MBR entry can reach
constexpr int kMaxLogicalGroups = (kMaxLayoutEntries - 4) / 4;

// 512-byte units per native sector of the selected disk (1 when unknown).
uint64_t Multiplier() {
  int32_t m = SectorMultiplierOf(SelectedPhysicalDisk());
  return m > 0 ? static_cast<uint64_t>(m) : 1;
}
uint64_t NativeBytes() { return Multiplier() * 512; }

// The selected disk's MBR as the edits see it: four primary slots and the
// logical drives in disk order. Bytes, as in the layout table.
struct TableModel {
  LayoutEntry slots[4] = {};
  int container = -1;  // slot of the extended partition
  std::vector<LayoutEntry> logicals;
  uint32_t style = PARTITION_STYLE_RAW;

  uint64_t containerStart() const { return container < 0 ? 0 : slots[container].startBytes; }
  uint64_t containerEnd() const {
    return container < 0 ? 0 : slots[container].startBytes + slots[container].lengthBytes;
  }
  // Where the boot record of logical drive k goes: the first at the start of
  // the extended partition, the others `hiddenSectors` native sectors before
  // their drive when that leaves the previous drive alone, else right after it.
  uint64_t ebrOf(size_t k) const {
    if (k == 0) return containerStart();
    const LayoutEntry& l = logicals[k];
    uint64_t lower = logicals[k - 1].startBytes + logicals[k - 1].lengthBytes;
    uint64_t hidden = uint64_t{l.hiddenSectors} * NativeBytes();
    if (l.hiddenSectors > 0 && hidden <= l.startBytes - lower) return l.startBytes - hidden;
    return lower;
  }
};

int32_t layoutCount = 0;

bool LoadModel(TableModel* model) {
  int32_t count = ReadSelectedLayout();
  if (count < 0) return false;
  model->style = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(PartitionManagerState.layoutBuffer)->PartitionStyle;
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  for (int32_t i = 0; i < count; ++i) {
    const LayoutEntry& e = DiskContext.layoutTable[i];
    bool used = e.fsCode != 0 && e.lengthBytes != 0;
    if (i < 4) {
      if (!used) continue;
      model->slots[i] = e;
      if (platform::storage::IsDosExtendedType(e.fsCode) && model->container < 0) model->container = i;
    } else if (used && !platform::storage::IsDosExtendedType(e.fsCode)) {
      model->logicals.push_back(e);
    }
  }
  std::sort(model->logicals.begin(), model->logicals.end(),
            [](const LayoutEntry& a, const LayoutEntry& b) { return a.startBytes < b.startBytes; });
  return true;
}

// Writes the model into the layout table in drive-layout order (four slots,
// then per logical drive its entry and the link to the next boot record) and
// numbers the partitions. Returns the entry count.
int32_t StoreModel(const TableModel& model) {
  uint32_t signature = DiskContext.layoutTable[0].diskSignature;
  for (auto& e : DiskContext.layoutTable) e = LayoutEntry{};
  uint32_t number = 0;
  for (int i = 0; i < 4; ++i) {
    LayoutEntry e = model.slots[i];
    e.nesting = platform::storage::IsDosExtendedType(e.fsCode) ? -1 : 0;
    e.partitionNumber = (e.fsCode != 0 && e.nesting == 0) ? ++number : 0;
    DiskContext.layoutTable[i] = e;
  }
  const uint64_t nb = NativeBytes();
  for (size_t k = 0; k < model.logicals.size(); ++k) {
    LayoutEntry& e = DiskContext.layoutTable[4 + 4 * k];
    e = model.logicals[k];
    e.nesting = 1;
    e.partitionNumber = ++number;
    uint64_t ebr = model.ebrOf(k);
    e.hiddenSectors = static_cast<uint32_t>((e.startBytes - ebr) / nb);
    if (k + 1 < model.logicals.size()) {
      const LayoutEntry& next = model.logicals[k + 1];
      uint64_t next_ebr = model.ebrOf(k + 1);
      LayoutEntry& link = DiskContext.layoutTable[4 + 4 * k + 1];
      link.startBytes = next_ebr;
      link.lengthBytes = next.startBytes + next.lengthBytes - next_ebr;
      link.fsCode = 5;
      link.nesting = -1;
      link.hiddenSectors = static_cast<uint32_t>((next_ebr - model.containerStart()) / nb);
    }
  }
  DiskContext.layoutTable[0].diskSignature = signature;
  return static_cast<int32_t>(4 + 4 * model.logicals.size());
}

bool SendLayout(HANDLE disk, const void* record, DWORD size) {
  DWORD returned = 0;
  if (!DeviceIoControl(disk, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, const_cast<void*>(record), size, nullptr, 0, &returned,
                       nullptr))
    return false;
  DeviceIoControl(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  return true;
}

// Free stretch of the manager's map item, in 512-byte units, before clipping.
bool FreeItem(int32_t item, FreeExtent* out) {
  const DiskMapItem* m = ManagerMapItem(item);
  if (!m || m->partitionIndex >= 0) return false;
  out->start = m->start;
  out->end = m->start + m->length;
  return true;
}

bool ExtentForModel(const TableModel& model, int32_t item, bool logical, FreeExtent* extent) {
  FreeExtent gap;
  if (!FreeItem(item, &gap)) return false;
  const uint64_t mult = Multiplier();
  const uint64_t listed_size = ListedSize(PartitionManagerState.selectedDisk);
  uint64_t limit = std::min<uint64_t>(listed_size, (kMbrAddressLimit + 1) * mult);
  gap.end = std::min(gap.end, limit);
  FreeExtent out;
  if (logical) {
    if (model.container < 0) return false;
    uint64_t cs = model.containerStart() / 512, ce = model.containerEnd() / 512;
    out.start = std::max(gap.start, cs);
    out.end = std::min(gap.end, ce);
    for (size_t k = 0; k < model.logicals.size(); ++k) {
      const LayoutEntry& l = model.logicals[k];
      uint64_t ls = l.startBytes / 512, le = (l.startBytes + l.lengthBytes) / 512;
      if (le <= out.start) {
        continue;
      }
      if (ls < out.start) return false;  // the stretch lies inside a logical drive
      // The next logical drive keeps room for its boot record in front of it.
      uint64_t ebr = k == 0 ? ls - std::min(ls, kEbrGap) : model.ebrOf(k) / 512;
      if (k > 0 && ebr <= out.start) ebr = ls - std::min(ls, kEbrGap);
      out.end = std::min(out.end, ebr);
      break;
    }
  } else {
    out = gap;
    if (model.container >= 0) {
      uint64_t cs = model.containerStart() / 512, ce = model.containerEnd() / 512;
      if (cs < out.end && ce > out.start) {
        FreeExtent before{out.start, std::max(out.start, cs)};
        FreeExtent after{std::min(out.end, ce), out.end};
        out = before.length() >= after.length() ? before : after;
      }
    }
    out.start = std::max(out.start, kFirstPartitionSector * mult);
  }
  out.start = platform::AlignUp(out.start, mult);
  out.end = platform::AlignDown(out.end, mult);
  if (out.end <= out.start) return false;
  *extent = out;
  return true;
}

// The extent to use for a new partition: the item's, or with no usable item
// the first free stretch of the map that holds `sectors`.
bool ChooseExtent(const TableModel& model, int32_t item, bool logical, uint64_t sectors, FreeExtent* extent) {
  if (ExtentForModel(model, item, logical, extent)) return true;
  if (ManagerMapItem(item)) return false;  // an item was named: never place elsewhere
  for (int32_t i = 0; i < PartitionManagerState.diskMapCount; ++i)
    if (ExtentForModel(model, i, logical, extent) && extent->length() >= sectors) return true;
  return false;
}

}  // namespace

const char16_t* EditResultKey(EditResult result) {
  switch (result) {
    case EditResult::Ok: return u"";
    case EditResult::NoFileSystem: return u"IDS_SelectPartitionType";
    case EditResult::NoExtendedPartition: return u"IDS_NoExtendedPartition";
    case EditResult::CannotFindPartition: return u"IDS_CannotFindPartition";
    case EditResult::WriteFailed: return u"IDS_FileSystemCreateError";
    case EditResult::NoRoom: return u"IDS_PartNoRoom";
    case EditResult::NoMoreSlots: return u"IDS_NoMorePartition";
    case EditResult::NotMbrDisk: return u"IDS_PartNotMbrDisk";
    case EditResult::NoDisk: return u"IDS_SelectDisk";
  }
  return u"";
}

int32_t PartitionTypeFromFsName(const CString& name) {
  if (name == CString(u"FAT")) return 6;
  if (name == CString(u"FAT32")) return 12;
  if (name == CString(u"NTFS")) return 7;
  return -1;
}

int32_t ReadSelectedLayout() {
  auto& s = PartitionManagerState;
  s.extendedExists = 0;
  s.primaryCount = 0;
  layoutCount = 0;
  int32_t physical = SelectedPhysicalDisk();
  if (physical < 0) return -1;
  int32_t count = QueryDriveLayout(physical, s.layoutBuffer);
  if (count < 0) return -1;
  FillLayoutTable(physical, s.layoutBuffer, count);
  for (int32_t i = 0; i < count && i < kMaxLayoutEntries; ++i) {
    const LayoutEntry& e = DiskContext.layoutTable[i];
    if (e.fsCode == FS_EXTENDED || (i < 4 && e.fsCode == 5 && e.lengthBytes != 0)) s.extendedExists = 1;
    if (e.fsCode > 0 && e.nesting == 0 && !platform::storage::IsDosExtendedType(e.fsCode)) ++s.primaryCount;
  }
  layoutCount = count;
  return count;
}

bool SelectedDiskIsEditable() {
  if (ReadSelectedLayout() < 0) return false;
  uint32_t style = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(PartitionManagerState.layoutBuffer)->PartitionStyle;
  if (style != PARTITION_STYLE_MBR && style != PARTITION_STYLE_RAW) return false;
  // A volume that starts at sector 0 (a whole-disk file system, whose boot
  // sector may even look like an MBR) would be lost under a new table.
  PartitionEntry list[kMaxPartitions] = {};
  int32_t count = ReadPartitionList(list, SelectedPhysicalDisk());
  for (int32_t i = 0; i < count && i < kMaxPartitions; ++i)
    if (list[i].start == 0) return false;
  return style == PARTITION_STYLE_MBR || count == 0;
}

bool WriteDriveLayout(int32_t count, int32_t mode) {
  auto& s = PartitionManagerState;
  int32_t physical = SelectedPhysicalDisk();
  if (physical < 0) return false;
  alignas(8) static uint8_t current[kLayoutBufferSize];
  std::memset(current, 0, sizeof current);
  if (QueryDriveLayout(physical, current) < 0) return false;
  const auto* old = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(current);
  if (old->PartitionStyle == PARTITION_STYLE_GPT) return false;  // never turn a GPT disk into an MBR one
  uint32_t signature = old->PartitionStyle == PARTITION_STYLE_MBR ? old->Mbr.Signature : kNewDiskSignature;

  int32_t n = std::max(4, (count + 3) / 4 * 4);
  if (mode == 0 && n == 4 && (s.partitionType == 15 || s.extendedExists)) n = 8;
  n = std::min(n, kMaxLayoutEntries);

  std::memset(s.layoutBuffer, 0, sizeof s.layoutBuffer);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(s.layoutBuffer);
  layout->PartitionStyle = PARTITION_STYLE_MBR;
  layout->PartitionCount = static_cast<DWORD>(n);
  layout->Mbr.Signature = signature;
  auto* entries = reinterpret_cast<PARTITION_INFORMATION_EX*>(s.layoutBuffer + kDriveLayoutHeaderSize);
  for (int32_t j = 0; j < n; ++j) {
    const LayoutEntry& t = DiskContext.layoutTable[j];
    PARTITION_INFORMATION_EX& e = entries[j];
    e.PartitionStyle = PARTITION_STYLE_MBR;
    e.StartingOffset.QuadPart = static_cast<LONGLONG>(t.startBytes);
    e.PartitionLength.QuadPart = static_cast<LONGLONG>(t.lengthBytes);
    e.PartitionNumber = t.partitionNumber;
    e.RewritePartition = 1;
    e.Mbr.PartitionType = static_cast<BYTE>(t.fsCode & 0xFF);
    e.Mbr.RecognizedPartition = e.Mbr.PartitionType != 0 && !platform::storage::IsDosExtendedType(e.Mbr.PartitionType);
    e.Mbr.BootIndicator = static_cast<BOOLEAN>(t.bootIndicator & 0xFF);
    e.Mbr.HiddenSectors = t.hiddenSectors;
  }
  HANDLE disk = OpenDiskReadWrite(physical);
  bool ok = disk && SendLayout(disk, s.layoutBuffer, static_cast<DWORD>(kDriveLayoutHeaderSize + n * sizeof(PARTITION_INFORMATION_EX)));
  CloseCurrentDisk();
  return ok;
}

EditResult InitializeDiskWithPartition(int64_t sectors, int32_t type) {
  int32_t physical = SelectedPhysicalDisk();
  if (physical < 0 || sectors <= 0) return EditResult::NoDisk;
  const uint64_t nb = NativeBytes();
  const int32_t n = type == 15 ? 8 : 4;
  const uint64_t start = kFirstPartitionSector * nb;
  uint64_t disk_bytes = ListedSize(PartitionManagerState.selectedDisk) * 512;
  uint64_t limit = std::min(disk_bytes, (kMbrAddressLimit + 1) * nb);
  if (limit <= start) return EditResult::NoRoom;
  uint64_t length = platform::AlignDown(std::min(static_cast<uint64_t>(sectors) * 512, limit - start), nb);
  if (length == 0) return EditResult::NoRoom;

  HANDLE disk = OpenDiskReadWrite(physical);
  if (!disk) {
    CloseCurrentDisk();
    return EditResult::NoDisk;
  }
  DWORD returned = 0;
  CREATE_DISK create{};
  create.PartitionStyle = PARTITION_STYLE_MBR;
  create.Mbr.Signature = kNewDiskSignature;
  bool ok = DeviceIoControl(disk, IOCTL_DISK_CREATE_DISK, &create, sizeof create, nullptr, 0, &returned, nullptr);
  DeviceIoControl(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);

  std::vector<uint8_t> record(kDriveLayoutHeaderSize + n * sizeof(PARTITION_INFORMATION_EX), 0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(record.data());
  layout->PartitionStyle = PARTITION_STYLE_MBR;
  layout->PartitionCount = static_cast<DWORD>(n);
  layout->Mbr.Signature = kNewDiskSignature;
  auto* entries = reinterpret_cast<PARTITION_INFORMATION_EX*>(record.data() + kDriveLayoutHeaderSize);
  for (int32_t j = 0; j < n; ++j) {
    entries[j].PartitionStyle = PARTITION_STYLE_MBR;
    entries[j].RewritePartition = 1;
  }
  entries[0].StartingOffset.QuadPart = static_cast<LONGLONG>(start);
  entries[0].PartitionLength.QuadPart = static_cast<LONGLONG>(length);
  entries[0].PartitionNumber = 1;
  entries[0].Mbr.PartitionType = static_cast<BYTE>(type);
  entries[0].Mbr.RecognizedPartition = 1;
  entries[0].Mbr.HiddenSectors = static_cast<DWORD>(kFirstPartitionSector);
  ok = SendLayout(disk, record.data(), static_cast<DWORD>(record.size())) && ok;
  CloseCurrentDisk();
  return ok ? EditResult::Ok : EditResult::WriteFailed;
}

int32_t InsertPrimaryEntry(int64_t sectors, int32_t type, const FreeExtent& extent) {
  TableModel model;
  if (!LoadModel(&model)) return 0;
  const uint64_t nb = NativeBytes();
  uint64_t length = platform::AlignDown(std::min(static_cast<uint64_t>(sectors), extent.length()) * 512, nb);
  if (length == 0) return 0;
  uint64_t start = extent.start * 512;
  // The slot after the last used slot that starts before the new partition;
  // later slots move down into the first empty one behind it.
  int insert = 0;
  for (int i = 0; i < 4; ++i)
    if (model.slots[i].fsCode != 0 && model.slots[i].startBytes < start) insert = i + 1;
  int empty = -1;
  for (int i = insert; i < 4; ++i)
    if (model.slots[i].fsCode == 0) {
      empty = i;
      break;
    }
  if (empty < 0) {
    for (int i = insert - 1; i >= 0; --i)
      if (model.slots[i].fsCode == 0) {
        empty = i;
        break;
      }
    if (empty < 0) return 0;
    // The free slot lies before: move the slots between it and the place up.
    for (int i = empty; i < insert - 1; ++i) model.slots[i] = model.slots[i + 1];
    insert -= 1;
  } else {
    for (int i = empty; i > insert; --i) model.slots[i] = model.slots[i - 1];
  }
  if (model.container >= 0) {
    model.container = -1;
    for (int i = 0; i < 4; ++i)
      if (platform::storage::IsDosExtendedType(model.slots[i].fsCode)) model.container = i;
  }
  LayoutEntry e{};
  e.startBytes = start;
  e.lengthBytes = length;
  e.fsCode = type;
  e.hiddenSectors = static_cast<uint32_t>(start / nb);
  model.slots[insert] = e;
  if (type == FS_EXTENDED) model.container = insert;
  return StoreModel(model);
}

EditResult CreatePartitionFromWizard() {
  auto& s = PartitionManagerState;
  int32_t type = s.primaryChosen ? PartitionTypeFromFsName(s.fileSystemName) : FS_EXTENDED;
  if (type < 0) type = FS_NTFS;
  s.partitionType = type;
  if (!SelectedDiskIsEditable()) return SelectedPhysicalDisk() < 0 ? EditResult::NoDisk : EditResult::NotMbrDisk;
  const int64_t sectors = s.newSize * kSectorsPerMb;
  if (sectors <= 0) return EditResult::NoRoom;
  if (DiskContext.layoutRealCount == 0) return InitializeDiskWithPartition(sectors, type);

  TableModel model;
  if (!LoadModel(&model)) return EditResult::NoDisk;
  int used = 0;
  for (const auto& slot : model.slots) used += slot.fsCode != 0;
  if (used >= 4) return EditResult::NoMoreSlots;
  if (type == 15 && model.container >= 0) return EditResult::NoMoreSlots;  // one extended partition per disk
  FreeExtent extent;
  if (!ChooseExtent(model, s.wizardItem, false, static_cast<uint64_t>(sectors), &extent)) return EditResult::NoRoom;
  int32_t count = InsertPrimaryEntry(sectors, type, extent);
  if (count <= 0) return EditResult::NoRoom;
  return WriteDriveLayout(count, 0) ? EditResult::Ok : EditResult::WriteFailed;
}

EditResult CreateLogicalDrive() {
  auto& s = PartitionManagerState;
  s.partitionType = PartitionTypeFromFsName(s.fileSystemName);
  if (s.partitionType < 0) return EditResult::NoFileSystem;
  if (!SelectedDiskIsEditable()) return SelectedPhysicalDisk() < 0 ? EditResult::NoDisk : EditResult::NotMbrDisk;
  TableModel model;
  if (!LoadModel(&model)) return EditResult::NoDisk;
  if (model.container < 0) return EditResult::NoExtendedPartition;
  if (model.logicals.size() >= static_cast<size_t>(kMaxLogicalGroups)) return EditResult::NoMoreSlots;
  const uint64_t mult = Multiplier();
  const uint64_t wanted = s.newSizeSectors > 0 ? static_cast<uint64_t>(s.newSizeSectors) : 0;
  FreeExtent extent;
  if (!ChooseExtent(model, s.wizardItem, true, wanted, &extent)) return EditResult::NoRoom;
  uint64_t total = platform::AlignDown(std::min(wanted, extent.length()), mult);
  if (total <= kEbrGap) return EditResult::NoRoom;

  LayoutEntry e{};
  e.startBytes = (extent.start + kEbrGap) * 512;
  e.lengthBytes = (total - kEbrGap) * 512;
  e.fsCode = s.partitionType;
  e.hiddenSectors = static_cast<uint32_t>(kEbrGap / mult);
  auto at = std::find_if(model.logicals.begin(), model.logicals.end(),
                         [&](const LayoutEntry& l) { return l.startBytes > e.startBytes; });
  // A drive that was first had its boot record at the extended partition's
  // start; it now gets one right in front of it, where the free extent left room.
  if (at == model.logicals.begin() && at != model.logicals.end())
    at->hiddenSectors = static_cast<uint32_t>(kEbrGap / mult);
  model.logicals.insert(at, e);
  return WriteDriveLayout(StoreModel(model), 0) ? EditResult::Ok : EditResult::WriteFailed;
}

bool IsEmptyExtendedItem(int32_t item) {
  const DiskMapItem* m = ManagerMapItem(item);
  if (!m || m->partitionIndex >= 0 || m->outsideExtended) return false;
  TableModel model;
  return LoadModel(&model) && model.container >= 0 && model.logicals.empty() &&
         model.containerStart() / 512 == m->start;
}

EditResult RemovePartitionOfItem(int32_t item) {
  const DiskMapItem* m = ManagerMapItem(item);
  // An extended partition without logical drives shows as its free space.
  if (!m || (m->partitionIndex < 0 && !IsEmptyExtendedItem(item))) return EditResult::CannotFindPartition;
  const uint64_t start = m->start;
  if (!SelectedDiskIsEditable()) return SelectedPhysicalDisk() < 0 ? EditResult::NoDisk : EditResult::NotMbrDisk;
  TableModel model;
  if (!LoadModel(&model)) return EditResult::NoDisk;
  bool found = false;
  for (int i = 0; i < 4 && !found; ++i) {
    if (model.slots[i].fsCode == 0 || model.slots[i].startBytes / 512 != start) continue;
    if (static_cast<int>(i) == model.container) model.logicals.clear();  // its logical drives go with it
    for (int j = i; j < 3; ++j) model.slots[j] = model.slots[j + 1];
    model.slots[3] = LayoutEntry{};
    model.container = -1;
    for (int j = 0; j < 4; ++j)
      if (platform::storage::IsDosExtendedType(model.slots[j].fsCode)) model.container = j;
    found = true;
  }
  for (size_t k = 0; k < model.logicals.size() && !found; ++k) {
    if (model.logicals[k].startBytes / 512 != start) continue;
    model.logicals.erase(model.logicals.begin() + static_cast<std::ptrdiff_t>(k));
    found = true;
  }
  if (!found) return EditResult::CannotFindPartition;
  return WriteDriveLayout(StoreModel(model), 1) ? EditResult::Ok : EditResult::WriteFailed;
}

namespace {

// Whether MBR type `type` names file system `fs` (6 FAT, 12 FAT32, 7 NTFS).
bool TypeFitsFileSystem(int32_t type, int32_t fs) {
  switch (fs) {
    case FS_FAT16: return type == 0x04 || type == 0x06 || type == 0x0E;
    case FS_FAT32: return type == 0x0B || type == 0x0C;
    case FS_NTFS: return type == 0x07;
    default: return true;
  }
}

}  // namespace

EditResult SetTypeForFileSystem(uint64_t start, int32_t fs) {
  if (fs != FS_FAT16 && fs != FS_FAT32 && fs != FS_NTFS) return EditResult::Ok;
  if (!SelectedDiskIsEditable()) return SelectedPhysicalDisk() < 0 ? EditResult::NoDisk : EditResult::NotMbrDisk;
  TableModel model;
  if (!LoadModel(&model)) return EditResult::NoDisk;
  LayoutEntry* entry = nullptr;
  for (int i = 0; i < 4 && !entry; ++i)
    if (model.slots[i].fsCode != 0 && !platform::storage::IsDosExtendedType(model.slots[i].fsCode) &&
        model.slots[i].startBytes / 512 == start)
      entry = &model.slots[i];
  for (size_t k = 0; k < model.logicals.size() && !entry; ++k)
    if (model.logicals[k].startBytes / 512 == start) entry = &model.logicals[k];
  if (!entry) return EditResult::CannotFindPartition;
  if (TypeFitsFileSystem(entry->fsCode, fs)) return EditResult::Ok;
  entry->fsCode = fs;
  return WriteDriveLayout(StoreModel(model), 1) ? EditResult::Ok : EditResult::WriteFailed;
}

bool FreeExtentOfItem(int32_t item, bool logical, FreeExtent* extent) {
  TableModel model;
  if (!LoadModel(&model)) return false;
  return ExtentForModel(model, item, logical, extent);
}
