// The dialog trace a run writes to its log, the same whichever way the
// program runs (headless or in real windows): each modal dialog and message
// box as it opens, and how it closed.
//
//   dialog 901 "Painted" opened
//   dialog 901 "Painted" closed with 1
//   message box "Question": "Copy the disk?" [yes,no]
//   message box answered 7
#pragma once

#include <string>

#include "platform/ui/message_queue.h"

namespace platform::ui {

struct Window;

// How logs and failure messages name a window: its kind and caption
// ("dialog 102 \"Drummet\"", "message box \"Question\""); "nothing" for null.
std::string DescribeWindow(const Window* w);

// The trace line of a modal loop that starts or ends, or empty for one the
// trace leaves out (a popup menu's tracking, a window already destroyed).
std::string ModalStartedLine(const ModalLoop& loop);
std::string ModalEndedLine(const ModalLoop& loop);

}  // namespace platform::ui
