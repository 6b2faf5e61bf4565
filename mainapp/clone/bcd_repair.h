// The boot store repair of a Windows system copied onto a GPT disk, and the
// EFI system partition image that an MBR-to-GPT clone starts from.
//
// The store (the BCD file on the destination's EFI system partition) is read
// through raw FAT32 access into the work file TempFolder + "BCDTEMP", edited
// there by the outside BCD editor "Vastrel.exe" of \Resources (listing with
// "/store FILE", changes with "/store FILE  /set ID device|osdevice
// partition=VALUE"), and written back over the file's own clusters.
//
// Units: layout entries count bytes; the disk layer's transfers take native
// sector numbers and counts of 512-byte units.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/cstring.h"

// One 16,384-byte piece of the image per write.
constexpr uint32_t kEspPieceBytes = 16384;

// The ESP image made for a disk whose native sector is `multiplier` x 512
// bytes: programFolder + "\Resources\espimage" (FAT32, 512-byte sectors) or
// "\Resources\espimage4096" (FAT16, 4096-byte sectors); empty for others.
CString EspImagePath(int32_t multiplier);

// Writes the ESP image for the destination's sector size onto the physical
// destination disk from layout entry 0's planned start (newStartBytes), in
// pieces of 16,384 bytes at native sector positions, the last piece padded
// with zeros. False (nothing written) when the image is missing or larger
// than the planned partition, there is none for the disk's sector size, or
// the start is not on a native sector.
bool WriteEspImage(int32_t destinationPhysical);

// Edits the destination's boot store so that its boot manager and first boot
// loader name the copied system: the manager's device becomes "BOOT" after an
// MBR-to-GPT conversion, else the system volume's device; the loader's device
// and osdevice the system volume's device (the platform device name of
// `drive`, the destination system partition "Y:"). The destination disk is
// the wizard's destination (CloneSettings). Returns false when nothing was
// changed (no store found, the store could not be read or edited, or the
// edited store no longer fits the file's clusters).
bool RepairBcd(const CString& drive);

// Lists the work store with the BCD editor and sets the devices of its first
// boot manager and first boot loader. False when the listing could not be
// read or shows neither entry.
bool EditBcdStore(const CString& device);

// The identifier ("{...}") of the first entry labelled `label` in a listing
// of the BCD editor (the identifier line is the second line after the
// label); empty when there is none.
std::string FindBcdIdentifier(const std::string& listing, const char* const labels[], int labelCount);

// Runs the BCD editor through the script TempFolder + "BCDMAKE.cmd" with its
// output sent to `outputFile`, and waits for it to end.
bool RunBcdToolViaScript(const CString& parameters, const CString& outputFile);
// Runs the BCD editor with `parameters` and waits; true when it reported success.
bool RunBcdTool(const CString& parameters);

// The folder of the work files, with its trailing backslash: TempFolder, or
// the system's temporary folder when no shadow copy set it.
CString BcdWorkFolder();
