// Feeds arbitrary volume images to the raw FAT and NTFS readers through a
// volume handle over memory: boot sectors, FATs, directories, FILE records,
// attribute lists and run lists are all hostile. Every walk must end and stay
// inside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "disk/ntfs_reader.h"
#include "disk/raw_fat.h"
#include "platform/core/kobject.h"
#include "tests/fuzz/memory_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (4 << 20)) return 0;
  bool ntfs = data[0] & 1;
  std::vector<uint8_t> bytes(data + 1, data + size);
  bytes.resize((bytes.size() + 4095) / 4096 * 4096, 0);
  HANDLE volume = platform::OpenHandle(std::make_shared<fuzz_support::MemoryImage>(std::move(bytes), "volume"));
  RawVolumeHandle = volume;
  if (ntfs) {
    NtfsVolume = NtfsVolumeRecord{};
    NtfsPagefilePath.Empty();
    NtfsPagefileRecord = 0;
    if (NtfsLoadMftRuns() == 0) {
      if (LocateFileRuns(u"X:\\pagefile.sys", 4)) {
        NtfsPagefilePath = u"X:\\pagefile.sys";
        std::vector<uint8_t> record(kNtfsMaxRecordBytes);
        NtfsReadRecordByRuns(NtfsVolume.foundRecord, record.data());
      }
      NtfsBuildUsedBitmap();
      std::vector<uint8_t> record(kNtfsMaxRecordBytes);
      for (uint64_t n = 1; n <= 16; ++n) {
        if (NtfsReadRecordByRuns(n, record.data()) != RAWFS_OK) continue;
        CString long_name, dos_name;
        NtfsGetFileName(record.data(), &long_name, &dos_name);
        NtfsParentRecord(record.data());
        NtfsCheckPlainFile(record.data());
        std::vector<uint8_t> attribute;
        if (NtfsFindDataAttribute(record.data(), &attribute) == RAWFS_OK) {
          std::vector<NtfsMftRun> table;
          NtfsDecodeRuns(attribute.data(), attribute.size(), NtfsAttributeResidency(attribute.data()), &table);
        }
      }
    }
  } else if (ReadFatVolumeParams() == RAWFS_OK) {
    LocateFileByPath(u"X:\\EFI\\BOOT\\BCD");
    int32_t count = 0;
    CountDeletedEntries(8, &count);
    std::vector<DeletedEntry> entries;
    ListDeletedEntries(8, &entries);
    if (FatVolume.fatBits == 32) BuildFat32UsedMap({{FatVolume.dataStart, 64}});
  }
  RawVolumeHandle = INVALID_HANDLE_VALUE;
  CloseHandle(volume);
  return 0;
}
