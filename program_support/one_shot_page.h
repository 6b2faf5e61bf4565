// Pages that start their work from a one-shot timer set in OnInitDialog
// (ShellState.OneShotTimerId): the first tick only lets the page paint, the
// second starts the work.
#pragma once

#include <functional>

#include "platform/core/types.h"

class CDialog;

// For the page's OnTimer: on the second tick of the one-shot timer, kills the
// timer, runs `work`, marks the one-shot spent (tick count 3, so a late tick
// does nothing) and ends the page with IDCANCEL. Any other tick or timer
// does nothing.
void RunOnSecondTick(CDialog& page, UINT_PTR id, const std::function<void()>& work);
