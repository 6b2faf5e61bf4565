// The C runtime's stream calls on the simulated PC's paths: _wfopen and the
// calls the programs use on its result. The stream is our own CFile (never
// the host's FILE), built on CreateFileW handles, so it reaches every volume
// the file API does.
//
// Modes: "r", "w", "a", each with "+" and "b" or "t" ("rb", "wb", "wb+",
// "ab+", "r+b", "rt", ...). Text mode turns "\r\n" into "\n" on reading and
// "\n" into "\r\n" on writing. Wide text (fgetws, fputws, fwprintf) is UTF-16LE
// in binary mode and with ",ccs=UTF-16LE" or ",ccs=UNICODE" (a byte-order mark
// is skipped on reading and written first on a new file), UTF-8 with
// ",ccs=UTF-8", and single-byte Latin-1 otherwise (other characters become '?').
#pragma once

// The host headers come first: they name fclose as the deallocator of
// their own FILE, which our overloads must not make ambiguous.
#include <cstdio>
#include <cwchar>
#include <cstdlib>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/core/types.h"

namespace platform::fs {
class CFile;
}
using CFILE = platform::fs::CFile;

CFILE* _wfopen(const WCHAR* name, const WCHAR* mode);
int fclose(CFILE* stream);
size_t fread(void* buffer, size_t size, size_t count, CFILE* stream);
size_t fwrite(const void* buffer, size_t size, size_t count, CFILE* stream);
int fseek(CFILE* stream, long offset, int origin);
int _fseeki64(CFILE* stream, int64_t offset, int origin);
long ftell(CFILE* stream);
int64_t _ftelli64(CFILE* stream);
int feof(CFILE* stream);
int ferror(CFILE* stream);
int fflush(CFILE* stream);
int fgetc(CFILE* stream);
int fputc(int c, CFILE* stream);
char* fgets(char* buffer, int size, CFILE* stream);
int fputs(const char* text, CFILE* stream);
WCHAR* fgetws(WCHAR* buffer, int size, CFILE* stream);
int fputws(const WCHAR* text, CFILE* stream);
// Formats: %s (narrow), %ls and %S (wide), %c, %lc, %d, %i, %u, %x, %X, %ld, %lu,
// %lld, %llu, %I64d, %I64u, %%, with flags '-' and '0' and a width.
int fwprintf(CFILE* stream, const WCHAR* format, ...);
int fprintf(CFILE* stream, const char* format, ...);
