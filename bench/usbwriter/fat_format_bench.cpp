// Pellimor's FAT32 formatter beside mkfs.fat, formatting a 16 GiB stick:
//
//   fat32_format_16GiB_image    ours: FormatFat32Raw over the stick's
//                               partition of a simulated PC (a 16 GiB image
//                               file), raw sector writes through the disk
//                               handle, then the one flush the write sequence
//                               makes before it goes on (FlushUsbDisk);
//                               peer: `mkfs.fat -I -F 32 -s SPC -R 4348 FILE`
//                               with the same cluster size on a host file of
//                               the partition's size (it fsyncs at its end).
//   fat32_format_16GiB_device   the same on a loop device over a 16 GiB
//                               sparse file: ours on the whole device as the
//                               stick (listed in machine.ini as a device),
//                               the peer on a second loop device over the
//                               partition's bytes of the same file. Needs
//                               root and a free loop device; skipped otherwise.
//
// Like with like: both sides write the same structures (reserved area, both
// FATs whole, the root cluster) to the same kind of medium. The first
// kPrepared bytes of every file (more than a format writes) hold real blocks
// before the first pass, so neither side pays for allocation, nor gets a
// skipped write where zeros fall into a hole; before each pass the files'
// pages are written back and dropped from the page cache.
//
// Target: ours at least 0.8x the peer's rate.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/common/bench_support.h"
#include "platform/machine/demo.h"
#include "usbwriter/fat_formatter.h"
#include "usbwriter/usb_disk.h"

namespace {

constexpr uint64_t kStickBytes = 16ull << 30;
constexpr uint64_t kPartitionStart = 2048;
constexpr uint64_t kPrepared = 64ull << 20;

class SilentPage : public FormatHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return false; }
  void SetProgressRange(int64_t) override {}
  void ReportCopyError(LPCWSTR) override {}
  int64_t position_ = 0;
};

// Real blocks under [offset, offset + kPrepared) of a host file.
bool Prepare(const std::string& path, uint64_t offset) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<uint8_t> zeros(1 << 20, 0);
  bool ok = true;
  for (uint64_t at = 0; ok && at < kPrepared; at += zeros.size())
    ok = ::pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(offset + at)) ==
         static_cast<ssize_t>(zeros.size());
  ok = ::fdatasync(fd) == 0 && ok;
  ::close(fd);
  return ok;
}

