#include "mainapp/wipe/deletion_texts.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

namespace {

CString AlgoText(const char16_t* prefix, int32_t n) {
  if (n < 1 || n > 4) return CString();
  CString key(prefix);
  key += IntToText(n);
  return LookupString(key);
}

CString PartitionHead(const DiskSelectionRecord& target) {
  CString text = LookupString(u"IDS_Partition");
  text += u" (";
  text += target.driveLetter ? target.driveLetter : u' ';
  text += u":) ";
  text += CString(target.fileSystemName);
  return text;
}

// "Disk N model". The disk word carries a trailing blank of its own (the
// copy status lines join it straight to the number): one blank is enough.
CString DiskHead(const DiskSelectionRecord& target) {
  CString text = LookupString(u"IDS_Disk");
  text.TrimRight();
  text += u" ";
  text += IntToText(target.diskNumber.value);
  text += u" ";
  text += CString(target.model);
  return text;
}

}  // namespace

uint64_t TargetSizeUnits(const DiskSelectionRecord& target) {
  const int32_t m = SectorMultiplierOf(target.diskNumber.value);
  return target.sectorCount * static_cast<uint64_t>(m > 0 ? m : 1);
}

CString GetAlgoName(int32_t n) { return AlgoText(u"IDS_algoname", n); }
CString GetAlgoSmallDesc(int32_t n) { return AlgoText(u"IDS_algosmalldesc", n); }
CString GetAlgoDesc(int32_t n) { return AlgoText(u"IDS_algodesc", n); }

CString DeletionTargetText(const DiskSelectionRecord& target) {
  CString text;
  if (target.kind == kSelectionWholeDisk) {
    text = DiskHead(target);
  } else if (target.driveLetter == u' ' || target.driveLetter == 0) {
    text = LookupString(u"IDS_Partition");
    text += u" (#";
    text += Int64ToText(static_cast<int64_t>(target.startSector));
    text += u") ";
    text += CString(target.fileSystemName);
  } else {
    text = PartitionHead(target);
  }
  text += u" ";
  text += FormatSectorCount(TargetSizeUnits(target));
  return text;
}

CString DeletionReportTargetText(const DiskSelectionRecord& target) {
  CString text;
  if (target.kind == kSelectionWholeDisk) {
    text = DiskHead(target);
  } else {
    text = PartitionHead(target);
  }
  text += u" ";
  return text;
}

int HexOffsetDigits(uint64_t bytes) {
  int digits = 1;
  for (uint64_t last = bytes > 0 ? bytes - 1 : 0; last >>= 4;) ++digits;
  return std::clamp(digits, kHexOffsetDigits, kHexOffsetMostDigits);
}

void FormatHexLine(WCHAR (&line)[kHexLineColumns + 1], const uint8_t* data, uint32_t offset, uint64_t sector,
                   int digits) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  digits = std::clamp(digits, kHexOffsetDigits, kHexOffsetMostDigits);
  // Wider offsets move the columns after them right; the last character of
  // the widest line (column 76 + 6) stays inside the 85 columns.
  const int shift = digits - kHexOffsetDigits;
  for (int c = 0; c < kHexLineColumns; ++c) line[c] = u' ';
  line[kHexLineColumns] = 0;
  uint64_t v = sector * 512 + offset;
  for (int c = digits - 1; c >= 0; --c, v >>= 4) line[c] = kDigits[v & 15];
  for (int k = 0; k < 16; ++k) {
    const uint8_t b = data[offset + k];
    line[shift + 12 + 3 * k] = kDigits[b >> 4];
    line[shift + 13 + 3 * k] = kDigits[b & 15];
    line[shift + 61 + k] = (b >= 0x20 && b <= 0x7E) ? static_cast<WCHAR>(b) : u'.';
  }
}
