#include "usbwriter/iso/iso_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/system_time.h"
#include "platform/fs/file_api.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"

IsoImageInfoRecord IsoImageInfo;
CString SourceIsoPath;
bool WriteBootLoader = true;
int32_t CopyErrorCount = 0;
LPCWSTR ShownCopyErrorKey = nullptr;
CString VolumeLabelText;
uint64_t VolumeSectorCount = 0;
int32_t CopyNestingDepth = 0;
BootAreaWriterFn IsoBootAreaWriter = nullptr;

namespace {

// Progress moves in steps of 32 KiB of a file; the data itself moves in
// pieces of up to 1 MiB, so that the stick's file system updates the file's
// directory entry (and the image's driver checks its file) once per MiB.
constexpr DWORD kCopyChunk = 32768;
constexpr DWORD kCopyPiece = 1u << 20;
// A directory bigger than this is not read (no real image comes near it).
constexpr uint32_t kMaxDirectoryBytes = 64u << 20;
// The image's longest path that still fits the platform's path buffers.
constexpr int kMaxDestinationPath = 259;

// Reads exactly `size` bytes at `offset`; false on a failed or short read.
bool ReadImageAt(HANDLE image, uint64_t offset, void* buffer, DWORD size) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(image, at, nullptr, FILE_BEGIN)) return false;
  DWORD done = 0;
  return ReadFile(image, buffer, size, &done, nullptr) && done == size;
}

struct TreeCopy {
  IsoCopyHost* host;
  CString root;
  std::set<uint32_t> visited;  // directory extents already entered
};

bool ShouldStop(const TreeCopy& copy) { return CopyErrorCount != 0 || copy.host->CancelRequested(); }

