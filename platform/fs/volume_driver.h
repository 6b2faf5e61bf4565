// The contract between the file API (paths, handles, FindFirstFile, ...) and a
// file-system driver working on one volume's bytes (FAT, NTFS, host folder).
//
// Paths handed to a driver are already split and validated by the file API:
// components below the volume root, no "." or "..", no empty or over-long
// component, no embedded NUL. Names compare case-insensitively and keep their
// case. Every call returns a Win32 error code (ERROR_SUCCESS on success) and
// never throws; damaged on-disk structures give ERROR_FILE_CORRUPT or
// ERROR_DISK_CORRUPT, never a crash or a write outside the device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/types.h"

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x00000040;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD FILE_ATTRIBUTE_SPARSE_FILE = 0x00000200;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;
constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x00000800;
constexpr DWORD FILE_ATTRIBUTE_OFFLINE = 0x00001000;
constexpr DWORD FILE_ATTRIBUTE_NOT_CONTENT_INDEXED = 0x00002000;
constexpr DWORD FILE_ATTRIBUTE_ENCRYPTED = 0x00004000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

constexpr DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000C;

constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x00000001;
constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x00000002;
constexpr DWORD FILE_UNICODE_ON_DISK = 0x00000004;
constexpr DWORD FILE_PERSISTENT_ACLS = 0x00000008;
constexpr DWORD FILE_FILE_COMPRESSION = 0x00000010;
constexpr DWORD FILE_SUPPORTS_REPARSE_POINTS = 0x00000080;
constexpr DWORD FILE_SUPPORTS_SPARSE_FILES = 0x00000040;
constexpr DWORD FILE_VOLUME_IS_COMPRESSED = 0x00008000;

namespace platform::fs {

// Components below the volume root; empty means the root itself.
using VolumePath = std::vector<std::u16string>;

// Times are FILETIME ticks: 100 ns since 1601-01-01 UTC. 0 means "not kept".
struct FileInfo {
  std::u16string name;         // long name as stored
  std::u16string short_name;   // 8.3 alias, empty when the name needs none or the volume keeps none
  DWORD attributes = 0;        // FILE_ATTRIBUTE_*; FILE_ATTRIBUTE_DIRECTORY for folders
  uint64_t size = 0;           // bytes of data (0 for folders)
  uint64_t allocation_size = 0;
  uint64_t creation_time = 0;
  uint64_t last_access_time = 0;
  uint64_t last_write_time = 0;
  DWORD reparse_tag = 0;       // IO_REPARSE_TAG_* when FILE_ATTRIBUTE_REPARSE_POINT is set
  uint64_t file_id = 0;        // stable for the life of the file on this volume
  uint32_t link_count = 1;     // names of the file (hard links)
};

struct VolumeInfo {
  std::u16string file_system;  // "FAT", "FAT32", "NTFS", ...
  std::u16string label;
  DWORD serial_number = 0;
  DWORD max_component_length = 255;
  DWORD flags = 0;             // FILE_CASE_PRESERVED_NAMES | ...
  uint32_t bytes_per_sector = 512;
  uint32_t bytes_per_cluster = 4096;
  uint64_t total_clusters = 0;
  uint64_t free_clusters = 0;
};

// A span of a file that holds data: the rest of a sparse file reads as zeros
// and takes no space.
struct AllocatedRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// A named (alternate) data stream of a file or folder.
struct StreamInfo {
  std::u16string name;  // without colons or type ("Zone.Identifier")
  uint64_t size = 0;
};

// An open file's data. Offsets are absolute; the file API keeps the position.
class OpenFile {
 public:
  virtual ~OpenFile() = default;
  virtual uint64_t size() const = 0;
  // Reads up to `length` bytes; *done is short only at end of file.
  virtual DWORD read(uint64_t offset, void* buffer, size_t length, size_t* done) = 0;
  // Writes all bytes, growing the file when needed (ERROR_DISK_FULL when it cannot).
  virtual DWORD write(uint64_t offset, const void* buffer, size_t length) = 0;
  virtual DWORD set_size(uint64_t size) = 0;
  // Hands everything the volume holds in memory for this file (allocation
  // tables, directory entry, inode state) to the device, so a raw reader of the
  // device sees the file whole, without asking the device to make it durable.
  // This is what closing a handle does; drivers that cannot tell the two apart
  // flush.
  virtual DWORD write_back() { return flush(); }
  // Writes back, then makes the device durable (FlushFileBuffers, write-through).
  virtual DWORD flush() = 0;
  // A host file descriptor that holds exactly this file's data (a file of a
  // host folder), for copies the host makes itself; -1 for files that live
  // inside an image.
  virtual int host_descriptor() const { return -1; }
};

class VolumeDriver {
 public:
  virtual ~VolumeDriver() = default;

