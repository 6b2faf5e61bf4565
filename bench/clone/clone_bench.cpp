// The sector-by-sector clone on two simulated disks whose images hold real
// data (no holes on either side; the source has an MBR and a FAT32 volume,
// as a disk in use has), beside dd doing the same work with the same
// durability on the same images. Before every pass both images' pages are
// written back and dropped, so every side reads from the device.
//
// What the user waits for: the whole program, against whole dd processes.
//   sector_clone_copy_process     the source disk copied onto the destination:
//     ours:drummetworks   the program run headless (--script) through the
//         clone wizard: Duplicate, disk 0, sector by sector, disk 1, no
//         verify, Start, the result, the summary; timed from its start to
//         its exit, less a run that starts the program and quits it (its
//         start-up), measured in the same iteration;
//     peer:dd   dd if=SOURCE of=DESTINATION bs=504K iflag=direct
//         oflag=direct conv=notrunc (direct I/O on both ends, as ours).
//   sector_clone_verify_process   the verify pass over the fresh copy:
//     ours:drummetworks   the same run with verify after copying, less the
//         copy-only run (both in the same iteration): the verify pass and
//         nothing else;
//     peer:dd   dd if=SOURCE of=/dev/null bs=504K iflag=direct, then the
//         same of DESTINATION: one disk after the other, as the measure of
//         record does; compares nothing;
//     peer:dd-both-at-once   the same two dd processes started together
//         (shown for information: ours reads both disks at once).
// The engine alone, in this process (what the rows above add is the
// program around it):
//   clone_copy     ours:RunRawPass   the copy pass of the sector clone,
//         blocks of 16 tracks (1008 units = 504 KiB), unbuffered handles, the
//         next block read while a thread writes the last one, the
//         destination flushed once at the end; peer:dd as above.
//   clone_verify   ours:RunRawPass   the verify pass: both disks read at once
//         in spans of 8 blocks, the next span read while the last is
//         compared; peer:dd the two reads one after the other.
//
// After each copy the destination is compared with the source outside the
// timing. Every side runs 3 times 2 iterations, the sides' runs interleaved
// in a random order; the table gives medians. Targets: 0.95x dd for the whole
// program's rows, 0.8x and 0.9x for the engine's. DRUM_BENCH_CLONE_MIB sets
// the disk size in MiB (default 2048).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "bench/clone/clone_bench_support.h"
#include "bench/common/bench_support.h"
#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/clone/raw_copy.h"
#include "mainapp/records/clone_run_state.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr int32_t kBlockUnits = 1008;

uint64_t DiskBytes() { return clone_bench::MiBFromEnvironment("DRUM_BENCH_CLONE_MIB", 2048); }

struct Disks {
  bench::BenchPc pc;
  std::string error;

