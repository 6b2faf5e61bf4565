// The wait cursor shown while a long step runs on the user-interface thread.
#pragma once

// The hourglass (IDC_WAIT) keeping the cursor that showed; and back.
void SetWaitCursor();
void RestoreCursor();
