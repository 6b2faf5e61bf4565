// The texts of the secure deletion shared by its pages and report: the
// methods' names and descriptions, the target's description, and the hex
// dump line of the report (and of the sector viewer).
#pragma once

#include <cstdint>

#include "mainapp/records/disk_selection.h"
#include "platform/core/cstring.h"

// For n = 1 to 4 the texts of "IDS_algonameN", "IDS_algosmalldescN" and
// "IDS_algodescN"; empty for any other n. Method index i has number i + 1.
CString GetAlgoName(int32_t n);
CString GetAlgoSmallDesc(int32_t n);
CString GetAlgoDesc(int32_t n);

// The target's size in 512-byte units (its count is in native sectors).
uint64_t TargetSizeUnits(const DiskSelectionRecord& target);

// The target as the progress page shows it: "Disk N model size",
// "Partition (#start) FS size" or "Partition (L:) FS size".
CString DeletionTargetText(const DiskSelectionRecord& target);
// The target as the summary and report show it, with a trailing blank:
// "Disk N model " or "Partition (L:) FS ".
CString DeletionReportTargetText(const DiskSelectionRecord& target);

constexpr int kHexLineColumns = 85;
constexpr int kHexOffsetDigits = 10;      // the offset column below 2^40 bytes
constexpr int kHexOffsetMostDigits = 16;  // any 64-bit offset
// The offset digits the dumps of a disk or partition of `bytes` need, so
// that every line of it has the same width: 10, or more from 2^40 bytes on.
int HexOffsetDigits(uint64_t bytes);
// One dump line of 85 characters (and a terminating zero in line[85]) for
// data[offset .. offset + 15]: the byte offset sector x 512 + offset in
// lower-case hex, right-aligned in `digits` columns (10 to 16, from
// HexOffsetDigits), two blanks, 16 hex pairs each followed by a blank, two
// blanks, the 16 bytes as printable characters ('.' outside 0x20..0x7E),
// blanks to the end. With 10 digits the hex pairs start at column 12 and
// the characters at 61; each further digit moves both one column right.
void FormatHexLine(WCHAR (&line)[kHexLineColumns + 1], const uint8_t* data, uint32_t offset, uint64_t sector,
                   int digits = kHexOffsetDigits);
