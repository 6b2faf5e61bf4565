// A disk whose first sectors come from the input (byte 0 picks 512- or
// 4096-byte sectors): the partition readers, the disk map over what they
// found, and the layout table over the same bytes taken as a layout reply,
// all stay inside their tables and the disk.
//
// The disk is small (256 KiB: room for an MBR, an EBR chain and a whole GPT
// entry array in either sector size, and every entry that points past it is
// a partition outside the disk) and made once per sector size; each input
// only rewrites its bytes, so a brief run tries thousands of inputs.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "disk/disk_context.h"
#include "disk/disk_map.h"
#include "disk/drive_layout_table.h"
#include "disk/partition_list.h"
#include "platform/core/block_device.h"
#include "platform/core/clock.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/ioctl.h"

namespace {

constexpr uint64_t kDiskBytes = 256ull << 10;
std::string machine_folder;

void RemoveMachineFolder() {
  platform::machine::SetCurrent(nullptr);
  std::filesystem::remove_all(machine_folder);
}

// An empty machine (no disks of its own, so no volumes and no letters); the
// disk under test comes through the device layer's lookup.
void UseEmptyMachine() {
  machine_folder = std::filesystem::temp_directory_path().string() + "/partition-list-fuzz-" + std::to_string(getpid());
  std::filesystem::remove_all(machine_folder);
  std::string error;
  if (!platform::machine::CreateMachineFolder(machine_folder, &error) ||
      !platform::machine::OpenMachine(machine_folder, &error))
    abort();
  std::atexit(RemoveMachineFolder);
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseEmptyMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t sector = data[0] & 1 ? 4096 : 512;
  ++data;
  --size;
  static std::shared_ptr<platform::MemoryBlockDevice> devices[2];
  static std::shared_ptr<platform::machine::Disk> disks[2];
  const int kind = sector == 4096 ? 1 : 0;
  if (!devices[kind]) {
    devices[kind] = std::make_shared<platform::MemoryBlockDevice>(kDiskBytes, sector);
    platform::machine::DiskConfig config;
    config.number = 0;
    config.sector_size = sector;
    disks[kind] = std::make_shared<platform::machine::Disk>(config, devices[kind], platform::machine::SmartPages{}, false);
  }
  auto& bytes = devices[kind]->bytes();
  const size_t copied = size < kDiskBytes ? size : kDiskBytes;
  memcpy(bytes.data(), data, copied);
  memset(bytes.data() + copied, 0, kDiskBytes - copied);
  auto disk = disks[kind];
  platform::storage::SetDiskLookup([disk](int n) { return n == 0 ? disk : nullptr; });

  DiskContext = DiskContextRecord{};
  DiskContext.sectorMultiplier[0] = static_cast<int32_t>(sector / 512);
  DiskContext.diskCount = 1;
  DiskContext.listedToPhysical[1] = 0;
  DiskContext.listedDiskSize[1] = kDiskBytes / 512;

  PartitionEntry list[kMaxPartitions + 1] = {};
  list[kMaxPartitions].start = 0x5EED;
  int32_t count = ReadPartitionList(list, 0);
  if (count < 0 || count > kMaxPartitions || list[kMaxPartitions].start != 0x5EED) abort();
  if (DiskContext.openDiskCount != 0) abort();

  DiskMapItem items[kMaxDiskMapItems + 1] = {};
  items[kMaxDiskMapItems].start = 0x5EED;
  for (int i = 0; i < count; ++i) sharedPartitionBuffer[i] = list[i];
  int32_t n = BuildDiskMap(ListedDiskIndex{0}, items, false);
  if (n < 0 || n > kMaxDiskMapItems || items[kMaxDiskMapItems].start != 0x5EED) abort();
  for (int i = 0; i < count; ++i)
    if (sharedPartitionBuffer[i].start != list[i].start || sharedPartitionBuffer[i].length != list[i].length) abort();

  count = ReadPartitionListBasic(list, 1);
  if (count < 0 || count > kMaxPartitions || list[kMaxPartitions].start != 0x5EED) abort();

  // The same bytes as a drive-layout reply of the length the input gives.
  alignas(8) uint8_t layout[kLayoutBufferSize] = {};
  size_t reply = size < sizeof layout ? size : sizeof layout;
  memcpy(layout, data, reply);
  DiskContext.layoutByteCount = static_cast<int32_t>(reply);
  int32_t claimed = static_cast<int32_t>(reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(layout)->PartitionCount);
  FillLayoutTable(0, layout, claimed);
  FindSystemPartition(claimed);

  platform::storage::SetDiskLookup(nullptr);
  return 0;
}
