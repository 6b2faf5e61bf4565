// Raw disk throughput: a simulated disk read and written sequentially through
// the platform, beside dd moving the same bytes of the same image.
//
//   ours:ReadFile / ours:WriteFile    CreateFileW("\\.\PhysicalDrive0",
//       FILE_FLAG_NO_BUFFERING) and one ReadFile/WriteFile per block, as the
//       programs' copy loops do;
//   ours:ReadSectorsAt / ours:WriteSectorsAt    the disk access layer's
//       sector routines on a handle from OpenDiskHandle (512-byte units);
//   peer:dd    /bin/dd if=IMAGE of=/dev/null (reads) or if=/dev/zero
//       of=IMAGE conv=notrunc (writes) with the same block size and count.
//
// The image is a sparse file of 384 MiB whose holes are filled before the
// first run, so no side pays for the host's block allocation; each pass
// moves its first 256 MiB. The host's page cache is left alone: both sides
// read a warm image and write into the cache, so the numbers compare the
// per-transfer costs of the two paths rather than the host disk.
#include <string>

#include "bench/common/bench_support.h"
#include "disk/disk_access.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kDiskBytes = 384 * kMiB;
constexpr uint64_t kPassBytes = 256 * kMiB;

// The simulated PC with its one disk, made once per run of the program.
struct Disk {
  bench::BenchPc pc;
  std::string image;
  Disk() {
    if (!pc.add_disk(0, kDiskBytes) || !pc.boot()) return;
    image = pc.image(0);
    std::string error;
    if (!bench::AllocateFile(image, &error)) image.clear();
  }
  bool ready(benchmark::State& state) const {
    if (!image.empty()) return true;
    state.SkipWithError(("the simulated disk could not be made: " + pc.error()).c_str());
    return false;
  }
};

enum class Direction { Read, Write };

// ReadFile/WriteFile of `block` bytes from the start of the disk.
void HandlePass(benchmark::State& state, Direction direction, size_t block) {
  Disk& disk = bench::Shared<Disk>();
  if (!disk.ready(state)) return;
  const bool writing = direction == Direction::Write;
  HANDLE h = CreateFileW(u"\\\\.\\PhysicalDrive0", writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    state.SkipWithError(("CreateFileW on the disk failed with error " + std::to_string(GetLastError())).c_str());
    return;
  }
  bench::AlignedBuffer buffer(block, 7);
  const uint64_t blocks = kPassBytes / block;
  for (auto _ : state) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) {
      state.SkipWithError("SetFilePointerEx failed");
      break;
    }
    for (uint64_t i = 0; i < blocks; ++i) {
      DWORD done = 0;
      BOOL ok = writing ? WriteFile(h, buffer.data(), static_cast<DWORD>(block), &done, nullptr)
                        : ReadFile(h, buffer.data(), static_cast<DWORD>(block), &done, nullptr);
      if (!ok || done != block) {
        state.SkipWithError(("transfer " + std::to_string(i) + " failed with error " + std::to_string(GetLastError()))
                                .c_str());
        break;
      }
    }
  }
  CloseHandle(h);
  bench::SetByteRate(state, kPassBytes);
}

// ReadSectorsAt/WriteSectorsAt of the disk access layer, `block` bytes each.
void SectorPass(benchmark::State& state, Direction direction, size_t block) {
  Disk& disk = bench::Shared<Disk>();
  if (!disk.ready(state)) return;
  HANDLE h = OpenDiskHandle(0);
  if (!h || h == INVALID_HANDLE_VALUE) {
    state.SkipWithError(("OpenDiskHandle(0) failed with error " + std::to_string(GetLastError())).c_str());
    return;
  }
  bench::AlignedBuffer buffer(block, 9);
  const int32_t units = static_cast<int32_t>(block / 512);
  const uint64_t blocks = kPassBytes / block;
  for (auto _ : state) {
    for (uint64_t i = 0; i < blocks; ++i) {
      DWORD done = direction == Direction::Write ? WriteSectorsAt(h, buffer.data(), i * units, units)
                                                 : ReadSectorsAt(h, buffer.data(), i * units, units);
      if (done != block) {
        state.SkipWithError(("sector transfer " + std::to_string(i) + " moved " + std::to_string(done) + " bytes")
                                .c_str());
        break;
      }
    }
  }
  CloseDeviceHandle(h);
  bench::SetByteRate(state, kPassBytes);
}

// dd over the same first kPassBytes of the image.
void DdPass(benchmark::State& state, Direction direction, size_t block) {
  Disk& disk = bench::Shared<Disk>();
  if (!disk.ready(state)) return;
  const std::string bs = "bs=" + std::to_string(block), count = "count=" + std::to_string(kPassBytes / block);
  const std::vector<std::string> argv =
      direction == Direction::Read
          ? std::vector<std::string>{"/bin/dd", "if=" + disk.image, "of=/dev/null", bs, count, "status=none"}
          : std::vector<std::string>{"/bin/dd", "if=/dev/zero", "of=" + disk.image, bs, count, "conv=notrunc",
                                     "status=none"};
  bench::RunPeerLoop(state, argv);
  bench::SetByteRate(state, kPassBytes);
}

void RegisterAll() {
  struct Size {
    const char* name;
    size_t bytes;
  } sizes[] = {{"1MiB", kMiB}, {"64KiB", 64 * 1024}};
  for (Direction direction : {Direction::Read, Direction::Write}) {
    const bool reading = direction == Direction::Read;
    for (const Size& size : sizes) {
      const std::string work = std::string(reading ? "disk_read_" : "disk_write_") + size.name;
      const size_t block = size.bytes;
      bench::Register(work, reading ? "ours:ReadFile" : "ours:WriteFile",
                      [=](benchmark::State& s) { HandlePass(s, direction, block); });
      bench::Register(work, reading ? "ours:ReadSectorsAt" : "ours:WriteSectorsAt",
                      [=](benchmark::State& s) { SectorPass(s, direction, block); });
      bench::Register(work, "peer:dd", [=](benchmark::State& s) { DdPass(s, direction, block); });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  return bench::Main(argc, argv);
}
