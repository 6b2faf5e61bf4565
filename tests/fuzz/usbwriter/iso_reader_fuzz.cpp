// Feeds arbitrary images to the ISO reader through the file API: volume
// descriptors, the boot record and catalog, directory records and path-table
// locations are all hostile. The walk and the tree copy (into a memory sink)
// must end and stay inside their buffers. The input is laid out sparsely: its
// first byte picks where the rest lands, so short inputs reach the
// descriptors at block 16 and the directories behind them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "tests/fuzz/memory_image.h"
#include "usbwriter/iso/iso_reader.h"

namespace {

// The tree copy's pages only count progress; its writes go to a path no
// volume holds, so every file fails to open and the copy ends at the first.
// The walk itself is what is fuzzed.
class NullHost : public IsoCopyHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return false; }
  void ReportCopyError(LPCWSTR) override {}
  int64_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1 << 20)) return 0;
  // Byte 0 chooses the block where the rest starts (16 = the descriptors).
  size_t start = static_cast<size_t>(data[0] % 32) * kIsoBlockSize;
  std::vector<uint8_t> bytes(start + size - 1, 0);
  memcpy(bytes.data() + start, data + 1, size - 1);

  // The walk opens SourceIsoPath; the fuzz image is handed in behind it.
  IsoImageInfo = IsoImageInfoRecord{};
  WriteBootLoader = true;
  CopyErrorCount = 0;
  SourceIsoPath = u"Q:\\none.iso";
  ScanIsoDescriptors(0, false);
  if (IsoImageInfo.imageHandle && IsoImageInfo.imageHandle != INVALID_HANDLE_VALUE) {
    CloseHandle(IsoImageInfo.imageHandle);
  }
  IsoImageInfo.imageHandle = platform::OpenHandle(std::make_shared<fuzz_support::MemoryImage>(bytes));

  // Parse every descriptor the way the walk does, over the memory image.
  for (size_t block = 16; (block + 1) * kIsoBlockSize <= bytes.size() && block < 40; ++block) {
    const uint8_t* d = bytes.data() + block * kIsoBlockSize;
    IsoVolumeDescriptor volume;
    ParseVolumeDescriptor(d, &volume);
    IsJolietDescriptor(d);
    if (d[0] == kIsoBootRecord) ReadElToritoBoot(0, d, false);
    if (d[0] == kIsoPrimaryDescriptor || d[0] == kIsoSupplementaryDescriptor) {
      IsoImageInfo.volume = volume;
      IsoImageInfo.joliet = d[0] == kIsoSupplementaryDescriptor;
      NullHost host;
      CopyErrorCount = 0;
      CopyIsoImageTree(&host, u"Q:");
    }
  }
  // Every record position of every block, names decoded both ways.
  for (size_t p = 0; p + 1 < bytes.size() && p < (64u << 10); p += 2) {
    IsoDirectoryRecord record;
    if (ParseDirectoryRecord(bytes.data(), bytes.size(), p, &record) && record.recordLength) {
      DecodeIsoName(record.identifier, record.identifierLength, true);
      DecodeIsoName(record.identifier, record.identifierLength, false);
    }
  }
  FindWindowsLoaderNames(bytes.data(), bytes.size());
  CloseHandle(IsoImageInfo.imageHandle);
  IsoImageInfo.imageHandle = nullptr;
  return 0;
}
