#include "mainapp/clone/raw_copy.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/clone/clone_counters.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/clone_run_state.h"
#include "mainapp/clone/clone_settings.h"
#include "mainapp/clone/disk_selection.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/process/system_info.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

CloneCountersRecord CloneCounters;

namespace {

constexpr int kRepairAttempts = 3;

// The destination disk, unbuffered but without write-through: a flush after
// every block made each one wait for the device's cache, a third of the
// speed of plain direct writes. The pass flushes once at its end (FlushPass).
HANDLE OpenDestinationDisk(int32_t disk) {
  const CString path = CString(u"\\\\.\\PhysicalDrive") + IntToText(disk);
  const HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// Two disk handles, closed on every way out.
class DiskPair {
 public:
  DiskPair(int32_t source, int32_t destination)
      : source_(source >= 0 ? OpenDiskHandle(source) : nullptr),
        destination_(destination >= 0 ? OpenDestinationDisk(destination) : nullptr) {}
  ~DiskPair() {
    if (source_) CloseDeviceHandle(source_);
    if (destination_) CloseDeviceHandle(destination_);
  }
  DiskPair(const DiskPair&) = delete;
  DiskPair& operator=(const DiskPair&) = delete;
  bool open() const { return source_ && destination_; }
  HANDLE source() const { return source_; }
  HANDLE destination() const { return destination_; }

 private:
  HANDLE source_;
  HANDLE destination_;
};

std::unique_ptr<uint8_t[]> TryAllocate(size_t bytes) { return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]); }

void ShowNoMemory(CWnd* page) {
  MessageBoxW(page ? page->GetSafeHwnd() : nullptr, LookupString(u"IDS_NoMemory"), ShellState.messageCaption, MB_OK);
}

int32_t Multiplier(int32_t disk) {
  const int32_t m = SectorMultiplierOf(disk);
  return m > 0 ? m : 1;
}

// Reads `units` at `sector` into `buffer`; when the whole block fails, again
// one native sector at a time, zero-filling and counting each sector that
// cannot be read. Returns the number of unreadable sectors.
int32_t ReadBlock(HANDLE handle, uint8_t* buffer, uint64_t sector, int32_t units, int32_t multiplier,
                  bool count_errors) {
  const DWORD bytes = static_cast<DWORD>(units) * 512;
  if (ReadSectorsAt(handle, buffer, sector, units) == bytes) return 0;
  int32_t unreadable = 0;
  for (int32_t at = 0; at < units; at += multiplier) {
    const int32_t n = std::min(multiplier, units - at);
    uint8_t* piece = buffer + static_cast<size_t>(at) * 512;
    if (ReadSectorsAt(handle, piece, sector + static_cast<uint64_t>(at), n) != static_cast<DWORD>(n) * 512) {
      std::memset(piece, 0, static_cast<size_t>(n) * 512);
      ++unreadable;
      if (count_errors) ++DiskContext.ioErrorCount;
    }
  }
  return unreadable;
}

bool WriteBlock(HANDLE handle, const uint8_t* buffer, uint64_t sector, int32_t units) {
  if (WriteSectorsAt(handle, buffer, sector, units) == static_cast<DWORD>(units) * 512) return true;
  ++DiskContext.ioErrorCount;
  return false;
}

// "IDS_CopyBlock(Disk0 To Disk1)" or the same with "IDS_Verifying".
CString PassStatus(RawPass pass, int32_t source, int32_t destination) {
  CString text = LookupString(pass == RawPass::Verify ? u"IDS_Verifying" : u"IDS_CopyBlock");
  text += u"(";
  text += LookupString(u"IDS_Disk") + IntToText(source) + u" " + LookupString(u"IDS_To") + u" ";
  text += LookupString(u"IDS_Disk") + IntToText(destination) + u")";
  return text;
}

void ShowBlockDone(CWnd* page, uint64_t done) {
  if (!page) return;
  page->SetDlgItemText(clone_items::kCopied, FormatSectorCount(done));
  ShowElapsedTime(page);
  page->SetDlgItemText(clone_items::kStatus, CloneRunState.statusText);
}

}  // namespace

int32_t RawBlockUnits(int32_t sectorsPerTrack) {
  const int32_t spt = std::clamp(sectorsPerTrack, 1, 63);
  return 16 * spt;
}

