#include "mainapp/clone/raw_copy.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/records/clone_counters.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/process/system_info.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

namespace {

constexpr int kRepairAttempts = 3;
// The verify pass reads this many blocks per transfer from each disk (8
// blocks of 1008 units: 3.9 MiB), up to kVerifySlots spans ahead of its
// comparison: large direct reads, always one waiting for each device.
constexpr int32_t kVerifySpanBlocks = 8;
constexpr int kVerifySlots = 3;

// The destination disk, unbuffered but without write-through: a flush after
// every block made each one wait for the device's cache, a third of the
// speed of plain direct writes. The pass flushes once at its end (FlushPass).
HANDLE OpenDestinationDisk(int32_t disk) {
  const CString path = CString(u"\\\\.\\PhysicalDrive") + IntToText(disk);
  const HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// A handle of its own for a thread that reads a disk while the pass uses
// its handles: the pass's handles carry a file position, which two threads
// must not share.
HANDLE OpenDiskForReading(int32_t disk) {
  const CString path = CString(u"\\\\.\\PhysicalDrive") + IntToText(disk);
  const HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_NO_BUFFERING, nullptr);
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

// Transfer buffers aligned as direct I/O wants them: the unbuffered handles
// then move the bytes straight between the device and the buffer, with no
// copy through a bounce buffer on either side.
constexpr size_t kBufferAlignment = 4096;
struct AlignedFree {
  void operator()(uint8_t* p) const { std::free(p); }
};
using TransferBuffer = std::unique_ptr<uint8_t, AlignedFree>;
TransferBuffer TryAllocate(size_t bytes) {
  const size_t rounded = (bytes + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
  return TransferBuffer(static_cast<uint8_t*>(std::aligned_alloc(kBufferAlignment, rounded)));
}

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

// "IDS_CopyBlock(Disk0 To Disk1)" or the same with "IDS_Verifying"; the
// disks are named by their physical numbers, as every other "Disk N" text.
CString PassStatus(RawPass pass, ListedDiskIndex source, ListedDiskIndex destination) {
  CString text = LookupString(pass == RawPass::Verify ? u"IDS_Verifying" : u"IDS_CopyBlock");
  text += u"(";
  const CString disk = LookupString(u"IDS_Disk");
  text += disk + IntToText(ListedPhysicalDisk(source).value) + u" " + LookupString(u"IDS_To") + u" ";
  text += disk + IntToText(ListedPhysicalDisk(destination).value) + u")";
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

namespace {

// Writes the copy pass's blocks on a thread of its own, so that the next
// block is read from the source while the destination takes the last one.
// One block is in flight at a time, and its buffer is left alone until
// Finish. Without the thread (it could not be made) each block is written in
// Start.
//
// The hand-over is a plain host mutex and condition variable, not the
// platform's events: a platform wait joins the simulated PC's clock, which
// wakes every waiting thread of the process on each wait and each event, a
// cost paid twice per block. (Nor a host semaphore: its wait spins on
// sched_yield first, which on a busy machine hands the processor away for a
// whole time slice.) The worker does host I/O only and never waits for
// simulated time, so the clock need not know it.
class BlockWriter {
 public:
  explicit BlockWriter(HANDLE disk) : disk_(disk) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread: every block is written in Start.
    }
  }
  ~BlockWriter() {
    Finish();
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        stop_ = true;
      }
      changed_.notify_one();
      thread_.join();
    }
  }
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  void Start(const uint8_t* data, uint64_t sector, int32_t units) {
    data_ = data;
    sector_ = sector;
    units_ = units;
    busy_ = true;
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        queued_ = true;
      }
      changed_.notify_one();
    } else {
      written_ = Transfer();
    }
  }
  // Waits for the block in flight; false when it could not be written.
  bool Finish() {
    if (!busy_) return true;
    if (thread_.joinable()) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !queued_; });
    }
    busy_ = false;
    return written_;
  }

 private:
  // Touches no shared counter: the pass counts a failed write when it finishes the block.
  bool Transfer() const {
    return WriteSectorsAt(disk_, data_, sector_, units_) == static_cast<DWORD>(units_) * 512;
  }
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return queued_ || stop_; });
      if (stop_) return;
      lock.unlock();
      written_ = Transfer();
      lock.lock();
      queued_ = false;
      changed_.notify_one();
    }
  }

  HANDLE disk_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool queued_ = false;  // a block waits for the worker or is moving; under mutex_
  const uint8_t* data_ = nullptr;
  uint64_t sector_ = 0;
  int32_t units_ = 0;
  bool busy_ = false;
  bool written_ = false;
  bool stop_ = false;
};

