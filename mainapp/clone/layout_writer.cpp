#include "mainapp/clone/layout_writer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "disk/layout_clearing.h"
#include "disk/partition_list.h"
#include "disk/shadow_copy.h"
#include "disk/volume_space.h"
#include "mainapp/clone/bcd_repair.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/clock.h"
#include "platform/core/guid.h"
#include "platform/core/kobject.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

LayoutWriterStateRecord LayoutWriterState;

namespace {

constexpr size_t kEntrySize = sizeof(PARTITION_INFORMATION_EX);
constexpr int32_t kBufferEntries = static_cast<int32_t>((kLayoutBufferSize - kDriveLayoutHeaderSize) / kEntrySize);

DRIVE_LAYOUT_INFORMATION_EX* Header(void* layout) { return static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(layout); }
PARTITION_INFORMATION_EX* Entry(void* layout, int32_t i) {
  return reinterpret_cast<PARTITION_INFORMATION_EX*>(static_cast<uint8_t*>(layout) + kDriveLayoutHeaderSize +
                                                     kEntrySize * static_cast<size_t>(i));
}

bool IsGptJob() { return CloneSettings.convertToGpt != 0 || CloneSettings.sourceIsGpt != 0; }

// Whether table entry k is a link of an extended partition's chain: an
// extended type lying inside another extended entry of the table.
bool IsLinkEntry(int32_t k, int32_t count) {
  const LayoutEntry& e = DiskContext.layoutTable[k];
  if (!platform::storage::IsExtendedType(e.fsCode)) return false;
  for (int32_t j = 0; j < count; ++j) {
    const LayoutEntry& x = DiskContext.layoutTable[j];
    if (j == k || !platform::storage::IsExtendedType(x.fsCode) || x.startBytes >= e.startBytes) continue;
    if (e.startBytes - x.startBytes < x.lengthBytes) return true;
  }
  return false;
}

// Waits up to `seconds` in short slices, keeping the page's clock current
// and its messages flowing (the window repaints and moves meanwhile), and
// looking at the drives each second. Ends early once `done` holds; returns
// whether it does.
constexpr DWORD kWaitSliceMs = 100;
bool WaitSeconds(CWnd* page, int seconds, const std::function<bool()>& done = nullptr) {
  const int slices = seconds * static_cast<int>(1000 / kWaitSliceMs);
  for (int i = 0; i < slices; ++i) {
    if (done && done()) return true;
    Sleep(kWaitSliceMs);
    if ((i + 1) % static_cast<int>(1000 / kWaitSliceMs) == 0) GetLogicalDrives();
    ShowElapsedTime(page);
    PumpClonePage(page);
  }
  return done && done();
}

// The status line while the new volumes are awaited: how many are there.
void ShowMountWait(CWnd* page, int32_t present, int32_t expected) {
  CString text;
  text.Format(LookupString(u"IDS_WaitVolumes").GetString(), static_cast<int>(std::min(present, expected)),
              static_cast<int>(expected));
  ShowCloneStatus(page, text);
}

// Zeros the start of the destination: the old boot code and table (one
// track), or the protective MBR's sector on a GPT job.
void ZeroDiskStart(int32_t disk) {
  const int32_t m = SectorMultiplierOf(disk) > 0 ? SectorMultiplierOf(disk) : 1;
  int32_t units = IsGptJob() ? 1 : DiskContext.sectorsPerTrack[disk < kMaxPhysicalDisks ? disk : 0];
  if (units < m) units = m;
  units = (units + m - 1) / m * m;
  HANDLE h = OpenDiskHandle(disk);
  if (!h) return;
  std::vector<uint8_t> zeros(static_cast<size_t>(units) * 512, 0);
  WriteSectorsAt(h, zeros.data(), 0, units);
  CloseDeviceHandle(h);
}

}  // namespace

int32_t PlannedPartitionCount() {
  int32_t count = 0;
  for (int32_t i = 0; i < kMaxLayoutEntries; ++i)
    if (DiskContext.layoutTable[i].newLengthBytes > 0) count = i + 1;
  return count;
}

int32_t PlannedVolumeCount() {
  int32_t count = 0;
  const int32_t planned = PlannedPartitionCount();
  for (int32_t i = 0; i < planned; ++i) {
    const LayoutEntry& e = DiskContext.layoutTable[i];
    if (e.newLengthBytes == 0 || e.newType == 0 || e.newType >= 0x80 || platform::storage::IsExtendedType(e.newType))
      continue;
    ++count;
  }
  return count;
}