  Disks() {
    const uint64_t bytes = DiskBytes();
    if (!pc.add_disk(0, bytes) || !pc.add_disk(1, bytes)) {
      error = pc.error();
      return;
    }
    // The source holds data everywhere, under an MBR and a FAT32 volume; the
    // destination's blocks exist too.
    if (!Fill(pc.image(0), bytes, 11) || !Fill(pc.image(1), bytes, 12)) {
      error = "the images could not be filled";
      return;
    }
    if (!pc.add_volume(0, kMiB, bytes - kMiB, bench::FileSystem::Fat32) || !pc.boot()) {
      error = pc.error();
      return;
    }
    ReadDiskGeometry(0);
    ReadDiskGeometry(1);
  }
  static bool Fill(const std::string& path, uint64_t bytes, uint32_t seed) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) return false;
    bench::AlignedBuffer chunk(kMiB, seed);
    bool ok = true;
    for (uint64_t at = 0; ok && at < bytes; at += kMiB) {
      std::memcpy(chunk.data(), &at, sizeof at);  // no two MiB alike
      ok = pwrite(fd, chunk.data(), kMiB, static_cast<off_t>(at)) == static_cast<ssize_t>(kMiB);
    }
    return ::close(fd) == 0 && ok;
  }
  // The destination without a partition table, so that the wizard finds it
  // as an empty disk (no question before overwriting it) in every run.
  bool blank_destination() {
    identical = false;
    const int fd = ::open(pc.image(1).c_str(), O_WRONLY);
    if (fd < 0) return false;
    bench::AlignedBuffer sector(4096, 13);
    const bool ok = pwrite(fd, sector.data(), sector.size(), 0) == static_cast<ssize_t>(sector.size());
    return ::close(fd) == 0 && ok;
  }
  bool ready(benchmark::State& state) {
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return false;
    }
    std::string why;
    for (int n : {0, 1})
      if (!bench::SettleFile(pc.image(n), bench::CacheState::Cold, &why)) {
        state.SkipWithError(why.c_str());
        return false;
      }
    return true;
  }
  // Whether the destination holds a whole copy of the source (the engine's
  // verify rows need one; dd's copy leaves the part past its last whole
  // block as it was).
  bool identical = false;
  bool same(benchmark::State& state) {
    identical = bench::RunTool({"cmp", "-s", pc.image(0), pc.image(1)}) == 0;
    if (identical) return true;
    state.SkipWithError("the destination differs from the source after the copy");
    return false;
  }
  RawRange range() const { return RawRange{0, 1, 0, 0, DiskBytes() / 512}; }
  std::string dd_count() const { return "count=" + std::to_string(DiskBytes() / (kBlockUnits * 512)); }
};

void OursCopy(benchmark::State& state) {
  Disks& d = bench::Shared<Disks>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!d.ready(state)) break;
    CloneRunState.cloneAborted = 0;
    state.ResumeTiming();
    const RawPassResult r = RunRawPass(nullptr, d.range(), RawPass::Copy, kBlockUnits, nullptr, nullptr);
    state.PauseTiming();
    if (!r.started || r.failedWrites || !d.same(state)) break;
    state.ResumeTiming();
  }
  bench::SetByteRate(state, DiskBytes());
}

void PeerCopy(benchmark::State& state) {
  Disks& d = bench::Shared<Disks>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!d.ready(state)) break;
    state.ResumeTiming();
    const int status = bench::RunTool({"dd", "if=" + d.pc.image(0), "of=" + d.pc.image(1), "bs=504K",
                                       "iflag=direct", "oflag=direct", "conv=notrunc", d.dd_count()});
    state.PauseTiming();
    if (status != 0) state.SkipWithError("dd failed");
    state.ResumeTiming();
  }
  bench::SetByteRate(state, DiskBytes());
}

void OursVerify(benchmark::State& state) {
  Disks& d = bench::Shared<Disks>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!d.ready(state)) break;
    CloneRunState.cloneAborted = 0;
    if (!d.identical && !RunRawPass(nullptr, d.range(), RawPass::Copy, kBlockUnits, nullptr, nullptr).started) break;
    d.identical = true;
    if (!d.ready(state)) break;
    CloneRunState.verifyMismatchCount = 0;
    state.ResumeTiming();
    const RawPassResult r = RunRawPass(nullptr, d.range(), RawPass::Verify, kBlockUnits, nullptr, nullptr);
    state.PauseTiming();
    if (!r.started || r.mismatchedBlocks || CloneRunState.verifyMismatchCount)
      state.SkipWithError("the verify pass found a difference on an identical copy");
    state.ResumeTiming();
  }
  bench::SetByteRate(state, 2 * DiskBytes());
}

void PeerVerify(benchmark::State& state) {
  Disks& d = bench::Shared<Disks>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!d.ready(state)) break;
    state.ResumeTiming();
    int status = 0;
    for (int n : {0, 1})
      status |= bench::RunTool({"dd", "if=" + d.pc.image(n), "of=/dev/null", "bs=504K", "iflag=direct", d.dd_count()});
    state.PauseTiming();
    if (status != 0) state.SkipWithError("dd failed");
    state.ResumeTiming();
  }
  bench::SetByteRate(state, 2 * DiskBytes());
}