// Reads a range of a disk span by span on a thread of its own, through a
// handle of its own, up to kVerifySlots spans ahead of the pass: the device
// always has the next read, however late the pass's thread is woken on a
// busy machine. The pass takes each span in order (Next) and gives its slot
// back (Done). Without the thread or the handle, Next reads the span itself
// through the pass's handle.
class SpanReader {
 public:
  struct Span {
    uint8_t* data;
    int32_t units;
    bool whole;  // false: the span could not be read in one transfer
  };

  SpanReader(int32_t disk, HANDLE passHandle, uint64_t start, uint64_t count, uint64_t spanUnits,
             uint8_t* const* slots)
      : passHandle_(passHandle), start_(start), count_(count), spanUnits_(spanUnits), slots_(slots) {
    own_ = OpenDiskForReading(disk);
    if (!own_) return;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread: Next reads each span itself.
    }
  }
  ~SpanReader() {
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        stop_ = true;
      }
      changed_.notify_all();
      thread_.join();
    }
    if (own_) CloseDeviceHandle(own_);
  }
  SpanReader(const SpanReader&) = delete;
  SpanReader& operator=(const SpanReader&) = delete;

  // The next span of the range (call only while one remains).
  Span Next() {
    const size_t slot = taken_ % kVerifySlots;
    if (!thread_.joinable()) {
      Read(taken_, slot, passHandle_);
    } else {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return read_ > taken_; });
    }
    ++taken_;
    return spans_[slot];
  }
  // The span Next gave last is done with; its slot takes a later span.
  void Done() {
    {
      std::lock_guard lock(mutex_);
      ++released_;
    }
    changed_.notify_all();
  }

 private:
  void Read(uint64_t index, size_t slot, HANDLE handle) {
    const uint64_t at = index * spanUnits_;
    const auto units = static_cast<int32_t>(std::min(spanUnits_, count_ - at));
    spans_[slot] = Span{slots_[slot], units,
                        ReadSectorsAt(handle, slots_[slot], start_ + at, units) == static_cast<DWORD>(units) * 512};
  }
  void Run() {
    const uint64_t spans = (count_ + spanUnits_ - 1) / spanUnits_;
    for (uint64_t index = 0; index < spans; ++index) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || index - released_ < kVerifySlots; });
        if (stop_) return;
      }
      Read(index, index % kVerifySlots, own_);
      {
        std::lock_guard lock(mutex_);
        read_ = index + 1;
      }
      changed_.notify_all();
    }
  }

  HANDLE passHandle_;
  HANDLE own_ = nullptr;
  uint64_t start_, count_, spanUnits_;
  uint8_t* const* slots_;
  Span spans_[kVerifySlots] = {};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t read_ = 0;      // spans read by the thread; under mutex_
  uint64_t released_ = 0;  // spans given back by the pass; under mutex_
  uint64_t taken_ = 0;     // spans the pass took (its own thread only)
  bool stop_ = false;      // under mutex_
};

// What every pass does before a block: the position shown, the cancel
// tested, the system kept awake and the page's messages pumped. False when
// the pass must stop.
bool ContinuePass(CWnd* page, uint64_t done) {
  CloneRunState.copiedSectors = done;
  if (CloneRunState.cloneAborted) return false;
  SetThreadExecutionState(ES_SYSTEM_REQUIRED);
  PumpClonePage(page);
  return !CloneRunState.cloneAborted;
}