std::string Output(const std::vector<std::string>& argv, const std::string& file) {
  if (bench::RunTool(argv, file) != 0) return "";
  std::string text;
  if (FILE* f = std::fopen(file.c_str(), "r")) {
    char line[256];
    if (std::fgets(line, sizeof line, f)) text = line;
    std::fclose(f);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The stick and the peer's target on one medium kind.
struct Stick {
  bench::BenchPc pc;
  bench::ScratchFolder host;
  std::string peer_target;            // what mkfs.fat formats
  std::vector<std::string> loops;     // loop devices to let go of
  std::vector<std::string> settle;    // settled before each pass
  uint64_t partition_sectors = 0;
  std::string why;

  explicit Stick(bool device) {
    if (!pc.ok()) {
      why = pc.error();
      return;
    }
    if (device) {
      if (::geteuid() != 0) {
        why = "loop devices need root";
        return;
      }
      const std::string backing = host.file("stick.backing");
      bench::RunTool({"truncate", "-s", std::to_string(kStickBytes), backing});
      if (!Prepare(backing, 0)) {
        why = "cannot prepare " + backing;
        return;
      }
      const std::string whole = Output({"losetup", "-f", "--show", backing}, host.file("loop0"));
      if (whole.empty()) {
        why = "no free loop device";
        return;
      }
      loops.push_back(whole);
      platform::machine::DiskConfig d;
      d.number = 1;
      d.device = whole;
      d.vendor = "ACME";
      d.product = "Bench Stick";
      d.serial = "BENCH1";
      d.removable = true;
      std::string error;
      if (!platform::machine::AddDiskToMachine(pc.folder(), d, &error) || !pc.boot()) {
        why = error.empty() ? pc.error() : error;
        return;
      }
      settle = {whole};
    } else {
      if (!pc.add_disk(1, kStickBytes) || !pc.boot() || !Prepare(pc.image(1), 0)) {
        why = "the stick image could not be made: " + pc.error();
        return;
      }
      settle = {pc.image(1)};
    }
    if (!OpenUsbDisk(1)) {
      why = "the stick does not open";
      return;
    }
    UsbGeometry geometry;
    uint64_t sectors = ReadUsbGeometry(&geometry) ? geometry.sectors() : 0;
    CloseUsbDisk();
    if (sectors <= kPartitionStart) {
      why = "the stick has no geometry";
      return;
    }
    const uint64_t bytes = (sectors - kPartitionStart) * 512;
    if (device) {
      peer_target = Output({"losetup", "-f", "--show", "-o", std::to_string(kPartitionStart * 512), "--sizelimit",
                            std::to_string(bytes), host.file("stick.backing")},
                           host.file("loop1"));
      if (peer_target.empty()) {
        why = "no second free loop device";
        return;
      }
      loops.push_back(peer_target);
    } else {
      peer_target = host.file("peer.img");
      bench::RunTool({"truncate", "-s", std::to_string(bytes), peer_target});
      if (!Prepare(peer_target, 0)) {
        why = "cannot prepare " + peer_target;
        return;
      }
    }
    settle.push_back(peer_target);
    partition_sectors = sectors - kPartitionStart;
  }
  ~Stick() {
    for (auto& loop : loops) bench::RunTool({"losetup", "-d", loop});
  }
  bool ready(benchmark::State& state) {
    if (partition_sectors == 0) state.SkipWithError(("the stick could not be made: " + why).c_str());
    return partition_sectors != 0;
  }
  // Nothing left to write back and nothing cached, on both sides.
  bool settled(benchmark::State& state) {
    std::string error;
    for (auto& path : settle) {
      if (!bench::SettleFile(path, bench::CacheState::Cold, &error)) {
        state.SkipWithError(error.c_str());
        return false;
      }
    }
    return true;
  }
};

// One stick at a time (one simulated PC is current at a time): the stick of
// the other medium is let go first.
Stick& StickOn(bool device) {
  static Stick* made = nullptr;
  static bool made_device = false;
  static bool registered = false;
  if (made && made_device == device) return *made;
  delete made;
  made = new Stick(device);
  made_device = device;
  if (!registered) {
    registered = true;
    bench::DestroyAtFinish([] {
      delete made;
      made = nullptr;
    });
  }
  return *made;
}

void Ours(benchmark::State& state, bool device) {
  auto& stick = StickOn(device);
  if (!stick.ready(state)) return;
  SilentPage page;
  for (auto _ : state) {
    state.PauseTiming();
    if (!stick.settled(state)) break;
    state.ResumeTiming();
    if (!OpenUsbDisk(1) || !FormatFat32Raw(&page, kPartitionStart, stick.partition_sectors) || !FlushUsbDisk()) {
      state.SkipWithError("FormatFat32Raw failed");
      break;
    }
    CloseUsbDisk();
  }
  bench::SetByteRate(state, stick.partition_sectors * 512);
}

void Peer(benchmark::State& state, bool device) {
  auto& stick = StickOn(device);
  if (!stick.ready(state)) return;
  FatLayout layout;
  ComputeFat32Layout(stick.partition_sectors, UsbGeometry{0, 255, 63}, &layout);
  for (auto _ : state) {
    state.PauseTiming();
    if (!stick.settled(state)) break;
    state.ResumeTiming();
    if (bench::RunTool({"mkfs.fat", "-I", "-F", "32", "-s", std::to_string(layout.sectorsPerCluster), "-R",
                        std::to_string(kFat32ReservedSectors), stick.peer_target}) != 0) {
      state.SkipWithError("mkfs.fat failed");
      break;
    }
  }
  bench::SetByteRate(state, stick.partition_sectors * 512);
}

}  // namespace

int main(int argc, char** argv) {
  for (bool device : {false, true}) {
    const std::string work = device ? "fat32_format_16GiB_device" : "fat32_format_16GiB_image";
    bench::Register(work, "peer:mkfs.fat", [device](benchmark::State& s) { Peer(s, device); })->Iterations(5);
    bench::Register(work, "ours:FormatFat32Raw", [device](benchmark::State& s) { Ours(s, device); })->Iterations(5);
    bench::SetTargetVsPeer(work, 0.8);
    FatLayout layout;
    ComputeFat32Layout((kStickBytes / 512) - kPartitionStart, UsbGeometry{0, 255, 63}, &layout);
    bench::SetPeerCommand(work, "peer:mkfs.fat",
                          "mkfs.fat -I -F 32 -s " + std::to_string(layout.sectorsPerCluster) + " -R " +
                              std::to_string(kFat32ReservedSectors) +
                              (device ? " /dev/loopN (the partition's bytes)" : " PARTITION.img"));
  }
  return bench::Main(argc, argv);
}