RawPassResult RunRawPass(CWnd* page, const RawRange& range, RawPass pass, int32_t blockUnits, RawProgress progress,
                         void* context) {
  RawPassResult result;
  CloneRunState.operationSectors = 0;
  const size_t blockBytes = static_cast<size_t>(blockUnits) * 512;
  auto buffer = TryAllocate(blockBytes);
  auto readBack = pass == RawPass::Verify ? TryAllocate(blockBytes) : nullptr;
  if (!buffer || (pass == RawPass::Verify && !readBack)) {
    ShowNoMemory(page);
    return result;
  }
  DiskPair disks(range.sourceDisk, range.destinationDisk);
  if (!disks.open()) return result;
  result.started = true;
  const int32_t sourceMultiplier = Multiplier(range.sourceDisk);
  const bool copying = pass == RawPass::Copy;

  uint64_t done = 0;
  while (done < range.count) {
    CloneRunState.copiedSectors = done;
    if (CloneRunState.cloneAborted) break;
    SetThreadExecutionState(ES_SYSTEM_REQUIRED);
    PumpClonePage(page);
    if (CloneRunState.cloneAborted) break;
    const int32_t units = static_cast<int32_t>(std::min<uint64_t>(blockUnits, range.count - done));
    const uint64_t from = range.sourceStart + done;
    const uint64_t to = range.destinationStart + done;
    const int32_t unreadable = ReadBlock(disks.source(), buffer.get(), from, units, sourceMultiplier, copying);
    result.unreadableSectors += unreadable;
    if (copying) {
      if (!WriteBlock(disks.destination(), buffer.get(), to, units)) ++result.failedWrites;
    } else {
      if (unreadable > 0) ++CloneCounters.verifySecondCount;
      const DWORD bytes = static_cast<DWORD>(units) * 512;
      auto matches = [&] {
        return ReadSectorsAt(disks.destination(), readBack.get(), to, units) == bytes &&
               std::memcmp(buffer.get(), readBack.get(), bytes) == 0;
      };
      if (!matches()) {
        ++CloneRunState.verifyMismatchCount;
        bool repaired = false;
        for (int attempt = 0; attempt < kRepairAttempts && !repaired; ++attempt) {
          if (!WriteBlock(disks.destination(), buffer.get(), to, units)) continue;
          repaired = matches();
        }
        if (repaired)
          --CloneRunState.verifyMismatchCount;
        else
          ++result.mismatchedBlocks;
      }
    }
    done += static_cast<uint64_t>(units);
    CloneRunState.operationSectors = done;
    if (progress) progress(page, done, context);
  }
  // What was written is on the device before the pass reports (an abort too).
  if (!FlushFileBuffers(disks.destination())) {
    ++DiskContext.ioErrorCount;
    ++result.failedWrites;
  }
  CloneRunState.copiedSectors = done;
  result.unitsDone = done;
  return result;
}

namespace {

struct DiskProgress {
  uint64_t total;
};

void DiskCopyProgress(CWnd* page, uint64_t done, void* context) {
  const auto* p = static_cast<DiskProgress*>(context);
  SetCloneProgressPos(page, done, p->total);
  ShowBlockDone(page, done);
}

struct PartitionProgress {
  uint64_t copiedBytesBefore;
};

// 2n + (copied bytes + this entry's bytes) / (1% of the expected bytes).
void PartitionCopyProgress(CWnd* page, uint64_t done, void* context) {
  const auto* p = static_cast<PartitionProgress*>(context);
  const uint64_t divisor = 512 * CloneRunState.copyTotalSectors / 100;
  if (divisor != 0) {
    const uint64_t percent = (p->copiedBytesBefore + 512 * done) / divisor;
    SetCloneProgressPos32(page, static_cast<int32_t>(2 * CloneRunState.progressPartitionCount +
                                                     static_cast<int64_t>(std::min<uint64_t>(percent, 200))));
  }
  ShowBlockDone(page, done);
}

}  // namespace

