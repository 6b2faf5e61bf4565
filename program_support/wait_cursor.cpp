#include "program_support/wait_cursor.h"

#include "platform/ui/winuser.h"

namespace {

HCURSOR SavedCursor = nullptr;

}  // namespace

void SetWaitCursor() { SavedCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT)); }

void RestoreCursor() { SetCursor(SavedCursor); }
