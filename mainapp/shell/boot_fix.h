// The boot fix: a marker file "\BOOT\BootFix" on one of the drives C: to V:
// names a drive (its first 4 bytes: two UTF-16LE characters such as "D:")
// whose boot configuration store must be repointed to that drive with
// bcdedit. A found marker is acted on, deleted, and the program ends.
#pragma once

#include "platform/core/cstring.h"

// The drive text of a marker's first bytes: a letter and a colon, the letter
// upper-cased; empty for anything else (fewer than 4 bytes, another
// character, a NUL).
CString ParseBootFixMarker(const unsigned char* bytes, unsigned long length);

// False when no drive C: to V: holds a marker, or when the first marker found
// does not name a drive (nothing is changed then, the marker is kept).
// Otherwise runs both bcdedit commands, each followed by its message, deletes
// the marker and ends the process with code 0 (does not return).
bool ApplyBootFix();
