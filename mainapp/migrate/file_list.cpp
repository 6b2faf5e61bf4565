#include "mainapp/migrate/file_list.h"

#include <new>

#include "disk/volume_space.h"
#include "program_support/registry_readers.h"

FileListState FileList;

namespace {

constexpr size_t kEntryGrowth = 10000;
constexpr size_t kNameGrowth = 100000;
constexpr size_t kNameRoom = 520;

void MemoryFull() { ShowDebugMessage(0, u"Memory Full"); }

}  // namespace

size_t AddFileListName(const CString& name) {
  std::u16string& names = FileList.names;
  try {
    if (names.capacity() - names.size() < kNameRoom + static_cast<size_t>(name.GetLength()))
      names.reserve(names.capacity() + kNameGrowth + static_cast<size_t>(name.GetLength()));
    const size_t at = names.size();
    names += name.str();
    names += u'?';
    ++FileList.nameCount;
    return at;
  } catch (const std::bad_alloc&) {
    MemoryFull();
    return SIZE_MAX;
  } catch (const std::length_error&) {
    MemoryFull();
    return SIZE_MAX;
  }
}

int32_t AddFileListEntry(uint8_t type, int32_t parent, const WIN32_FIND_DATAW& find) {
  std::vector<FileListEntry>& entries = FileList.entries;
  if (entries.size() >= static_cast<size_t>(INT32_MAX)) {
    MemoryFull();
    return -1;
  }
  const size_t nameAt = AddFileListName(CString(find.cFileName));
  if (nameAt == SIZE_MAX) return -1;
  try {
    if (entries.size() == entries.capacity()) entries.reserve(entries.capacity() + kEntryGrowth);
    FileListEntry e;
    e.type = type;
    e.indent = FolderDepth * 3 + 3;
    e.parent = parent;
    e.nameOffset = nameAt;
    e.find = find;
    entries.push_back(e);
  } catch (const std::bad_alloc&) {
    MemoryFull();
    return -1;
  }
  FileList.entryCount = static_cast<int32_t>(entries.size());
  return FileList.entryCount - 1;
}

CString FileListName(const FileListEntry& entry) {
  const std::u16string& names = FileList.names;
  if (entry.nameOffset >= names.size()) return CString();
  const size_t end = names.find(u'?', entry.nameOffset);
  return CString(names.substr(entry.nameOffset, end == std::u16string::npos ? std::u16string::npos
                                                                            : end - entry.nameOffset));
}

bool BuildFileList(const CString& folderPath, int32_t parent) {
  // A drive root of three characters ("C:\") already ends in its separator.
  const CString prefix = folderPath.GetLength() == 3 && folderPath[2] == u'\\' ? folderPath : folderPath + u"\\";
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(prefix + u"*.*", &data);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool ok = true;
  do {
    const CString name(data.cFileName);
    if (name == CString(u".") || name == CString(u"..")) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const int32_t index = AddFileListEntry(kFileListFolder, parent, data);
      if (index < 0) {
        ok = false;
        break;
      }
      // The level below is entered only while it stays within the bound.
      if (FolderDepth < kFolderDepthLimit) {
        ++FolderDepth;
        ok = BuildFileList(prefix + name, index);
        --FolderDepth;
        if (!ok) break;
      }
    } else if (AddFileListEntry(kFileListFile, parent, data) < 0) {
      ok = false;
      break;
    }
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return ok;
}
