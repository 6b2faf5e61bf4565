// The FAT driver's memory on volumes of growing size: a sparse FAT32 image of
// 1, 8 and 64 GiB (4 KiB clusters, made by mkfs.fat), mounted by the driver in
// a child process that writes a 64 MiB file in 1 MiB pieces, reads it back and
// checks it, then flushes and lets go. The child reports how far its resident
// set grew over what it held before the mount (peak, from getrusage), so the
// row is the driver's own memory: the FAT window cache, the chains, the owner
// map, the folder cache. The whole FAT of each volume is printed beside it
// (fat_MiB), the memory a driver that loads it would need.
//
// The rows are memory, not speed: "rss_growth_MiB" should stay flat across
// the sizes (within a MiB or two). DRUM_BENCH_FAT_GIB="1,8,64" picks the sizes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/common/bench_support.h"
#include "platform/core/block_device.h"
#include "platform/fs/fat/fat_volume.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kFileBytes = 64 * kMiB;

long PeakRssKiB() {
  rusage u {};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// In the child: mount, write, read back and check, flush. Returns the RSS
// growth in KiB, or a negative number on failure.
long MountAndWork(const std::string& image) {
  long before = bench::CurrentRssKiB();
  auto device = std::shared_ptr<platform::BlockDevice>(platform::FileBlockDevice::open(image, 512));
  if (!device) return -1;
  DWORD error = 0;
  auto volume = platform::fs::fat::Mount(device, &error);
  if (!volume) return -2;
  platform::fs::VolumePath path{u"big.bin"};
  if (volume->create_file(path, 0)) return -3;
  std::unique_ptr<platform::fs::OpenFile> file;
  if (volume->open(path, true, &file)) return -4;
  bench::AlignedBuffer piece(kMiB, 5), back(kMiB, 0);
  for (uint64_t at = 0; at < kFileBytes; at += kMiB) {
    piece.data()[0] = static_cast<uint8_t>(at >> 20);
    if (file->write(at, piece.data(), kMiB)) return -5;
  }
  for (uint64_t at = 0; at < kFileBytes; at += kMiB) {
    size_t done = 0;
    piece.data()[0] = static_cast<uint8_t>(at >> 20);
    if (file->read(at, back.data(), kMiB, &done) || done != kMiB) return -6;
    if (std::memcmp(back.data(), piece.data(), kMiB) != 0) return -7;
  }
  file.reset();
  if (volume->flush()) return -8;
  long peak = PeakRssKiB();
  volume.reset();
  return peak - before;
}

void FatMemory(benchmark::State& state, uint64_t gib) {
  bench::ScratchFolder scratch;
  const std::string image = scratch.file("fat.img");
  const std::string kib = std::to_string(gib << 20);
  if (bench::RunTool({"/usr/sbin/mkfs.fat", "-C", "-F", "32", "-s", "8", image, kib}) != 0) {
    state.SkipWithError("mkfs.fat failed");
    return;
  }
  long growth = 0;
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      long result = MountAndWork(image);
      ssize_t ignored = write(fds[1], &result, sizeof result);
      (void)ignored;
      _exit(0);
    }
    close(fds[1]);
    long result = -100;
    if (read(fds[0], &result, sizeof result) != static_cast<ssize_t>(sizeof result)) result = -101;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    if (result < 0) {
      state.SkipWithError(("the driver's work failed (step " + std::to_string(-result) + ")").c_str());
      return;
    }
    growth = std::max(growth, result);
  }
  // What the whole FAT of this volume takes: 4 bytes per 4 KiB cluster.
  state.counters["fat_MiB"] = static_cast<double>((gib << 30) / 4096 * 4) / kMiB;
  state.counters["rss_growth_MiB"] = static_cast<double>(growth) / 1024;
}

void RegisterAll() {
  std::string sizes = "1,8,64";
  if (const char* s = std::getenv("DRUM_BENCH_FAT_GIB"); s && *s) sizes = s;
  std::stringstream list(sizes);
  std::string item;
  while (std::getline(list, item, ',')) {
    uint64_t gib = std::strtoull(item.c_str(), nullptr, 10);
    if (gib == 0) continue;
    bench::Register("fat_memory_" + std::to_string(gib) + "GiB", "ours:driver",
                    [gib](benchmark::State& s) { FatMemory(s, gib); })
        ->Iterations(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  return bench::Main(argc, argv);
}
