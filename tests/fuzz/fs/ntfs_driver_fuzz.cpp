// Mounts a mutated NTFS volume through the NTFS driver (our code around
// libntfs-3g: the boot-sector check, names, streams, reparse data, security,
// volume facts) and exercises it as the FAT driver's target does: listing,
// reading, writing, renaming, removing, labelling, flushing, then the
// volume-data answer and a remount of what was written. The device traps on
// any access outside the volume.
//
// Input, so that a whole small volume fits in a short input: a little-endian
// uint32 volume size, then runs of 512-byte sectors, each
//   u32 first sector, u16 sector count, u8 kind (0: the sectors' bytes follow;
//   1: one byte follows that fills them all);
// sectors no run names read as zeros. The seed is a 2 MiB volume made by
// mkntfs (-s 512 -c 512) with one file put in by ntfscp, in this form.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/core/little_endian.h"
#include "platform/fs/ntfs/ntfs_driver.h"
#include "tests/fuzz/volume_exercise.h"

namespace {

constexpr uint64_t kMaxVolume = 16ull << 20;
constexpr size_t kSector = 512;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint64_t volume =
      std::min<uint64_t>((uint64_t{platform::ReadLe32(data)} + kSector - 1) / kSector * kSector, kMaxVolume);
  if (volume < 64 * kSector) return 0;
  auto device = std::make_shared<fuzz_support::CheckedDevice>(volume);
  if (!device->ok()) return 0;
  const uint64_t sectors = volume / kSector;
  for (size_t at = 4; at + 7 <= size;) {
    const uint64_t first = platform::ReadLe32(data + at), count = platform::ReadLe16(data + at + 4);
    const uint8_t kind = data[at + 6];
    at += 7;
    const uint64_t fit = first < sectors ? std::min<uint64_t>(count, sectors - first) : 0;
    if (kind == 1) {
      if (at >= size) break;
      if (fit) std::memset(device->data() + first * kSector, data[at], fit * kSector);
      at += 1;
    } else {
      const size_t bytes = static_cast<size_t>(std::min<uint64_t>(count * kSector, size - at));
      const size_t copied = static_cast<size_t>(std::min<uint64_t>(bytes, fit * kSector));
      if (copied) std::memcpy(device->data() + first * kSector, data + at, copied);
      at += bytes;
    }
  }

  DWORD error = 0;
  auto v = platform::fs::ntfs::Mount(device, false, &error);
  if (!v) return 0;
  platform::fs::VolumeInfo info;
  v->volume_info(&info);
  platform::fs::ntfs::NtfsVolumeData facts;
  v->volume_data(&facts);
  fuzz_support::walk(*v, {}, 0);
  std::vector<uint8_t> reparse, security;
  v->get_reparse_point({u"hello.txt"}, &reparse);
  v->get_security({u"hello.txt"}, &security);
  fuzz_support::change_existing(*v);
  fuzz_support::make_new_entries(*v);
  v->set_label(u"FUZZ");
  v->flush();
  v.reset();
  // What the driver wrote mounts again (or is refused, never crashes).
  auto again = platform::fs::ntfs::Mount(device, true, &error);
  if (again) fuzz_support::walk(*again, {}, 0);
  return 0;
}
