// Two file copies on two volumes of one simulated PC, at once against one:
// whether copies on different volumes add up. Disks 0 and 1 each hold one
// NTFS volume (made by mkntfs) with a file of DRUM_BENCH_TWO_COPY_MIB MiB
// (default 256); a copy reads it in 1 MiB ReadFiles and writes it as a new
// file on the same volume in 1 MiB WriteFiles, as a program copies a file.
//
//   copy_one_volume      ours:ReadFile+WriteFile  one copy on disk 0's volume;
//                        peer:cp  `cp A B` of a host file of the same size;
//   copy_two_volumes     the two copies at once: ours:threads (one thread a
//                        volume, one process), ours:processes (one child
//                        process a volume, on the same machine folder);
//                        peer:cp  `cp A1 B1 & cp A2 B2 &` and both waited for.
//
// The rates count the bytes copied. Each copy_two_volumes row also gives
// vs_one: two copies' bytes per second over one copy's, one copy measured
// by the same side in the same pass (1.0: the copies do not add up at all;
// 2.0: they add up fully); the aim is ours as the host's. Before every pass
// the targets are deleted and every image's and host file's pages are
// written back and dropped, outside the timing.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/common/bench_support.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kVolumeStart = kMiB;
constexpr uint64_t kDiskBytes = 1024 * kMiB;

uint64_t FileBytes() {
  const char* v = std::getenv("DRUM_BENCH_TWO_COPY_MIB");
  const uint64_t mib = v && *v ? std::strtoull(v, nullptr, 10) : 0;
  return (mib ? mib : 256) * kMiB;
}

std::u16string Path(WCHAR letter, const char* rest) {
  std::u16string path{letter, u':', u'\\'};
  for (const char* c = rest; *c; ++c) path += static_cast<char16_t>(*c);
  return path;
}

// Copies `from` to a new file `to` through the file API in 1 MiB pieces.
bool CopyThroughHandles(const std::u16string& from, const std::u16string& to) {
  HANDLE in = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return false;
  }
  bench::AlignedBuffer buffer(kMiB);
  bool ok = true;
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(in, buffer.data(), kMiB, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got) {
      ok = false;
      break;
    }
  }
  ok = CloseHandle(out) && ok;
  CloseHandle(in);
  return ok;
}

struct TwoVolumes {
  bench::BenchPc pc;
  bench::ScratchFolder host;
  std::string error;
  WCHAR letters[2] = {0, 0};

  TwoVolumes() {
    for (int disk : {0, 1})
      if (!pc.add_disk(disk, kDiskBytes) ||
          !pc.add_volume(disk, kVolumeStart, kDiskBytes - kVolumeStart, bench::FileSystem::Ntfs)) {
        error = pc.error();
        return;
      }
    if (!pc.boot()) {
      error = pc.error();
      return;
    }
    bench::AlignedBuffer data(FileBytes(), 5);
    for (int disk : {0, 1}) {
      letters[disk] = pc.letter_of(disk);
      HANDLE h = letters[disk] ? CreateFileW(Path(letters[disk], "SOURCE.BIN").c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
      DWORD put = 0;
      const bool written = h != INVALID_HANDLE_VALUE &&
                           WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
                           put == data.size();
      if (h == INVALID_HANDLE_VALUE || !CloseHandle(h) || !written) {
        error = "the source files could not be written";
        return;
      }
      if (!bench::WriteHostFile(host.file("source" + std::to_string(disk)), data.data(), data.size())) {
        error = "the host's source files could not be written";
        return;
      }
    }
    platform::fs::ReleaseAllDrivers();
  }
  bool ready(benchmark::State& state) {
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return false;
    }
    for (int disk : {0, 1}) {
      DeleteFileW(Path(letters[disk], "TARGET.BIN").c_str());
      std::remove(host.file("target" + std::to_string(disk)).c_str());
    }
    platform::fs::ReleaseAllDrivers();
    std::string why;
    for (const std::string& file : {pc.image(0), pc.image(1), host.file("source0"), host.file("source1")})
      if (!bench::SettleFile(file, bench::CacheState::Cold, &why)) {
        state.SkipWithError(why.c_str());
        return false;
      }
    return true;
  }
  bool copy(int disk) { return CopyThroughHandles(Path(letters[disk], "SOURCE.BIN"), Path(letters[disk], "TARGET.BIN")); }
  bool host_copy(int disk) {
    const std::string n = std::to_string(disk);
    return bench::RunTool({"cp", host.file("source" + n), host.file("target" + n)}) == 0;
  }
};

