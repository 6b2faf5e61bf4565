// Reads the ISO image named by SourceIsoPath straight from the file: the
// volume descriptor walk (volume size, label, root directory, Joliet), the El
// Torito default boot entry and boot image with the Windows loader names, the
// copy of the whole directory tree onto a mounted drive, and the short
// description the confirmation page shows. Shared by Pellimor and Fennick:
// this library needs nothing of the stick writer; the writer plugs its boot
// area writer in through IsoBootAreaWriter.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "usbwriter/iso/iso_records.h"

// The page that runs a tree copy: its progress bar, its Cancel flag, and how
// it tells the user that the copy failed (by default a task-modal message box
// with the key's text, captioned with the product name).
class IsoCopyHost {
 public:
  virtual ~IsoCopyHost() = default;
  virtual void UpdateProgress(int64_t position) = 0;
  virtual int64_t ProgressPosition() const = 0;
  virtual bool CancelRequested() const = 0;
  virtual void ReportCopyError(LPCWSTR key);
};

inline constexpr uint8_t kMediaNoEmulation = 0;
inline constexpr uint8_t kMediaHardDisk = 4;
// Set by the write sequence for Windows boot images.
inline constexpr uint8_t kMediaWindowsImage = 0xFF;

struct IsoImageInfoRecord {
  HANDLE imageHandle = nullptr;           // of the latest walk
  uint8_t primaryDescriptor[kIsoBlockSize] = {};  // the last primary descriptor
  char volumeIdentifier[33] = {};         // bytes 40-71 of it
  IsoVolumeDescriptor volume;             // of the last primary or Joliet descriptor
  bool joliet = false;
  bool elTorito = false;                  // cleared by every walk
  uint8_t mediaType = 0;
  uint32_t bootSectorCount = 0;           // 512-byte sectors of the boot image
  uint8_t bootCountByte = 0;              // the catalog's count, 1 for diskette emulation
  uint16_t loadSegment = 0;
  uint32_t bootImageBytes = 0;
  uint32_t bootLoadBlock = 0;             // where the boot image lies in the image (2,048-byte blocks)
  bool bootmgr = false;
  bool cdboot = false;
};
extern IsoImageInfoRecord IsoImageInfo;

// Set by the start-up page: the chosen image, and whether boot sectors are
// written at all (when clear, the walk does nothing).
extern CString SourceIsoPath;
extern bool WriteBootLoader;
// Failed writes (and image reads) of the current run; the write sequence sets
// it to 0 at its start, the copy loops stop once it is not 0.
extern int32_t CopyErrorCount;
// The key of the first failure of the current run that was shown to the
// user with its cause (null when none was: a failed sector write shows only
// its own message). The page adds the general write-failure text only then.
extern LPCWSTR ShownCopyErrorKey;
// Counts a failure of the current run and shows `key`'s text through `host`.
void CountCopyError(IsoCopyHost* host, LPCWSTR key);
// The volume identifier (for the stick's label) and the image's size in
// 512-byte sectors, set by DescribeIso.
extern CString VolumeLabelText;
extern uint64_t VolumeSectorCount;
// Raised by CopyIsoTree on entry, lowered on every return.
extern int32_t CopyNestingDepth;

// Builds the stick's loader sectors and, when `write` is set, writes its boot
// area (the write sequence installs it). Called by the walk for a disk other
// than 0 with the boot image read from the image.
using BootAreaWriterFn = void (*)(int disk, bool write, const std::vector<uint8_t>& bootImage);
extern BootAreaWriterFn IsoBootAreaWriter;

// Walks the volume descriptors of SourceIsoPath. Disk 0 means analysis only
// (write is then taken as false). True when the walk completed: the
// descriptors were read up to the terminator and a primary descriptor was
// among them; false for an image that cannot be opened or read, or that is
// no ISO 9660 image.
bool ScanIsoDescriptors(int disk, bool write);
// The same walk whatever WriteBootLoader says: the write sequence needs the
// image's root directory to copy its files even when it writes no boot area.
bool WalkIsoDescriptors(int disk, bool write);
// Reads the boot catalog named by a boot record descriptor and the default
// entry's boot image; false only when a read of the image fails.
bool ReadElToritoBoot(int disk, const uint8_t descriptor[kIsoBlockSize], bool write);

// Copies the directory at `extentBlock` with everything below it to
// root + relativeFolder ("" or "\A\B"). Stops when CopyErrorCount is not 0
// or the host's Cancel is set. Directories that lead back into one already
// copied, and trees deeper than kIsoMaxDepth, are not followed.
inline constexpr int kIsoMaxDepth = 64;
void CopyIsoTree(IsoCopyHost* host, const CString& relativeFolder, const CString& root, uint32_t extentBlock);
// Copies the whole tree of the latest walk (its root directory) to `root`.
void CopyIsoImageTree(IsoCopyHost* host, const CString& root);
// Copies one file's data from the image to root + relativeName; read-only
// (and hidden as the record says) with the record's time.
void ExtractIsoFile(IsoCopyHost* host, HANDLE image, uint32_t extentBlock, const IsoDirectoryRecord& record,
                    uint32_t dataLength, const CString& relativeName, const CString& root);
void SetFileTimesFromRecord(const IsoDirectoryRecord& record, HANDLE file);

// "ISO Type: ...\r\nEmulation: ...\r\nVolumeId: ...\r\nVolume Size:..." of
// an analysis walk; empty when the walk fails. Sets VolumeLabelText and
// VolumeSectorCount.
CString DescribeIso();

// Size text of a 512-byte sector count: "%d GB"/"%4.2f GB" from 1 GiB on,
// "%d KB" below 1 MiB, else "%d MB".
CString FormatDiskSizeText(uint64_t sectors);
