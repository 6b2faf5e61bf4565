// Raw disk throughput: a simulated disk read and written sequentially, ours
// beside peers that do the same work with the same durability.
//
// Two kinds of work item, each for reads and writes and each block size:
//
//   *_inproc   in this process, every pass timed from the open to the close:
//     peer:pread / peer:pwrite   the floor: a host descriptor on the image
//         and one pread/pwrite per block from the same buffer;
//     ours:ReadFile / ours:WriteFile   CreateFileW("\\.\PhysicalDrive0"),
//         one ReadFile/WriteFile per block, CloseHandle;
//     ours:ReadSectorsAt   the disk access layer's routine (reads only: its
//         writes are write-through, measured by disk_write_through_*);
//   *_process  whole programs, process start included on both sides:
//     peer:dd    /bin/dd (if=IMAGE of=/dev/null; if=SOURCE of=IMAGE);
//     ours:raw_copy   bench/storage/raw_copy (opens the machine folder and
//         the disk, copies the same blocks; reads check every block's stamp,
//         writes read the same SOURCE file dd reads).
//
// and what each pass reaches:
//   read_cached    the image is in the host's page cache on every side (a
//                  measure of the path's cost per transfer, not of the disk);
//   read_device    the image's pages are dropped before each pass, every side
//                  reads with direct I/O (O_DIRECT, iflag=direct, an
//                  unbuffered handle): the device;
//   write_synced   written through the page cache, durable at the end of the
//                  pass: pwrite then fdatasync, dd conv=fsync, a buffered
//                  handle (its close syncs the disk);
//   write_direct   written with direct I/O, durable at the end: O_DIRECT
//                  pwrite then fdatasync, dd oflag=direct conv=fsync, an
//                  unbuffered handle;
//   write_through  every block durable before the next (in process only):
//                  pwrite then fdatasync per block, and WriteSectorsAt (the
//                  disk layer's handles are unbuffered and write-through).
//
// Every pass's data is checked: reads compare each block's stamp (its offset
// in the image) as they go, on our side and the floor; after every write pass
// the whole written range is read back outside the timing and compared with
// what that pass wrote (each pass stamps its blocks with its own number).
// Before every pass the image's dirty pages are written back outside the
// timing, so no pass inherits another's write-back.
//
// Options (environment): DRUM_BENCH_DISK_MIB bytes per pass in MiB (default
// 1024), DRUM_BENCH_BLOCKS block sizes in KiB (default "64,1024"),
// DRUM_BENCH_PASSES passes per run (default 3). Target: 0.9x the work's peer.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "bench/common/bench_support.h"
#include "disk/disk_access.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kStampMask = (uint64_t(1) << 40) - 1;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  uint64_t n = std::strtoull(v, nullptr, 10);
  return n ? n : fallback;
}

uint64_t PassBytes() { return EnvNumber("DRUM_BENCH_DISK_MIB", 1024) * kMiB; }
uint64_t BlocksPerPass(size_t block) { return (PassBytes() + block - 1) / block; }

// The data: 4 KiB pieces, each a stamp (the pass number above bit 40, the
// piece's byte offset / 4096 below) and then the same 4088 bytes of pattern.
uint64_t Stamp(uint64_t pass, uint64_t offset) { return (pass << 40) | (offset / 4096); }
const uint8_t* Piece() {
  static bench::AlignedBuffer piece(4096, 7);
  return piece.data();
}
// Fills `bytes` (a multiple of 4 KiB) as the pieces from image offset `at` of pass `pass`.
void Stage(uint8_t* data, size_t bytes, uint64_t pass, uint64_t at, bool stamps_only) {
  for (size_t q = 0; q < bytes; q += 4096) {
    if (!stamps_only) std::memcpy(data + q, Piece(), 4096);
    uint64_t stamp = Stamp(pass, at + q);
    std::memcpy(data + q, &stamp, 8);
  }
}
bool OffsetStampOk(const uint8_t* block, uint64_t offset) {
  uint64_t stamp;
  std::memcpy(&stamp, block, 8);
  return (stamp & kStampMask) == offset / 4096;
}
// True when `bytes` hold exactly what pass `pass` writes at `at`.
bool PassDataOk(const uint8_t* data, size_t bytes, uint64_t pass, uint64_t at) {
  for (size_t q = 0; q < bytes; q += 4096) {
    uint64_t stamp;
    std::memcpy(&stamp, data + q, 8);
    if (stamp != Stamp(pass, at + q) || std::memcmp(data + q + 8, Piece() + 8, 4088) != 0) return false;
  }
  return true;
}

