// The clone's sector-by-sector engine on two simulated disks whose images
// hold real data (no holes on either side), beside dd doing the same work
// with the same durability on the same images:
//
//   clone_copy     the source's range copied onto the destination:
//     ours:RunRawPass   the engine of the sector-by-sector clone, blocks of
//         16 tracks (1008 units = 504 KiB), unbuffered handles, the next
//         block read while a thread writes the last one, the destination
//         flushed once at the end of the pass;
//     peer:dd           dd if=SOURCE of=DESTINATION bs=504K iflag=direct
//         oflag=direct conv=notrunc (direct I/O on both ends, as ours).
//   clone_verify   the verify pass over an identical copy:
//     ours:RunRawPass   reads both disks block by block and compares;
//     peer:dd           dd reads of the source and of the destination
//         (iflag=direct, bs=504K) one after the other, compares nothing.
//
// Before every pass both images' pages are written back and dropped, so
// every side reads from the device. After each copy pass the destination is
// compared with the source outside the timing. Target: 0.8x dd for the copy,
// 0.9x for the verify pass. DRUM_BENCH_CLONE_MIB sets the disk size in MiB
// (default 2048).
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

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
    if (!pc.add_disk(0, bytes) || !pc.add_disk(1, bytes) || !pc.boot()) {
      error = pc.error();
      return;
    }
    // The source holds data everywhere; the destination's blocks exist too.
    if (!Fill(pc.image(0), bytes, 11) || !Fill(pc.image(1), bytes, 12)) error = "the images could not be filled";
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
  bool same(benchmark::State& state) {
    if (bench::RunTool({"cmp", "-s", pc.image(0), pc.image(1)}) == 0) return true;
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

}  // namespace

int main(int argc, char** argv) {
  // The copy runs first, so the verify rows compare an identical pair.
  bench::Register("clone_copy", "peer:dd", PeerCopy)->Iterations(3);
  bench::Register("clone_copy", "ours:RunRawPass", OursCopy)->Iterations(3);
  bench::SetTargetVsPeer("clone_copy", 0.8);
  bench::Register("clone_verify", "peer:dd", PeerVerify)->Iterations(3);
  bench::Register("clone_verify", "ours:RunRawPass", OursVerify)->Iterations(3);
  bench::SetTargetVsPeer("clone_verify", 0.9);
  return bench::Main(argc, argv);
}
