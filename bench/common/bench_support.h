// Shared pieces of the benchmarks: a scratch folder, a throw-away simulated PC
// with sparse disk images and file systems made by Debian's tools, peers run
// as child processes, aligned buffers, the rate counters, and a main() whose
// report ends with a side-by-side table of our code against its peer.
//
// Naming: every benchmark is registered as "WORK/SIDE" where SIDE starts with
// "ours:" (our code) or "peer:" (the Debian tool doing the same work on the
// same data), e.g. "disk_read_1MiB/ours:ReadFile" and "disk_read_1MiB/peer:dd".
// The closing table groups the runs by WORK and gives each of ours as a
// multiple of the work's first peer's rate (above 1.00x: ours is faster),
// and whether the work's target (SetTargetVsPeer, SetTargetRate) is met.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/types.h"

namespace bench {

// ---- host helpers ----------------------------------------------------------

// A fresh folder under $TMPDIR (else /tmp), removed with its contents at
// destruction. path() is empty when it could not be made.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Starts a host program (no shell) with stdin from /dev/null, stdout to
// `stdout_path` and stderr dropped, and waits for it. Returns its exit status,
// or -1 when it could not be started or did not exit normally. This is how a
// peer runs inside a timed loop: the time includes its start, as it would for
// anyone using the tool.
int RunTool(const std::vector<std::string>& argv, const std::string& stdout_path = "/dev/null");

// Writes `size` bytes of `data` to a host file (creating or replacing it).
bool WriteHostFile(const std::string& path, const void* data, size_t size);
// Copies a host file, keeping holes as holes.
bool CopySparse(const std::string& from, const std::string& to, std::string* error);
// Gives every hole of a file real blocks, so that neither side of a write
// benchmark pays for the host file system's block allocation.
bool AllocateFile(const std::string& path, std::string* error);

// Writes a file's dirty pages back to the disk, then (CacheState::Cold)
// drops all its pages from the host's page cache, so that the next pass of
// either side starts from the same state: nothing left to write back, and the
// data either cached (Warm) or on the disk only (Cold). Needs no privilege;
// other files' pages are untouched.
enum class CacheState { Warm, Cold };
bool SettleFile(const std::string& path, CacheState state, std::string* error);

// The resident set of this process now, in KiB (VmRSS of /proc/self/status;
// 0 when it cannot be read).
long CurrentRssKiB();

// A page-aligned buffer (as dd's own is, and as unbuffered handles need),
// filled with a deterministic pattern.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(size_t size, uint32_t seed = 1);
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool valid() const { return data_ != nullptr; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t size_;
};

// ---- the simulated PC ------------------------------------------------------

enum class FileSystem { Fat32, Ntfs };

// A throw-away simulated PC in a scratch folder, set up as the tests set one
// up: machine folder, disks listed in machine.ini with sparse images, a
// one-partition MBR per disk, a file system made by mkfs.fat or mkntfs, then
// Boot() makes it the current machine (the mount manager scans it and gives
// its volumes letters). The clock is virtual. One at a time per process.
class BenchPc {
 public:
  BenchPc();
  ~BenchPc();
  BenchPc(const BenchPc&) = delete;
  BenchPc& operator=(const BenchPc&) = delete;

  // Empty when the machine folder was made; else what went wrong.
  const std::string& error() const { return error_; }
  bool ok() const { return error_.empty(); }
  const std::string& folder() const { return folder_; }
  std::string image(int disk) const;

  // Lists a disk with a sparse image of `size` bytes.
  bool add_disk(int disk, uint64_t size, uint32_t sector_size = 512);
  // Writes a one-partition MBR at [offset, offset + length) bytes and makes
  // the file system in it (FAT32 with 4 KiB clusters, or NTFS).
  bool add_volume(int disk, uint64_t offset, uint64_t length, FileSystem fs);
  // Opens the folder as the current machine and scans its disks.
  bool boot();
  // The letter of the first volume on `disk`, or 0 (error() says why).
  WCHAR letter_of(int disk);

 private:
  bool fail(const std::string& message);

  ScratchFolder scratch_;
  std::string folder_;
  std::string error_;
  std::vector<std::pair<int, uint32_t>> sector_sizes_;
};

// ---- counters and the report -----------------------------------------------

// Byte and item rates: benchmark::Counter with kIsRate, so the report shows
// bytes (or files) per second of real time.
void SetByteRate(benchmark::State& state, uint64_t bytes_per_iteration);
void SetFileRate(benchmark::State& state, uint64_t files_per_iteration);

// Registers "WORK/SIDE" timed in real time (a peer's work happens in another
// process, so CPU time would miss it).
benchmark::internal::Benchmark* Register(const std::string& work, const std::string& side,
                                         std::function<void(benchmark::State&)> body);
// The same, timed by the body itself (state.SetIterationTime each
// iteration): for runs that must leave out a part they cannot help doing,
// such as a program's start-up measured apart.
benchmark::internal::Benchmark* RegisterManualTime(const std::string& work, const std::string& side,
                                                   std::function<void(benchmark::State&)> body);

// The goal a work item is held to, printed in the closing table beside each
// of our rows: at least `ratio` times the work's peer (its first "peer:" row;
// further peers are shown for information), or at least `rate` in the row's
// own unit (MiB/s, items/s) where no peer is meant. WORK is the name given to
// Register, without any argument suffix.
void SetTargetVsPeer(const std::string& work, double ratio);
void SetTargetRate(const std::string& work, double rate);

// The command line a peer side runs, as a reader would type it (names of
// scratch files as SOURCE, DESTINATION ...): printed under the closing table
// and written with the rows (below). SIDE as registered ("peer:dd").
void SetPeerCommand(const std::string& work, const std::string& side, const std::string& command);

// Asks Main to run the benchmarks' repetitions in a random interleaved order
// unless the command line says otherwise
// (--benchmark_enable_random_interleaving=false): for works whose sides
// share a host disk, so that none of them always runs right after another
// side's writes while the host is still writing them back.
void InterleaveRunsByDefault();

// A fixture shared by the benchmarks of one program: made on first use, and
// destroyed by Main after the last benchmark, while the platform still stands
// (a function-local static would outlive the platform's own state).
void DestroyAtFinish(std::function<void()> destroy);
template <class T>
T& Shared() {
  static T* object = [] {
    T* made = new T();
    DestroyAtFinish([made] { delete made; });
    return made;
  }();
  return *object;
}

// Runs the benchmarks selected on the command line with the console report,
// then prints the side-by-side table; also appends the table to the file
// named by $DRUM_BENCH_TABLE when set (scripts/bench gathers them there),
// and one line per row to the file named by $DRUM_BENCH_ROWS when set, for
// scripts that pick rows out: tab-separated WORK, SIDE, rate, unit, ratio to
// the work's peer ("peer" for the peer itself, "-" when none), target
// verdict, peer command ("-" when none).
int Main(int argc, char** argv);

}  // namespace bench
