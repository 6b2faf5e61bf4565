// An NTFS volume image filled through ntfs-3g's own FUSE driver, so that the
// files a test copies are made by a writer that is not ours: hard links,
// alternate data streams (as "user." extended attributes), sparse files, and
// ntfs-3g's "system.ntfs_*" attributes (short names, attribute flags,
// security descriptors, reparse data, times).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

class NtfsFuseVolume {
 public:
  // Mounts `image` (a volume image, not a whole disk) on a scratch folder.
  explicit NtfsFuseVolume(const std::string& image, bool read_only = false);
  ~NtfsFuseVolume();
  NtfsFuseVolume(const NtfsFuseVolume&) = delete;
  NtfsFuseVolume& operator=(const NtfsFuseVolume&) = delete;

  // False when FUSE mounting is not possible here; the caller skips.
  bool mounted() const { return mounted_; }
  // The mounted root; `path` ("/Data/a.txt") below it.
  std::string at(const std::string& path) const { return root_ + path; }
  // Runs a shell command in the mounted root: its exit status.
  int Run(const std::string& command) const;
  // Writes a host file below the root.
  bool Put(const std::string& path, const std::string& bytes) const;
  // Sets an extended attribute of `path`: a stream ("user.NAME") or one of
  // ntfs-3g's "system.ntfs_..." values.
  bool SetAttribute(const std::string& path, const std::string& name, const std::vector<uint8_t>& value) const;
  bool SetAttribute(const std::string& path, const std::string& name, const std::string& value) const;
  // The value of an extended attribute (ntfs-3g's view of a stream, a
  // reparse point, a security descriptor); empty when the item has none.
  std::vector<uint8_t> Attribute(const std::string& path, const std::string& name) const;
  // Unmounts (waiting for ntfs-3g to write everything); true when clean.
  bool Unmount();

 private:
  std::string folder_;
  std::string root_;
  bool mounted_ = false;
  int daemon_ = 0;
};

}  // namespace test_support