void CopyDirectory(TreeCopy& copy, const CString& relativeFolder, uint32_t extentBlock, int depth) {
  ++CopyNestingDepth;
  struct Leave {
    ~Leave() { --CopyNestingDepth; }
  } leave;
  if (depth > kIsoMaxDepth || !copy.visited.insert(extentBlock).second) return;

  HANDLE image = IsoImageInfo.imageHandle;
  uint64_t offset = static_cast<uint64_t>(extentBlock) * kIsoBlockSize;
  std::vector<uint8_t> first(kIsoBlockSize);
  if (!ReadImageAt(image, offset, first.data(), kIsoBlockSize)) return;
  IsoDirectoryRecord self;
  if (!ParseDirectoryRecord(first.data(), first.size(), 0, &self)) return;
  uint32_t size = std::max<uint32_t>(self.dataLength, kIsoBlockSize);
  if (size > kMaxDirectoryBytes) return;
  size = (size + kIsoBlockSize - 1) / kIsoBlockSize * kIsoBlockSize;
  std::vector<uint8_t> directory(size, 0);
  if (!ReadImageAt(image, offset, directory.data(), size)) return;

  size_t p = 0;
  while (p < size) {
    IsoDirectoryRecord record;
    // A record that reaches past the directory's bytes ends it (damaged image).
    if (!ParseDirectoryRecord(directory.data(), size, p, &record)) return;
    if (record.recordLength == 0) {
      // Padding: records never cross a block, so the rest of this block is empty.
      p = (p / kIsoBlockSize + 1) * kIsoBlockSize;
      continue;
    }
    // An empty file may be recorded at extent 0 (it has no data to point
    // at): it is a file like any other. A folder there would be the image's
    // system area, which is no folder.
    const bool noFolderThere = (record.flags & kIsoFlagDirectory) && record.extentBlock == 0;
    CString name = DecodeIsoName(record.identifier, record.identifierLength, IsoImageInfo.joliet);
    if (!name.IsEmpty()) {
      CString relativeName = relativeFolder + u"\\" + name;
      CString destination = copy.root + relativeName;
      if (noFolderThere) {
        // Nothing to create from a damaged record.
      } else if (record.flags & kIsoFlagDirectory) {
        if (destination.GetLength() > kMaxDestinationPath ||
            (!CreateDirectoryW(destination, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
          CountCopyError(copy.host, u"IDS_WRITEERROR");
        } else {
          SetFileAttributesW(destination,
                             (record.flags & kIsoFlagHidden) ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL);
          CopyDirectory(copy, relativeName, record.extentBlock, depth + 1);
        }
      } else if ((record.flags & ~kIsoFlagHidden) == 0) {
        int64_t q = copy.host->ProgressPosition();
        ExtractIsoFile(copy.host, image, record.extentBlock, record, record.dataLength, relativeName, copy.root);
        copy.host->UpdateProgress(q + record.dataLength / 512);
        if (copy.host->CancelRequested()) return;
      }
    }
    if (ShouldStop(copy)) return;
    p += record.recordLength;
  }
}

}  // namespace

void CountCopyError(IsoCopyHost* host, LPCWSTR key) {
  ++CopyErrorCount;
  if (!ShownCopyErrorKey) ShownCopyErrorKey = key;
  host->ReportCopyError(key);
}

void IsoCopyHost::ReportCopyError(LPCWSTR key) {
  MessageBoxW(nullptr, LookupString(key), LookupString(u"IDS_PRODNAME"), MB_OK | MB_TASKMODAL);
}

bool ReadElToritoBoot(int disk, const uint8_t descriptor[kIsoBlockSize], bool write) {
  HANDLE image = IsoImageInfo.imageHandle;
  std::vector<uint8_t> catalog(kIsoBlockSize);
  if (!ReadImageAt(image, static_cast<uint64_t>(BootCatalogBlock(descriptor)) * kIsoBlockSize, catalog.data(),
                   kIsoBlockSize)) {
    return false;
  }
  ElToritoBootEntry entry;
  ParseBootEntry(catalog.data(), &entry);
  IsoImageInfoRecord& info = IsoImageInfo;
  info.bootSectorCount = entry.sectorCount;
  info.bootCountByte = static_cast<uint8_t>(entry.sectorCount);
  info.mediaType = entry.mediaType;
  static constexpr uint32_t kDisketteSectors[] = {0, 2400, 2880, 5760};
  if (info.mediaType >= 1 && info.mediaType <= 3) {
    info.bootSectorCount = kDisketteSectors[info.mediaType];
    info.bootCountByte = 1;
  }
  info.bootImageBytes = info.bootSectorCount * 512;
  info.bootLoadBlock = entry.loadBlock;
  info.loadSegment = entry.loadSegment ? entry.loadSegment : 0x07C0;

  std::vector<uint8_t> bootImage(info.bootImageBytes);
  if (!bootImage.empty() &&
      !ReadImageAt(image, static_cast<uint64_t>(entry.loadBlock) * kIsoBlockSize, bootImage.data(),
                   info.bootImageBytes)) {
    return false;
  }
  WindowsLoaderNames names = FindWindowsLoaderNames(bootImage.data(), bootImage.size());
  info.bootmgr = names.bootmgr;
  info.cdboot = names.cdboot;
  if (disk == 0) return true;
  // The boot area's writer sees the image as one with a boot record.
  info.elTorito = true;
  if (IsoBootAreaWriter) IsoBootAreaWriter(disk, write, bootImage);
  return true;
}

bool ScanIsoDescriptors(int disk, bool write) {
  if (!WriteBootLoader) return true;
  return WalkIsoDescriptors(disk, write);
}

bool WalkIsoDescriptors(int disk, bool write) {
  if (disk == 0) write = false;
  IsoImageInfoRecord& info = IsoImageInfo;
  if (info.imageHandle && info.imageHandle != INVALID_HANDLE_VALUE) CloseHandle(info.imageHandle);
  info.imageHandle = CreateFileW(SourceIsoPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  info.elTorito = false;
  bool primarySeen = false;
  std::vector<uint8_t> descriptor(kIsoBlockSize);
  for (uint64_t position = kIsoFirstDescriptorOffset;; position += kIsoBlockSize) {
    PumpMessages(nullptr);
    if (!ReadImageAt(info.imageHandle, position, descriptor.data(), kIsoBlockSize)) return false;
    // A block that is no descriptor ends the sequence like the terminator.
    if (memcmp(descriptor.data() + 1, kIsoStandardId, 5) != 0) break;
    uint8_t type = descriptor[0];
    if (type == kIsoBootRecord) {
      if (!ReadElToritoBoot(disk, descriptor.data(), write)) return false;
      info.elTorito = true;
    } else if (type == kIsoPrimaryDescriptor) {
      info.joliet = false;
      memcpy(info.primaryDescriptor, descriptor.data(), kIsoBlockSize);
      memcpy(info.volumeIdentifier, descriptor.data() + 40, 32);
      info.volumeIdentifier[32] = 0;
      ParseVolumeDescriptor(descriptor.data(), &info.volume);
      primarySeen = true;
    } else if (type == kIsoSupplementaryDescriptor) {
      if (IsJolietDescriptor(descriptor.data())) {
        info.joliet = true;
        ParseVolumeDescriptor(descriptor.data(), &info.volume);
      }
    } else if (type != kIsoPartitionDescriptor) {
      break;
    }
  }
  return primarySeen;
}

void CopyIsoTree(IsoCopyHost* host, const CString& relativeFolder, const CString& root, uint32_t extentBlock) {
  TreeCopy copy{host, root, {}};
  CopyDirectory(copy, relativeFolder, extentBlock, 0);
}

void CopyIsoImageTree(IsoCopyHost* host, const CString& root) {
  CopyIsoTree(host, CString(), root, IsoImageInfo.volume.root.extentBlock);
}

void ExtractIsoFile(IsoCopyHost* host, HANDLE image, uint32_t extentBlock, const IsoDirectoryRecord& record,
                    uint32_t dataLength, const CString& relativeName, const CString& root) {
  int64_t q = host->ProgressPosition();
  CString destination = root + relativeName;
  HANDLE file = destination.GetLength() > kMaxDestinationPath
                    ? INVALID_HANDLE_VALUE
                    : CreateFileW(destination, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A file the stick cannot take is a failed copy, not a skipped one.
    CountCopyError(host, u"IDS_WRITEERROR");
    return;
  }
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[std::clamp<uint32_t>(dataLength, 1, kCopyPiece)]);
  uint64_t offset = static_cast<uint64_t>(extentBlock) * kIsoBlockSize;
  uint32_t remaining = dataLength;
  while (remaining > 0) {
    DWORD piece = std::min<uint32_t>(remaining, kCopyPiece);
    if (!ReadImageAt(image, offset, buffer.get(), piece)) {
      CountCopyError(host, u"IDS_ISOREADERROR");
      break;
    }
    DWORD written = 0;
    if (!WriteFile(file, buffer.get(), piece, &written, nullptr) || written != piece) {
      CountCopyError(host, u"IDS_WRITEERROR");
      break;
    }
    offset += piece;
    remaining -= piece;
    // Whole 32 KiB steps only: a file's tail shorter than that adds nothing.
    if (piece >= kCopyChunk) {
      q += piece / kCopyChunk * (kCopyChunk / 512);
      host->UpdateProgress(q);
    }
    if (CopyErrorCount != 0 || host->CancelRequested()) break;
  }
  SetFileTimesFromRecord(record, file);
  CloseHandle(file);
  DWORD attributes = GetFileAttributesW(destination);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    attributes &= ~FILE_ATTRIBUTE_NORMAL;
    attributes |= FILE_ATTRIBUTE_READONLY;
    if (record.flags & kIsoFlagHidden) attributes |= FILE_ATTRIBUTE_HIDDEN;
    SetFileAttributesW(destination, attributes);
  }
}

