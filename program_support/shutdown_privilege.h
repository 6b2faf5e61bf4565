// The privilege a program enables in its own token before it asks the
// machine to restart, shut down or power off.
#pragma once

// Enables the shut-down privilege of this process's token. A token that
// cannot be opened, or a privilege it does not hold, changes nothing: the
// request that follows then fails as it would have.
void EnableShutdownPrivilege();
