// Writes then reads a 256 MiB file through the NTFS driver (libntfs-3g on an
// image), and moves the same bytes into the same image with dd, printing the
// throughput ratios (target: at least 0.5x dd).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/ntfs/ntfs_driver.h"

namespace {

constexpr uint64_t kFileBytes = 256ull << 20;
constexpr uint64_t kImageBytes = 768ull << 20;
constexpr size_t kChunk = 1 << 20;

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

int sh(const std::string& cmd) {
  int s = std::system(cmd.c_str());
  return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "/tmp";
  std::string image = dir + "/drum-ntfs-bench.img", payload = dir + "/drum-ntfs-bench.bin";
  if (sh("truncate -s 0 " + image + " && truncate -s " + std::to_string(kImageBytes) + " " + image) ||
      sh("mkntfs -F -Q -q -s 512 -p 0 -H 255 -S 63 " + image + " >/dev/null 2>&1")) {
    std::fprintf(stderr, "cannot make the image in %s\n", dir.c_str());
    return 1;
  }
  // Page-aligned, as dd's own buffer is: the kernel copies into it several times faster.
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> buffer(static_cast<uint8_t*>(std::aligned_alloc(4096, kChunk)));
  struct {
    uint8_t* p;
    uint8_t* data() { return p; }
    uint8_t& operator[](size_t i) { return p[i]; }
  } chunk{buffer.get()};
  for (size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<uint8_t>(i * 131 + 7);

  // Through the driver.
  DWORD error = 0;
  double driver_write = 0, driver_read = 0;
  {
    auto device = std::shared_ptr<platform::BlockDevice>(platform::FileBlockDevice::open(image, 512));
    auto driver = platform::fs::ntfs::Mount(device, false, &error);
    if (!driver) {
      std::fprintf(stderr, "mount failed: %u\n", error);
      return 1;
    }
    platform::fs::VolumePath path{u"bench.bin"};
    driver->create_file(path, 0);
    std::unique_ptr<platform::fs::OpenFile> file;
    driver->open(path, true, &file);
    auto t = std::chrono::steady_clock::now();
    for (uint64_t off = 0; off < kFileBytes; off += kChunk)
      if (file->write(off, chunk.data(), kChunk)) return 1;
    file->flush();
    device->flush();
    fdatasync(static_cast<platform::FileBlockDevice*>(device.get())->fd());
    driver_write = seconds_since(t);
    t = std::chrono::steady_clock::now();
    size_t done = 0;
    for (uint64_t off = 0; off < kFileBytes; off += kChunk)
      if (file->read(off, chunk.data(), kChunk, &done) || done != kChunk) return 1;
    driver_read = seconds_since(t);
  }

  // dd of the same bytes into the same image, then back out.
  {
    int fd = open(payload.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    for (uint64_t off = 0; off < kFileBytes; off += kChunk)
      if (write(fd, chunk.data(), kChunk) != static_cast<ssize_t>(kChunk)) return 1;
    close(fd);
  }
  auto t = std::chrono::steady_clock::now();
  sh("dd if=" + payload + " of=" + image + " bs=1M seek=400 conv=notrunc,fdatasync status=none");
  double dd_write = seconds_since(t);
  t = std::chrono::steady_clock::now();
  sh("dd if=" + image + " of=/dev/null bs=1M skip=400 count=256 status=none");
  double dd_read = seconds_since(t);
  // The same 1 MiB reads straight from the image file, for the cost of the copies alone.
  double raw_read = 0;
  {
    auto device = std::unique_ptr<platform::FileBlockDevice>(platform::FileBlockDevice::open(image, 512));
    t = std::chrono::steady_clock::now();
    for (uint64_t off = 0; off < kFileBytes; off += kChunk) device->read_at((400ull << 20) + off, chunk.data(), kChunk);
    raw_read = seconds_since(t);
  }
  unlink(payload.c_str());
  unlink(image.c_str());

  double mib = kFileBytes / double(1 << 20);
  std::printf("ntfs driver write %.0f MiB/s, dd write %.0f MiB/s, ratio %.2fx\n", mib / driver_write,
              mib / dd_write, dd_write / driver_write);
  std::printf("ntfs driver read  %.0f MiB/s, dd read  %.0f MiB/s, ratio %.2fx\n", mib / driver_read, mib / dd_read,
              dd_read / driver_read);
  std::printf("plain pread of the image %.0f MiB/s (driver read / plain pread %.2fx)\n", mib / raw_read,
              raw_read / driver_read);
  return 0;
}