// The simulated PC with its one disk, made once per run of the program: the
// image is filled with stamped 4 KiB pieces of the pattern, and a host
// SOURCE file of one pass's bytes feeds the whole-program writers.
struct Disk {
  bench::BenchPc pc;
  std::string image;
  std::string source;
  std::string error;
  uint64_t next_pass = 1;

  Disk() {
    const uint64_t bytes = PassBytes();
    if (!pc.add_disk(0, bytes + 2 * kMiB) || !pc.boot()) {
      error = pc.error();
      return;
    }
    source = pc.folder() + "/source.bin";
    if (!fill(pc.image(0), bytes + 2 * kMiB, 0) || !fill(source, bytes, 0)) return;
    image = pc.image(0);
  }
  // Writes pass `pass`'s data over [0, bytes) of `path`.
  bool fill(const std::string& path, uint64_t bytes, uint64_t pass) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return fail("cannot open " + path);
    bench::AlignedBuffer chunk(kMiB, 7);
    Stage(chunk.data(), kMiB, pass, 0, false);
    bool ok = true;
    for (uint64_t at = 0; ok && at < bytes; at += kMiB) {
      Stage(chunk.data(), kMiB, pass, at, true);
      ok = pwrite(fd, chunk.data(), kMiB, static_cast<off_t>(at)) == static_cast<ssize_t>(kMiB);
    }
    ok = ::close(fd) == 0 && ok;
    return ok || fail("cannot fill " + path);
  }
  bool fail(const std::string& why) {
    error = why;
    return false;
  }
  bool ready(benchmark::State& state) const {
    if (!image.empty()) return true;
    state.SkipWithError(("the simulated disk could not be made: " + error).c_str());
    return false;
  }
  // Outside the timing: the image written back and cached or dropped.
  bool settle(benchmark::State& state, bench::CacheState cache) const {
    std::string why;
    if (bench::SettleFile(image, cache, &why)) return true;
    state.SkipWithError(why.c_str());
    return false;
  }
  // Outside the timing: the source holds a new pass's data, for the process writers.
  bool restamp_source(uint64_t pass, size_t block) {
    std::string why;
    return fill(source, BlocksPerPass(block) * block, pass) &&
           bench::SettleFile(source, bench::CacheState::Warm, &why);
  }
  // Outside the timing: the range a write pass covered holds what it wrote.
  bool check_written(benchmark::State& state, uint64_t pass, size_t block) {
    int fd = ::open(image.c_str(), O_RDONLY);
    bench::AlignedBuffer got(kMiB, 0);
    bool ok = fd >= 0;
    const uint64_t end = BlocksPerPass(block) * block;
    uint64_t at = 0;
    for (; ok && at < end; at += kMiB) {
      size_t n = size_t(std::min<uint64_t>(kMiB, end - at));
      ok = pread(fd, got.data(), n, static_cast<off_t>(at)) == static_cast<ssize_t>(n) &&
           PassDataOk(got.data(), n, pass, at);
    }
    if (fd >= 0) ::close(fd);
    if (!ok) state.SkipWithError(("the pass's data is wrong in the MiB at byte " + std::to_string(at)).c_str());
    return ok;
  }
};

enum class Mode { ReadCached, ReadDevice, WriteSynced, WriteDirect, WriteThrough };
bool Writing(Mode m) { return m != Mode::ReadCached && m != Mode::ReadDevice; }
bool Direct(Mode m) { return m == Mode::ReadDevice || m == Mode::WriteDirect; }
const char* ModeName(Mode m) {
  switch (m) {
    case Mode::ReadCached: return "disk_read_cached";
    case Mode::ReadDevice: return "disk_read_device";
    case Mode::WriteSynced: return "disk_write_synced";
    case Mode::WriteDirect: return "disk_write_direct";
    case Mode::WriteThrough: return "disk_write_through";
  }
  return "";
}

