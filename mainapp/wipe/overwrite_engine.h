// The overwrite engine of the secure deletion: overwrites one target (a whole
// disk or one partition, as DiskSelectionRecord describes it) pass by pass in
// chunks of one track, as many chunks per write as the 256 KiB buffer holds,
// on the current disk, flushed once at the end of each pass (a track that
// fails its write leaves no more than that track behind), and drives three
// controls of the running page: the pass text (1066), the elapsed time (1022)
// and the progress bar (1025). Runs on the user-interface thread and lets
// messages through between writes, which is how a Cancel reaches it.
//
// Units: the target's start and count are native sectors of its disk. Every
// sector of the target is written, the last short chunk too; nothing outside
// it is. Write failures and failed or differing read-backs are counted in
// DiskContext.ioErrorCount; the engine never stops for them.
#pragma once

#include <cstdint>

#include "mainapp/records/disk_selection.h"
#include "platform/core/cstring.h"

class CWnd;

// Controls of the running page that the engine writes.
constexpr int kIdPassText = 1066;
constexpr int kIdElapsedText = 1022;
constexpr int kIdProgressBar = 1025;

// Internal method codes of the engine; the four offered methods map to these.
enum WipeCode : int32_t {
  kWipeSparseThird = 1,
  kWipeSparseSecond = 2,
  kWipeZero = 3,
  kWipeRandom = 4,
  kWipeRandomThenZero = 5,
  kWipeSeries7fff = 6,
  kWipeSeries27ff = 7,
  kWipeZeroOnesTwice = 8,
  kWipeRandomRandomZero = 9,
  kWipeDod = 10,
  kWipeDodWithWord = 11,
  kWipeSevenPasses = 12,
  kWipeGutmann = 13,
  kWipeDodAndGutmann = 14,
};

// Fill codes of one pass: 0..255 a byte value, 256 fresh random data per
// chunk, 257 random data written and read back twice, 258 the verifying pass
// (reads back the last random pass and compares), 259 the buffer unchanged,
// 260/261 zeros in every third/second sector only, 262..511 a repeated 32-bit
// value, 512..538 an entry of the Gutmann pattern table.
enum PassCode : int32_t {
  kPassRandom = 256,
  kPassRandomReadBack = 257,
  kPassVerify = 258,
  kPassUnchanged = 259,
  kPassSparseThird = 260,
  kPassSparseSecond = 261,
  kPassTableFirst = 512,
};

constexpr int kGutmannTableSize = 27;
extern const uint8_t GutmannPatternTable[kGutmannTableSize];

constexpr int kWipeBufferBytes = 256 * 1024;
// The chunk buffer; the clone's track zeroing writes from it too.
extern uint8_t WipeWriteBuffer[kWipeBufferBytes];
// Chunks handled since the method started (the progress bar shows it scaled
// to the bar's 32-bit range).
extern uint64_t WipeProgressCount;
// The label of the current pass.
extern CString WipePassText;

int32_t MapDeleteMethod(int32_t method);
// Seeds the random fills from the current time; the run calls it once.
void SeedRandom();
// Runs every pass of the method's code on `target` (its disk must be the
// current disk, opened for writing) and returns 0. `page` may be null.
int32_t RunDeleteMethod(CWnd* page, DiskSelectionRecord& target, int32_t method);
// Runs the passes of an internal code (for the four offered methods through
// RunDeleteMethod).
int32_t RunWipeCode(CWnd* page, DiskSelectionRecord& target, int32_t code);
// One pass over the target; 0, also when stopped by DeleteAbortRequested.
int32_t WritePass(CWnd* page, DiskSelectionRecord& target, int32_t passCode);

// The chunk of a target on its disk in native sectors: the disk's sectors per
// track (at least 1), limited to what the chunk buffer holds.
uint32_t WipeChunkSectors(int32_t disk);
