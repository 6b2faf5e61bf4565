// Resolving a program's file name to a volume driver and a path on it,
// following junctions and symbolic links along the way.
#pragma once

#include <memory>

#include "platform/fs/path_name.h"
#include "platform/fs/volume_set.h"

namespace platform::fs {

struct Target {
  ParsedName name;
  Location where;
  std::shared_ptr<VolumeDriver> driver;
};

// Links inside the path are always followed (with a hop cap); a link at the
// end of the path only when `follow_last`. Returns a Win32 error.
DWORD ResolveFileName(const char16_t* text, Target* out, bool follow_last = false);

}  // namespace platform::fs
