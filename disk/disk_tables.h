// The disk and drive-letter tables: which disks exist (listed from 1 with size,
// model and bus name), which disk and partition each drive letter lies on,
// each letter's volume extent, the rows of the disk and partition lists, the
// disk of the running system and the one-click destination disk; and the
// small file tests that recognise system and boot partitions.
//
// Everything is rebuilt by DetectSystemAndSpecialDisks. Tables are bounded:
// at most kMaxListedDisks listed disks, kMaxListRows rows, kMaxLetterVolumes
// letter volumes.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

// The one-touch destination marker at bytes 16..34 of sector 0.
inline constexpr char kOneTouchDiskMarker[] = "DRUMMETWORKSOTBDISK";
constexpr int kOneTouchMarkerOffset = 16;

// Rebuilds the tables below, the list rows, systemDisk and destinationDisk.
void DetectSystemAndSpecialDisks();
// The first byte of HKLM "SYSTEM\CurrentControlSet\Services\disk\Enum" "Count", masked with 0x7F.
int32_t ReadDiskCount();
// Fills listedToPhysical, listedDiskSize, listedModel, listedBusName.
void EnumerateDisks();
// Fills letterToDisk (disk + 1, -1 unmapped) and letterPartitionNumber, letters B: to Z:.
void MapLettersToDisks();
// Fills letterVolumes (1-based) for the removable and fixed letters from C:; returns the count.
int32_t ListLetterVolumes();
// Fills `volume` for letter index (0 = C:); 1 when filled, else 0.
int32_t QueryLetterVolume(LetterVolume& volume, int32_t index);
// The letter (character code) whose volume starts at `start` (512-byte units)
// on physical disk `disk`, -1 when none; positions compare with the current
// disk's multiplier, so callers make `disk` current first.
int32_t FindLetterByOffset(uint64_t start, int32_t disk);

bool IsWindowsPartition(const CString& driveText);
bool IsWindowsDirectoryDrive(WCHAR letter);
bool HasNtdetect(WCHAR letter);
bool HasWindowsSystem(WCHAR letter);
bool HasWindowsSystem32(WCHAR letter);
bool HasSystem32Folder(const CString& root);
bool HasBootBcd(const CString& root);
bool DriveHasBootBcd(WCHAR letter);
// "X:"
CString MakeDriveText(WCHAR letter);
// Upper-cased first character of HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\Setup" "BootDir"; 0 when the key cannot be opened.
WCHAR BootDirLetter();
// Upper-cased first character of the Windows directory.
WCHAR WindowsDirectoryLetter();
