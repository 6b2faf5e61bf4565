// Mounts a mutated FAT image and exercises the driver on it: listing,
// reading, writing, renaming, removing, labelling, flushing. The device traps
// on any access outside the image, so an escape is a crash, not a quiet
// failure.
//
// Input: a little-endian uint32 volume size, then the first bytes of the
// image; the rest of the volume reads as zeros (so a FAT32 volume of 65525+
// clusters fits in a small input).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/core/block_device.h"
#include "platform/core/error.h"
#include "platform/fs/fat/fat_volume.h"
#include "tests/fuzz/volume_exercise.h"

namespace {

constexpr uint64_t kMaxVolume = 40ull << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 + 512) return 0;
  uint32_t declared;
  std::memcpy(&declared, data, 4);
  data += 4;
  size -= 4;
  uint64_t volume = std::max<uint64_t>(declared, size);
  volume = std::min<uint64_t>((volume + 511) / 512 * 512, kMaxVolume);
  if (size > volume) size = size_t(volume);
  auto device = std::make_shared<fuzz_support::CheckedDevice>(volume);
  if (!device->ok()) return 0;
  std::memcpy(device->data(), data, size);

  platform::fs::fat::MountOptions options;
  options.now = [] { return 133604271263700000ull; };
  options.local_offset_minutes = 0;
  DWORD error = 0;
  auto v = platform::fs::fat::Mount(device, options, &error);
  if (!v) return 0;
  platform::fs::VolumeInfo vi;
  v->volume_info(&vi);
  fuzz_support::walk(*v, {}, 0);
  fuzz_support::change_existing(*v);

  fuzz_support::make_new_entries(*v);
  v->set_label(u"FUZZ");
  v->flush();
  return 0;
}