enum class Way { Threads, Processes, HostCp };

// Both copies at once, in the way asked.
bool CopyBoth(TwoVolumes& v, Way way) {
  if (way == Way::HostCp) {
    return bench::RunTool({"sh", "-c", "cp '" + v.host.file("source0") + "' '" + v.host.file("target0") +
                                           "' & first=$!; cp '" + v.host.file("source1") + "' '" +
                                           v.host.file("target1") + "' & second=$!; wait $first && wait $second"}) == 0;
  }
  if (way == Way::Threads) {
    bool ok[2] = {false, false};
    std::thread second([&] { ok[1] = v.copy(1); });
    ok[0] = v.copy(0);
    second.join();
    platform::fs::ReleaseAllDrivers();
    return ok[0] && ok[1];
  }
  // Nothing is mounted here when the children start (ready() let go of it all).
  pid_t children[2];
  for (int disk : {0, 1}) {
    children[disk] = fork();
    if (children[disk] == 0) {
      const bool ok = v.copy(disk);
      platform::fs::ReleaseAllDrivers();
      _exit(ok ? 0 : 1);
    }
  }
  bool ok = true;
  for (pid_t child : children) {
    int status = 0;
    ok = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
  }
  return ok;
}

bool CopyOne(TwoVolumes& v, Way way) {
  if (way == Way::HostCp) return v.host_copy(0);
  const bool ok = v.copy(0);
  platform::fs::ReleaseAllDrivers();
  return ok;
}

void One(benchmark::State& state, Way way) {
  TwoVolumes& v = bench::Shared<TwoVolumes>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!v.ready(state)) break;
    state.ResumeTiming();
    const bool ok = CopyOne(v, way);
    if (!ok) {
      state.SkipWithError("the copy failed");
      break;
    }
  }
  bench::SetByteRate(state, FileBytes());
}

void Both(benchmark::State& state, Way way) {
  TwoVolumes& v = bench::Shared<TwoVolumes>();
  double oneSeconds = 0, bothSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!v.ready(state)) break;
    auto start = std::chrono::steady_clock::now();
    if (!CopyOne(v, way)) {
      state.SkipWithError("the single copy failed");
      break;
    }
    oneSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!v.ready(state)) break;
    start = std::chrono::steady_clock::now();
    state.ResumeTiming();
    const bool ok = CopyBoth(v, way);
    state.PauseTiming();
    bothSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError("a copy failed");
      break;
    }
  }
  bench::SetByteRate(state, 2 * FileBytes());
  if (oneSeconds > 0 && bothSeconds > 0) state.counters["vs_one"] = 2 * oneSeconds / bothSeconds;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("copy_one_volume", "peer:cp", [](benchmark::State& s) { One(s, Way::HostCp); })->Iterations(3);
  bench::Register("copy_one_volume", "ours:ReadFile+WriteFile", [](benchmark::State& s) { One(s, Way::Threads); })
      ->Iterations(3);
  bench::Register("copy_two_volumes", "peer:cp", [](benchmark::State& s) { Both(s, Way::HostCp); })->Iterations(3);
  bench::Register("copy_two_volumes", "ours:threads", [](benchmark::State& s) { Both(s, Way::Threads); })
      ->Iterations(3);
  bench::Register("copy_two_volumes", "ours:processes", [](benchmark::State& s) { Both(s, Way::Processes); })
      ->Iterations(3);
  bench::SetPeerCommand("copy_one_volume", "peer:cp", "cp SOURCE0 TARGET0");
  bench::SetPeerCommand("copy_two_volumes", "peer:cp", "cp SOURCE0 TARGET0 & cp SOURCE1 TARGET1 & wait");
  return bench::Main(argc, argv);
}
