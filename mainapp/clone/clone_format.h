// Formatting for the clone: every new partition of a whole-disk clone gets a
// drive letter and an empty file system before its files are copied in, and
// one volume is formatted on request (the single-partition clone). Under
// Windows the format runs on the volume formatter's worker thread while the
// clone page is polled; under WinPE a one-line format script runs.
//
// A format reports success only when the formatter says so. Cancel during a
// format is cooperative: the worker finishes its format undisturbed and the
// poll returns once it has ended, with the run's abort flag set.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"

class CWnd;
struct FormatRequestRecord;

// Start sector (512-byte units) of the partition being formatted, all bits
// set when none; the clone page's destination bar labels it.
extern uint64_t FormattingMarker;

// Non-zero when the volume was formatted, or the run was aborted while it
// was; 0 when the format could not be started or failed.
int32_t FormatVolumeForClone(CWnd* page, FormatRequestRecord* request);

// Gives every planned partition of the layout table that needs one a letter
// and a format. True when every started format succeeded (also when the run
// was aborted); false after "IDS_cannotformat" was shown.
bool FormatNewPartitions(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);

// The format command of the WinPE script: "format X: /FS:NTFS /q" and its
// kin for file-system code `code`.
void WinPEFormatCommand(char16_t letter, int32_t code, char* out, int size);
