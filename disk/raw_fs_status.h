// Result codes of the raw FAT and NTFS readers, shared by both sides.
#pragma once

#include <cstdint>

enum RawFsStatus : int32_t {
  RAWFS_OK = 1001,                 // success, found
  RAWFS_NO_MEMORY = 1002,          // out of memory
  RAWFS_TOO_MANY_DELETED = 1004,   // more deleted directory entries than the limit (FAT)
  RAWFS_FREE_SPACE_FAILED = 1005,  // the free-space query of the volume failed
  RAWFS_IO_FAILED = 1006,          // opening the volume, or a read or write, failed
  RAWFS_NOT_FOUND = 1007,          // path component not found (FAT)
  RAWFS_BAD_RUNS = 1008,           // bad, unsupported or missing data run information
  RAWFS_TOO_MANY_RUNS = 1011,      // a cluster chain of more than 10 runs (FAT)
  RAWFS_NOT_FILE_RECORD = 1015,    // the record does not start with "FILE"
  RAWFS_FLAGS_CHECK = 1016,        // record flags check failed
  RAWFS_EXTENSION_RECORD = 1017,   // base record reference is not zero
  RAWFS_IS_FOLDER = 1018,          // the $FILE_NAME flags mark a folder
  RAWFS_NO_NAME_PARENT = 1019,     // no $FILE_NAME attribute (parent lookup)
  RAWFS_NO_NAME_FILE = 1020,       // no $FILE_NAME attribute (plain-file check)
  RAWFS_RESIDENT = 1021,           // the attribute is resident
  RAWFS_NON_RESIDENT = 1022,       // the attribute is non-resident
  RAWFS_NO_DATA = 1023,            // no $DATA attribute within the 1,024-byte record
  RAWFS_COMPRESSED_ROOT = 1025,    // the volume root carries the compressed attribute
};
