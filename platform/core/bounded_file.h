// Reading a small file that someone else may have put there: a machine
// folder's machine.ini, registry.reg or S.M.A.R.T. page.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads the whole of `path` into *text when it is a regular file of at most
// `limit` bytes. Anything else is refused at once with a message in *error
// naming the file and why: a FIFO (which would block), a device such as
// /dev/zero (which never ends), a file over the limit (refused by its size
// before a byte is read, or as soon as it grows past it while being read).
bool ReadBoundedFile(const std::string& path, size_t limit, std::string* text, std::string* error);

}  // namespace platform