struct PassLoop {
  CWnd* page;
  const DiskPair& disks;
  const RawRange& range;
  int32_t blockUnits;
  int32_t sourceMultiplier;
  int32_t spanBlocks;  // verify: blocks read per transfer
  uint8_t* const* buffers;  // copy: 2 blocks; verify: kVerifySlots spans of each disk
  RawProgress progress;
  void* context;
  RawPassResult& result;

  // Counts `units` more as done and shows them.
  void Advance(uint64_t& done, uint64_t units) const {
    done += units;
    CloneRunState.operationSectors = done;
    if (progress) progress(page, done, context);
  }
  int32_t UnitsAt(uint64_t at) const {
    return static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(blockUnits), range.count - at));
  }

  // Reads block k + 1 while block k is written; a block counts as done once
  // it is written (or its write failed and was counted).
  uint64_t Copy() const {
    BlockWriter writer(disks.destination());
    uint64_t done = 0;
    uint64_t read = 0;
    int32_t inFlight = 0;
    int which = 0;
    auto settle = [&] {
      if (inFlight == 0) return;
      if (!writer.Finish()) {
        ++DiskContext.ioErrorCount;
        ++result.failedWrites;
      }
      Advance(done, static_cast<uint64_t>(inFlight));
      inFlight = 0;
    };
    while (read < range.count && ContinuePass(page, done)) {
      const int32_t units = UnitsAt(read);
      result.unreadableSectors +=
          ReadBlock(disks.source(), buffers[which], range.sourceStart + read, units, sourceMultiplier, true);
      settle();
      writer.Start(buffers[which], range.destinationStart + read, units);
      inFlight = units;
      read += static_cast<uint64_t>(units);
      which ^= 1;
    }
    settle();
    return done;
  }

  // Reads the source and the destination in spans of several blocks, each
  // disk on a reader thread of its own that keeps a few spans ahead (both
  // disks at once), and compares them. A span that differs, or that could
  // not be read whole, is gone through block by block through the pass's
  // own handles: a block that differs is written again and read back, up to
  // 3 times, and a block that cannot be read is read again (a source block
  // sector by sector), as single blocks always were. The readers run ahead
  // on spans past the one repaired, which a repair does not write.
  uint64_t Verify() const {
    const uint64_t spanUnits = static_cast<uint64_t>(blockUnits) * static_cast<uint64_t>(spanBlocks);
    SpanReader sourceReader(range.sourceDisk, disks.source(), range.sourceStart, range.count, spanUnits, buffers);
    SpanReader destinationReader(range.destinationDisk, disks.destination(), range.destinationStart, range.count,
                                 spanUnits, buffers + kVerifySlots);
    uint64_t done = 0;
    while (done < range.count && ContinuePass(page, done)) {
      const SpanReader::Span source = sourceReader.Next();
      const SpanReader::Span destination = destinationReader.Next();
      const DWORD bytes = static_cast<DWORD>(source.units) * 512;
      const bool same = source.whole && destination.whole && std::memcmp(source.data, destination.data, bytes) == 0;
      for (int32_t at = 0; at < source.units; at += blockUnits) {
        const int32_t units = std::min(blockUnits, source.units - at);
        if (same)
          Advance(done, static_cast<uint64_t>(units));
        else
          VerifyBlock(done, units, source.data + static_cast<size_t>(at) * 512,
                      destination.data + static_cast<size_t>(at) * 512, source.whole, destination.whole);
      }
      sourceReader.Done();
      destinationReader.Done();
    }
    return done;
  }

  // One block of a span read by Verify: `done` is its position, and grows by it.
  void VerifyBlock(uint64_t& done, int32_t units, uint8_t* buffer, uint8_t* readBack, bool sourceRead,
                   bool destinationRead) const {
    const uint64_t to = range.destinationStart + done;
    if (!sourceRead) {
      const int32_t unreadable =
          ReadBlock(disks.source(), buffer, range.sourceStart + done, units, sourceMultiplier, false);
      result.unreadableSectors += unreadable;
      if (unreadable > 0) ++CloneCounters.verifySecondCount;
    }
    const DWORD bytes = static_cast<DWORD>(units) * 512;
    auto matches = [&] {
      return ReadSectorsAt(disks.destination(), readBack, to, units) == bytes &&
             std::memcmp(buffer, readBack, bytes) == 0;
    };
    if (destinationRead ? std::memcmp(buffer, readBack, bytes) != 0 : !matches()) {
      ++CloneRunState.verifyMismatchCount;
      bool repaired = false;
      for (int attempt = 0; attempt < kRepairAttempts && !repaired; ++attempt) {
        if (!WriteBlock(disks.destination(), buffer, to, units)) continue;
        repaired = matches();
      }
      if (repaired)
        --CloneRunState.verifyMismatchCount;
      else
        ++result.mismatchedBlocks;
    }
    Advance(done, static_cast<uint64_t>(units));
  }
};

}  // namespace

