// The offline registry repair of a Windows system copied onto a GPT disk: the
// copied SYSTEM hive's MountedDevices binds C: to the new system partition,
// named by its GPT unique partition GUID, so the copy starts with its system
// drive where it expects it.
#pragma once

#include <cstdint>

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
bool FixMountedDevices(int32_t destinationListed);

// Loads CloneRunState.systemDestinationCopy + "\Windows\System32\Config\SOFTWARE"
// as HKEY_USERS\NewSoft1 and, for every profile under "Microsoft\Windows
// NT\CurrentVersion\ProfileList" whose key name holds "S-1-5", replaces each
// "C:" of its ProfileImagePath by "%SystemDrive%" (written as REG_EXPAND_SZ),
// then unloads it. Not used by the clone run. The number of paths changed.
int FixProfileImagePaths();
