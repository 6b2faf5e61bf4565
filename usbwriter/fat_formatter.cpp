#include "usbwriter/fat_formatter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/core/ascii_case.h"
#include "platform/core/little_endian.h"
#include "program_support/message_pump.h"
#include "usbwriter/boot_templates.h"

int64_t ProgressTarget = 0;
int64_t ProgressMaximum = 0;

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kChunkSectors = 2048;  // zero-filling moves 1 MiB at a time
constexpr uint64_t kClearFirst = 190;
constexpr uint64_t kClearEnd = 32768;
constexpr uint32_t kClearChunk = 32;
constexpr uint8_t kLabelAttribute = 0x08;

uint32_t CeilDiv(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

// The smallest FAT size whose entries (of `entryBytes`) cover every cluster
// the rest of the volume holds; 0 when nothing is left for data.
uint32_t FitFatSize(uint64_t total, uint32_t overhead, uint32_t spc, uint32_t entryBytes, uint32_t* clusters) {
  if (total <= overhead) return 0;
  auto clustersFor = [&](uint32_t fat) -> uint64_t {
    uint64_t used = overhead + 2ull * fat;
    return used >= total ? 0 : (total - used) / spc;
  };
  auto covers = [&](uint32_t fat) {
    return static_cast<uint64_t>(CeilDiv((clustersFor(fat) + 2) * entryBytes, kSector)) <= fat;
  };
  uint32_t low = 1, high = CeilDiv(((total - overhead) / spc + 2) * entryBytes, kSector);
  while (low < high) {
    uint32_t mid = low + (high - low) / 2;
    if (covers(mid)) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  *clusters = static_cast<uint32_t>(clustersFor(low));
  return low;
}

// Writes `count` zero sectors from `sector`, setting the progress from
// `progressBase` + written / 2 after each chunk when a page is given.
bool WriteZeros(uint64_t sector, uint64_t count, FormatHost* page = nullptr, bool cancellable = false) {
  static const std::vector<uint8_t> zeros(kChunkSectors * kSector, 0);
  for (uint64_t done = 0; done < count;) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, count - done));
    if (!WriteUsbSectors(zeros.data(), sector + done, n)) return false;
    done += n;
    if (page) page->UpdateProgress(page->ProgressPosition() + n / 2);
    if (cancellable && page && page->CancelRequested()) return false;
  }
  return true;
}

void LabelEntry(uint8_t* sector, const std::array<uint8_t, 11>& label) {
  memcpy(sector, label.data(), 11);
  sector[11] = kLabelAttribute;
}

// The FAT's first sector: media and end-of-chain entries (and, for FAT32,
// the root directory's cluster 2 as a one-cluster chain).
std::vector<uint8_t> FirstFatSector(bool fat32) {
  std::vector<uint8_t> sector(kSector, 0);
  if (fat32) {
    platform::WriteLe32(&sector[0], 0x0FFFFFF8);
    platform::WriteLe32(&sector[4], 0x0FFFFFFF);
    platform::WriteLe32(&sector[8], 0x0FFFFFFF);
  } else {
    platform::WriteLe16(&sector[0], 0xFFF8);
    platform::WriteLe16(&sector[2], 0xFFFF);
  }
  return sector;
}

bool IsWindowsImage() { return IsoImageInfo.bootmgr || IsoImageInfo.cdboot; }

}  // namespace

void Chs(uint64_t lba, const UsbGeometry& g, uint8_t out[3]) {
  uint32_t cylinder = 1023, head = g.heads ? g.heads - 1 : 0, sector = g.sectorsPerTrack;
  if (g.heads && g.sectorsPerTrack && lba / (g.heads * g.sectorsPerTrack) < 1024) {
    cylinder = static_cast<uint32_t>(lba / (g.heads * g.sectorsPerTrack));
    head = static_cast<uint32_t>((lba / g.sectorsPerTrack) % g.heads);
    sector = static_cast<uint32_t>(lba % g.sectorsPerTrack) + 1;
  }
  uint16_t word = PackChsWord(cylinder, sector);
  out[0] = static_cast<uint8_t>(head);
  out[1] = static_cast<uint8_t>(word);
  out[2] = static_cast<uint8_t>(word >> 8);
}

