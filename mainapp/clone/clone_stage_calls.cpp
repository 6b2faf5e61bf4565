#include "mainapp/clone/clone_stage_calls.h"

#include "mainapp/clone/bcd_repair.h"
#include "mainapp/clone/boot_code.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "disk/volume_space.h"
#include "mainapp/clone/registry_repair.h"
#include "mainapp/clone/tree_copy.h"

bool CopyPartitionByFiles(const CString& source, const CString& destination, bool verify) {
  return CopyPartitionContents(source, destination, verify);
}

bool CopyBootCodeStage(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  return CopyMbrBootCode(sourceListed, destinationListed);
}

bool TransplantBootCodeStage(int32_t sourceDisk, uint64_t sourceStart, int32_t destinationDisk,
                             uint64_t destinationStart) {
  return TransplantVolumeBootCode(FindVolumeByExtent(sourceDisk, sourceStart),
                                  FindVolumeByExtent(destinationDisk, destinationStart));
}

bool TransplantBootSectorStage(const CString& sourceDrive, const CString& destinationDrive) {
  return TransplantBootSector(sourceDrive, destinationDrive);
}

namespace {

// A basic whole-disk copy from MBR to MBR: its copied system names its
// partitions by the disk's signature.
bool IsMbrSystemCopy() {
  return !CloneSettings.partitionMode && CloneSettings.basicDuplication && !CloneSettings.convertToGpt &&
         !CloneSettings.sourceIsGpt && CloneRunState.systemEntryIndex >= 0;
}

}  // namespace

bool BindCopiedSystemStage(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  return IsMbrSystemCopy() && BindCopiedSystemToDestination(sourceListed, destinationListed) >= 0;
}

bool BindCopiedVolumeStage(const CString& sourceDrive, const CString& destinationDrive) {
  return BindCopiedVolume(sourceDrive, destinationDrive) >= 0;
}

bool CopyDiskSignatureStage() {
  const uint32_t before = IsMbrSystemCopy() ? ReadDiskSignature(CloneSettings.chosenDestinationDisk) : 0;
  // A single partition's copy names its partition by the disk's signature
  // too: where it was before the signature changes.
  PartitionPlace copiedVolume;
  const WCHAR letter = static_cast<WCHAR>(DestinationSelection.driveLetter & ~0x20);
  const CString volume = CString(letter) + u":";
  const bool partitionCopy = CloneSettings.partitionMode && letter >= u'A' && letter <= u'Z' &&
                             ReadVolumePlace(volume, &copiedVolume) && !copiedVolume.gpt &&
                             copiedVolume.signature == ReadDiskSignature(CloneSettings.chosenDestinationDisk);
  const bool copied = CopyDiskSignature();
  // The copy's system follows its disk's new signature.
  if (copied && before != 0) FollowDestinationSignature(CloneSettings.chosenDestinationDisk, before);
  // The volume is found by its place again: with its disk's new signature
  // the volume may come back under another letter.
  if (copied && partitionCopy) {
    const int32_t disk = ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).value;
    FollowVolumeSignature(FindVolumeByExtent(disk, copiedVolume.offset), copiedVolume,
                          ReadDiskSignature(CloneSettings.chosenDestinationDisk));
  }
  return copied;
}

bool RepairGptSystemStage(ListedDiskIndex destinationListed, const CString& systemDrive) {
  FixMountedDevices(destinationListed);
  RepairBcd(systemDrive);
  return true;
}
