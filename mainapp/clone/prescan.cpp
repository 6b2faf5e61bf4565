#include "mainapp/clone/prescan.h"

#include <algorithm>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/volume_space.h"
#include "mainapp/records/clone_run_state.h"
#include "platform/core/clock.h"
#include "platform/core/ctime.h"
#include "platform/core/kobject.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/controls.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

ScanStateRecord ScanState;
HWND ScanProgressPage = nullptr;

namespace {

constexpr int kRetries = 3;
constexpr int kSectorItem = 1078;
constexpr int kRemainingItem = 1084;
constexpr int kElapsedItem = 1085;

// The volumes the scan holds locked; released whatever way the scan ends.
class VolumeLocks {
 public:
  ~VolumeLocks() {
    for (HANDLE volume : volumes_) {
      UnlockVolume(volume);
      CloseHandle(volume);
    }
  }
  void Lock(WCHAR letter) {
    const HANDLE volume = OpenVolumeDevice(letter);
    if (volume == INVALID_HANDLE_VALUE) return;
    LockVolume(volume);
    volumes_.push_back(volume);
  }

 private:
  std::vector<HANDLE> volumes_;
};

CString SectorLine(uint64_t sector) {
  return LookupString(u"IDS_ErrorinSector") + u" " + Int64ToText(static_cast<int64_t>(sector));
}

// Reads one native sector, retrying a failed read; 0 read at once, 1 read on
// a retry, -1 unreadable.
int ReadSectorWithRetries(uint8_t* buffer, uint64_t sector, int32_t multiplier) {
  if (ReadDiskSectors(buffer, sector, multiplier) == 0) return 0;
  for (int attempt = 0; attempt < kRetries; ++attempt)
    if (ReadDiskSectors(buffer, sector, multiplier) == 0) return 1;
  return -1;
}

// A chunk whose read failed, read again sector by sector: a sector that no
// attempt reads is a bad sector, counted and listed by its own number; one
// that a retry reads is listed as read on a retry. When every sector reads at
// once, what failed was the chunk's read itself, and a retry read it: the
// chunk is listed with its range as read on a retry. Each listed line is one
// error; only unreadable sectors count as bad.
void NarrowFailedChunk(uint8_t* buffer, uint64_t first, uint64_t sectors, int32_t multiplier) {
  bool found = false;
  for (uint64_t i = 0; i < sectors; ++i) {
    const int result = ReadSectorWithRetries(buffer, first + i, multiplier);
    if (result == 0) continue;
    found = true;
    ++ScanState.scanErrorCount;
    if (result < 0) {
      ++ScanState.badSectorCount;
      ScanState.failedSectors.push_back(SectorLine(first + i));
    } else {
      ScanState.failedSectors.push_back(SectorLine(first + i) + LookupString(u"IDS_ReadOnRetry"));
    }
  }
  if (found) return;
  ++ScanState.scanErrorCount;
  CString line = SectorLine(first);
  if (sectors > 1) line += u"-" + Int64ToText(static_cast<int64_t>(first + sectors - 1));
  ScanState.failedSectors.push_back(line + LookupString(u"IDS_ReadOnRetry"));
}

void ShowItem(int item, const CString& text) {
  if (ScanProgressPage) SetDlgItemTextW(ScanProgressPage, item, text);
}

}  // namespace