void SetFileTimesFromRecord(const IsoDirectoryRecord& record, HANDLE file) {
  const uint8_t* d = record.recordingDate;
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(1900 + d[0]);
  time.wMonth = d[1];
  time.wDay = d[2];
  time.wHour = d[3];
  time.wMinute = d[4];
  time.wSecond = d[5];
  FILETIME stamp{};
  // A damaged date leaves the file's own times.
  if (!SystemTimeToFileTime(&time, &stamp)) return;
  SetFileTime(file, &stamp, &stamp, &stamp);
}

CString DescribeIso() {
  if (!ScanIsoDescriptors(0, false)) return CString();
  const IsoImageInfoRecord& info = IsoImageInfo;
  CString label(info.volumeIdentifier);
  CString lower = label;
  lower.MakeLower();
  CString text = u"ISO Type: ";
  if (info.bootmgr) {
    text += u"WinPE";
  } else if (info.cdboot) {
    text += u"Windows CD";
  } else if (lower.Find(u"linux") >= 0) {
    text += u"Linux";
  } else {
    text += u"Unknown";
  }
  text += u"\r\nEmulation: ";
  switch (info.mediaType) {
    case 1: text += u"1.2 meg diskette Emulation"; break;
    case 2: text += u"1.44 meg diskette Emulation"; break;
    case 3: text += u"2.88 meg diskette Emulation"; break;
    case 4: text += u"Hard Disk Emulation"; break;
    default: text += u"No Emulation"; break;
  }
  text += u"\r\nVolumeId: ";
  text += label;
  VolumeLabelText = label;
  VolumeSectorCount = static_cast<uint64_t>(info.volume.volumeSpaceSize) * 4;
  text += u"\r\nVolume Size:";
  text += FormatDiskSizeText(VolumeSectorCount);
  return text;
}

CString FormatDiskSizeText(uint64_t sectors) {
  uint64_t megabytes = sectors / 2048;
  double gigabytes = static_cast<double>(megabytes) / 1024.0;
  CString text;
  if (gigabytes >= 1.0) {
    if (megabytes % 1024 == 0) {
      text.Format(u"%d GB", static_cast<int>(megabytes / 1024));
    } else {
      text.Format(u"%4.2f GB", gigabytes);
    }
  } else if (megabytes == 0) {
    text.Format(u"%d KB", static_cast<int>(sectors / 2));
  } else {
    text.Format(u"%d MB", static_cast<int>(megabytes));
  }
  return text;
}
