// Starting a helper program without a window and waiting for it, as the
// one-touch-boot service check does.
#pragma once

#include "platform/core/cstring.h"

// Creates `program` with the command line " " + arguments, no window and the
// program's current folder, shows the wait cursor, and polls it (read the
// exit code, sleep 100 ms; stop when it has ended or after 30,000 polls,
// otherwise wait up to 4 s on it). True when the process was created.
bool RunCommandAndWait(const CString& program, const CString& arguments);