uint16_t PackChsWord(uint32_t cylinder, uint32_t sector) {
  uint8_t low = static_cast<uint8_t>((sector & 0x3F) | (((cylinder >> 8) & 0x03) << 6));
  uint8_t high = static_cast<uint8_t>(cylinder & 0xFF);
  return static_cast<uint16_t>(low | high << 8);
}

bool ComputeFat32Layout(uint64_t totalSectors, const UsbGeometry& geometry, FatLayout* layout) {
  uint64_t n = std::min<uint64_t>(totalSectors, 0xFFFFFFFFu);
  uint64_t track = static_cast<uint64_t>(geometry.sectorsPerTrack) * geometry.heads;
  uint64_t c = track ? n / track * track : n;
  uint32_t spc = 4;
  if (c > 2097152) spc = 16;
  if (c > 8388608) spc = 32;
  if (c > 33554432) spc = 64;
  for (;; spc /= 2) {
    uint32_t clusters = 0;
    uint32_t fat = FitFatSize(n, kFat32ReservedSectors, spc, 4, &clusters);
    if (fat && clusters >= kFat32MinClusters) {
      *layout = FatLayout{spc, kFat32ReservedSectors, fat, clusters, static_cast<uint32_t>(n)};
      return true;
    }
    if (spc == 1) return false;
  }
}

bool ComputeFat16Layout(uint64_t totalSectors, FatLayout* layout) {
  constexpr uint32_t overhead = kFat16ReservedSectors + kFat16RootSectors;
  uint64_t n = totalSectors;
  // 65,524 clusters of 64 sectors and their FATs are the most FAT16 holds.
  constexpr uint32_t kMaxFat = (kFat16MaxClusters + 2) * 2 / kSector + 1;
  n = std::min<uint64_t>(n, overhead + 2ull * kMaxFat + 64ull * kFat16MaxClusters);
  for (uint32_t spc = 64;; spc /= 2) {
    uint32_t clusters = 0;
    uint32_t fat = FitFatSize(n, overhead, spc, 2, &clusters);
    if (fat && clusters >= kFat16MinClusters) {
      if (clusters > kFat16MaxClusters) {
        // Cut the volume to the last cluster FAT16 can number.
        n = overhead + 2ull * fat + static_cast<uint64_t>(spc) * kFat16MaxClusters;
        clusters = kFat16MaxClusters;
      }
      *layout = FatLayout{spc, kFat16ReservedSectors, fat, clusters, static_cast<uint32_t>(n)};
      return true;
    }
    if (spc == 1) return false;
  }
}

std::array<uint8_t, 11> PrepareVolumeLabel(bool* present) {
  CString text = VolumeLabelText;
  text.Trim(u' ');
  std::array<uint8_t, 11> label;
  label.fill(' ');
  int n = std::min(text.GetLength(), 11);
  for (int i = 0; i < n; ++i) {
    uint8_t c = static_cast<uint8_t>(platform::AsciiUpper(static_cast<char>(text[i])));
    if (c < 0x20 || c >= 0x7F || strchr("\"*+,./:;<=>?[\\]|", c)) c = '_';
    label[i] = c;
  }
  *present = n > 0;
  return label;
}

