// Scratch files on the host: the platform copies a hive, a volume or a file
// system it formats out to a host file while an outside library or tool
// works on it.
#pragma once

#include <string>

namespace platform {

// The folder host scratch files go to by default: $TMPDIR when set and not
// empty, else /tmp.
std::string HostTempFolder();

// Makes a new, empty file `prefix` + "-" + six random characters in `folder`
// (HostTempFolder() when empty), readable and writable by the owner only.
// Returns its open descriptor and sets *path; -1 (path untouched, errno set)
// when it cannot be made. The caller closes and removes it.
int CreateHostTempFile(const std::string& prefix, std::string* path, const std::string& folder = {});

}  // namespace platform
