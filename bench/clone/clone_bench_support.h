// Pieces the clone's whole-run benchmarks share: an NTFS source filled with a
// mix of large and small files through the simulated PC, an emptied
// destination, and one-click copy run headless through the clone page.
#pragma once

#include <cstdint>
#include <string>

#include "bench/common/bench_support.h"

namespace clone_bench {

// The size in bytes that the environment variable `name` gives in MiB, or
// `fallbackMiB` MiB when it is unset, empty or zero.
uint64_t MiBFromEnvironment(const char* name, uint64_t fallbackMiB);

// Where the benchmarks' single partition starts on a disk, in bytes.
constexpr uint64_t kVolumeStart = 1ull << 20;

// Writes about `bytes` of files onto the first volume of `disk`: three
// quarters in 8 large files, a quarter in small files of 16 to 112 KiB, 100
// to a folder. Every file's bytes differ from every other's. The drivers
// are let go afterwards, so the data is on the image.
bool FillVolume(bench::BenchPc& pc, int disk, uint64_t bytes, std::string* error);

// Writes one file of about `bytes` (whole 64 KiB pieces) onto the first
// volume of `disk`, and lets the drivers go as FillVolume does.
bool FillVolumeWithOneFile(bench::BenchPc& pc, int disk, uint64_t bytes, std::string* error);

// Makes disk `disk` all holes again (no table, no data) and has the PC scan
// it anew, so one-click copy finds it as a new empty disk.
bool EmptyDisk(bench::BenchPc& pc, int disk, std::string* error);

// One-click copy of the PC's disk with letters onto its empty disk, through
// the clone page played headless (Start, the result message, the summary).
// Empty when the run ended with the copy completed; else what went wrong.
std::string RunOneClickCopy();

}  // namespace clone_bench
