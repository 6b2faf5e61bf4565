// The names of host folders, folded for matching without regard to case, so
// that looking up a name that is missing or written in another case costs a
// hash look-up instead of a listing of the whole folder.
//
// One cache serves the process. The kernel reports every create, delete and
// rename inside a cached folder to it (inotify), whoever makes the change:
// this process, another program of the simulated PC sharing the folder, or
// the host. Each look-up first takes in every report queued so far, and the
// kernel queues a report before the call that made the change returns, so a
// look-up sees every change that was complete when it began. When the
// kernel cannot report (no inotify, the watch limit reached, its queue
// overflowed), the folder is listed for each look-up as before, or the whole
// cache starts over; it is never trusted without the reports.
#pragma once

#include <string>

namespace platform::fs::hostfs {

enum class NameMatch { kFound, kMissing, kNoFolder };

// Finds the entry of the host folder `folder` whose name equals `name`
// without regard to case; *actual receives it as the host spells it. When
// several differ only in case the first listed one answers.
NameMatch MatchName(const std::string& folder, const std::u16string& name, std::string* actual);

// Folders the cache holds reports for (for tests).
size_t CachedFolderCount();

}  // namespace platform::fs::hostfs
