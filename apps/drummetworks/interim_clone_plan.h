// Stand-in for the destination planner while it is not yet linked into the
// program: before the clone page opens for a basic whole-disk copy, every
// partition of the source's layout table is planned at its own start and
// size on the destination (the plan of same-size sizing where the source's
// partitions fit). The clone run refuses a plan that does not fit the
// destination. Replaced by the planner's own plan when it is linked in.
#pragma once

#include "platform/core/types.h"

class CWnd;

INT_PTR RunClonePageWithInterimPlan(CWnd* parent);
