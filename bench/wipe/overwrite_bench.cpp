// The secure deletion's overwrite engine beside dd and shred, each pass over
// the same whole-disk image of a simulated PC:
//
//   wipe_zero_<N>MiB     ours: the zero method (RunWipeCode, one zero pass)
//                        over disk 1 as the deletion run opens it;
//                        peer: dd if=/dev/zero bs=256K oflag=direct
//                        conv=notrunc,fsync (the first peer, the target's
//                        reference); peer: shred -n0 -z (one zero pass).
//   wipe_random_<N>MiB   ours: one random pass (fresh random data per chunk);
//                        peer: dd if=/dev/urandom bs=1M oflag=direct
//                        conv=notrunc,fsync iflag=fullblock; peer: shred -n1
//                        (one random pass).
//
// Every pass ends durable on every side (our pass writes through an
// unbuffered handle and flushes the disk at its end; dd syncs; shred syncs
// after its pass). Before each pass the image is given real blocks again and
// settled outside the timing, so no side pays for block allocation or another
// side's write-back. Like with like: every side writes every byte of the span
// to the medium (zeros included: the platform writes zeros over stored bytes
// in place, as dd does), and after each of our passes the image must still
// have every block it had (a pass that gave blocks back instead of writing
// them is skipped as an error, not timed as a win).
//
// Memory: each of our rows reports how far the resident set grew during the
// pass (rss_growth_MiB, from /proc/self/status); it should stay the same for
// every disk size, the engine holding one 256 KiB chunk buffer whatever the
// disk's size.
//
// Options (environment): DRUM_BENCH_WIPE_MIB disk sizes in MiB (default
// "512,1024,2048"). Targets: the zero pass at least 0.9x dd's, the random
// pass at least 0.8x dd's.
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "bench/common/bench_support.h"
#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/overwrite_engine.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;

std::vector<uint64_t> DiskSizesMiB() {
  std::vector<uint64_t> sizes;
  const char* text = std::getenv("DRUM_BENCH_WIPE_MIB");
  std::stringstream list(text && *text ? text : "512,1024,2048");
  std::string item;
  while (std::getline(list, item, ','))
    if (uint64_t v = std::strtoull(item.c_str(), nullptr, 10)) sizes.push_back(v);
  return sizes;
}

// One simulated PC per disk size: disk 0 a small system disk, disk 1 the
// target of the given size.
struct WipePc {
  bench::BenchPc pc;
  uint64_t bytes = 0;
  explicit WipePc(uint64_t size) {
    if (pc.ok() && pc.add_disk(0, 8 * kMiB) && pc.add_disk(1, size) && pc.boot()) bytes = size;
  }
  bool ready(benchmark::State& state) {
    if (!bytes) state.SkipWithError(("the PC could not be made: " + pc.error()).c_str());
    return bytes != 0;
  }
  // Real blocks under the whole image, nothing dirty: the state every pass starts from.
  bool settle(benchmark::State& state) {
    std::string error;
    if (!bench::AllocateFile(pc.image(1), &error) || !bench::SettleFile(pc.image(1), bench::CacheState::Cold, &error)) {
      state.SkipWithError(error.c_str());
      return false;
    }
    return true;
  }
};

WipePc& PcOf(uint64_t size) {
  static std::vector<std::pair<uint64_t, WipePc*>> made;
  for (auto& [s, pc] : made)
    if (s == size) return *pc;
  // One machine is current at a time: the PC of another size is let go first.
  for (auto& entry : made) {
    delete entry.second;
    entry.second = nullptr;
  }
  made.clear();
  auto* pc = new WipePc(size);
  made.emplace_back(size, pc);
  bench::DestroyAtFinish([] {
    for (auto& entry : made) delete entry.second;
    made.clear();
  });
  return *pc;
}

