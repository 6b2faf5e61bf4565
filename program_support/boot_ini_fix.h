// The boot.ini hand-off: after a partition that Windows boots from has been
// replaced (a restore, or the clone's raw copy of an active partition), the
// ARC paths in that drive's boot.ini must name the partition's new slot. The
// fix cannot run while the machine still runs from the old layout, so a
// RunOnce command hands it to the installed restore program at the next
// logon: "<installation folder>\Yarv.exe /r C: 0 1" (restore) or the same
// with "/b" (clone): switch, drive text, disk number, slot.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/cstring.h"

// The drive text ("C:") and partition-table slot (1 to 4) the command names;
// the calling program sets them before it registers.
extern CString BootIniFixDriveText;
extern int32_t BootIniFixSlot;
// Set once a command was registered.
extern bool BootIniFixRegistered;
// The restore program's installation folder as last read from
// HKLM "Software\Corvelware\Yarv" "InstallationDirectory".
extern CString InstallationDirectory;

// Writes the RunOnce value "YarvBootIni" under HKLM
// "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce": REG_SZ of the
// command's characters without a terminating zero. `mode` non-zero gives
// "/r", zero "/b". When the restore program's installation folder cannot
// be read, no command is registered (a command naming no program would
// fail at the next logon) and BootIniFixRegistered stays as it was.
void RegisterBootIniFix(int32_t mode, int32_t disk);

// The built-in boot.ini written when the drive has none.
extern const char kDefaultBootIni[];

// The drive text and slot digit of a hand-off command tail ("/r C: 0 1"):
// false unless it holds a switch, a drive, a disk number and a slot 1 to 4.
bool ParseBootIniTail(const CString& tail, CString* drive, char* slot);
// Every "partition(N" of a boot.ini text takes the slot digit; nothing else
// changes, the length least of all.
void RetargetBootIni(std::string& text, char slot);

// Rewrites boot.ini of the drive a hand-off command tail names
// ("/r C: 0 1"): every "partition(N" takes the slot digit; the file's
// attributes are cleared to replace it and put back afterwards, and it is
// kept whole whatever its length. A missing boot.ini becomes the built-in
// one. False, with nothing written, when the tail does not hold a switch, a
// drive, a disk number and a slot from 1 to 4, or the file cannot be read
// or written.
bool FixBootIni(const CString& tail);