// Runs `body` once per pass between the settling and the check.
template <class Body>
void Passes(benchmark::State& state, Mode mode, size_t block, Body body) {
  Disk& disk = bench::Shared<Disk>();
  if (!disk.ready(state)) return;
  bench::AlignedBuffer buffer(block, 7);
  Stage(buffer.data(), block, 0, 0, false);
  for (auto _ : state) {
    state.PauseTiming();
    const uint64_t pass = disk.next_pass++;
    if (!disk.settle(state, Direct(mode) || mode == Mode::WriteThrough ? bench::CacheState::Cold
                                                                        : bench::CacheState::Warm))
      break;
    state.ResumeTiming();
    std::string why = body(disk, buffer, pass);
    state.PauseTiming();
    if (!why.empty()) {
      state.SkipWithError(why.c_str());
      break;
    }
    bool ok = !Writing(mode) || disk.check_written(state, pass, block);
    state.ResumeTiming();
    if (!ok) break;
  }
  bench::SetByteRate(state, BlocksPerPass(block) * block);
}

std::string Floor(Mode mode, size_t block, Disk& disk, bench::AlignedBuffer& buffer, uint64_t pass) {
  const bool writing = Writing(mode);
  int fd = ::open(disk.image.c_str(), (writing ? O_RDWR : O_RDONLY) | (Direct(mode) ? O_DIRECT : 0));
  if (fd < 0) return "cannot open the image";
  const uint64_t blocks = BlocksPerPass(block);
  for (uint64_t i = 0; i < blocks; ++i) {
    const uint64_t at = i * block;
    if (writing) {
      Stage(buffer.data(), block, pass, at, true);
      if (pwrite(fd, buffer.data(), block, static_cast<off_t>(at)) != static_cast<ssize_t>(block))
        return "pwrite failed";
      if (mode == Mode::WriteThrough && fdatasync(fd) != 0) return "fdatasync failed";
    } else if (pread(fd, buffer.data(), block, static_cast<off_t>(at)) != static_cast<ssize_t>(block) ||
               !OffsetStampOk(buffer.data(), at)) {
      return "block " + std::to_string(i) + " read wrong";
    }
  }
  if (writing && mode != Mode::WriteThrough && fdatasync(fd) != 0) return "fdatasync failed";
  ::close(fd);
  return "";
}

std::string Handle(Mode mode, size_t block, Disk&, bench::AlignedBuffer& buffer, uint64_t pass) {
  const bool writing = Writing(mode);
  DWORD flags = Direct(mode) ? FILE_FLAG_NO_BUFFERING : 0;
  if (mode == Mode::WriteThrough) flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
  HANDLE h = CreateFileW(u"\\\\.\\PhysicalDrive0", writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "CreateFileW failed with error " + std::to_string(GetLastError());
  const uint64_t blocks = BlocksPerPass(block);
  std::string why;
  for (uint64_t i = 0; why.empty() && i < blocks; ++i) {
    const uint64_t at = i * block;
    DWORD done = 0;
    if (writing) {
      Stage(buffer.data(), block, pass, at, true);
      if (!WriteFile(h, buffer.data(), static_cast<DWORD>(block), &done, nullptr) || done != block)
        why = "WriteFile failed with error " + std::to_string(GetLastError());
    } else if (!ReadFile(h, buffer.data(), static_cast<DWORD>(block), &done, nullptr) || done != block ||
               !OffsetStampOk(buffer.data(), at)) {
      why = "block " + std::to_string(i) + " read wrong";
    }
  }
  if (!CloseHandle(h) && why.empty()) why = "CloseHandle failed";
  return why;
}

// The disk access layer: ReadSectorsAt on an unbuffered handle, or
// WriteSectorsAt on its write-through one.
std::string Sectors(Mode mode, size_t block, Disk&, bench::AlignedBuffer& buffer, uint64_t pass) {
  HANDLE h = OpenDiskHandle(0);
  if (!h || h == INVALID_HANDLE_VALUE) return "OpenDiskHandle(0) failed";
  const int32_t units = static_cast<int32_t>(block / 512);
  const uint64_t blocks = BlocksPerPass(block);
  std::string why;
  for (uint64_t i = 0; why.empty() && i < blocks; ++i) {
    const uint64_t at = i * block;
    if (Writing(mode)) {
      Stage(buffer.data(), block, pass, at, true);
      if (WriteSectorsAt(h, buffer.data(), i * units, units) != block) why = "WriteSectorsAt failed";
    } else if (ReadSectorsAt(h, buffer.data(), i * units, units) != block || !OffsetStampOk(buffer.data(), at)) {
      why = "block " + std::to_string(i) + " read wrong";
    }
  }
  CloseDeviceHandle(h);
  return why;
}

std::string Dd(Mode mode, size_t block, Disk& disk, bench::AlignedBuffer&, uint64_t pass) {
  const std::string bs = "bs=" + std::to_string(block), count = "count=" + std::to_string(BlocksPerPass(block));
  std::vector<std::string> argv;
  if (!Writing(mode)) {
    argv = {"/bin/dd", "if=" + disk.image, "of=/dev/null", bs, count, "status=none"};
    if (Direct(mode)) argv.push_back("iflag=direct");
  } else {
    if (!disk.restamp_source(pass, block)) return "the source could not be stamped";
    argv = {"/bin/dd", "if=" + disk.source, "of=" + disk.image, bs, count, "conv=notrunc,fsync", "status=none"};
    if (Direct(mode)) argv.push_back("oflag=direct");
  }
  return bench::RunTool(argv) == 0 ? "" : "dd failed";
}

std::string RawCopy(Mode mode, size_t block, Disk& disk, bench::AlignedBuffer&, uint64_t pass) {
  static const std::string program = [] {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, size_t(n)) : std::string();
    return path.substr(0, path.rfind('/') + 1) + "raw_copy";
  }();
  std::vector<std::string> argv = {program, disk.pc.folder(), Writing(mode) ? "write" : "read", std::to_string(block),
                                   std::to_string(BlocksPerPass(block))};
  if (Direct(mode)) argv.push_back("direct");
  if (Writing(mode)) {
    if (!disk.restamp_source(pass, block)) return "the source could not be stamped";
    argv.push_back(disk.source);
  }
  return bench::RunTool(argv) == 0 ? "" : "raw_copy failed";
}