bool PlanFitsDestination(uint64_t destinationUnits) {
  const int32_t planned = PlannedPartitionCount();
  if (planned == 0) return false;
  for (int32_t i = 0; i < planned; ++i) {
    const LayoutEntry& e = DiskContext.layoutTable[i];
    if (e.newLengthBytes == 0) continue;
    const uint64_t end = e.newStartBytes + e.newLengthBytes;
    if (end < e.newStartBytes || end > destinationUnits * 512) return false;
  }
  return true;
}

uint32_t MakeDiskSignature(uint32_t avoid) {
  static std::mt19937 generator{std::random_device{}()};
  uint32_t signature = 0;
  do signature = static_cast<uint32_t>(generator());
  while (signature == 0 || signature == avoid);
  return signature;
}

bool ApplyDriveLayout(int32_t disk, void* layout) {
  DRIVE_LAYOUT_INFORMATION_EX* header = Header(layout);
  CREATE_DISK request{};
  request.PartitionStyle = static_cast<PARTITION_STYLE>(header->PartitionStyle);
  ReadDiskGeometry(disk);
  HANDLE h = OpenDiskHandle(disk);
  if (!h) return false;
  if (header->PartitionStyle == PARTITION_STYLE_MBR) {
    header->Mbr.Signature = MakeDiskSignature(DiskContext.layoutTable[0].diskSignature);
    request.Mbr.Signature = header->Mbr.Signature;
    LayoutWriterState.destinationSignature = header->Mbr.Signature;
  } else {
    request.Gpt.DiskId = header->Gpt.DiskId;
    request.Gpt.MaxPartitionCount = header->Gpt.MaxPartitionCount;
  }
  DWORD returned = 0;
  DeviceIoControl(h, IOCTL_DISK_CREATE_DISK, &request, sizeof request, nullptr, 0, &returned, nullptr);
  DeviceIoControl(h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  const DWORD size = static_cast<DWORD>(kDriveLayoutHeaderSize + kEntrySize * header->PartitionCount);
  if (!DeviceIoControl(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, layout, size, nullptr, 0, &returned, nullptr)) {
    CloseDeviceHandle(h);
    return false;
  }
  DeviceIoControl(h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseDeviceHandle(h);
  return true;
}

bool BuildDestinationLayout(CWnd* page, int32_t disk, void* layout, int32_t count) {
  ShowElapsedTime(page);
  ZeroDiskStart(disk);
  DRIVE_LAYOUT_INFORMATION_EX* header = Header(layout);
  const int32_t planned = PlannedPartitionCount();
  if (count > kBufferEntries) count = kBufferEntries;
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  const int32_t m = SectorMultiplierOf(disk) > 0 ? SectorMultiplierOf(disk) : 1;
  const uint64_t nativeBytes = 512ull * static_cast<uint64_t>(m);

  if (IsGptJob()) {
    const int32_t entries = planned < kBufferEntries ? planned : kBufferEntries;
    std::memset(layout, 0, kLayoutBufferSize);
    header->PartitionStyle = PARTITION_STYLE_GPT;
    header->PartitionCount = static_cast<DWORD>(entries);
    header->Gpt.StartingUsableOffset.QuadPart = static_cast<LONGLONG>(DiskContext.layoutTable[0].newStartBytes);
    header->Gpt.UsableLength.QuadPart =
        static_cast<LONGLONG>(LayoutWriterState.destinationDiskSize * 512 - DiskContext.layoutTable[0].newStartBytes);
    header->Gpt.MaxPartitionCount = 128;
    CoCreateGuid(&header->Gpt.DiskId);
    for (int32_t i = 0; i < entries; ++i) {
      const LayoutEntry& e = DiskContext.layoutTable[i];
      PARTITION_INFORMATION_EX* p = Entry(layout, i);
      p->PartitionStyle = PARTITION_STYLE_GPT;
      p->StartingOffset.QuadPart = static_cast<LONGLONG>(e.newStartBytes);
      p->PartitionLength.QuadPart = static_cast<LONGLONG>(e.newLengthBytes);
      p->RewritePartition = 1;
      p->PartitionNumber = static_cast<DWORD>(i + 1);
      p->Gpt.PartitionType = e.typeGuid;
      p->Gpt.Attributes = e.gptAttributes;
      std::memcpy(p->Gpt.Name, e.name, sizeof p->Gpt.Name);
      CoCreateGuid(&p->Gpt.PartitionId);
      if (i < kCloneGuidSlots) LayoutWriterState.DestinationPartitionGuids[i] = p->Gpt.PartitionId;
    }
    return ApplyDriveLayout(disk, layout);
  }

  // MBR: the layout is made from the plan, in the order a drive layout lists
  // an MBR disk: sector 0's four entries (the primaries and the extended
  // partition), then one group of four per logical drive, as its extended
  // boot record holds them: the drive, and the link to the next record. The
  // table is sorted by start, so its entries do not stand where the source
  // layout's do: each takes its type from its own table entry.
  std::vector<int32_t> top;
  std::vector<std::vector<int32_t>> groups;
  for (int32_t i = 0; i < count; ++i) {
    const LayoutEntry& e = DiskContext.layoutTable[i];
    if (e.newLengthBytes == 0) continue;  // an empty slot, or a partition left out
    if (IsLinkEntry(i, count)) {
      if (!groups.empty() && groups.back().size() < 4) groups.back().push_back(i);
    } else if (e.nesting == 1) {
      groups.push_back({i});
    } else {
      top.push_back(i);
    }
  }
  if (top.size() > 4 || 4 + 4 * groups.size() > static_cast<size_t>(kBufferEntries)) return false;
  std::vector<int32_t> order(4 + 4 * groups.size(), -1);
  std::copy(top.begin(), top.end(), order.begin());
  for (size_t g = 0; g < groups.size(); ++g) std::copy(groups[g].begin(), groups[g].end(), order.begin() + 4 + 4 * g);

  const DWORD signature = header->Mbr.Signature;
  std::memset(layout, 0, kLayoutBufferSize);
  header->Mbr.Signature = signature;
  uint64_t extendedBase = 0;
  bool baseFixed = false;
  for (size_t slot = 0; slot < order.size(); ++slot) {
    PARTITION_INFORMATION_EX* p = Entry(layout, static_cast<int32_t>(slot));
    p->PartitionStyle = PARTITION_STYLE_MBR;
    p->RewritePartition = 1;
    if (order[slot] < 0) continue;
    const LayoutEntry& e = DiskContext.layoutTable[order[slot]];
    p->StartingOffset.QuadPart = static_cast<LONGLONG>(e.newStartBytes);
    p->PartitionLength.QuadPart = static_cast<LONGLONG>(e.newLengthBytes);
    if (e.nesting == 0) {
      p->Mbr.HiddenSectors = static_cast<DWORD>(e.newStartBytes / nativeBytes);
    } else if (e.nesting == 1) {
      p->Mbr.HiddenSectors = 63;
      if (!baseFixed && e.containerIndex >= 0 && e.containerIndex < kMaxLayoutEntries) {
        extendedBase = DiskContext.layoutTable[e.containerIndex].newStartBytes;
        baseFixed = true;
      }
    } else if (e.nesting == -1 && platform::storage::IsExtendedType(e.newType) && e.newStartBytes >= extendedBase) {
      p->Mbr.HiddenSectors = static_cast<DWORD>((e.newStartBytes - extendedBase) / nativeBytes);
    } else {
      p->Mbr.HiddenSectors = e.hiddenSectors;
    }
    uint8_t type = static_cast<uint8_t>(e.fsCode);
    // The size rule of the type byte: FAT (4) from 4096 MB on is FAT32 (12),
    // FAT32 from 32768 MB on is NTFS (7). Its siblings, each with its own
    // variant, decide the file system the volume gets: FormatNewPartitions
    // (the partition copy), CClone::RunClone (the basic copy, after the mount
    // wait), FormatSelectedPartition and FillFileSystemList (the partition
    // manager's format and create pages).
    const uint64_t mb = e.newLengthBytes / 1048576;
    if (mb >= 4096 && type == 4) type = 12;
    if (mb >= 32768 && type == 12) type = 7;
    if (type == 0x17 || type == 0x27) type = 7;
    if (type == 0x1C || type == 0x2C) type = 12;
    p->Mbr.PartitionType = type;
    p->Mbr.RecognizedPartition = type != 0 && !platform::storage::IsExtendedType(type);
    p->Mbr.BootIndicator = e.bootIndicator != 0 ? 1 : 0;
  }
  count = static_cast<int32_t>(order.size());
  header->PartitionStyle = PARTITION_STYLE_MBR;
  header->PartitionCount = static_cast<DWORD>(count);
  return ApplyDriveLayout(disk, layout);
}

bool WriteSingleEntryLayout(int32_t disk, void* layout) {
  // The first track of the chosen destination goes (boot code and table).
  const int32_t chosen = DestinationSelection.diskNumber.value;
  if (chosen >= 0 && chosen < kMaxPhysicalDisks) {
    if (SectorMultiplierOf(chosen) == 0) ReadDiskGeometry(chosen);
    DiskContext.lastSectorsPerTrack = DiskContext.sectorsPerTrack[chosen];
    const int32_t m = std::max(SectorMultiplierOf(chosen), 1);
    int32_t units = std::max(DiskContext.sectorsPerTrack[chosen], m);
    units = (units + m - 1) / m * m;
    if (HANDLE h = OpenDiskHandle(chosen)) {
      std::vector<uint8_t> zeros(static_cast<size_t>(units) * 512, 0);
      WriteSectorsAt(h, zeros.data(), 0, units);
      CloseDeviceHandle(h);
    }
  }
  auto* header = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(layout);
  if (CloneSettings.systemMigration) header->PartitionCount = static_cast<DWORD>(CloneSettings.migrationPartitionCount);
  if (header->PartitionCount == 0) header->PartitionCount = 1;
  const LayoutEntry& e = DiskContext.layoutTable[0];
  PARTITION_INFORMATION_EX& p = header->PartitionEntry[0];
  const uint64_t nativeBytes = static_cast<uint64_t>(std::max(SectorMultiplierOf(disk), 1)) * 512;
  header->PartitionStyle = PARTITION_STYLE_MBR;
  p.PartitionStyle = PARTITION_STYLE_MBR;
  p.StartingOffset.QuadPart = static_cast<LONGLONG>(e.newStartBytes);
  p.PartitionLength.QuadPart = static_cast<LONGLONG>(e.newLengthBytes);
  p.RewritePartition = TRUE;
  p.Mbr.HiddenSectors = static_cast<DWORD>(e.newStartBytes / nativeBytes);
  p.Mbr.PartitionType = 0x0C;
  return ApplyDriveLayout(disk, layout);
}

void CreateDestinationLayout(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  const int32_t source = ListedPhysicalDisk(sourceListed).value;
  const int32_t destination = ListedPhysicalDisk(destinationListed).value;
  LayoutWriterState.layoutWritten = 0;
  if (source < 0 || destination < 0 || source == destination) {
    CloneRunState.cloneAborted = 1;
    return;
  }
  // The old table goes (on a GPT job also the first 2 GiB); its result is
  // not needed: the new table is written over whatever stayed.
  ClearDiskLayout(destination, CloneSettings.sourceIsGpt != 0 || CloneSettings.convertToGpt != 0,
                  [page] { ShowElapsedTime(page); });

  auto sourceLayout = std::make_unique<uint8_t[]>(kLayoutBufferSize);
  auto layout = std::make_unique<uint8_t[]>(kLayoutBufferSize);
  std::memset(sourceLayout.get(), 0, kLayoutBufferSize);
  std::memset(layout.get(), 0, kLayoutBufferSize);
  LayoutWriterState.sourceDiskSize = ReadDiskGeometry(source);
  LayoutWriterState.destinationDiskSize = ReadDiskGeometry(destination);
  int32_t count = QueryDriveLayout(source, sourceLayout.get());
  if (count < 0) count = 0;
  std::memcpy(layout.get(), sourceLayout.get(), kLayoutBufferSize);

  int32_t passes = ShellState.winPEMode ? 40 : 20;
  if (IsGptJob()) passes = 5;

  // A conversion to GPT gets its EFI system partition as a ready image,
  // written before the table that makes it a partition.
  if (CloneSettings.convertToGpt) WriteEspImage(destination);
  LayoutWriterState.layoutWritten = BuildDestinationLayout(page, destination, layout.get(), count) ? 1 : 0;
  if (!LayoutWriterState.layoutWritten) {
    MessageBoxW(page ? page->GetSafeHwnd() : nullptr, u"Partition Error", nullptr, MB_OK);
    CloneRunState.cloneAborted = 1;
    return;
  }

  // The wait for the new volumes: every time more of them have letters,
  // up to 30 s for Windows to settle, until all the plan holds are there.
  // The wait ends as soon as they are: volumes that appear at once cost no
  // time, and the passes and the 30 s remain the upper bound.
  const int32_t expected = PlannedVolumeCount();
  auto present = [destination] {
    MapLettersToDisks();
    return CountDiskVolumes(destination);
  };
  int32_t last = 0;
  for (int32_t pass = 1; pass <= passes; ++pass) {
    GetLogicalDrives();
    int32_t n = present();
    ShowMountWait(page, n, expected);
    if (n > last) {
      if (n < expected) {
        WaitSeconds(page, 30, [&] { return present() >= expected; });
        n = present();
        ShowMountWait(page, n, expected);
      }
      SetCloneProgressPos32(page, n);
      ListLetterVolumes();
      MapLettersToDisks();
      if (page) page->Invalidate(FALSE);
      last = n;
    }
    if (n >= expected) break;
    WaitSeconds(page, 1, [&] { return present() > last; });
  }
  MapLettersToDisks();
}

CString PrepareSourceVolume(int32_t k, int32_t sourceDisk) {
  if (k < 0 || k >= kMaxLayoutEntries) return CString();
  const LayoutEntry& e = DiskContext.layoutTable[k];
  const CString v = FindVolumeByExtent(sourceDisk, e.startBytes);
  if (v.IsEmpty()) return CString();
  if (k < kCloneGuidSlots) {
    GUID guid{};
    // "\\?\Volume{xxxxxxxx-...}"
    const int open = v.Find(u'{');
    if (open >= 0 && platform::ParseGuid(std::u16string_view(v.GetString() + open, v.GetLength() - open), &guid))
      LayoutWriterState.SourceVolumeGuids[k] = guid;
  }
  switch (e.fsCode) {
    case 6: case 7: case 11: case 12: case 0x27: case 0x17: case 0x2C: case 0x1C: break;
    default: return CString();
  }
  CString t = e.driveLetter > 0 ? MakeDriveText(static_cast<WCHAR>(e.driveLetter)) : v;
  ShadowSourceVolume = t;
  ShadowDevicePath = CreateShadowCopy(t);
  if (!ShadowDevicePath.IsEmpty()) return ShadowDevicePath;
  // No frozen view: the files come from the live volume. A raw copy instead
  // would carry the volume's own size into a partition the plan may have
  // made smaller, and leave a file system that claims more than it has.
  ShadowSourceVolume.Empty();
  return t;
}

bool LockDiskVolumes(const DiskSelectionRecord& disk) {
  PartitionEntry list[kMaxPartitions] = {};
  const int32_t count = ReadPartitionList(list, disk.diskNumber.value);
  for (HANDLE& h : LayoutWriterState.lockedVolumes) h = nullptr;
  OpenDiskRead(disk.diskNumber.value);  // positions compare with the current disk's multiplier
  CloseCurrentDisk();
  for (int32_t i = 0, slot = 0; i < count && i < kMaxPartitions && slot < 32; ++i) {
    const int32_t letter = FindLetterByOffset(list[i].start, disk.diskNumber.value);
    if (letter < 0) continue;
    HANDLE h = OpenVolumeDevice(static_cast<WCHAR>(letter));
    if (h == INVALID_HANDLE_VALUE) continue;
    LockVolume(h);
    LayoutWriterState.lockedVolumes[slot++] = h;
  }
  return true;
}

bool UnlockDiskVolumes() {
  for (HANDLE& h : LayoutWriterState.lockedVolumes) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) continue;
    UnlockVolume(h);
    CloseHandle(h);
    h = nullptr;
  }
  return true;
}

CString GuidToHexText(const GUID& guid) {
  uint8_t b[16];
  std::memcpy(b, &guid, 16);
  static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char16_t digits[] = u"0123456789abcdef";
  CString text;
  for (int i : order) {
    text += digits[b[i] >> 4];
    text += digits[b[i] & 15];
  }
  return text;
}
