// Reads and writes a disk image sequentially through ReadFile/WriteFile on
// "\\.\PhysicalDrive0" with 504 KiB and 1 MiB transfers, runs dd with the same
// block sizes on the same image in the same run, and prints the ratio.
//
//   disk_throughput_bench [DIR] [BYTES]
// DIR holds the scratch image (default: a fresh folder under /tmp), BYTES the
// amount moved per pass (default 1 GiB). The page cache is left as it is for
// both sides; run it twice to compare warm caches.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/ioctl.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Runs a shell command and returns its wall time, or a negative value when it fails.
double TimeCommand(const std::string& command) {
  auto start = Clock::now();
  int status = std::system((command + " 2>/dev/null").c_str());
  double took = Seconds(start);
  return status == 0 ? took : -1;
}

// One pass through the device handle; returns seconds, negative on failure.
double TimeHandle(bool writing, size_t block, uint64_t blocks) {
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD access = writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  if (storage::OpenDevice(u"\\\\.\\PhysicalDrive0", access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                          FILE_FLAG_NO_BUFFERING, &h) != storage::DeviceOpenResult::Opened) {
    std::fprintf(stderr, "cannot open the disk: error %u\n", GetLastError());
    return -1;
  }
  void* raw = nullptr;
  if (posix_memalign(&raw, 4096, block) != 0) return -1;
  std::unique_ptr<void, decltype(&std::free)> buffer(raw, &std::free);
  std::memset(buffer.get(), writing ? 0x5A : 0, block);
  auto start = Clock::now();
  for (uint64_t i = 0; i < blocks; ++i) {
    DWORD done = 0;
    BOOL ok = writing ? WriteFile(h, buffer.get(), static_cast<DWORD>(block), &done, nullptr)
                      : ReadFile(h, buffer.get(), static_cast<DWORD>(block), &done, nullptr);
    if (!ok || done != block) {
      std::fprintf(stderr, "%s failed at block %llu: error %u\n", writing ? "write" : "read",
                   static_cast<unsigned long long>(i), GetLastError());
      CloseHandle(h);
      return -1;
    }
  }
  double took = Seconds(start);
  CloseHandle(h);
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  if (argc > 1) {
    folder = argv[1];
  } else {
    char pattern[] = "/tmp/disk-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  uint64_t bytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : (1ull << 30);
  const std::string image = folder + "/bench-disk.img";
  const uint64_t image_size = ((bytes + (1 << 20) - 1) >> 20 << 20) + (1 << 20);
  {
    FILE* f = std::fopen(image.c_str(), "wb");
    if (!f) return 1;
    std::fclose(f);
    std::filesystem::resize_file(image, image_size);
  }
  std::shared_ptr<BlockDevice> backing(FileBlockDevice::open(image, 512));
  if (!backing) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  machine::DiskConfig config;
  config.number = 0;
  config.image = image;
  auto disk = std::make_shared<machine::Disk>(config, backing, machine::SmartPages{}, false);
  storage::SetDiskLookup([disk](int n) { return n == 0 ? disk : nullptr; });

  // Allocate every block of the image first, so no side pays for it in its pass.
  if (TimeCommand("dd if=/dev/zero of=" + image + " bs=1M count=" + std::to_string(image_size >> 20) + " conv=notrunc") < 0) {
    std::fprintf(stderr, "dd cannot fill %s\n", image.c_str());
    return 1;
  }
  std::printf("%-8s %-6s %12s %12s %8s\n", "block", "pass", "handle MB/s", "dd MB/s", "ratio");
  int status = 0;
  for (size_t block : {size_t{504} * 1024, size_t{1} << 20}) {
    const uint64_t blocks = bytes / block;
    const double megabytes = static_cast<double>(blocks * block) / 1e6;
    const std::string bs = std::to_string(block), count = std::to_string(blocks);
    for (bool writing : {true, false}) {
      double ours = TimeHandle(writing, block, blocks);
      double dd = writing ? TimeCommand("dd if=/dev/zero of=" + image + " bs=" + bs + " count=" + count + " conv=notrunc")
                          : TimeCommand("dd if=" + image + " of=/dev/null bs=" + bs + " count=" + count);
      if (ours <= 0 || dd <= 0) {
        std::fprintf(stderr, "a %s pass failed\n", writing ? "write" : "read");
        status = 1;
        continue;
      }
      // Allocate every block of the image first, so no side pays for it in its pass.
  if (TimeCommand("dd if=/dev/zero of=" + image + " bs=1M count=" + std::to_string(image_size >> 20) + " conv=notrunc") < 0) {
    std::fprintf(stderr, "dd cannot fill %s\n", image.c_str());
    return 1;
  }
  std::printf("%-8s %-6s %12.0f %12.0f %7.2fx\n", block == (1u << 20) ? "1 MiB" : "504 KiB", writing ? "write" : "read",
                  megabytes / ours, megabytes / dd, dd / ours);
    }
  }
  storage::SetDiskLookup(nullptr);
  backing.reset();
  if (argc <= 1) std::filesystem::remove_all(folder);
  else std::filesystem::remove(image);
  return status;
}
