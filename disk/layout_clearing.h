// Clearing a disk's partition layout before the disk is overwritten whole or
// given a new layout by the clone: sector 0 is zeroed (and, when asked, the
// first 2 GiB, where a GPT and its partitions' starts lie), Windows is told to
// re-read the disk, and the clearing is repeated until no volume of the disk
// is left.
#pragma once

#include <cstdint>
#include <functional>

// True when the disk ended up with no volume; false when volumes stay after
// the last attempt (6, or 51 on a disk with native sectors above 512 bytes) or
// when sector 0 starts with the loader code of a boot stick (FC FA B8), which
// is left untouched. With `zeroGptArea` every attempt also zeroes the first
// 2 GiB (at most the disk), calling `afterGptWrite` after each of its 64 KiB
// writes (the clone page refreshes its elapsed time there). Resets the I/O
// error counter when it ends after writing, so its own failures are not
// shown. Closes the disk it opened.
bool ClearDiskLayout(int32_t physicalDisk, bool zeroGptArea, const std::function<void()>& afterGptWrite = {});
