// Built-in controls: per-class state (the models the driver and the view
// read, one file pair per kind in controls/) and the framework's wrapper
// classes (CButton, CListCtrl, ... in controls/control_wrappers.h).
// Changes made through the wrappers send the notifications the platform
// sends (LVN_ITEMCHANGING before a list row changes, refusable, and so on).
#pragma once

#include "platform/ui/controls/control_wrappers.h"