  virtual DWORD volume_info(VolumeInfo* info) = 0;
  // The volume's serial number alone, asked with every file's identity: a
  // driver whose volume_info counts the free space answers it without that.
  virtual DWORD volume_serial(DWORD* serial) {
    VolumeInfo info;
    if (DWORD e = volume_info(&info)) return e;
    *serial = info.serial_number;
    return 0;
  }
  virtual DWORD set_label(const std::u16string& label) = 0;

  virtual DWORD stat(const VolumePath& path, FileInfo* info) = 0;
  // A folder's entries in the volume's own stable order, without "." and "..".
  virtual DWORD list(const VolumePath& folder, std::vector<FileInfo>* entries) = 0;
  virtual DWORD open(const VolumePath& path, bool writable, std::unique_ptr<OpenFile>* file) = 0;
  // Creates an empty file or folder; ERROR_FILE_EXISTS / ERROR_ALREADY_EXISTS when the name is taken,
  // ERROR_PATH_NOT_FOUND when the parent is missing.
  virtual DWORD create_file(const VolumePath& path, DWORD attributes) = 0;
  virtual DWORD create_folder(const VolumePath& path) = 0;
  // Removes a file, or an empty folder (ERROR_DIR_NOT_EMPTY otherwise).
  virtual DWORD remove(const VolumePath& path) = 0;
  // Renames or moves within the volume; fails with ERROR_ALREADY_EXISTS when `to` exists.
  virtual DWORD rename(const VolumePath& from, const VolumePath& to) = 0;
  virtual DWORD set_attributes(const VolumePath& path, DWORD attributes) = 0;
  // Null pointers leave a time unchanged.
  virtual DWORD set_times(const VolumePath& path, const uint64_t* creation, const uint64_t* last_access,
                          const uint64_t* last_write) = 0;

  // Optional features; the defaults answer ERROR_NOT_SUPPORTED as FAT does.
  // The spans of the file that hold data, in order; the default: the whole file.
  virtual DWORD allocated_ranges(const VolumePath& path, std::vector<AllocatedRange>* ranges);
  // Marks a file sparse: growing it leaves holes, and only what is written takes space.
  virtual DWORD set_sparse(const VolumePath& path);
  // Makes a file's data (an empty file's) or a folder's new files compressed.
  virtual DWORD set_compressed(const VolumePath& path);
  // The named data streams of a file or folder; the default: none.
  virtual DWORD list_streams(const VolumePath& path, std::vector<StreamInfo>* streams);
  // Opens the named stream `stream` of the file or folder `path`, made empty
  // first when `create` and missing; the default: ERROR_NOT_SUPPORTED.
  virtual DWORD open_stream(const VolumePath& path, const std::u16string& stream, bool writable, bool create,
                            std::unique_ptr<OpenFile>* file);
  virtual DWORD set_short_name(const VolumePath& path, const std::u16string& short_name);
  // Gives the file at `existing` a further name `link` (a hard link): ERROR_ALREADY_EXISTS when
  // `link` is taken, ERROR_ACCESS_DENIED for a folder.
  virtual DWORD create_link(const VolumePath& existing, const VolumePath& link);
  // Self-relative security descriptor bytes.
  virtual DWORD get_security(const VolumePath& path, std::vector<uint8_t>* descriptor);
  virtual DWORD set_security(const VolumePath& path, const std::vector<uint8_t>& descriptor);
  // The raw reparse data buffer (tag, length, reserved, data) as FSCTL_GET_REPARSE_POINT returns it.
  virtual DWORD get_reparse_point(const VolumePath& path, std::vector<uint8_t>* buffer);
  virtual DWORD set_reparse_point(const VolumePath& path, const std::vector<uint8_t>& buffer);

  // Writes every cached change to the device; afterwards the device bytes are a
  // consistent file system that an independent checker accepts.
  virtual DWORD flush() = 0;
  // The same without asking the device to make the bytes durable: what another
  // process reading the image needs to see this one's changes. Drivers that
  // cannot tell the two apart flush.
  virtual DWORD write_back() { return flush(); }
};

}  // namespace platform::fs
