// Scratch files on the host: the platform copies a hive, a volume or a file
// system it formats out to a host file while an outside library or tool
// works on it.
//
// None of them may outlive the process that made it, however that process
// ends (a kill -9 included): a scratch file is unlinked from the moment it
// exists (made without a name where the host's file system allows, else
// named and unlinked at once) and reached by a path into the process's open
// descriptors while it is in use. Where the host offers no such paths (no
// /proc), or a tool needs a real name, a scratch file keeps a name that
// carries the process id, and the next start of a program removes those
// whose process has ended.
#pragma once

#include <string>

namespace platform {

// The folder host scratch files go to by default: $TMPDIR when set and not
// empty, else /tmp.
std::string HostTempFolder();

// Makes a new, empty scratch file for `prefix` ("drum-format") in `folder`
// (HostTempFolder() when empty), readable and writable by the owner only.
// Returns its open descriptor and sets *path to a path that opens the same
// file, for this process and for the programs it starts, as long as the
// descriptor is open; -1 (path untouched, errno set) when none can be made.
// The caller lets it go with ReleaseHostTempFile(fd, path), or by closing the
// descriptor when it knows the path is a descriptor path.
int CreateHostTempFile(const std::string& prefix, std::string* path, const std::string& folder = {});

// A named scratch file, for tools that must find it by name beside others
// (a hive store writes "<name>.commit" next to it and renames it over):
// `prefix` + "-p" + process id + "-" + six random characters in `folder`.
// Removed by its caller (ReleaseHostTempFile); left behind by a process
// that was killed, it is removed by SweepHostTempFiles at the next start.
// `prefix` must begin with "drum-" for the sweep to know it.
int CreateNamedHostTempFile(const std::string& prefix, std::string* path, const std::string& folder = {});

// A named scratch folder (a tool's work tree), named and swept as above;
// false (errno set) when none can be made. The caller removes it whole.
bool CreateNamedHostTempFolder(const std::string& prefix, std::string* path, const std::string& folder = {});

// Lets a scratch file go: closes its descriptor when `path` is a path into
// this process's descriptors, else removes the named file (and closes `fd`
// when it is not -1).
void ReleaseHostTempFile(const std::string& path, int fd = -1);

// Removes the named scratch files of `folder` (HostTempFolder() when empty)
// whose process has ended, with whatever a tool made beside them under the
// same name ("<name>.commit"). Programs call it once at their start.
void SweepHostTempFiles(const std::string& folder = {});

}  // namespace platform
