// Privileges a program enables in its own token: the shut-down privilege
// before it asks the machine to restart, shut down or power off, and others
// (backup, restore) by name before the work that needs them.
#pragma once

#include "platform/core/types.h"

// Enables the shut-down privilege of this process's token. A token that
// cannot be opened, or a privilege it does not hold, changes nothing: the
// request that follows then fails as it would have.
void EnableShutdownPrivilege();

// Enables the named privilege (exact, case-sensitive name) in the process
// token, leaving the others as they are. Always true; a token without that
// privilege is left unchanged.
bool EnableTokenPrivilege(LPCWSTR privilegeName);
