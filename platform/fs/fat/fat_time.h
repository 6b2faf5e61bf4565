// Conversion between FILETIME ticks (100 ns since 1601-01-01 UTC) and the DOS
// date and time fields of a directory entry. FAT keeps local time; the caller
// passes the offset of local time from UTC in minutes (0 keeps UTC).
#pragma once

#include <cstdint>

namespace platform::fs::fat {

struct DosTime {
  uint16_t date = 0;        // bits 15-9 year - 1980, 8-5 month, 4-0 day; 0 means "not kept"
  uint16_t time = 0;        // bits 15-11 hours, 10-5 minutes, 4-0 seconds / 2
  uint8_t hundredths = 0;   // creation time only: 10 ms units, 0..199
};

// Times before 1980-01-01 and after 2107-12-31 23:59:58 are clamped to the range.
DosTime ToDosTime(uint64_t filetime, int32_t local_offset_minutes);
// A zero or invalid date gives 0 ("not kept").
uint64_t FromDosTime(const DosTime& t, int32_t local_offset_minutes);

}  // namespace platform::fs::fat
