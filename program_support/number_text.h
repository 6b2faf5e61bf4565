// Size texts and number texts shared by every list, bar and summary.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// Size text of count 512-byte units: "%d Byte" below 1 KiB; "%d KB" with the
// KiB count rounded below 1 MiB; else MB, GB or TB (quotients taken in single
// precision, one unit after another) as "%d X" when whole, "%4.2f X" otherwise.
CString FormatSectorCount(uint64_t count);

CString IntToText(int32_t value);         // "%d"
CString ByteToText(int32_t value);        // "%d" of the low 8 bits
CString Int64ToText(int64_t value);       // "%lld"

// An elapsed or remaining time of the progress pages as CTimeSpan's
// "%H:%M:%S" (the hours within the day); a negative count reads 00:00:00.
CString DurationText(int64_t seconds);

// Decimal parses as the C library does them (leading blanks, a sign, digits up
// to the first non-digit; 0 when the text does not start with a number).
// TextToInt reads the low byte of at most 99 characters, TextToInt64 of at
// most 31. Values out of range saturate instead of overflowing.
int32_t TextToInt(const CString& text);
int64_t TextToInt64(const CString& text);
int32_t TextToLong(const CString& text);

// Copies the text's characters, without a terminator, into a buffer of
// `capacity` characters; returns how many were copied (the text's length when
// it fits). An empty text copies nothing and returns 0.
int32_t CopyTextToBuffer(const CString& text, WCHAR* buffer, int32_t capacity);
// The low byte of each of at most n characters, up to the source's own
// terminator, then a 0 byte: `destination` holds n + 1.
void WideToNarrow(const WCHAR* source, char* destination, int32_t n);
// Each of n bytes widened as a signed 8-bit value (0x80..0xFF become
// 0xFF80..0xFFFF), then a 0 character: `destination` holds n + 1.
void NarrowToWide(const char* source, WCHAR* destination, int32_t n);
