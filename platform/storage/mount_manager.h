// The mount manager: turns the current machine's disks into volumes.
// (A disk without a table whose sector 0 is a file system's boot sector is
// one volume over the whole disk, as the partition-table reader answers.)
//
// On each scan it reads every attached disk's partition tables, recognises the
// file system of each partition from its boot sector, gives each volume a
// stable name (\\?\Volume{GUID}\ derived from the disk signature or GPT
// partition id and the offset, and \Device\HarddiskVolumeN in order of first
// appearance), assigns drive letters as the platform does, keeps
// HKLM\SYSTEM\MountedDevices and the disk Enum key in step, publishes the
// table with SetMountedVolumes and tells device-change listeners what came
// and went.
//
// Letters: a letter recorded for the volume in MountedDevices comes first;
// otherwise, unless MountMgr\NoAutoMount is 1, the first free letter from C:
// (removable disks too). An EFI system partition, a GPT partition without the
// basic-data type or with the "no drive letter" attribute, and an MBR
// partition of a type the platform does not mount get no letter automatically.
// A volume keeps its letter while it stays; a vanished volume's record stays
// in MountedDevices, so it gets the same letter when it returns.
//
// A newly found volume stays hidden for `rescans_before_new_volume` further
// mount passes (machine.ini), so a program's wait-for-the-volume loop can be
// exercised. A pass is a rescan or a call of the volume APIs that looks at
// the table (GetLogicalDrives, FindFirstVolumeW, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/types.h"
#include "platform/storage/volume_table.h"

namespace platform::machine {
class Disk;
}

namespace platform::storage {

// What the boot sector at the start of `volume` says: "NTFS", "FAT12",
// "FAT16", "FAT32", "exFAT", or "RAW" (also when the sector cannot be read).
std::string DetectFileSystem(BlockDevice& volume);

// Re-reads one disk (after UPDATE_PROPERTIES, CREATE_DISK,
// SET_DRIVE_LAYOUT_EX or a raw write to its sector 0), or every disk.
void RescanDisk(int disk);
void RescanAll();
// A volume's file system changed in place (a format): the manager's own
// record of the volume takes it, so the tables it publishes later keep it.
// Publishes nothing itself.
void NoteFileSystem(const std::u16string& guid_path, const std::string& file_system);
// Picks up disks attached or detached through machine.ini (simpc
// attach/detach) and counts one mount pass. The volume APIs call it.
void PollDeviceChanges();
// The same without counting a mount pass: what the UI loops call on their
// own clock, so an idle program sees disks come and go.
void PollAttachedDisks();
// Follows the current machine (scanning it when it is new) without counting a pass.
void EnsureMounted();

// ---- Device notifications ------------------------------------------------

constexpr DWORD DBT_DEVICEARRIVAL = 0x8000;
constexpr DWORD DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr DWORD DBT_DEVTYP_VOLUME = 0x00000002;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 0x00000005;

struct DeviceChange {
  DWORD event = 0;        // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
  DWORD device_type = 0;  // DBT_DEVTYP_VOLUME (letters came or went) or DBT_DEVTYP_DEVICEINTERFACE (a disk)
  int disk = -1;          // physical disk number, -1 for letters not on a disk
  DWORD unit_mask = 0;    // bit 0 = A:, bit 2 = C: ... (volume events)
};
using DeviceChangeListener = std::function<void(const DeviceChange&)>;

// The record WM_DEVICECHANGE points at for volume events (lParam).
constexpr WORD DBTF_MEDIA = 0x0001;
constexpr WORD DBTF_NET = 0x0002;
struct DEV_BROADCAST_HDR {
  DWORD dbch_size;        // +0x00
  DWORD dbch_devicetype;  // +0x04
  DWORD dbch_reserved;    // +0x08
};                        // 12 bytes
static_assert(sizeof(DEV_BROADCAST_HDR) == 12);
struct DEV_BROADCAST_VOLUME {
  DWORD dbcv_size;        // +0x00 sizeof(DEV_BROADCAST_VOLUME)
  DWORD dbcv_devicetype;  // +0x04 DBT_DEVTYP_VOLUME
  DWORD dbcv_reserved;    // +0x08
  DWORD dbcv_unitmask;    // +0x0C bit 0 = A:
  WORD dbcv_flags;        // +0x10 DBTF_MEDIA, DBTF_NET
};                        // 20 bytes with the tail padding
static_assert(sizeof(DEV_BROADCAST_VOLUME) == 20);
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_unitmask) == 12);
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) == 16);
// The record for a volume event (flags 0: a device, not a medium change).
DEV_BROADCAST_VOLUME BroadcastVolumeFor(const DeviceChange& change);
// Listeners run on the thread that made the change, outside the manager's lock.
int AddDeviceChangeListener(DeviceChangeListener listener);
void RemoveDeviceChangeListener(int id);