// ---- the whole program --------------------------------------------------

#ifndef DRUMMETWORKS_PATH
#define DRUMMETWORKS_PATH ""
#endif

double Seconds(const std::function<int()>& run, int* status) {
  const auto start = std::chrono::steady_clock::now();
  *status = run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Scripts for the headless runs: start-up only, the sector clone, the sector
// clone with verify (the options page's verify box, 1032).
std::string Script(const Disks& d, const std::string& name, bool clone, bool verify) {
  const std::string path = d.pc.folder() + "/" + name + ".script";
  std::ofstream out(path);
  out << "expect dialog 102\n";
  if (clone) {
    out << "menu 32771\nexpect dialog 130\ntick 1027 \"Disk 0 \"\nclick 1009\nclick 1007\n"
           "expect dialog 134\ntick 1027 \"Disk 1:\"\nclick 1007\nexpect dialog 136\n";
    if (verify) out << "click 1032\n";
    out << "click 1007\nexpect dialog 191\nclick 1011\nanswer ok\nexpect dialog 138\nkey escape\n"
           "expect dialog 102\n";
  }
  out << "menu 32775\n";
  return path;
}

// One headless run of the program on the disks' machine; its time in
// seconds, or a negative number when it failed (then `why` says so).
double RunProgram(Disks& d, const std::string& script, bool cold, std::string* why) {
  if (!d.blank_destination()) {
    *why = "the destination could not be blanked";
    return -1;
  }
  if (cold)
    for (int n : {0, 1})
      if (!bench::SettleFile(d.pc.image(n), bench::CacheState::Cold, why)) return -1;
  int status = 0;
  const double seconds = Seconds(
      [&] {
        return bench::RunTool({DRUMMETWORKS_PATH, "--machine", d.pc.folder(), "--ui", "headless", "--script", script,
                               "--log", d.pc.folder() + "/run.log"});
      },
      &status);
  if (status != 0) {
    *why = "drummetworks failed on " + script + " (see " + d.pc.folder() + "/run.log)";
    return -1;
  }
  return seconds;
}

bool HaveProgram(benchmark::State& state) {
  if (*DRUMMETWORKS_PATH) return true;
  state.SkipWithError("built without the drummetworks program");
  return false;
}

// Our side of a process row: each iteration runs `baseline`, then
// `measured`, and counts the difference (what `measured` does beyond it).
void ProgramRow(benchmark::State& state, const std::string& baseline, bool coldBaseline, const std::string& measured,
                uint64_t bytes) {
  Disks& d = bench::Shared<Disks>();
  if (!HaveProgram(state) || !d.ready(state)) return;
  for (auto _ : state) {
    std::string why;
    const double before = RunProgram(d, baseline, coldBaseline, &why);
    const double whole = before < 0 ? -1 : RunProgram(d, measured, true, &why);
    if (whole < 0 || !d.same(state)) {
      if (!why.empty()) state.SkipWithError(why.c_str());
      break;
    }
    state.SetIterationTime(std::max(whole - before, 1e-6));
  }
  bench::SetByteRate(state, bytes);
}

// The start-up alone, then the copy: the copy net of the start-up.
void ProgramCopy(benchmark::State& state) {
  Disks& d = bench::Shared<Disks>();
  ProgramRow(state, Script(d, "startup", false, false), false, Script(d, "sector-copy", true, false), DiskBytes());
}

// The copy alone, then the copy with verify: the verify pass alone.
void ProgramVerify(benchmark::State& state) {
  Disks& d = bench::Shared<Disks>();
  ProgramRow(state, Script(d, "sector-copy", true, false), true, Script(d, "sector-copy-verify", true, true),
             2 * DiskBytes());
}

// A peer's side of a process row: `run` timed whole, on cold images.
void PeerRow(benchmark::State& state, const std::function<int(Disks&)>& run, uint64_t bytes) {
  Disks& d = bench::Shared<Disks>();
  for (auto _ : state) {
    if (!d.ready(state)) break;
    int status = 0;
    const double seconds = Seconds([&] { return run(d); }, &status);
    if (status != 0) {
      state.SkipWithError("dd failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
  bench::SetByteRate(state, bytes);
}

void PeerProcessCopy(benchmark::State& state) {
  PeerRow(
      state,
      [](Disks& d) {
        return bench::RunTool({"dd", "if=" + d.pc.image(0), "of=" + d.pc.image(1), "bs=504K", "iflag=direct",
                               "oflag=direct", "conv=notrunc", d.dd_count()});
      },
      DiskBytes());
}

std::vector<std::string> DdRead(const Disks& d, int disk) {
  return {"dd", "if=" + d.pc.image(disk), "of=/dev/null", "bs=504K", "iflag=direct", d.dd_count()};
}

void PeerProcessVerify(benchmark::State& state, bool atOnce) {
  PeerRow(
      state,
      [atOnce](Disks& d) {
        if (!atOnce) return bench::RunTool(DdRead(d, 0)) | bench::RunTool(DdRead(d, 1));
        int other = 0;
        std::thread second([&] { other = bench::RunTool(DdRead(d, 1)); });
        const int first = bench::RunTool(DdRead(d, 0));
        second.join();
        return first | other;
      },
      2 * DiskBytes());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The host disk's speed moves with what else runs on the machine: the
  // sides take turns, in a random order, and the table gives medians.
  bench::InterleaveRunsByDefault();
  // The whole program first: what the user waits for.
  const std::string ddCopy = "dd if=SOURCE of=DESTINATION bs=504K iflag=direct oflag=direct conv=notrunc";
  const std::string ddRead = "dd if=SOURCE of=/dev/null bs=504K iflag=direct; dd if=DESTINATION of=/dev/null bs=504K iflag=direct";
  bench::RegisterManualTime("sector_clone_copy_process", "peer:dd", PeerProcessCopy)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::RegisterManualTime("sector_clone_copy_process", "ours:drummetworks", ProgramCopy)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::SetTargetVsPeer("sector_clone_copy_process", 0.95);
  bench::SetPeerCommand("sector_clone_copy_process", "peer:dd", ddCopy);
  bench::RegisterManualTime("sector_clone_verify_process", "peer:dd",
                            [](benchmark::State& state) { PeerProcessVerify(state, false); })
      ->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::RegisterManualTime("sector_clone_verify_process", "peer:dd-both-at-once",
                            [](benchmark::State& state) { PeerProcessVerify(state, true); })
      ->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::RegisterManualTime("sector_clone_verify_process", "ours:drummetworks", ProgramVerify)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::SetTargetVsPeer("sector_clone_verify_process", 0.95);
  bench::SetPeerCommand("sector_clone_verify_process", "peer:dd", ddRead + " (one after the other)");
  bench::SetPeerCommand("sector_clone_verify_process", "peer:dd-both-at-once", ddRead + " (both started together)");
  // The engine's verify rows copy first (untimed) when the pair is not identical.
  bench::Register("clone_copy", "peer:dd", PeerCopy)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::Register("clone_copy", "ours:RunRawPass", OursCopy)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::SetTargetVsPeer("clone_copy", 0.8);
  bench::SetPeerCommand("clone_copy", "peer:dd", ddCopy);
  bench::Register("clone_verify", "peer:dd", PeerVerify)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::Register("clone_verify", "ours:RunRawPass", OursVerify)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::SetTargetVsPeer("clone_verify", 0.9);
  bench::SetPeerCommand("clone_verify", "peer:dd", ddRead + " (one after the other)");
  return bench::Main(argc, argv);
}
