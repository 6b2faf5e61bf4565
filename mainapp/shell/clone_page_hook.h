// The one way from the program shell into the clone subsystem's confirmation
// page: the quick duplicate page runs the clone page through this hook once
// it has set the clone settings. The clone subsystem sets the hook when it
// is linked into the program; while it is null, the quick duplicate ends
// without a clone page.
#pragma once

#include "platform/core/types.h"

class CWnd;

// Runs the clone page modally over `parent` and returns its dialog result.
using ClonePageRunner = INT_PTR (*)(CWnd* parent);

inline ClonePageRunner RunClonePage = nullptr;