void Ours(benchmark::State& state, uint64_t size, int32_t code) {
  WipePc& w = PcOf(size);
  if (!w.ready(state)) return;
  SeedRandom();
  double growth = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!w.settle(state)) break;
    DiskContext.ioErrorCount = 0;
    DeleteAbortRequested = 0;
    state.ResumeTiming();
    const long before = bench::CurrentRssKiB();
    ReadDiskGeometry(1);
    OpenDiskForBulkWrites(1);  // as the running page opens it
    DiskSelectionRecord target{};
    target.diskNumber = PhysicalDiskNumber{1};
    target.kind = kSelectionWholeDisk;
    target.startSector = 0;
    target.sectorCount = size / 512;
    RunWipeCode(nullptr, target, code);
    CloseCurrentDisk();
    growth = std::max(growth, static_cast<double>(bench::CurrentRssKiB() - before) / 1024);
    if (DiskContext.ioErrorCount) {
      state.SkipWithError("the pass counted write errors");
      break;
    }
    state.PauseTiming();
    struct stat st {};
    const bool whole = ::stat(w.pc.image(1).c_str(), &st) == 0 && static_cast<uint64_t>(st.st_blocks) * 512 >= size;
    state.ResumeTiming();
    if (!whole) {
      state.SkipWithError("the pass left holes in the image instead of writing its bytes");
      break;
    }
  }
  state.counters["rss_growth_MiB"] = growth;
  bench::SetByteRate(state, size);
}

void Peer(benchmark::State& state, uint64_t size, std::vector<std::string> argv) {
  WipePc& w = PcOf(size);
  if (!w.ready(state)) return;
  for (std::string& a : argv)
    if (a == "IMAGE") a = w.pc.image(1);
    else if (a == "OF") a = "of=" + w.pc.image(1);
  for (auto _ : state) {
    state.PauseTiming();
    if (!w.settle(state)) break;
    state.ResumeTiming();
    if (bench::RunTool(argv) != 0) {
      state.SkipWithError((argv[0] + " failed").c_str());
      break;
    }
  }
  bench::SetByteRate(state, size);
}

void RegisterAll() {
  for (uint64_t mib : DiskSizesMiB()) {
    const uint64_t size = mib * kMiB;
    const std::string blocks = std::to_string(size / (256 * 1024));
    const std::string zero = "wipe_zero_" + std::to_string(mib) + "MiB";
    const std::string random = "wipe_random_" + std::to_string(mib) + "MiB";
    bench::Register(zero, "peer:dd_zero_direct", [=](benchmark::State& s) {
      Peer(s, size, {"dd", "if=/dev/zero", "OF", "bs=256K", "count=" + blocks, "oflag=direct", "conv=notrunc,fsync",
                     "status=none"});
    })->Iterations(2);
    bench::Register(zero, "peer:shred_zero", [=](benchmark::State& s) {
      Peer(s, size, {"shred", "-n0", "-z", "IMAGE"});
    })->Iterations(2);
    bench::Register(zero, "ours:zero_pass", [=](benchmark::State& s) { Ours(s, size, kWipeZero); })->Iterations(2);
    bench::SetTargetVsPeer(zero, 0.9);
    bench::Register(random, "peer:dd_urandom_direct", [=](benchmark::State& s) {
      Peer(s, size, {"dd", "if=/dev/urandom", "OF", "bs=1M", "count=" + std::to_string(mib), "oflag=direct",
                     "conv=notrunc,fsync", "iflag=fullblock", "status=none"});
    })->Iterations(2);
    bench::Register(random, "peer:shred_n1", [=](benchmark::State& s) {
      Peer(s, size, {"shred", "-n1", "IMAGE"});
    })->Iterations(2);
    bench::Register(random, "ours:random_pass", [=](benchmark::State& s) { Ours(s, size, kWipeRandom); })
        ->Iterations(2);
    bench::SetTargetVsPeer(random, 0.8);
    bench::SetPeerCommand(zero, "peer:dd_zero_direct",
                          "dd if=/dev/zero of=IMAGE bs=256K count=" + blocks + " oflag=direct conv=notrunc,fsync");
    bench::SetPeerCommand(zero, "peer:shred_zero", "shred -n0 -z IMAGE");
    bench::SetPeerCommand(random, "peer:dd_urandom_direct",
                          "dd if=/dev/urandom of=IMAGE bs=1M count=" + std::to_string(mib) +
                              " oflag=direct conv=notrunc,fsync iflag=fullblock");
    bench::SetPeerCommand(random, "peer:shred_n1", "shred -n1 IMAGE");
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  return bench::Main(argc, argv);
}
