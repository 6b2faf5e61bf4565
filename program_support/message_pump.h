// The message pump of the long loops: keeps a dialog (and the main dialog)
// responsive inside work that runs on the user-interface thread.
#pragma once

#include "platform/core/types.h"

// Asks the system to stay awake (once, not continuously), then serves the
// pending messages of `dialog` (and its children; the whole thread when null)
// through its and the main dialog's dialog handling, returning once none is
// pending (or after a few hundred, so that the work goes on).
void PumpMessages(HWND dialog);
