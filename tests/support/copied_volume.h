// What a file copy left on a destination volume, read from the volume's
// image with that file system's own outside tools rather than our drivers:
// ntfs-3g's (ntfscat, ntfsls, ntfsinfo, ntfssecaudit) for NTFS, mtools and
// fsck.fat for FAT. Paths are absolute on the volume with '/' between names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

class CopiedVolume {
 public:
  enum class Kind { Ntfs, Fat };
  // `image` is the partition's image (not the whole disk); the drivers that
  // wrote it must have let it go.
  CopiedVolume(std::string image, Kind kind) : image_(std::move(image)), kind_(kind) {}
  // "ntfs" gives Ntfs; any FAT name ("fat32", "fat16") gives Fat.
  CopiedVolume(std::string image, const std::string& fs_name);

  bool ntfs() const { return kind_ == Kind::Ntfs; }
  const std::string& image() const { return image_; }

  // The file's bytes; empty when it cannot be read.
  std::string Cat(const std::string& path) const;
  // True when the file's bytes equal the host file `reference` (cmp, without
  // holding either in memory).
  bool SameBytes(const std::string& path, const std::string& reference) const;
  // The names in `folder`: `ntfsls -p` with `ntfs_options` (such as "-a" or
  // "-x"), or `mdir -b` (full paths, one a line).
  std::string List(const std::string& folder, const std::string& ntfs_options = "") const;
  // The long listing of `folder` with times in UTC: `ntfsls -l` gives lines
  // such as "Mar  4 05:06 2011 name", `mdir` lines with "2011-03-04".
  std::string ListWithTimes(const std::string& folder) const;
  // The item's attributes as the tool words them: ntfsinfo's attribute
  // lines ("READONLY", "HIDDEN", "SYSTEM", "$REPARSE_POINT" among its
  // attribute list) or mattrib's letters before the name ("R", "H", "S").
  std::string Attributes(const std::string& path) const;
  // ntfsinfo's whole report of the item (NTFS only; empty on FAT).
  std::string NtfsInfo(const std::string& path) const;
  // NTFS: ntfsinfo reports the file COMPRESSED and its data stored in fewer
  // bytes ("Compressed size") than it holds ("Data size"); false on FAT.
  bool StoredCompressed(const std::string& path) const;
  // The bytes of the item's DACL from ntfssecaudit's dump of its security
  // descriptor; empty when it has none (or on FAT).
  std::vector<uint8_t> Dacl(const std::string& path) const;
  // The volume's label (ntfslabel, mlabel).
  std::string Label() const;
  // fsck.fat -n on FAT, ntfsfix -n on NTFS: true when clean; the tool's
  // words in *report.
  bool Consistent(std::string* report = nullptr) const;

 private:
  std::string image_;
  Kind kind_;
};

}  // namespace test_support
