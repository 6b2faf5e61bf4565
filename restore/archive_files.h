// How the archive reader reaches its files: by path, read-only, at an
// offset. The program opens them through the platform's file API on the
// simulated PC; the fuzz target and small tests read memory, and the tests'
// support library reads host files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace restore {

class ArchiveFile {
 public:
  virtual ~ArchiveFile() = default;
  // Reads up to n bytes at `offset`; returns the count read (0 at or past
  // the end), -1 when the read fails.
  virtual int64_t read_at(int64_t offset, uint8_t* buffer, size_t n) = 0;
  virtual int64_t size() const = 0;
};

class ArchiveFiles {
 public:
  virtual ~ArchiveFiles() = default;
  // nullptr when the file cannot be opened. Paths use '\' between parts.
  virtual std::unique_ptr<ArchiveFile> open(const std::u16string& path) = 0;
};

// Files through CreateFileW on the simulated PC (read, share read and write,
// open existing).
class PlatformArchiveFiles : public ArchiveFiles {
 public:
  std::unique_ptr<ArchiveFile> open(const std::u16string& path) override;
};

// Files held in memory by path (the fuzz target and small tests).
class MemoryArchiveFiles : public ArchiveFiles {
 public:
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::unique_ptr<ArchiveFile> open(const std::u16string& path) override;
};

// Folder part of a path ("" when there is no '\'), and its last part.
std::u16string ArchiveParentPath(const std::u16string& path);
std::u16string ArchivePathLeaf(const std::u16string& path);

}  // namespace restore