bool ScanBadSectors(const DiskSelectionRecord& target) {
  ScanState.scanCancelled = 0;
  ScanState.scanFinished = 0;
  ScanState.scanErrorCount = 0;
  ScanState.badSectorCount = 0;
  ScanState.failedSectors.clear();
  ScanState.scanEndTime = 0;
  const int32_t disk = target.diskNumber.value;
  if (disk < 0 || disk >= kMaxPhysicalDisks) return false;
  if (SectorMultiplierOf(disk) == 0) ReadDiskGeometry(disk);
  const int32_t multiplier = SectorMultiplierOf(disk);
  if (multiplier <= 0) return false;
  const uint64_t start = GetTickCount64();
  // The scan's start, as the clone keeps its own (the result page counts from it).
  CloneRunState.operationStart = CTime::GetCurrentTime().GetTime();

  VolumeLocks locks;
  if (target.startSector == 0) {
    for (int i = 0; i < kLetterCount; ++i)
      if (DiskContext.letterToDisk[i] == disk + 1) locks.Lock(static_cast<WCHAR>(u'A' + i));
  } else if (target.driveLetter >= u'A' && target.driveLetter <= u'Z') {
    locks.Lock(target.driveLetter);
  }
  const HANDLE handle = OpenDiskReadWrite(disk);
  if (!handle || handle == INVALID_HANDLE_VALUE) {
    CloseCurrentDisk();
    return false;
  }

  // One track per read, in whole native sectors; the disk's end in native sectors.
  const int32_t track = std::max(1, std::min(63, DiskContext.sectorsPerTrack[disk]));
  const uint64_t chunk = std::max<uint64_t>(1, static_cast<uint64_t>(track) / multiplier);
  // The disk's real length (the geometry rounds to whole cylinders).
  uint64_t diskEnd = 0;
  LARGE_INTEGER length{};
  DWORD returned = 0;
  if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof(length), &returned, nullptr) &&
      returned >= sizeof(length))
    diskEnd = static_cast<uint64_t>(length.QuadPart) / (static_cast<uint64_t>(multiplier) * 512);
  // A whole disk is read to its real end, whatever its listed size says.
  const uint64_t wanted = target.kind == kSelectionWholeDisk ? UINT64_MAX : target.sectorCount;
  const uint64_t count = std::min(wanted, diskEnd > target.startSector ? diskEnd - target.startSector : 0);
  std::vector<uint8_t> buffer(chunk * multiplier * 512);

  ScanState.scanStarted = 1;
  uint64_t shownSeconds = UINT64_MAX;
  uint64_t remaining = 0;
  for (uint64_t pos = 0; pos < count; pos += chunk) {
    const uint64_t lba = target.startSector + pos;
    // The last chunk stops at the end of the target.
    const int32_t units = static_cast<int32_t>(std::min(chunk, count - pos) * multiplier);
    if (ReadDiskSectors(buffer.data(), lba, units) != 0)
      NarrowFailedChunk(buffer.data(), lba, static_cast<uint64_t>(units / multiplier), multiplier);
    const uint64_t seconds = (GetTickCount64() - start) / 1000;
    if (pos == 0 || seconds == shownSeconds) continue;
    const uint64_t total = seconds * count / pos;
    if (total >= seconds) remaining = total - seconds;
    shownSeconds = seconds;
    if (ShellState.ProgressBar) ShellState.ProgressBar->SetPos(static_cast<int>(pos / chunk));
    ShowItem(kElapsedItem, DurationText(static_cast<int64_t>(seconds)));
    if (ScanProgressPage) PumpMessages(ScanProgressPage);
    if (ScanState.scanCancelled) break;
    ShowItem(kRemainingItem, DurationText(static_cast<int64_t>(remaining)));
    ShowItem(kSectorItem, Int64ToText(static_cast<int64_t>(lba)));
  }
  // The work ends here, whatever message follows: the time taken is counted
  // to this moment, and a scan that read everything shows a full bar.
  ScanState.scanEndTime = CTime::GetCurrentTime().GetTime();
  if (!ScanState.scanCancelled && count > 0) {
    if (ShellState.ProgressBar) {
      int low = 0, high = 0;
      ShellState.ProgressBar->GetRange(low, high);
      ShellState.ProgressBar->SetPos(high);
    }
    ShowItem(kElapsedItem, DurationText(static_cast<int64_t>((GetTickCount64() - start) / 1000)));
    ShowItem(kRemainingItem, DurationText(0));
    ShowItem(kSectorItem, Int64ToText(static_cast<int64_t>(target.startSector + count - 1)));
  }
  ScanState.scanFinished = 1;
  CloseCurrentDisk();
  return true;
}