using Side = std::string (*)(Mode, size_t, Disk&, bench::AlignedBuffer&, uint64_t);

void Add(const std::string& work, const std::string& side, Side run, Mode mode, size_t block, int passes) {
  bench::Register(work, side, [=](benchmark::State& s) {
    Passes(s, mode, block, [&](Disk& d, bench::AlignedBuffer& b, uint64_t pass) { return run(mode, block, d, b, pass); });
  })->Iterations(passes);
}

void RegisterAll() {
  const int passes = static_cast<int>(EnvNumber("DRUM_BENCH_PASSES", 3));
  std::vector<size_t> blocks;
  std::string list = std::getenv("DRUM_BENCH_BLOCKS") ? std::getenv("DRUM_BENCH_BLOCKS") : "64,1024";
  std::stringstream items(list);
  for (std::string item; std::getline(items, item, ',');)
    if (uint64_t kib = std::strtoull(item.c_str(), nullptr, 10); kib && kib % 4 == 0) blocks.push_back(kib * 1024);
  const std::string gib = std::to_string(PassBytes() / kMiB) + "MiB";
  for (Mode mode : {Mode::ReadCached, Mode::ReadDevice, Mode::WriteSynced, Mode::WriteDirect, Mode::WriteThrough}) {
    const bool writing = Writing(mode);
    for (size_t block : blocks) {
      const std::string size = block % kMiB ? std::to_string(block / 1024) + "KiB" : std::to_string(block / kMiB) + "MiB";
      const std::string base = std::string(ModeName(mode)) + "_" + gib + "_bs" + size;
      // The in-process floor first: the table measures the others against it.
      const std::string inproc = base + "_inproc";
      Add(inproc, writing ? "peer:pwrite" : "peer:pread", Floor, mode, block, passes);
      if (mode != Mode::WriteThrough) Add(inproc, writing ? "ours:WriteFile" : "ours:ReadFile", Handle, mode, block, passes);
      if (mode == Mode::WriteThrough) {
        Add(inproc, "ours:WriteFile", Handle, mode, block, passes);
        Add(inproc, "ours:WriteSectorsAt", Sectors, mode, block, passes);
      }
      if (mode == Mode::ReadDevice) Add(inproc, "ours:ReadSectorsAt", Sectors, mode, block, passes);
      bench::SetTargetVsPeer(inproc, 0.9);
      if (mode == Mode::WriteThrough) continue;
      const std::string process = base + "_process";
      Add(process, "peer:dd", Dd, mode, block, passes);
      Add(process, "ours:raw_copy", RawCopy, mode, block, passes);
      bench::SetTargetVsPeer(process, 0.9);
    }
  }
  bench::InterleaveRunsByDefault();
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  return bench::Main(argc, argv);
}