// ---- Names ---------------------------------------------------------------

// The MountedDevices data that identifies a volume: 12 bytes (disk signature,
// then the byte offset) for MBR disks; "DMIO:ID:" + the partition GUID for GPT.
std::vector<uint8_t> MountedDeviceIdForMbr(uint32_t disk_signature, uint64_t offset);
std::vector<uint8_t> MountedDeviceIdForGpt(const GUID& partition_id);
// For a disk that is one volume without a partition table: the disk's
// interface name as UTF-16 text, "\??\<enum id with '#' for '\'>#{disk class}".
std::vector<uint8_t> MountedDeviceIdForWholeDisk(const std::u16string& enum_id);
// The volume GUID derived from that data (and a salt that separates two disks
// with the same signature). Stable across runs.
GUID VolumeGuidFromId(const std::vector<uint8_t>& id, uint32_t salt = 0);
// "\\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\" (lower-case hex).
std::u16string VolumeGuidPath(const GUID& guid);

// The device-instance id of a disk as the disk Enum key lists it:
// USB:    USBSTOR\Disk&Ven_<vendor>&Prod_<product>&Rev_<revision>\<serial>&0
// ATA:    IDE\Disk<vendor>_<product>___<revision>\5&<hash>&0&0.0.0
// others: SCSI\Disk&Ven_<vendor>&Prod_<product>\4&<hash>&0&000<n>00
// Blanks inside the fields become '_'.
std::u16string DiskEnumId(const machine::Disk& disk);

// ---- Registry ------------------------------------------------------------

// The registry values the mount manager reads and keeps. The default uses
// the Reg* calls on the live registry; tests may install their own.
class MountRegistry {
 public:
  virtual ~MountRegistry() = default;
  // A machine was opened: its registry file becomes the one kept.
  virtual void use_machine_registry(const std::string& host_path) {}
  // HKLM\SYSTEM\CurrentControlSet\Services\MountMgr\NoAutoMount == 1.
  virtual bool no_auto_mount() = 0;
  // Every value of HKLM\SYSTEM\MountedDevices (name -> binary data).
  virtual std::map<std::u16string, std::vector<uint8_t>> mounted_devices() = 0;
  virtual void set_mounted_device(const std::u16string& name, const std::vector<uint8_t>& data) = 0;
  virtual void delete_mounted_device(const std::u16string& name) = 0;
  // Rewrites Services\disk\Enum: Count and the values "0", "1", ...
  virtual void set_disk_enum(const std::vector<std::u16string>& device_ids) = 0;
};
std::shared_ptr<MountRegistry> RegistryMountRegistry();
void SetMountRegistry(std::shared_ptr<MountRegistry> registry);

// ---- Letters and mount points (used by the volume APIs) -----------------

// A letter's DOS device definitions from DefineDosDeviceW, newest first.
std::vector<std::u16string> DosDeviceDefinitions(const std::u16string& name);
// All names defined with DefineDosDeviceW.
std::vector<std::u16string> DefinedDosDeviceNames();
// Pushes (or with remove, pops: the newest, or the one equal to target when
// exact) a definition. Returns false when there is nothing to remove.
bool DefineDosDeviceEntry(const std::u16string& name, const std::u16string& target, bool remove, bool exact);

// Letters taken by anything (volumes, host drives, DOS device definitions).
DWORD LetterMask();

// Binds `letter` to the volume with `guid_path`; errors as the platform's:
// ERROR_DIR_NOT_EMPTY when the letter is taken, ERROR_INVALID_PARAMETER when
// the volume already has a letter, ERROR_FILE_NOT_FOUND for an unknown volume.
DWORD AssignLetter(WCHAR letter, const std::u16string& guid_path);
// Removes a letter from its volume (and from MountedDevices);
// ERROR_FILE_NOT_FOUND when no volume has it.
DWORD RemoveLetter(WCHAR letter);
// Folder mount points ("C:\Mount\Data\" -> volume GUID path).
DWORD AddFolderMountPoint(const std::u16string& folder, const std::u16string& guid_path);
DWORD RemoveFolderMountPoint(const std::u16string& folder);
std::map<std::u16string, std::u16string> FolderMountPoints();

// Connects the manager to the device handles (rescan requests) and to the
// machine (a machine that becomes current is scanned). Idempotent; runs when
// the volume table is linked in.
void InstallMountManager();

// Forgets all state (volume numbers, letters, definitions): tests, and a
// change of machine.
void ResetMountManager();

}  // namespace platform::storage
