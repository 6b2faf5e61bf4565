// A writer of backup archives for tests and benchmarks: the restore program
// only reads them, but its tests need real ones of every form: appended to
// a copy of a program file with the marker's offset set, none/RLE/zlib
// compression, Blowfish-encrypted or not, split into volume files, and
// members of an incremental chain with changed-block tables and blocks that
// refer to older members; file, folder, disk and partition items.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "restore/archive_format.h"

namespace archive_writer {

struct Times {
  uint64_t creation = 0, access = 0, write = 0;  // FILETIME
};

struct FileEntry {
  std::u16string path;         // as on the source system, "C:\data\a.txt"
  std::vector<uint8_t> data;
  uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
  Times times;
  int8_t selection = 0;
  // In a chain member: every block is a reference to the next older member
  // that holds the same item (which must hold it with the same data).
  bool refer_to_older = false;
};

struct FolderEntry {
  int8_t kind = 0;                      // 0..10 folder or file; above 10 a file-level partition
  std::vector<std::u16string> components;  // "C:", "data", "a.txt"
  bool is_folder = true;                // size -2, no data
  std::vector<uint8_t> data;            // a file's bytes
  uint32_t attributes = 0x10;
  Times times;
  bool refer_to_older = false;
};

struct DiskEntry {
  restore::DiskItemRecord record;  // kind, disk number, model, drive text, type, unit shape
  // The extent's bytes: from a host file at an offset, or held here.
  std::string source_path;
  int64_t source_offset = 0;
  std::vector<uint8_t> bytes;
  // Units (from 1) stored in this archive; empty = all. In a chain member,
  // the changed units.
  std::vector<int64_t> units;
};

struct Options {
  uint8_t type = 0;  // 0 full archive, else a chain member
  restore::Compression compression = restore::Compression::None;
  std::optional<std::u16string> passkey;
  std::u16string description = u"Test archive";
  int64_t backup_time = 1700000000;
  int32_t split = 0;          // header +15
  int64_t volume_size = 0;    // > 0: cut the data into volume files of about this size
  std::string name = "Test";  // archive name of volume and member files (no '_')
  int32_t chain = 0;          // chain index of this member
  // Bytes before the archive (a copy of the program file with its marker
  // set to their length). Empty: the archive starts the file.
  std::vector<uint8_t> prefix;
  uint8_t no_unit_lookup = 0;  // header +55
  // The first volume's file name; empty = BuildVolumeName(name, chain, 0).
  // Set (a self-extracting program), the later volumes are named after the
  // program as the restore program names itself (SelfExtractingName), not
  // after `name`.
  std::string first_file_name;
};

// The archive name that the restore program uses for the volumes of the
// archive appended to it: the name of its own file as it forms its path
// (the file name with its last four characters, the extension, made
// ".EXE"), taken whole since it carries no "Yarv_" prefix.
std::string SelfExtractingName(const std::string& program_file_name);

struct Written {
  std::vector<std::string> files;  // volume 0 first
  int64_t archive_offset = 0;
  int64_t total_sectors = 0;
};

// Writes the archive into `folder`. False with `error` set when an entry
// cannot be stored (a name longer than 255 characters, an extent that does
// not match its record, an unreadable source).
bool Write(const Options& options, const std::vector<FileEntry>& files, const std::vector<FolderEntry>& folders,
           const std::vector<DiskEntry>& disks, const std::string& folder, Written& written, std::string& error);

// One stored block as the writer makes it: compressed, then encrypted.
// False when the compressed form cannot be framed (an RLE code of a partial
// block that is 0x7E00 bytes or longer).
bool EncodeBlock(const std::vector<uint8_t>& raw, restore::Compression compression,
                 const std::optional<std::u16string>& passkey, std::vector<uint8_t>& stored);

// A copy of `program` with its marker's digits set to the program's length
// (the offset of an archive appended to it). False when there is no marker.
bool PatchMarker(std::vector<uint8_t>& program);

}  // namespace archive_writer
