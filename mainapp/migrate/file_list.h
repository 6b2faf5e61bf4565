// The file list of the backup product shared with Yarv: a folder's whole
// tree as a flat array of entries (folders before their contents), each with
// its find data, and a buffer of the names, each ended by '?'.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/fs/file_api.h"

constexpr uint8_t kFileListFile = 0;
constexpr uint8_t kFileListFolder = 1;

struct FileListEntry {
  uint8_t type = kFileListFile;
  int32_t indent = 0;       // nesting depth x 3 + 3
  int32_t parent = -1;      // index of the folder entry it lies in; -1 at the top
  size_t nameOffset = 0;    // its name in FileListState::names, ended by '?'
  WIN32_FIND_DATAW find{};  // attributes, times, size
};

struct FileListState {
  std::vector<FileListEntry> entries;  // grows 10,000 entries at a time
  std::u16string names;                // grows 100,000 characters at a time
  int32_t entryCount = 0;
  int32_t nameCount = 0;
};
extern FileListState FileList;

// Lists `folderPath` ("C:\" or "C:\Data") into FileList below entry
// `parent`, recursively; its entries get the indent of the shared
// FolderDepth, which counts the levels below (a folder at kFolderDepthLimit
// is listed but not entered) and ends where it started. False when memory ran
// out ("Memory Full" to ShowDebugMessage); FileList keeps what was listed.
bool BuildFileList(const CString& folderPath, int32_t parent);
// One entry at the current depth with its name; its index, -1 without memory.
int32_t AddFileListEntry(uint8_t type, int32_t parent, const WIN32_FIND_DATAW& find);
// Appends `name` and its '?' to the names; its offset, or SIZE_MAX without memory.
size_t AddFileListName(const CString& name);
// The entry's name (without its '?').
CString FileListName(const FileListEntry& entry);
