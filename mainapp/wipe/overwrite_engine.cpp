#include "mainapp/wipe/overwrite_engine.h"

#include <cstdlib>
#include <cstring>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/wipe_random.h"
#include "platform/core/ctime.h"
#include "platform/fs/file_api.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/shell_state.h"

const uint8_t GutmannPatternTable[kGutmannTableSize] = {0x55, 0xAA, 1,    2,    3,    0x00, 0x11, 0x22, 0x33,
                                                        0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                                                        0xDD, 0xEE, 0xFF, 1,    2,    3,    4,    5,    6};

alignas(4096) uint8_t WipeWriteBuffer[kWipeBufferBytes];
uint64_t WipeProgressCount = 0;
CString WipePassText;

namespace {

// Single sectors of the sparse passes; holds one native sector of up to 64 KiB.
constexpr int kSparseBufferBytes = 64 * 1024;
alignas(4096) uint8_t WipeSparseBuffer[kSparseBufferBytes];
// Read-backs of the read-back and verifying passes.
alignas(4096) uint8_t WipeReadBuffer[kWipeBufferBytes];

// The three-byte patterns of Gutmann's table entries 1 to 6.
constexpr uint8_t kThreeBytePatterns[6][3] = {{0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49},
                                              {0x6D, 0xB6, 0xDB}, {0xB6, 0xDB, 0x6D}, {0xDB, 0x6D, 0xB6}};

// The seed of the last random pass, so that the verifying pass can produce
// the same data again and compare it with what the disk holds.
unsigned lastRandomSeed = 0;
// Progress bar positions are chunks divided by this, to fit 32 bits.
uint64_t progressScale = 1;

struct ChunkGeometry {
  uint32_t chunk = 0;       // native sectors of a full chunk
  uint32_t multiplier = 1;  // 512-byte units per native sector
};

ChunkGeometry GeometryOf(int32_t disk) {
  ChunkGeometry g;
  int32_t m = SectorMultiplierOf(disk);
  g.multiplier = m > 0 ? static_cast<uint32_t>(m) : 1;
  g.chunk = WipeChunkSectors(disk);
  return g;
}

uint64_t ChunksOf(const DiskSelectionRecord& target, uint32_t chunk) {
  if (chunk == 0) return 0;
  return (target.sectorCount + chunk - 1) / chunk;
}

void FillWipeBuffer(uint32_t value, uint32_t bytes, uint32_t sectorBytes) {
  if (value < 256) {
    std::memset(WipeWriteBuffer, static_cast<int>(value), bytes);
    std::memset(WipeSparseBuffer, static_cast<int>(value), sectorBytes <= kSparseBufferBytes ? sectorBytes : 0);
    return;
  }
  const uint8_t word[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  for (uint32_t i = 0; i < bytes; ++i) WipeWriteBuffer[i] = word[i % 4];
}

// Fresh pseudo-random data for `bytes` bytes: 15 random bits per 16-bit word,
// from this thread's generator.
void FillRandomBuffer(uint32_t bytes) { ThreadWipeRandom().fill_words(WipeWriteBuffer, bytes / 2); }

void FillTablePattern(int index, uint32_t bytes, uint32_t sectorBytes) {
  const uint8_t entry = GutmannPatternTable[index];
  if (entry >= 1 && entry <= 6) {
    const uint8_t* p = kThreeBytePatterns[entry - 1];
    for (uint32_t i = 0; i < bytes; ++i) WipeWriteBuffer[i] = p[i % 3];
    return;
  }
  FillWipeBuffer(entry, bytes, sectorBytes);
}

// Passes that only write whole chunks may write several with one call; the
// read-back, verifying and sparse passes go a chunk at a time.
bool WritesSpans(int32_t code) {
  return code != kPassRandomReadBack && code != kPassVerify && code != kPassSparseThird && code != kPassSparseSecond;
}

// Chunks that one call writes: as many whole chunks as the buffer holds.
uint32_t ChunksPerCall(const ChunkGeometry& g, int32_t code) {
  if (!WritesSpans(code)) return 1;
  const uint32_t perCall = kWipeBufferBytes / (g.chunk * g.multiplier * 512);
  return perCall > 1 ? perCall : 1;
}

// Writes `sectors` native sectors (one chunk or more) from the write buffer at
// `sector`. Several chunks go in one call; when that call fails, the chunks
// are written one by one through the counted, retrying path, so that a bad
// sector leaves only its own chunk unwritten and is counted as it would be
// chunk by chunk (the call over the whole span is not counted).
void WriteSpan(uint64_t sector, const ChunkGeometry& g, uint32_t sectors) {
  const uint32_t units = sectors * g.multiplier;
  if (sectors > g.chunk &&
      WriteSectorsAt(DiskContext.currentDiskHandle, WipeWriteBuffer, sector * g.multiplier,
                     static_cast<int32_t>(units)) == units * 512)
    return;
  for (uint32_t done = 0; done < sectors; done += g.chunk) {
    const uint32_t n = sectors - done < g.chunk ? sectors - done : g.chunk;
    WriteDiskSectors(WipeWriteBuffer + static_cast<size_t>(done) * g.multiplier * 512, sector + done,
                     static_cast<int32_t>(n * g.multiplier));
  }
}

void WriteSparse(uint64_t sector, const ChunkGeometry& g, uint32_t sectors, uint32_t stride) {
  if (g.multiplier * 512 > static_cast<uint32_t>(kSparseBufferBytes)) return;
  for (uint32_t p = 0; p < sectors; p += stride)
    WriteDiskSectors(WipeSparseBuffer, sector + p, static_cast<int32_t>(g.multiplier));
}

// Reads the chunk back; false when the read failed (already counted).
bool ReadChunk(const DiskSelectionRecord& target, const ChunkGeometry& g, uint32_t sectors) {
  return ReadDiskSectors(WipeReadBuffer, target.cursor, static_cast<int32_t>(sectors * g.multiplier)) == 0;
}

// Fills the first chunk of the buffer for a pass that writes the same bytes
// into every chunk.
void FillChunk(int32_t code, uint32_t bytes, uint32_t sectorBytes) {
  if (code == kPassUnchanged) return;
  if (code >= kPassTableFirst && code - kPassTableFirst < kGutmannTableSize)
    FillTablePattern(code - kPassTableFirst, bytes, sectorBytes);
  else
    FillWipeBuffer(static_cast<uint32_t>(code), bytes, sectorBytes);
}

// Prepares the buffer for `sectors` native sectors at the cursor (a chunk, or
// several for the passes that write spans) and writes them.
void FillAndWrite(const DiskSelectionRecord& target, const ChunkGeometry& g, uint32_t sectors, int32_t code) {
  const uint32_t bytes = sectors * g.multiplier * 512;
  const uint32_t sectorBytes = g.multiplier * 512;
  const uint32_t chunkBytes = g.chunk * sectorBytes;
  switch (code) {
    case kPassRandom:
      // Fresh data for every chunk of the span: nothing repeats.
      FillRandomBuffer(bytes);
      WriteSpan(target.cursor, g, sectors);
      return;
    case kPassRandomReadBack:
      FillRandomBuffer(bytes);
      for (int round = 0; round < 2; ++round) {
        WriteSpan(target.cursor, g, sectors);
        ReadChunk(target, g, sectors);
      }
      return;
    case kPassVerify:
      // The data of the last random pass, chunk by chunk as it was written.
      FillRandomBuffer(bytes);
      if (ReadChunk(target, g, sectors) && std::memcmp(WipeReadBuffer, WipeWriteBuffer, bytes) != 0)
        ++DiskContext.ioErrorCount;
      return;
    case kPassSparseThird:
    case kPassSparseSecond:
      FillWipeBuffer(0, bytes, sectorBytes);
      WriteSparse(target.cursor, g, sectors, code == kPassSparseThird ? 3 : 2);
      return;
    default:
      break;
  }
  // Every chunk of the span holds what the first holds.
  FillChunk(code, bytes < chunkBytes ? bytes : chunkBytes, sectorBytes);
  for (uint32_t at = chunkBytes; at < bytes; at += chunkBytes)
    std::memcpy(WipeWriteBuffer + at, WipeWriteBuffer, bytes - at < chunkBytes ? bytes - at : chunkBytes);
  WriteSpan(target.cursor, g, sectors);
}

void ShowElapsed(CWnd* page) {
  if (page == nullptr || page->GetSafeHwnd() == nullptr) return;
  CTimeSpan elapsed(CTime::GetCurrentTime().GetTime() - DeleteStartTime);
  page->SetDlgItemText(kIdElapsedText, elapsed.Format(u"%H:%M:%S"));
}

void SetProgress(CWnd* page, uint64_t position) {
  if (page == nullptr || page->GetSafeHwnd() == nullptr) return;
  if (CWnd* bar = page->GetDlgItem(kIdProgressBar))
    bar->SendMessage(PBM_SETPOS, static_cast<WPARAM>(position / progressScale), 0);
}

void SetProgressRange(CWnd* page, uint64_t total) {
  progressScale = total / 0x7FFFFFFF + 1;
  if (page == nullptr || page->GetSafeHwnd() == nullptr) return;
  if (CWnd* bar = page->GetDlgItem(kIdProgressBar)) {
    bar->SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(total / progressScale));
    bar->SendMessage(PBM_SETPOS, 0, 0);
  }
}

// A labelled pass: the label (with "  Pass n" when n > 0) shown at once.
void Label(CWnd* page, LPCWSTR key, int pass = 0, const CString& middle = CString()) {
  WipePassText = LookupString(key);
  WipePassText += middle;
  if (pass > 0) {
    CString number;
    number.Format(u"  Pass %d", pass);
    WipePassText += number;
  }
  if (page == nullptr || page->GetSafeHwnd() == nullptr) return;
  page->SetDlgItemText(kIdPassText, WipePassText);
  page->UpdateWindow();
}

int32_t LabelledPass(CWnd* page, DiskSelectionRecord& target, int32_t code, LPCWSTR key, int pass) {
  Label(page, key, pass);
  return WritePass(page, target, code);
}

// Gutmann's passes: four random, the 27 table patterns, four random. With
// labels for code 13 only.
int32_t GutmannPasses(CWnd* page, DiskSelectionRecord& target, bool labelled) {
  for (int p = 1; p <= 4; ++p) {
    if (labelled) Label(page, u"IDS_Writingrandom", p);
    if (WritePass(page, target, kPassRandom) < 0) return -1;
  }
  for (int m = 0; m < kGutmannTableSize; ++m) {
    if (labelled) {
      CString entry;
      entry.Format(u"%d", GutmannPatternTable[m]);
      Label(page, u"IDS_Writingpattern", m + 5, entry);
    }
    if (WritePass(page, target, kPassTableFirst + m) < 0) return -1;
  }
  for (int p = 32; p <= 35; ++p) {
    if (labelled) Label(page, u"IDS_Writingrandom", p);
    if (WritePass(page, target, kPassRandom) < 0) return -1;
  }
  return 0;
}

int PassCountOf(int32_t code) {
  switch (code) {
    case kWipeRandomThenZero: return 2;
    case kWipeSeries7fff:
    case kWipeSeries27ff: return 4;
    case kWipeZeroOnesTwice:
    case kWipeDod:
    case kWipeDodWithWord: return 4;
    case kWipeRandomRandomZero: return 3;
    case kWipeSevenPasses: return 7;
    case kWipeGutmann: return 35;
    case kWipeDodAndGutmann: return 39;
    default: return 1;
  }
}

}  // namespace