bool FormatFat32Raw(FormatHost* page, uint64_t firstSector, uint64_t totalSectors) {
  UsbGeometry geometry;
  if (!ReadUsbGeometry(&geometry)) return false;
  // Never past the disk's end, whatever the caller counted.
  uint64_t diskSectors = geometry.sectors();
  if (firstSector >= diskSectors) return false;
  totalSectors = std::min(totalSectors, diskSectors - firstSector);
  FatLayout layout;
  if (!ComputeFat32Layout(totalSectors, geometry, &layout)) return false;

  page->ShowFormatBusy(true);
  PumpMessages(nullptr);
  // Clearing pass: the sectors from 190 to the end of the last 32-sector
  // chunk that starts below 32,768 (190 + 1,019 x 32 = 32,798) become zero,
  // except that the Windows loader's copy lands at 190-191. Written in large
  // pieces, with the messages let through and Cancel looked at between them.
  const uint64_t clearEnd =
      std::min<uint64_t>(kClearFirst + (kClearEnd - kClearFirst + kClearChunk - 1) / kClearChunk * kClearChunk,
                         diskSectors);
  std::vector<uint8_t> buffer(kChunkSectors * kSector, 0);
  std::vector<uint8_t> mbr(kSector, 0);
  if (ReadUsbSectors(mbr.data(), 0, 1) != 0) mbr.assign(kSector, 0);
  if (IsWindowsImage() && ReadUsbSectors(buffer.data(), 1, 2) == 0) {
    memcpy(&buffer[958], &mbr[446], 66);
  } else {
    std::fill(buffer.begin(), buffer.end(), 0);
  }
  for (uint64_t lba = kClearFirst; lba < clearEnd;) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, clearEnd - lba));
    if (!WriteUsbSectors(buffer.data(), lba, n)) {
      page->ShowFormatBusy(false);
      return false;
    }
    PumpMessages(nullptr);
    if (page->CancelRequested()) {
      page->ShowFormatBusy(false);
      return false;
    }
    if (lba == kClearFirst) std::fill(buffer.begin(), buffer.begin() + 2 * kSector, 0);
    lba += n;
  }

  bool hasLabel = false;
  std::array<uint8_t, 11> label = PrepareVolumeLabel(&hasLabel);
  std::vector<uint8_t> boot(Fat32BootTemplate, Fat32BootTemplate + kSector);
  platform::WriteLe16(&boot[11], kSector);
  boot[13] = static_cast<uint8_t>(layout.sectorsPerCluster);
  platform::WriteLe16(&boot[14], layout.reservedSectors);
  platform::WriteLe16(&boot[24], geometry.sectorsPerTrack);
  platform::WriteLe16(&boot[26], geometry.heads);
  platform::WriteLe32(&boot[28], static_cast<uint32_t>(firstSector));
  platform::WriteLe32(&boot[32], layout.totalSectors);
  platform::WriteLe32(&boot[36], layout.fatSize);
  if (hasLabel) memcpy(&boot[71], label.data(), 11);

  ProgressMaximum = ProgressTarget + layout.fatSize;
  page->SetProgressRange(ProgressMaximum);

  auto at = [&](uint64_t volumeSector) { return firstSector + volumeSector; };
  std::vector<uint8_t> info(kSector, 0);
  memcpy(&info[0], "RRaA", 4);
  memcpy(&info[484], "rrAa", 4);
  platform::WriteLe32(&info[488], layout.clusters - 1);  // all but the root directory's cluster
  platform::WriteLe32(&info[492], 3);
  info[510] = 0x55;
  info[511] = 0xAA;
  std::vector<uint8_t> signature(kSector, 0);
  signature[510] = 0x55;
  signature[511] = 0xAA;
  std::vector<uint8_t> continuation(kSector, 0);
  memcpy(continuation.data(), Fat32BootContinuation, sizeof(Fat32BootContinuation));
  continuation[510] = 0x55;
  continuation[511] = 0xAA;
  bool ok = WriteUsbSectors(boot.data(), at(0), 1) && WriteUsbSectors(boot.data(), at(6), 1) &&
            WriteUsbSectors(info.data(), at(1), 1) && WriteUsbSectors(info.data(), at(7), 1) &&
            WriteUsbSectors(signature.data(), at(2), 1) && WriteUsbSectors(signature.data(), at(8), 1) &&
            WriteZeros(at(3), 3) && WriteZeros(at(9), 3) && WriteUsbSectors(continuation.data(), at(12), 1) &&
            WriteZeros(at(13), layout.reservedSectors - 13);
  page->ShowFormatBusy(false);
  PumpMessages(nullptr);
  if (!ok) return false;

  std::vector<uint8_t> firstFat = FirstFatSector(true);
  page->UpdateProgress(0);
  for (int copy = 0; copy < 2; ++copy) {
    uint64_t fatStart = at(layout.reservedSectors + static_cast<uint64_t>(copy) * layout.fatSize);
    if (!WriteUsbSectors(firstFat.data(), fatStart, 1)) return false;
    if (!WriteZeros(fatStart + 1, layout.fatSize - 1, page, true)) return false;
  }
  // The root directory: cluster 2, all of it zero but the label entry.
  uint64_t root = at(layout.reservedSectors + 2ull * layout.fatSize);
  std::vector<uint8_t> rootSector(kSector, 0);
  if (hasLabel) LabelEntry(rootSector.data(), label);
  return WriteUsbSectors(rootSector.data(), root, 1) && WriteZeros(root + 1, layout.sectorsPerCluster - 1);
}

