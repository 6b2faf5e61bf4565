// The basic whole-disk clone, the main job, on a simulated PC: an NTFS disk
// (one partition from 1 MiB to the end, made by mkntfs) cloned onto an empty
// disk of the same size, with three kinds of content:
//
//   clone_basic_ntfs             a quarter of the volume full of a mix of
//       large files (three quarters of the data, in 8 files) and small ones
//       (a quarter, 16 to 112 KiB each, 100 to a folder);
//   clone_basic_ntfs_one_file    a quarter of the volume in one file;
//   clone_basic_empty_NGiB       nothing but the new file system, on sparse
//       disks of several sizes: the time should grow with the data, not
//       with the disk.
//
//   ours:OneClickCopy    one-click copy through the clone page, headless:
//       the plan, the new table, the mount wait, the format, the file copy of
//       the NTFS volume through its shadow copy, the boot code;
//   peer:partclone+sfdisk  `sfdisk -d SOURCE | sfdisk DESTINATION` for the
//       table, then `partclone.ntfs -b -s PARTITION -O DESTINATION -E 1048576`
//       copying the used clusters of the same partition into the destination
//       image at the partition's offset. partclone takes no offset on its
//       input, so its source is the partition's bytes in a file of their own
//       (copied from the source image once, outside the timing, holes kept).
//
// Before every pass the destination image is emptied (all holes) and every
// image's pages are written back and dropped, so both sides read from the
// device and allocate the destination's blocks anew. Target: 1.0x the peer.
// Without partclone.ntfs (Debian's partclone) the peer rows are skipped with
// a message. Sizes: DRUM_BENCH_CLONE_NTFS_MIB sets the disk of the first two
// works in MiB (default 4096: 1 GiB of files, 4,000 of them small, as the
// goal names the work); DRUM_BENCH_CLONE_EMPTY_GIB lists the empty disks'
// sizes in GiB (default "1,8,64,2048"; they are sparse, so 2 TiB takes a few
// MiB of real space). The two works with files need about 3.5 GiB of real space.
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/clone/clone_bench_support.h"
#include "bench/common/bench_support.h"
#include "tests/support/sparse_copy.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;

enum class Content { Mixed, OneFile, Empty };

// Two disks of `bytes`: the source made and filled, the destination empty,
// and the source partition's bytes for the peer.
struct NtfsDisks {
  bench::BenchPc pc;
  uint64_t bytes = 0;
  std::string error;
  std::string sourcePartition;  // the peer's input: the NTFS partition's bytes
  bool havePartclone = false;

  NtfsDisks(Content content, uint64_t diskBytes) : bytes(diskBytes) {
    const uint64_t volume = bytes - clone_bench::kVolumeStart;
    if (!pc.add_disk(0, bytes) || !pc.add_volume(0, clone_bench::kVolumeStart, volume, bench::FileSystem::Ntfs) ||
        !pc.add_disk(1, bytes) || !pc.boot()) {
      error = pc.error();
      return;
    }
    if (content == Content::Mixed && !clone_bench::FillVolume(pc, 0, volume / 4, &error)) return;
    if (content == Content::OneFile && !clone_bench::FillVolumeWithOneFile(pc, 0, volume / 4, &error)) return;
    sourcePartition = pc.folder() + "/source-partition.img";
    if (!test_support::CopyRangeSparse(pc.image(0), clone_bench::kVolumeStart, volume, sourcePartition))
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

// One simulated PC at a time: the disks of the work under way, made when its
// first row runs and given up for the next work's.
NtfsDisks& DisksFor(Content content, uint64_t bytes) {
  static std::unique_ptr<NtfsDisks>* current = [] {
    auto* made = new std::unique_ptr<NtfsDisks>;
    bench::DestroyAtFinish([made] { made->reset(); });
    return made;
  }();
  static Content currentContent = Content::Mixed;
  if (!*current || (*current)->bytes != bytes || currentContent != content) {
    current->reset();
    *current = std::make_unique<NtfsDisks>(content, bytes);
    currentContent = content;
  }
  return **current;
}

void OursClone(benchmark::State& state, Content content, uint64_t bytes) {
  NtfsDisks& d = DisksFor(content, bytes);
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
  bench::SetByteRate(state, bytes);
}

void PeerClone(benchmark::State& state, Content content, uint64_t bytes) {
  NtfsDisks& d = DisksFor(content, bytes);
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
  bench::SetByteRate(state, bytes);
}

void RegisterWork(const std::string& work, Content content, uint64_t bytes, int iterations) {
  bench::Register(work, "peer:partclone+sfdisk",
                  [=](benchmark::State& s) { PeerClone(s, content, bytes); })->Iterations(iterations);
  bench::Register(work, "ours:OneClickCopy", [=](benchmark::State& s) { OursClone(s, content, bytes); })
      ->Iterations(iterations);
  bench::SetTargetVsPeer(work, 1.0);
  bench::SetPeerCommand(work, "peer:partclone+sfdisk",
                        "sfdisk -q -d SOURCE | sfdisk -q --no-reread --no-tell-kernel DESTINATION && "
                        "partclone.ntfs -q -b -s SOURCE-PARTITION -O DESTINATION -E " +
                            std::to_string(clone_bench::kVolumeStart));
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t bytes = clone_bench::MiBFromEnvironment("DRUM_BENCH_CLONE_NTFS_MIB", 4096);
  RegisterWork("clone_basic_ntfs", Content::Mixed, bytes, 3);
  RegisterWork("clone_basic_ntfs_one_file", Content::OneFile, bytes, 3);
  std::string sizes = "1,8,64,2048";
  if (const char* s = std::getenv("DRUM_BENCH_CLONE_EMPTY_GIB"); s && *s) sizes = s;
  std::stringstream list(sizes);
  std::string item;
  while (std::getline(list, item, ',')) {
    const uint64_t gib = std::strtoull(item.c_str(), nullptr, 10);
    if (gib) RegisterWork("clone_basic_empty_" + std::to_string(gib) + "GiB", Content::Empty, gib << 30, gib > 64 ? 1 : 3);
  }
  return bench::Main(argc, argv);
}