uint32_t WipeChunkSectors(int32_t disk) {
  int32_t track = (disk >= 0 && disk < kMaxPhysicalDisks) ? DiskContext.sectorsPerTrack[disk] : 0;
  if (track < 1) track = 1;
  int32_t m = SectorMultiplierOf(disk);
  if (m < 1) m = 1;
  const int32_t fits = kWipeBufferBytes / (m * 512);
  return static_cast<uint32_t>(track < fits ? track : fits);
}

int32_t MapDeleteMethod(int32_t method) {
  switch (method) {
    case 1: return kWipeRandom;
    case 2: return kWipeRandomRandomZero;
    case 3: return kWipeDod;
    default: return kWipeZero;
  }
}

void SeedRandom() { ThreadWipeRandom().seed(static_cast<uint32_t>(CTime::GetCurrentTime().GetTime())); }

int32_t WritePass(CWnd* page, DiskSelectionRecord& target, int32_t passCode) {
  const ChunkGeometry g = GeometryOf(target.diskNumber.value);
  // A random pass remembers its seed; the verifying pass replays it.
  if (passCode == kPassRandom || passCode == kPassRandomReadBack) {
    lastRandomSeed = ThreadWipeRandom().next();
    ThreadWipeRandom().seed(lastRandomSeed);
  } else if (passCode == kPassVerify) {
    ThreadWipeRandom().seed(lastRandomSeed);
  }
  target.cursor = target.startSector;
  if (g.chunk == 0) return 0;
  const uint64_t end = target.startSector + target.sectorCount;
  const uint64_t span = static_cast<uint64_t>(g.chunk) * ChunksPerCall(g, passCode);
  while (target.cursor < end) {
    // The page's messages, then the main dialog's (the whole thread's when
    // there is none), so that a Cancel click gets through.
    PumpMessages(page ? page->GetSafeHwnd() : nullptr);
    PumpMessages(ShellState.MainDialogHandle);
    if (DeleteAbortRequested) return 0;
    const uint64_t left = end - target.cursor;
    const uint32_t sectors = static_cast<uint32_t>(left < span ? left : span);
    FillAndWrite(target, g, sectors, passCode);
    WipeProgressCount += (sectors + g.chunk - 1) / g.chunk;
    SetProgress(page, WipeProgressCount);
    target.cursor += sectors;
    ShowElapsed(page);
  }
  // The pass's writes are on the device before the next pass (or the end).
  if (!FlushFileBuffers(DiskContext.currentDiskHandle)) ++DiskContext.ioErrorCount;
  return 0;
}

