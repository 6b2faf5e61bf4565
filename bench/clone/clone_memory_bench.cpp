// The clone's memory against the disk's size: the basic whole-disk clone
// (one-click copy through the clone page, headless) of a sparse NTFS disk of
// 1 GiB, 8 GiB, 64 GiB and 2 TiB, each holding the same 64 MiB of files (large and small),
// onto an empty disk of the same size. Each size runs in a child process of
// its own that makes its PC, resets its peak resident set (clear_refs) and
// clones; it reports the peak resident set (peak_rss_MiB) and its growth
// over what the process held before the clone (growth_MiB). Each row after
// the first also gives its growth as a share of the first (1 GiB) row's (growth_vs_first).
//
// The rows are memory, not speed: the growth should stay flat in the disk's
// size, within 10 % (growth_vs_first between 0.9 and 1.1).
// DRUM_BENCH_CLONE_MEMORY_GIB="1,8,64,2048" (the default) picks the sizes.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/clone/clone_bench_support.h"
#include "bench/common/bench_support.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kFiles = 64 * kMiB;

// VmHWM, the peak resident set since the last reset, in KiB.
long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

struct Measure {
  long peak = -1;    // KiB
  long growth = -1;  // KiB
  char failure[512] = {};
};

// In the child: the PC, the files, then the clone with the peak reset first.
Measure CloneOnce(uint64_t gib) {
  Measure m;
  auto fail = [&](const std::string& why) {
    std::snprintf(m.failure, sizeof m.failure, "%s", why.c_str());
    return m;
  };
  bench::BenchPc pc;
  const uint64_t bytes = gib << 30;
  if (!pc.add_disk(0, bytes) ||
      !pc.add_volume(0, clone_bench::kVolumeStart, bytes - clone_bench::kVolumeStart, bench::FileSystem::Ntfs) ||
      !pc.add_disk(1, bytes) || !pc.boot())
    return fail(pc.error());
  std::string error;
  if (!clone_bench::FillVolume(pc, 0, kFiles, &error)) return fail(error);
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
  }
  const long before = bench::CurrentRssKiB();
  const std::string failure = clone_bench::RunOneClickCopy();
  if (!failure.empty()) return fail(failure);
  m.peak = PeakRssKiB();
  m.growth = m.peak - before;
  return m;
}

long firstGrowth = 0;  // KiB, the first size's

void CloneMemory(benchmark::State& state, uint64_t gib) {
  Measure m;
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      const Measure result = CloneOnce(gib);
      ssize_t ignored = write(fds[1], &result, sizeof result);
      (void)ignored;
      _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) std::snprintf(m.failure, sizeof m.failure, "the child died");
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    if (m.failure[0]) {
      state.SkipWithError(m.failure);
      return;
    }
  }
  state.counters["peak_rss_MiB"] = static_cast<double>(m.peak) / 1024;
  state.counters["growth_MiB"] = static_cast<double>(m.growth) / 1024;
  if (firstGrowth == 0) firstGrowth = m.growth;
  else if (firstGrowth > 0) state.counters["growth_vs_first"] = static_cast<double>(m.growth) / static_cast<double>(firstGrowth);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sizes = "1,8,64,2048";
  if (const char* s = std::getenv("DRUM_BENCH_CLONE_MEMORY_GIB"); s && *s) sizes = s;
  std::stringstream list(sizes);
  std::string item;
  while (std::getline(list, item, ',')) {
    const uint64_t gib = std::strtoull(item.c_str(), nullptr, 10);
    if (gib == 0) continue;
    bench::Register("clone_memory_" + std::to_string(gib) + "GiB", "ours:OneClickCopy",
                    [gib](benchmark::State& s) { CloneMemory(s, gib); })
        ->Iterations(1);
  }
  return bench::Main(argc, argv);
}