bool FormatFat16Raw(FormatHost* page, uint64_t firstSector, uint8_t bootIndicator, uint64_t limitSectors) {
  UsbGeometry geometry;
  if (!ReadUsbGeometry(&geometry)) return false;
  uint64_t diskSectors = geometry.sectors();
  if (firstSector >= diskSectors) return false;
  FatLayout layout;
  if (!ComputeFat16Layout(std::min(limitSectors, diskSectors - firstSector), &layout)) return false;

  std::vector<uint8_t> mbr(kSector, 0);
  if (ReadUsbSectors(mbr.data(), 0, 1) != 0) mbr.assign(kSector, 0);
  std::fill(mbr.begin() + 446, mbr.begin() + 510, 0);
  uint8_t* entry = &mbr[446];
  entry[0] = bootIndicator;
  Chs(firstSector, geometry, entry + 1);
  entry[4] = 0x06;
  Chs(firstSector + layout.totalSectors - 1, geometry, entry + 5);
  platform::WriteLe32(entry + 8, static_cast<uint32_t>(firstSector));
  platform::WriteLe32(entry + 12, layout.totalSectors);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  if (!WriteUsbSectors(mbr.data(), 0, 1)) return false;

  bool hasLabel = false;
  std::array<uint8_t, 11> label = PrepareVolumeLabel(&hasLabel);
  std::vector<uint8_t> boot(Fat16BootTemplate, Fat16BootTemplate + kSector);
  boot[13] = static_cast<uint8_t>(layout.sectorsPerCluster);
  platform::WriteLe16(&boot[22], layout.fatSize);
  platform::WriteLe16(&boot[24], geometry.sectorsPerTrack);
  platform::WriteLe16(&boot[26], geometry.heads);
  platform::WriteLe32(&boot[28], static_cast<uint32_t>(firstSector));
  platform::WriteLe32(&boot[32], layout.totalSectors);
  if (hasLabel) memcpy(&boot[43], label.data(), 11);
  ProgressMaximum = ProgressTarget + layout.fatSize;
  page->SetProgressRange(ProgressMaximum);
  if (!WriteUsbSectors(boot.data(), firstSector, 1) || !WriteZeros(firstSector + 1, kFat16ReservedSectors - 1)) {
    return false;
  }
  std::vector<uint8_t> firstFat = FirstFatSector(false);
  page->UpdateProgress(0);
  for (int copy = 0; copy < 2; ++copy) {
    uint64_t fatStart = firstSector + kFat16ReservedSectors + static_cast<uint64_t>(copy) * layout.fatSize;
    if (!WriteUsbSectors(firstFat.data(), fatStart, 1) || !WriteZeros(fatStart + 1, layout.fatSize - 1, page)) {
      return false;
    }
  }
  uint64_t root = firstSector + kFat16ReservedSectors + 2ull * layout.fatSize;
  std::vector<uint8_t> rootSector(kSector, 0);
  if (hasLabel) LabelEntry(rootSector.data(), label);
  return WriteUsbSectors(rootSector.data(), root, 1) && WriteZeros(root + 1, kFat16RootSectors - 1);
}