int32_t RunWipeCode(CWnd* page, DiskSelectionRecord& target, int32_t code) {
  WipeProgressCount = 0;
  // A whole disk is listed at its geometry's size, whole cylinders only; the
  // sectors past the last cylinder (a GPT's backup copy among them) must be
  // overwritten too.
  if (target.kind == kSelectionWholeDisk && target.startSector == 0) {
    const uint64_t sectorBytes = static_cast<uint64_t>(GeometryOf(target.diskNumber.value).multiplier) * 512;
    const uint64_t sectors = DeviceLengthBytes(DiskContext.currentDiskHandle) / sectorBytes;
    if (sectors > target.sectorCount) target.sectorCount = sectors;
  }
  const uint64_t chunks = ChunksOf(target, GeometryOf(target.diskNumber.value).chunk);
  SetProgressRange(page, chunks * static_cast<uint64_t>(PassCountOf(code)));
  switch (code) {
    case kWipeSparseThird: return WritePass(page, target, kPassSparseThird);
    case kWipeSparseSecond: return WritePass(page, target, kPassSparseSecond);
    case kWipeZero: return LabelledPass(page, target, 0, u"IDS_Writing0x00", 0);
    case kWipeRandom: return LabelledPass(page, target, kPassRandom, u"IDS_Writingrandom", 0);
    case kWipeRandomThenZero:
      if (WritePass(page, target, kPassRandom) < 0) return -1;
      return WritePass(page, target, 0);
    case kWipeSeries7fff:
    case kWipeSeries27ff: {
      if (WritePass(page, target, 1) < 0) return -1;
      if (WritePass(page, target, code == kWipeSeries7fff ? 0x7FFFFFFF : 0x27FFFFFF) < 0) return -1;
      FillRandomBuffer(kWipeBufferBytes);
      if (WritePass(page, target, kPassUnchanged) < 0) return -1;
      return WritePass(page, target, kPassVerify);
    }
    case kWipeZeroOnesTwice:
      for (int32_t pass : {0, 255, 0, 255}) WritePass(page, target, pass);
      return 0;
    case kWipeRandomRandomZero:
      LabelledPass(page, target, kPassRandom, u"IDS_Writingrandom", 1);
      LabelledPass(page, target, kPassRandom, u"IDS_Writingrandom", 2);
      return LabelledPass(page, target, 0, u"IDS_Writing0x00", 3);
    case kWipeDod:
      LabelledPass(page, target, 0, u"IDS_Writing0x00", 1);
      LabelledPass(page, target, 255, u"IDS_Writing0xff", 2);
      LabelledPass(page, target, kPassRandom, u"IDS_Writingrandom", 3);
      return LabelledPass(page, target, kPassVerify, u"IDS_Verifying", 4);
    case kWipeDodWithWord:
      for (int32_t pass : {0, 255, int32_t{kPassRandom}, 770}) WritePass(page, target, pass);
      return 0;
    case kWipeSevenPasses:
      for (int32_t pass : {0, 255, 0, 255, 0, 255, 170}) WritePass(page, target, pass);
      return 0;
    case kWipeGutmann: return GutmannPasses(page, target, true);
    case kWipeDodAndGutmann:
      for (int32_t pass : {0, 255, int32_t{kPassRandom}, int32_t{kPassVerify}}) WritePass(page, target, pass);
      return GutmannPasses(page, target, false);
    default: return 0;
  }
}

int32_t RunDeleteMethod(CWnd* page, DiskSelectionRecord& target, int32_t method) {
  return RunWipeCode(page, target, MapDeleteMethod(method));
}
