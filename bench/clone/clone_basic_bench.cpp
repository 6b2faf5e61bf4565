// The basic whole-disk clone, the main job, on a simulated PC: an NTFS disk
// (one partition from 1 MiB to the end, made by mkntfs) filled to a quarter
// of its volume with a mix of large files (three quarters of the data, in 8
// files) and small ones (a quarter, 16 to 112 KiB each, 100 to a folder),
// cloned onto an empty disk of the same size:
//
//   clone_basic_ntfs
//     ours:OneClickCopy    one-click copy through the clone page, headless:
//         the plan, the new table, the mount wait, the format, the file copy
//         of the NTFS volume through its shadow copy, the boot code;
//     peer:partclone+sfdisk  `sfdisk -d SOURCE | sfdisk DESTINATION` for the
//         table, then `partclone.ntfs -b` copying the used clusters of the
//         same partition into the destination image at the partition's
//         offset. partclone takes no offset on its input, so its source is
//         the partition's bytes in a file of their own (copied from the
//         source image once, outside the timing, holes kept).
//
// Before every pass the destination image is emptied (all holes) and every
// image's pages are written back and dropped, so both sides read from the
// device and allocate the destination's blocks anew. Target: 0.5x the peer
// (a file copy formats and writes a whole new volume; partclone moves used
// clusters). Without partclone.ntfs (Debian's partclone) the peer row is
// skipped with a message. DRUM_BENCH_CLONE_NTFS_MIB sets the disk size in
// MiB (default 2048).
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/clone/clone_bench_support.h"
#include "bench/common/bench_support.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/records/clone_run_state.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;

uint64_t DiskBytes() { return clone_bench::MiBFromEnvironment("DRUM_BENCH_CLONE_NTFS_MIB", 2048); }

struct NtfsDisks {
  bench::BenchPc pc;
  std::string error;
  std::string sourcePartition;  // the peer's input: the NTFS partition's bytes
  bool havePartclone = false;

  NtfsDisks() {
    const uint64_t bytes = DiskBytes();
    const uint64_t volume = bytes - clone_bench::kVolumeStart;
    if (!pc.add_disk(0, bytes) || !pc.add_volume(0, clone_bench::kVolumeStart, volume, bench::FileSystem::Ntfs) ||
        !pc.add_disk(1, bytes) || !pc.boot()) {
      error = pc.error();
      return;
    }
    if (!clone_bench::FillVolume(pc, 0, volume / 4, &error)) return;
    sourcePartition = pc.folder() + "/source-partition.img";
    if (bench::RunTool({"dd", "if=" + pc.image(0), "of=" + sourcePartition, "bs=1M",
                        "skip=" + std::to_string(clone_bench::kVolumeStart / kMiB),
                        "count=" + std::to_string(volume / kMiB), "conv=sparse", "status=none"}) != 0)
      error = "the source partition could not be copied for the peer";
    havePartclone = bench::RunTool({"sh", "-c", "command -v partclone.ntfs"}) == 0;
  }
  bool ready(benchmark::State& state) {
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return false;
    }
    std::string why;
    if (!clone_bench::EmptyDisk(pc, 1, &why)) {
      state.SkipWithError(why.c_str());
      return false;
    }
    for (const std::string& file : {pc.image(0), pc.image(1), sourcePartition})
      if (!bench::SettleFile(file, bench::CacheState::Cold, &why)) {
        state.SkipWithError(why.c_str());
        return false;
      }
    return true;
  }
};

void OursClone(benchmark::State& state) {
  NtfsDisks& d = bench::Shared<NtfsDisks>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!d.ready(state)) break;
    state.ResumeTiming();
    std::string failure = clone_bench::RunOneClickCopy();
    state.PauseTiming();
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
    }
    state.ResumeTiming();
  }
  bench::SetByteRate(state, DiskBytes());
}

void PeerClone(benchmark::State& state) {
  NtfsDisks& d = bench::Shared<NtfsDisks>();
  if (d.error.empty() && !d.havePartclone) {
    state.SkipWithError("partclone.ntfs is not installed (Debian package partclone; scripts/deps installs it)");
    return;
  }
  const std::string destination = d.pc.image(1);
  for (auto _ : state) {
    state.PauseTiming();
    if (!d.ready(state)) break;
    state.ResumeTiming();
    int status = bench::RunTool({"sh", "-c", "sfdisk -q -d '" + d.pc.image(0) + "' | sfdisk -q --no-reread --no-tell-kernel '" +
                                                 destination + "'"});
    if (status == 0)
      status = bench::RunTool({"partclone.ntfs", "-q", "-b", "-s", d.sourcePartition, "-O", destination,
                               "-E", std::to_string(clone_bench::kVolumeStart)});
    state.PauseTiming();
    if (status != 0) {
      state.SkipWithError("sfdisk or partclone.ntfs failed");
      break;
    }
    state.ResumeTiming();
  }
  bench::SetByteRate(state, DiskBytes());
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("clone_basic_ntfs", "peer:partclone+sfdisk", PeerClone)->Iterations(3);
  bench::Register("clone_basic_ntfs", "ours:OneClickCopy", OursClone)->Iterations(3);
  bench::SetTargetVsPeer("clone_basic_ntfs", 0.5);
  return bench::Main(argc, argv);
}