RawPassResult RunRawPass(CWnd* page, const RawRange& range, RawPass pass, int32_t blockUnits, RawProgress progress,
                         void* context) {
  RawPassResult result;
  CloneRunState.operationSectors = 0;
  const size_t blockBytes = static_cast<size_t>(blockUnits) * 512;
  // Two blocks: the one read and the one written (copy); or the slots of
  // both disks' readers, a span each (verify), one block each when memory is
  // short.
  int32_t spanBlocks = pass == RawPass::Verify ? kVerifySpanBlocks : 1;
  const int buffersNeeded = pass == RawPass::Verify ? 2 * kVerifySlots : 2;
  TransferBuffer buffers[2 * kVerifySlots];
  auto allocate = [&] {
    bool all = true;
    for (int i = 0; i < buffersNeeded; ++i) all = (buffers[i] = TryAllocate(blockBytes * spanBlocks)) && all;
    return all;
  };
  bool allocated = allocate();
  if (!allocated && spanBlocks > 1) {
    spanBlocks = 1;
    allocated = allocate();
  }
  if (!allocated) {
    ShowNoMemory(page);
    return result;
  }
  DiskPair disks(range.sourceDisk, range.destinationDisk);
  if (!disks.open()) {
    // A disk that went away (or cannot be opened) leaves the whole range
    // uncopied or uncompared: an error the summary counts, never a quiet success.
    // The error count counts blocks, as the copy loop counts a failed block.
    const uint64_t blocks = std::max<uint64_t>((range.count + static_cast<uint64_t>(blockUnits) - 1) / static_cast<uint64_t>(blockUnits), 1);
    if (pass == RawPass::Copy) {
      const uint64_t sectors = std::max<uint64_t>(range.count / static_cast<uint64_t>(Multiplier(range.sourceDisk)), 1);
      DiskContext.ioErrorCount += static_cast<int32_t>(std::min<uint64_t>(blocks, INT32_MAX - std::max(DiskContext.ioErrorCount, 0)));
      result.unreadableSectors += static_cast<int32_t>(std::min<uint64_t>(sectors, INT32_MAX / 2));
    } else {
      CloneCounters.verifySecondCount += static_cast<int32_t>(std::min<uint64_t>(blocks, INT32_MAX / 2));
    }
    return result;
  }
  result.started = true;
  uint8_t* slots[2 * kVerifySlots];
  for (int i = 0; i < 2 * kVerifySlots; ++i) slots[i] = buffers[i].get();
  const PassLoop loop{page,       disks, range,    blockUnits, Multiplier(range.sourceDisk),
                      spanBlocks, slots, progress, context,    result};
  const uint64_t done = pass == RawPass::Copy ? loop.Copy() : loop.Verify();
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
  PacedPosition page;
};

void ShowDiskProgress(CWnd* page, uint64_t done, uint64_t total) {
  SetCloneProgressPos(page, done, total);
  ShowBlockDone(page, done);
}

void DiskCopyProgress(CWnd* page, uint64_t done, void* context) {
  auto* p = static_cast<DiskProgress*>(context);
  if (p->page.Take(done)) ShowDiskProgress(page, done, p->total);
}

