#include "fs/volume_fixture.h"

#include <stdexcept>

#include "platform/core/text.h"
#include "platform/fs/volume_set.h"

namespace fstest {

SimulatedDisk::SimulatedDisk(std::vector<PartitionSpec> parts, uint32_t sector_size, int number)
    : image_(dir.file("disk.img")) {
  uint64_t offset = 1 << 20, end = offset;
  for (auto& p : parts) end += p.size + (1 << 20);
  MakeSparseFile(image_, end);
  int index = 1;
  for (auto& p : parts) {
    if (p.file_system == "NTFS") {
      std::string part = dir.file("part.img");
      if (!MakeNtfsImage(part, p.size, sector_size, p.label)) throw std::runtime_error("mkntfs failed");
      auto r = Run("dd if=" + Quote(part) + " of=" + Quote(image_) + " bs=1M seek=" + std::to_string(offset >> 20) +
                   " conv=notrunc,sparse status=none");
      if (r.status != 0) throw std::runtime_error("dd failed: " + r.output);
      std::remove(part.c_str());
    }
    platform::storage::MountedVolume v;
    char guid[64];
    std::snprintf(guid, sizeof guid, "\\\\?\\Volume{%08x-0000-0000-0000-%012x}\\", 0x5eed0000u + number,
                  static_cast<unsigned>(index));
    v.guid_path = platform::to_utf16(guid);
    v.device_name = u"\\Device\\HarddiskVolume" + platform::to_utf16(std::to_string(index + number * 10));
    v.letter = p.letter;
    v.disk_number = number;
    v.partition_number = index;
    v.offset = offset;
    v.length = p.size;
    v.file_system = p.file_system;
    volumes_.push_back(v);
    offset += p.size + (1 << 20);
    ++index;
  }
  device_ = std::shared_ptr<platform::BlockDevice>(platform::FileBlockDevice::open(image_, sector_size));
  if (!device_) throw std::runtime_error("cannot open disk image");
  for (auto& v : volumes_) v.device = std::make_shared<platform::WindowBlockDevice>(device_, v.offset, v.length);
  publish();
}

SimulatedDisk::~SimulatedDisk() {
  platform::fs::ReleaseAllDrivers();
  platform::storage::SetMountedVolumes({});
}

void SimulatedDisk::publish() {
  platform::fs::ReleaseAllDrivers();
  platform::storage::SetMountedVolumes(volumes_);
}

std::string SimulatedDisk::extract(size_t i, const std::string& name) {
  platform::fs::ReleaseAllDrivers();
  std::string out = dir.file(name);
  auto& v = volumes_[i];
  Run("dd if=" + Quote(image_) + " of=" + Quote(out) + " bs=1M skip=" + std::to_string(v.offset >> 20) +
      " count=" + std::to_string(v.length >> 20) + " status=none");
  return out;
}

bool WriteText(const std::u16string& name, const std::string& text, DWORD disposition) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  CloseHandle(h);
  return ok && done == text.size();
}

std::string ReadText(const std::u16string& name) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
  std::string out;
  char buf[65536];
  DWORD done = 0;
  while (ReadFile(h, buf, sizeof buf, &done, nullptr) && done) out.append(buf, done);
  CloseHandle(h);
  return out;
}

}  // namespace fstest
