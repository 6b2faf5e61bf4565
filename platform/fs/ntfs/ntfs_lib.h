// A thin layer over libntfs-3g that speaks in plain C++ types.
//
// libntfs-3g's headers define their own BOOL, TRUE and FALSE, which clash with
// the platform's; this header keeps them out of every other translation unit.
// Every call returns 0 or a positive errno value and never throws. The volume
// is reached only through the Io callbacks (no file descriptors, no mounting).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::fs::ntfs::lib {

struct Io {
  void* context = nullptr;
  uint64_t size = 0;           // bytes
  uint32_t sector_size = 512;  // native sector size
  // Each moves exactly `length` bytes at `offset` or returns false.
  bool (*read)(void* context, uint64_t offset, void* buffer, size_t length) = nullptr;
  bool (*write)(void* context, uint64_t offset, const void* buffer, size_t length) = nullptr;
  bool (*flush)(void* context) = nullptr;
};

using Path = std::vector<std::u16string>;

struct Entry {
  std::u16string name;        // long (Win32 or POSIX) name as stored
  std::u16string short_name;  // DOS name, empty when none
  uint64_t mref = 0;          // MFT record number with sequence number
  uint32_t attributes = 0;    // Win32 attribute bits (directory bit for folders)
  uint64_t size = 0;
  uint64_t allocation_size = 0;
  uint64_t creation_time = 0;  // 100 ns since 1601
  uint64_t last_access_time = 0;
  uint64_t last_write_time = 0;
  uint32_t reparse_tag = 0;
  uint32_t link_count = 1;    // hard links (names other than DOS aliases)
};

struct VolumeFacts {
  std::u16string label;
  uint64_t serial = 0;
  uint32_t sector_size = 0;
  uint32_t cluster_size = 0;
  uint64_t total_clusters = 0;
  uint64_t free_clusters = 0;
  uint32_t mft_record_size = 0;
  uint64_t mft_start_lcn = 0;
  uint64_t mft_mirror_lcn = 0;
  uint64_t mft_valid_data_length = 0;
  uint32_t major_version = 0;
  uint32_t minor_version = 0;
};

class Volume;

// Mounts the NTFS volume behind `io`. On success *volume owns the mount.
int Mount(const Io& io, bool read_only, Volume** volume);
// Writes everything back and releases the mount; the pointer is gone afterwards.
int Unmount(Volume* volume);

int Facts(Volume* v, VolumeFacts* facts);
// The serial number of the boot sector, without the rest of the facts (no
// count of the free clusters, which reads the whole cluster bitmap).
int Serial(Volume* v, uint64_t* serial);
int SetLabel(Volume* v, const std::u16string& label);

int Stat(Volume* v, const Path& path, Entry* entry);
// Entries in index order, without the metadata files and without "." and "..".
int List(Volume* v, const Path& folder, std::vector<Entry>* entries);
int CreateFile(Volume* v, const Path& path, bool folder);
int Remove(Volume* v, const Path& path);
int Rename(Volume* v, const Path& from, const Path& to);
// Gives the file at `existing` the further name `link` (a hard link); EEXIST when taken.
int Link(Volume* v, const Path& existing, const Path& link);
// Only the settable bits (read-only, hidden, system, archive, not-indexed, temporary, offline).
int SetAttributes(Volume* v, const Path& path, uint32_t attributes);
// Null leaves a time unchanged.
int SetTimes(Volume* v, const Path& path, const uint64_t* creation, const uint64_t* access,
             const uint64_t* write);
int TouchWrite(Volume* v, uint64_t mref, uint64_t now);

// A data stream by MFT reference (as Stat returned it): the unnamed one, or
// the named (alternate) stream `stream`.
int DataSize(Volume* v, uint64_t mref, uint64_t* size, const std::u16string& stream = {});
int ReadData(Volume* v, uint64_t mref, uint64_t offset, void* buffer, size_t length, size_t* done,
             const std::u16string& stream = {});
int WriteData(Volume* v, uint64_t mref, uint64_t offset, const void* buffer, size_t length,
              const std::u16string& stream = {});
// Grows a sparse file with a hole, any other with allocated clusters.
int Truncate(Volume* v, uint64_t mref, uint64_t size, const std::u16string& stream = {});
// The named data streams of a file or folder (name, size), in attribute order.
int ListStreams(Volume* v, const Path& path, std::vector<std::pair<std::u16string, uint64_t>>* streams);
// The MFT reference and size of the named stream `stream` of `path`, made
// (empty) first when `create` and missing.
int OpenStream(Volume* v, const Path& path, const std::u16string& stream, bool create, uint64_t* mref,
               uint64_t* size);
// The (offset, length) byte spans of the unnamed data stream that hold clusters.
int AllocatedRanges(Volume* v, uint64_t mref, std::vector<std::pair<uint64_t, uint64_t>>* ranges);
// Sets the compressed flag of an empty file (its data is then written
// compressed) or of a folder (its new files are compressed). EOPNOTSUPP for a
// file that holds data, or on a volume whose clusters are over 4 KiB.
int SetCompressed(Volume* v, const Path& path);
// Sets the sparse flag of the file.
int SetSparse(Volume* v, const Path& path);

int GetSecurity(Volume* v, const Path& path, std::vector<uint8_t>* descriptor);
int SetSecurity(Volume* v, const Path& path, const std::vector<uint8_t>& descriptor);
int GetReparse(Volume* v, const Path& path, std::vector<uint8_t>* buffer);
int SetReparse(Volume* v, const Path& path, const std::vector<uint8_t>& buffer);
int SetShortName(Volume* v, const Path& path, const std::u16string& short_name);

// Writes the cached data stream, its inode and the changed system files back to the device; no device sync.
int WriteBack(Volume* v);
// Writes back, then syncs the device.
int Sync(Volume* v);

}  // namespace platform::fs::ntfs::lib
