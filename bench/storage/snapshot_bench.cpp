// Taking a shadow copy (a frozen view) of a 4 GiB NTFS volume holding 1 GiB of
// files, and letting it go:
//
//   shadow_copy_4GiB
//     ours:CreateShadowCopy   CreateShadowCopy of the volume's letter, then
//         ReleaseShadowCopy: a copy-on-write snapshot, which copies nothing
//         when it is taken;
//     peer:dd_copy   `dd if=IMAGE of=COPY bs=1M skip=1 count=4096
//         conv=sparse` of the volume's bytes into a fresh host file: what a
//         frozen view costs when it is a copy (all-zero MiBs stay holes).
//
// Before every pass the images' pages are written back and dropped. Target:
// ours at least 100x the peer's rate (the snapshot's time does not grow with
// the volume; the copy's does).
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/common/bench_support.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shadow_copy.h"
#include "platform/fs/volume_set.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kVolumeStart = kMiB;
constexpr uint64_t kVolumeBytes = 4096 * kMiB;
constexpr int kFiles = 8;
constexpr uint64_t kFileBytes = 128 * kMiB;

struct Volume {
  bench::BenchPc pc;
  bench::ScratchFolder host;
  std::string error;
  WCHAR letter = 0;

  Volume() {
    if (!pc.add_disk(0, kVolumeStart + kVolumeBytes) ||
        !pc.add_volume(0, kVolumeStart, kVolumeBytes, bench::FileSystem::Ntfs) || !pc.boot() ||
        !(letter = pc.letter_of(0))) {
      error = pc.error();
      return;
    }
    bench::AlignedBuffer data(4 * kMiB, 7);
    for (int i = 0; i < kFiles && error.empty(); ++i) {
      std::u16string path = std::u16string(1, letter) + u":\\file" + platform::to_utf16(std::to_string(i)) + u".bin";
      HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        error = "cannot create a file on the volume";
        break;
      }
      for (uint64_t done = 0; done < kFileBytes; done += data.size()) {
        data.data()[0] = static_cast<uint8_t>(done / data.size() + i);
        DWORD wrote = 0;
        if (!WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &wrote, nullptr) || wrote != data.size()) {
          error = "cannot fill the volume";
          break;
        }
      }
      CloseHandle(h);
    }
    platform::fs::ReleaseAllDrivers();
  }
  bool ready(benchmark::State& state) {
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return false;
    }
    std::string why;
    if (!bench::SettleFile(pc.image(0), bench::CacheState::Cold, &why)) {
      state.SkipWithError(why.c_str());
      return false;
    }
    return true;
  }
};

void Ours(benchmark::State& state) {
  auto& v = bench::Shared<Volume>();
  for (auto _ : state) {
    state.PauseTiming();
    if (!v.ready(state)) break;
    state.ResumeTiming();
    DWORD e = 0;
    int n = platform::fs::CreateShadowCopy(std::u16string(1, v.letter) + u":", &e);
    if (n < 0 || !platform::fs::ReleaseShadowCopy(n)) {
      state.SkipWithError(("the shadow copy failed, error " + std::to_string(e)).c_str());
      break;
    }
  }
  bench::SetByteRate(state, kVolumeBytes);
}

void Peer(benchmark::State& state) {
  auto& v = bench::Shared<Volume>();
  const std::string copy = v.host.file("copy.img");
  for (auto _ : state) {
    state.PauseTiming();
    ::unlink(copy.c_str());
    if (!v.ready(state)) break;
    state.ResumeTiming();
    if (bench::RunTool({"dd", "if=" + v.pc.image(0), "of=" + copy, "bs=1M", "skip=1", "count=4096", "conv=sparse",
                        "status=none"}) != 0) {
      state.SkipWithError("dd failed");
      break;
    }
  }
  ::unlink(copy.c_str());
  bench::SetByteRate(state, kVolumeBytes);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("shadow_copy_4GiB", "peer:dd_copy", Peer)->Iterations(3);
  bench::Register("shadow_copy_4GiB", "ours:CreateShadowCopy", Ours)->Iterations(3);
  bench::SetTargetVsPeer("shadow_copy_4GiB", 100);
  return bench::Main(argc, argv);
}