bool CopyDiskSectors(CWnd* page, int32_t sourceListed, int32_t destinationListed, RawPass pass) {
  PumpClonePage(page);
  const int32_t source = ListedPhysicalDisk(sourceListed);
  const int32_t destination = ListedPhysicalDisk(destinationListed);
  if (source < 0 || destination < 0) return false;
  const uint64_t destinationSize = ReadDiskGeometry(destination);
  const int32_t destinationMultiplier = Multiplier(destination);
  const uint64_t sourceSize = ReadDiskGeometry(source);
  const int32_t block = RawBlockUnits(DiskContext.lastSectorsPerTrack);
  RawRange range{source, destination, CloneSettings.copySourceStart, 0, CloneSettings.copySourceLength};
  // Nothing is written past the end of the destination; what does not fit
  // is left out (the wizard refuses a destination that is too small).
  if (destinationSize > 0 && range.count > destinationSize) range.count = destinationSize;
  // A tail that is not a whole native sector of both disks cannot be moved
  // through unbuffered handles.
  const int32_t grain = std::max(Multiplier(source), destinationMultiplier);
  range.count -= range.count % static_cast<uint64_t>(grain);
  SetCloneProgressRange(page, range.count > 0 ? range.count : sourceSize);
  ShowCloneStatus(page, PassStatus(pass, source, destination));
  DiskProgress progress{range.count};
  const RawPassResult result = RunRawPass(page, range, pass, block, &DiskCopyProgress, &progress);
  return result.started;
}

// NTFS keeps a copy of its boot sector in the last sector of its partition.
// A volume copied by sectors into a larger partition leaves that place empty;
// the copy of the boot sector goes there so the volume stays whole (its size
// is unchanged and the rest of the partition stays unused).
void PlaceNtfsBackupBootSector(int32_t source, int32_t destination, const LayoutEntry& e) {
  const int32_t sourceMultiplier = std::max(Multiplier(source), 1);
  const int32_t destinationMultiplier = std::max(Multiplier(destination), 1);
  std::vector<uint8_t> boot(static_cast<size_t>(std::max(sourceMultiplier, destinationMultiplier)) * 512);
  OpenDiskRead(source);
  const bool read = ReadDiskSectors(boot.data(), e.startBytes / 512 / sourceMultiplier, 1) == 0;
  CloseCurrentDisk();
  if (!read || std::memcmp(boot.data() + 3, "NTFS    ", 8) != 0) return;
  const uint64_t end = (e.newStartBytes + e.newLengthBytes) / 512 / destinationMultiplier;
  OpenDiskReadWrite(destination);
  WriteDiskSectors(boot.data(), end - 1, destinationMultiplier);
  CloseCurrentDisk();
}

bool CopyPartitionSectors(CWnd* page, int32_t sourceListed, int32_t destinationListed, int32_t entry, RawPass pass) {
  PumpClonePage(page);
  if (entry < 0 || entry >= kMaxLayoutEntries) return false;
  const int32_t source = ListedPhysicalDisk(sourceListed);
  const int32_t destination = ListedPhysicalDisk(destinationListed);
  if (source < 0 || destination < 0) return false;
  ReadDiskGeometry(source);
  ReadDiskGeometry(destination);
  const int32_t block = RawBlockUnits(DiskContext.lastSectorsPerTrack);
  const LayoutEntry& e = DiskContext.layoutTable[entry];
  uint64_t length = e.lengthBytes;
  // A partition planned smaller than its source gets only its planned length:
  // the copy never runs into the next partition.
  if (e.newLengthBytes > 0 && e.newLengthBytes < length) length = e.newLengthBytes;
  RawRange range{source, destination, e.startBytes / 512, e.newStartBytes / 512, length / 512};
  const int32_t grain = std::max(Multiplier(source), Multiplier(destination));
  range.count -= range.count % static_cast<uint64_t>(grain);
  ShowCloneStatus(page, PassStatus(pass, sourceListed, destinationListed));
  PartitionProgress progress{CloneRunState.copiedBytes};
  const RawPassResult result = RunRawPass(page, range, pass, block, &PartitionCopyProgress, &progress);
  if (pass == RawPass::Copy) CloneRunState.copiedBytes += result.unitsDone * 512;
  if (pass == RawPass::Copy && result.started && !CloneRunState.cloneAborted && e.newLengthBytes > e.lengthBytes)
    PlaceNtfsBackupBootSector(source, destination, e);
  return result.started;
}
