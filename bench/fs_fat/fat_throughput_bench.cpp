// Throughput of the FAT driver against dd on the same image, in the same run:
//   1. dd writes the bytes into the image's data area, then reads them back;
//   2. the driver writes the same bytes as one file (1 MiB writes, then a
//      flush that reaches the disk), then reads the file back.
// The image's holes are allocated first, the image's page cache is dropped
// before every phase and dd's source is kept in the page cache (the driver
// writes from memory), so both sides start alike. Prints MiB/s and the driver/dd ratios.
//
//   fat_throughput_bench [--mib 256] [--sector 512|4096] [--dir /tmp] [--chunk-kib 1024]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/error.h"
#include "platform/fs/fat/fat_volume.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int shell(const std::string& command) { return std::system(command.c_str()); }

void drop_cache(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
}

double timed_shell(const std::string& command) {
  auto t0 = std::chrono::steady_clock::now();
  if (shell(command) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return seconds_since(t0);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mib = 256;
  uint32_t sector = 512;
  size_t chunk = 1 << 20;
  std::string dir = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--mib") mib = std::strtoull(argv[i + 1], nullptr, 10);
    else if (a == "--sector") sector = uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
    else if (a == "--dir") dir = argv[i + 1];
    else if (a == "--chunk-kib") chunk = size_t(std::strtoull(argv[i + 1], nullptr, 10)) << 10;
  }
  const uint64_t bytes = mib << 20;
  const std::string image = dir + "/fat-bench-" + std::to_string(getpid()) + ".img";
  const std::string source = image + ".src";

  // A FAT32 volume with room for the file and its FAT.
  uint64_t volume_kib = (bytes + bytes / 4 + (64ull << 20)) >> 10;
  if (shell("mkfs.fat -C -F 32 -S " + std::to_string(sector) + " " + image + " " + std::to_string(volume_kib) +
            " >/dev/null") != 0) {
    std::fprintf(stderr, "mkfs.fat failed\n");
    return 1;
  }
  // Give every hole of the sparse image real (unwritten) blocks, so dd and the
  // driver both write into allocated space rather than one of them paying for
  // block allocation in the host file system.
  {
    int fd = open(image.c_str(), O_RDWR);
    off_t length = lseek(fd, 0, SEEK_END);
    if (fd < 0 || fallocate(fd, 0, 0, length) != 0) {
      std::fprintf(stderr, "fallocate failed\n");
      return 1;
    }
    close(fd);
  }
  std::vector<uint8_t> data(bytes);
  uint32_t x = 12345;
  for (size_t i = 0; i < data.size(); i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::memcpy(&data[i], &x, std::min<size_t>(4, data.size() - i));
  }
  {
    FILE* f = std::fopen(source.c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) return 1;
    std::fclose(f);
  }

  // dd into the data area (past the FATs), 1 MiB blocks, synced like the driver's flush.
  const uint64_t dd_offset = 32ull << 20;
  std::string bs = std::to_string(chunk);
  // The driver writes from memory, so dd's source is warmed into the page cache first.
  shell("cat " + source + " > /dev/null");
  drop_cache(image);
  double dd_write = timed_shell("dd if=" + source + " of=" + image + " bs=" + bs + " oflag=seek_bytes seek=" +
                                std::to_string(dd_offset) + " conv=notrunc,fdatasync status=none");
  drop_cache(image);
  double dd_read = timed_shell("dd if=" + image + " of=/dev/null bs=" + bs + " iflag=skip_bytes,count_bytes skip=" +
                               std::to_string(dd_offset) + " count=" + std::to_string(bytes) + " status=none");

  // The driver: the same bytes as one file.
  platform::fs::fat::MountOptions options;
  options.local_offset_minutes = 0;
  double fat_write = 0, fat_read = 0;
  bool same = false;
  {
    drop_cache(image);
    std::shared_ptr<platform::BlockDevice> device = platform::FileBlockDevice::open(image, sector);
    DWORD error = 0;
    auto v = platform::fs::fat::Mount(device, options, &error);
    if (!v) {
      std::fprintf(stderr, "mount failed: %u\n", error);
      return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    if (v->create_file({u"bench.bin"}, 0) != ERROR_SUCCESS) return 1;
    std::unique_ptr<platform::fs::OpenFile> f;
    if (v->open({u"bench.bin"}, true, &f) != ERROR_SUCCESS) return 1;
    for (uint64_t at = 0; at < bytes; at += chunk) {
      if (DWORD e = f->write(at, data.data() + at, size_t(std::min<uint64_t>(chunk, bytes - at)))) {
        std::fprintf(stderr, "write failed: %u\n", e);
        return 1;
      }
    }
    if (v->flush() != ERROR_SUCCESS) return 1;
    fat_write = seconds_since(t0);
    f.reset();

    drop_cache(image);
    std::vector<uint8_t> back(chunk);
    t0 = std::chrono::steady_clock::now();
    if (v->open({u"bench.bin"}, false, &f) != ERROR_SUCCESS) return 1;
    same = f->size() == bytes;
    for (uint64_t at = 0; at < bytes && same; at += chunk) {
      size_t n = size_t(std::min<uint64_t>(chunk, bytes - at)), done = 0;
      if (f->read(at, back.data(), n, &done) != ERROR_SUCCESS || done != n) same = false;
      // Checked after the clock stops would need a second buffer; a compare per chunk is cheap.
      if (same && std::memcmp(back.data(), data.data() + at, n) != 0) same = false;
    }
    fat_read = seconds_since(t0);
  }
  int fsck = shell("fsck.fat -n " + image + " >/dev/null");
  unlink(source.c_str());
  unlink(image.c_str());

  double mb = double(bytes) / (1 << 20);
  std::printf("FAT32, %u-byte sectors, %llu MiB in %zu KiB pieces\n", sector, (unsigned long long)mib, chunk >> 10);
  std::printf("  write: dd %8.1f MiB/s   driver %8.1f MiB/s   ratio %.2fx\n", mb / dd_write, mb / fat_write,
              dd_write / fat_write);
  std::printf("  read:  dd %8.1f MiB/s   driver %8.1f MiB/s   ratio %.2fx\n", mb / dd_read, mb / fat_read,
              dd_read / fat_read);
  std::printf("  data read back %s; fsck.fat %s\n", same ? "identical" : "DIFFERENT", fsck == 0 ? "clean" : "FAILED");
  return same && fsck == 0 ? 0 : 1;
}
