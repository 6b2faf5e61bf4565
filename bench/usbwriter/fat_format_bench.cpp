// Pellimor's FAT32 formatter beside mkfs.fat, formatting a 16 GiB stick:
//
//   fat32_format_16GiB   ours: FormatFat32Raw over the stick's partition of a
//                        simulated PC (sparse image), raw sector writes
//                        through the disk handle, then the one flush the
//                        write sequence makes before it goes on (FlushUsbDisk);
//                        peer: `mkfs.fat -F 32 -s SPC -R 4348 FILE` with the
//                        same cluster size on a sparse host file of the
//                        partition's size (it fsyncs the file at its end).
//
// Target: ours takes at most 1.2x the peer's time (a rate of at least 0.83x).
#include <string>

#include "bench/common/bench_support.h"
#include "usbwriter/fat_formatter.h"
#include "usbwriter/usb_disk.h"

namespace {

constexpr uint64_t kStickBytes = 16ull << 30;
constexpr uint64_t kPartitionStart = 2048;

class SilentPage : public FormatHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return false; }
  void SetProgressRange(int64_t) override {}
  void ReportCopyError(LPCWSTR) override {}
  int64_t position_ = 0;
};

struct Stick {
  bench::BenchPc pc;
  bench::ScratchFolder host;
  std::string peer_image;
  uint64_t partition_sectors = 0;
  Stick() {
    if (!pc.ok() || !pc.add_disk(1, kStickBytes) || !pc.boot()) return;
    if (!OpenUsbDisk(1)) return;
    UsbGeometry geometry;
    if (ReadUsbGeometry(&geometry)) partition_sectors = geometry.sectors() - kPartitionStart;
    CloseUsbDisk();
    peer_image = host.file("stick.img");
    bench::RunTool({"truncate", "-s", std::to_string(partition_sectors * 512), peer_image});
  }
  bool ready(benchmark::State& state) {
    if (partition_sectors == 0) state.SkipWithError(("the stick could not be made: " + pc.error()).c_str());
    return partition_sectors != 0;
  }
};

void Ours(benchmark::State& state) {
  auto& stick = bench::Shared<Stick>();
  if (!stick.ready(state)) return;
  SilentPage page;
  for (auto _ : state) {
    if (!OpenUsbDisk(1) || !FormatFat32Raw(&page, kPartitionStart, stick.partition_sectors) || !FlushUsbDisk()) {
      state.SkipWithError("FormatFat32Raw failed");
      break;
    }
    CloseUsbDisk();
  }
  bench::SetByteRate(state, stick.partition_sectors * 512);
}

void Peer(benchmark::State& state) {
  auto& stick = bench::Shared<Stick>();
  if (!stick.ready(state)) return;
  FatLayout layout;
  ComputeFat32Layout(stick.partition_sectors, UsbGeometry{0, 255, 63}, &layout);
  for (auto _ : state) {
    if (bench::RunTool({"mkfs.fat", "-F", "32", "-s", std::to_string(layout.sectorsPerCluster), "-R",
                        std::to_string(kFat32ReservedSectors), stick.peer_image}) != 0) {
      state.SkipWithError("mkfs.fat failed");
      break;
    }
  }
  bench::SetByteRate(state, stick.partition_sectors * 512);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("fat32_format_16GiB", "ours:FormatFat32Raw", Ours)->Iterations(3);
  bench::Register("fat32_format_16GiB", "peer:mkfs.fat", Peer)->Iterations(3);
  bench::SetTargetVsPeer("fat32_format_16GiB", 1.0 / 1.2);
  return bench::Main(argc, argv);
}
