// The stick write sequence: one partition with room in front of it for the
// boot area, the new volume formatted by the own FAT formatters (or the
// shell's format dialog for NTFS), the loader sectors, the BIOS blob and the
// El Torito boot image before the partition, then the image's files copied
// into the volume, or the whole image written sector by sector.
//
// Stick layout in 512-byte sectors:
//   0-1      loader (LoaderTemplate with the partition table and options)
//   2        Windows images: MbrCodeTemplate and the partition table
//   3-130    the BIOS blob (128 sectors)
//   130-     the El Torito boot image (its first sector replaces the last
//            blob sector)
//   S-       the partition; 252 sectors stay unused at the disk's end
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "usbwriter/fat_formatter.h"

// The page that runs the sequence: progress, Cancel and the format busy
// text (FormatHost), and the log of the steps.
class UsbWriteHost : public FormatHost {
 public:
  virtual void AppendLog(LPCWSTR text) = 0;
  virtual HWND PageWindow() const { return nullptr; }
};

inline constexpr int kFileSystemFat32 = 11;
inline constexpr int kFileSystemNtfs = 7;
inline constexpr int kFileSystemFat16 = 6;

extern int SelectedUsbDisk;
extern int ChosenFileSystem;  // -1 before the first choice, 11 FAT32, 7 NTFS

inline constexpr uint64_t kBootAreaReserve = 129024;     // bytes: 252 sectors
inline constexpr uint64_t kLayoutAlignment = 32256;      // bytes: 63 sectors
inline constexpr uint64_t kFat16StickLimit = 2097152;    // sectors
inline constexpr uint32_t kLoaderSectorsBytes = 1536;
inline constexpr uint64_t kMbrCodeSector = 2;
inline constexpr uint64_t kBlobSector = 3;
inline constexpr uint64_t kBootImageSector = 130;
// Loader fields.
inline constexpr size_t kLoaderCountByte = 514;
inline constexpr size_t kLoaderBuffer = 516;
inline constexpr size_t kLoaderStart = 520;
inline constexpr size_t kLoaderText = 528;
inline constexpr size_t kLoaderBootCount = 752;
inline constexpr size_t kLoaderMediaType = 754;
inline constexpr size_t kLoaderScrambled = 755;
inline constexpr size_t kLoaderLongWait = 756;
inline constexpr size_t kLoaderAction = 757;

struct StickLayout {
  uint64_t startBytes = 0;   // S
  uint64_t lengthBytes = 0;  // L
  uint8_t type = 0;          // 6 FAT16, 7 NTFS, 11 FAT32
  uint64_t fat16Limit = 0;   // sectors
};
// The layout for a disk of `diskSectors` and the analysed image; false when
// the disk cannot hold the boot area and a partition.
bool PlanStickLayout(uint64_t diskSectors, StickLayout* layout);
// Sectors a stick needs for the image: boot area, reserve, the volume's own
// structures and the image's size.
uint64_t StickSectorsNeeded();
// Whether disk `disk` of `diskSectors` can take the analysed image with the
// layout and the file system the write would give it: room for the image
// (StickSectorsNeeded), a partition (PlanStickLayout), and a volume that the
// chosen formatter can lay out on that partition (FAT32 needs 65,525
// clusters; FAT16 4,085). Decided before anything on the stick is erased.
bool StickCanHold(int disk, uint64_t diskSectors);

// The whole sequence on disk `disk` (>= 1) for the image at `path`. The
// outcome is read from CopyErrorCount and the host's Cancel.
void RunUsbWrite(UsbWriteHost* host, int disk, const CString& path);

bool CreateStickLayout(int disk, const StickLayout& layout);
// Windows 2000's way: LBA 0 written directly, a zero sector with the one
// active entry (start CHS from the geometry, end CHS 0) and the signature.
bool WriteRawPartitionTable(int disk, const StickLayout& layout);
// The loader sectors for the current disk (LBA 0's table read back).
std::vector<uint8_t> BuildLoaderSectors(uint8_t countByte);
bool IsWindowsBootImage();
// A hybrid image of another system, written to the stick whole: image sector
// k lands at LBA k, so its boot image is read where the image keeps it.
bool IsRawImage();
// Writes the boot area (loader, blob, boot image) of the current image onto
// `disk`; with write clear only builds the loader (which marks Windows
// images with media type 0xFF). Installed as the ISO reader's boot writer.
void WriteBootArea(int disk, bool write, const std::vector<uint8_t>& bootImage);
void CopyRawImage(UsbWriteHost* host, const CString& path, int disk);

// The pass key chosen on the source page (at most 16 characters); empty
// when the boot image is written as it is. With a key, the boot image at
// LBA 130 is written scrambled and the loader's byte 755 says so.
extern CString PassKey;
inline constexpr int kPassKeyLength = 16;
// Scrambles (and, applied again, restores) `size` bytes: the key's bytes
// (each character's low byte) repeated to 16; s := their sum mod 16 (1 for
// 0); key bytes i and (i + s) mod 16 exchanged for i = 0 to 6; then byte j of
// every 16-byte block XORed with the low 6 bits of key byte j. An empty key
// leaves the data alone.
void ScrambleWithPassKey(const CString& key, uint8_t* data, size_t size);
