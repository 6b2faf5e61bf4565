// The offline registry repair of a Windows system copied onto a GPT disk: the
// copied SYSTEM hive's MountedDevices binds C: to the new system partition,
// named by its GPT unique partition GUID, so the copy starts with its system
// drive where it expects it.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/disk_numbers.h"
#include "platform/core/cstring.h"

#include "platform/core/types.h"

// The 24-byte MountedDevices record of a GPT partition: "DMIO:ID:" and the
// partition's unique GUID in stored order.
constexpr int kGptMountedDeviceBytes = 24;
void MakeGptMountedDevice(const GUID& partitionId, BYTE record[kGptMountedDeviceBytes]);

// The unique GUID of the destination disk's GPT partition that starts at
// `startBytes`, read from the disk's drive layout; false when there is none.
bool FindGptPartitionId(int32_t physicalDisk, uint64_t startBytes, GUID* partitionId);

// Loads CloneRunState.systemDestinationCopy + "\Windows\System32\Config\SYSTEM"
// as HKEY_USERS\NewSystem1, sets MountedDevices "\DosDevices\C:" to the new
// system partition (layout entry systemEntryIndex, at its planned start on the
// destination disk) and deletes "\DosDevices\D:" and "\DosDevices\E:", then
// unloads it. Changes nothing when the hive cannot be loaded or the new
// system partition has no GPT unique GUID. True when the value was written.
bool FixMountedDevices(ListedDiskIndex destinationListed);

// Where a partition lies as MountedDevices and the boot stores name it: on
// an MBR disk the disk's 4-byte signature and the partition's byte offset (a
// 12-byte record), on a GPT disk the partition's unique GUID ("DMIO:ID:" and
// the GUID, 24 bytes; boot stores also name the disk's GUID).
struct PartitionPlace {
  uint32_t signature = 0;
  uint64_t offset = 0;
  bool gpt = false;
  GUID disk{};
  GUID partition{};
};
struct MountedDeviceMove {
  PartitionPlace from;
  PartitionPlace to;
};
constexpr int kMbrMountedDeviceBytes = 12;

// Rewrites, in the SYSTEM hive `hiveFile` (a path of the simulated PC, loaded
// as HKEY_USERS\NewSystem1), every MountedDevices value (drive letters and
// volume names alike) whose record names a `from` place so that it names the
// matching `to` place (a record of the other partition style where the
// styles differ). Other values are left alone. The number of
// values changed; -1 when the hive or its MountedDevices key cannot be opened.
int MoveMountedDevices(const CString& hiveFile, const std::vector<MountedDeviceMove>& moves);

// The same for the boot store `storeFile` (loaded as HKEY_USERS\NewBcd1):
// every device element of every object that names a `from` partition in the
// boot manager's binary form names the matching `to` place.
// The elements changed; -1 when the store cannot be loaded.
int MoveBootStoreDevices(const CString& storeFile, const std::vector<MountedDeviceMove>& moves);

// The copied system's SYSTEM hive on the destination of a basic whole-disk
// clone onto an MBR disk: the volume of layout entry systemEntryIndex at its
// planned start (found by its extent, whatever letter it has now). Empty
// when the run copied no system.
CString CopiedSystemHive(int32_t destinationPhysical);

// After a basic whole-disk clone from an MBR disk onto an MBR disk: the copied
// system's MountedDevices names, for every partition it knew on the source
// (source signature and offset), the copy of that partition on the
// destination (the destination's own signature and planned offset), so that
// the copy finds its system drive and letters on its own disk; the boot
// stores (\Boot\BCD) on the copied partitions name the copy's partitions
// the same way. The number of MountedDevices values changed; -1 when there
// is no copied system hive or a disk cannot be read.
int BindCopiedSystemToDestination(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);

// The same after the destination's signature changed from `oldSignature`
// (the summary gives it the source's before a restart): the copy's
// MountedDevices and boot stores follow its disk's new signature.
int FollowDestinationSignature(ListedDiskIndex destinationListed, uint32_t oldSignature);

// Where the volume `volume` ("C:", or a volume path without its trailing
// backslash) lies on its disk; false when it cannot be read.
bool ReadVolumePlace(const CString& volume, PartitionPlace* place);

// After one partition was copied by files from the volume `sourceVolume` onto
// `destinationVolume` (on another disk): a system on the copy names, in its
// MountedDevices and in the copy's boot store (\Boot\BCD), the copy's own
// partition wherever it named the source's, so that it finds its system
// drive on the disk it starts from. The number of MountedDevices values
// changed; -1 when the copy holds no system hive or a volume cannot be read.
int BindCopiedVolume(const CString& sourceVolume, const CString& destinationVolume);

// The same after the copy's disk got the signature `newSignature` in place
// of the one `before` named: the copy's system follows it.
int FollowVolumeSignature(const CString& destinationVolume, const PartitionPlace& before, uint32_t newSignature);

// Loads CloneRunState.systemDestinationCopy + "\Windows\System32\Config\SOFTWARE"
// as HKEY_USERS\NewSoft1 and, for every profile under "Microsoft\Windows
// NT\CurrentVersion\ProfileList" whose key name holds "S-1-5", replaces each
// "C:" of its ProfileImagePath by "%SystemDrive%" (written as REG_EXPAND_SZ),
// then unloads it. Not used by the clone run. The number of paths changed.
int FixProfileImagePaths();
