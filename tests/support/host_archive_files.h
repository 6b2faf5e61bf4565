// Archive files read straight from the host, for tests and benchmarks that
// check the reader on archives the archive writer left in a host folder.
#pragma once

#include "restore/archive_files.h"

namespace test_support {

// Host files: '\' becomes '/'.
class HostArchiveFiles : public restore::ArchiveFiles {
 public:
  std::unique_ptr<restore::ArchiveFile> open(const std::u16string& path) override;
};

}  // namespace test_support
