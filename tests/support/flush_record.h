// What a program does to one image file, seen from the C library's side: a
// test program linked with this library stands in for pwrite, fdatasync and
// fsync (the platform's only ways to write and flush an image) and counts,
// while the recorder is on, the writes to the watched file and its flushes.
#pragma once

#include <atomic>
#include <string>

namespace flush_record {

extern std::atomic<bool> on;
extern int writes;              // writes to the watched file
extern int flushes;             // its flushes, failed ones included
extern int writes_since_flush;  // writes no successful flush has covered yet

// Watches `path` from now on, the counts zeroed. A flush that follows at
// least `fail_from` writes since the last successful one fails with EIO
// (0: every flush fails; -1: none does).
void start(const std::string& path, int fail_from = -1);

}  // namespace flush_record