struct PartitionProgress {
  uint64_t copiedBytesBefore;
  PacedPosition page;
};

// 2n + (copied bytes + this entry's bytes) / (1% of the expected bytes).
void ShowPartitionProgress(CWnd* page, uint64_t done, uint64_t copiedBytesBefore) {
  const uint64_t divisor = 512 * CloneRunState.copyTotalSectors / 100;
  if (divisor != 0) {
    const uint64_t percent = (copiedBytesBefore + 512 * done) / divisor;
    const uint64_t passes = std::min<uint64_t>(percent, 2 * kCloneProgressPerPass);
    SetCloneProgressPos32(page, static_cast<int32_t>(CloneProgressPassStart(CloneRunState.progressPartitionCount) +
                                                     static_cast<int64_t>(passes)));
  }
  ShowBlockDone(page, done);
}

void PartitionCopyProgress(CWnd* page, uint64_t done, void* context) {
  auto* p = static_cast<PartitionProgress*>(context);
  if (p->page.Take(done)) ShowPartitionProgress(page, done, p->copiedBytesBefore);
}

}  // namespace

bool CopyDiskSectors(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed, RawPass pass) {
  PumpClonePage(page);
  const int32_t source = ListedPhysicalDisk(sourceListed).value;
  const int32_t destination = ListedPhysicalDisk(destinationListed).value;
  if (source < 0 || destination < 0) return false;
  // Whole disks at their real lengths: the geometry's whole cylinders leave
  // out the last sectors, where NTFS keeps its backup boot sector and GPT its
  // backup table.
  const uint64_t destinationSize = ReadDiskLengthUnits(destination);
  const int32_t destinationMultiplier = Multiplier(destination);
  const uint64_t sourceSize = ReadDiskLengthUnits(source);
  ReadDiskGeometry(source);
  const int32_t block = RawBlockUnits(DiskContext.lastSectorsPerTrack);
  RawRange range{source, destination, CloneSettings.copySourceStart, 0, CloneSettings.copySourceLength};
  if (!CloneSettings.partitionMode && CloneSettings.copySourceStart == 0 && sourceSize > 0) range.count = sourceSize;
  // Nothing is written past the end of the destination; what does not fit
  // is left out (the wizard refuses a destination that is too small).
  if (destinationSize > 0 && range.count > destinationSize) range.count = destinationSize;
  // A tail that is not a whole native sector of both disks cannot be moved
  // through unbuffered handles.
  const int32_t grain = std::max(Multiplier(source), destinationMultiplier);
  range.count -= range.count % static_cast<uint64_t>(grain);
  SetCloneProgressRange(page, range.count > 0 ? range.count : sourceSize);
  ShowCloneStatus(page, PassStatus(pass, sourceListed, destinationListed));
  DiskProgress progress{range.count, PacedPosition(range.count)};
  const RawPassResult result = RunRawPass(page, range, pass, block, &DiskCopyProgress, &progress);
  if (progress.page.pending) ShowDiskProgress(page, progress.page.last, range.count);
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

bool CopyPartitionSectors(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed, int32_t entry,
                          RawPass pass) {
  PumpClonePage(page);
  if (entry < 0 || entry >= kMaxLayoutEntries) return false;
  const int32_t source = ListedPhysicalDisk(sourceListed).value;
  const int32_t destination = ListedPhysicalDisk(destinationListed).value;
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
  PartitionProgress progress{CloneRunState.copiedBytes, PacedPosition(range.count)};
  const RawPassResult result = RunRawPass(page, range, pass, block, &PartitionCopyProgress, &progress);
  if (progress.page.pending) ShowPartitionProgress(page, progress.page.last, progress.copiedBytesBefore);
  if (pass == RawPass::Copy) CloneRunState.copiedBytes += result.unitsDone * 512;
  if (pass == RawPass::Copy && result.started && !CloneRunState.cloneAborted && e.newLengthBytes > e.lengthBytes)
    PlaceNtfsBackupBootSector(source, destination, e);
  return result.started;
}
