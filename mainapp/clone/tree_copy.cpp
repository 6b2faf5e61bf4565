#include "mainapp/clone/tree_copy.h"

#include <cstring>
#include <utility>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/reparse_points.h"
#include "disk/shadow_copy.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/partition_range_copy.h"
#include "mainapp/migrate/file_copy.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/kobject.h"
#include "platform/core/show_window.h"
#include "platform/process/system_info.h"
#include "platform/ui/controls.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/number_text.h"
#include "program_support/path_helpers.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

HWND CopyProgressPage = nullptr;
LinkNamingRecord LinkNaming;

namespace {

constexpr int kRepairAttempts = 3;
constexpr int kLabelSize = 520;
// The command line of the "All Users" link script is written as 8-bit text
// into a buffer of this size, its zero included.
constexpr int kScriptLineSize = 256;

// A folder link met by the walk, made again after it.
struct FoundLink {
  CString source;
  CString destination;
  WIN32_FIND_DATAW entry;  // its attributes and times
};
// In order of discovery.
std::vector<FoundLink> LinkList;
// The copy and read-back buffers of the file copy, kept for the whole walk.
std::vector<BYTE> CopyBuffer;
std::vector<BYTE> ReadBackBuffer;
// Files with several names met by the walk.
HardLinkTable HardLinks;
// The folder the walk started at: the root of the volume copied; and the
// root of the copy.
CString CopyRoot;
CString CopyDestinationRoot;
// Whether the copy's file system keeps security, short names and
// compression (NTFS); onto one that does not, the summary says so once.
bool DestinationKeepsSecurity = true;

// A line of the summary's list of what the copy could not keep: the source
// path, and after a colon what of it was left out when the item itself was
// copied (`reasonKey`, a language key).
void RecordSkipped(const CString& path, const char16_t* reasonKey = nullptr) {
  ++CloneRunState.skippedItemCount;
  if (CloneRunState.skippedItemCount <= kSkippedItemsListed) {
    CloneRunState.skippedItems += path;
    if (reasonKey) CloneRunState.skippedItems += u": " + LookupString(reasonKey);
    CloneRunState.skippedItems += u"\r\n";
  }
}

bool Aborted() { return CloneRunState.cloneAborted != 0; }

void PumpPageAndMain() {
  if (CopyProgressPage) PumpMessages(CopyProgressPage);
  if (ShellState.MainDialogHandle) PumpMessages(ShellState.MainDialogHandle);
}

void ShowItem(int item, const CString& text) {
  if (CopyProgressPage) SetDlgItemTextW(CopyProgressPage, item, text);
}

// 2n + bytes / (512 x copyTotalSectors / 100), the divisor first; unchanged
// when the divisor is 0.
void ShowProgress(uint64_t bytes) {
  const uint64_t divisor = 512 * CloneRunState.copyTotalSectors / 100;
  if (!divisor || !ShellState.ProgressBar) return;
  const uint64_t position =
      static_cast<uint64_t>(CloneProgressPassStart(CloneRunState.progressPartitionCount)) + bytes / divisor;
  ShellState.ProgressBar->SetPos(static_cast<int>(position));
}

bool StartsWithNoCase(const CString& text, const CString& prefix) {
  return !prefix.IsEmpty() && text.GetLength() >= prefix.GetLength() &&
         text.Left(prefix.GetLength()).CompareNoCase(prefix) == 0;
}

// The same item on the live volume when `path` lies in the current shadow copy.
CString LivePath(const CString& path) {
  if (ShadowSourceVolume.IsEmpty() || !StartsWithNoCase(path, ShadowDevicePath)) return path;
  return ShadowSourceVolume + path.Mid(ShadowDevicePath.GetLength());
}

// A copied folder gets the source folder's attributes, access-control list,
// short name (as the live volume has it) and times.
void CopyFolderWithShortName(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry) {
  CopyBuffer.resize(kCopyChunkBytes);
  if (!CopyStreams(source, destination, CopyBuffer)) RecordSkipped(source, u"IDS_LeftOutStreams");
  CopyFolderMetadata(source, destination, entry, [&](HANDLE folder) {
    if (DestinationKeepsSecurity && !CopyCompression(folder, entry)) RecordSkipped(source, u"IDS_LeftOutCompression");
    WCHAR shortPath[MAX_PATH] = {};
    if (GetShortPathNameW(LivePath(source), shortPath, MAX_PATH) > 0) {
      EnableRestorePrivilege();
      const CString leaf = GetPathLeaf(CString(shortPath));
      if (!leaf.IsEmpty() && leaf.CompareNoCase(entry.cFileName) != 0) SetFileShortNameW(folder, leaf);
    }
  });
}

// Rewrites `count` bytes of `data` at `offset` of the destination file
// through a handle of its own that may write (clearing a read-only attribute
// for as long as it is open) and reads them back; up to three attempts.
bool RepairChunk(const CString& destinationFile, uint64_t offset, const BYTE* data, DWORD count) {
  const DWORD attributes = GetFileAttributesW(destinationFile);
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  if (readOnly) SetFileAttributesW(destinationFile, attributes & ~FILE_ATTRIBUTE_READONLY);
  bool matched = false;
  HANDLE writable = OpenFileReadWrite(destinationFile);
  if (writable != INVALID_HANDLE_VALUE) {
    std::vector<BYTE> back(count);
    for (int attempt = 0; attempt < kRepairAttempts && !matched; ++attempt) {
      if (!SeekTo(writable, offset) || WriteFileBytes(writable, count, data) != count) continue;
      FlushFileBuffers(writable);
      if (!SeekTo(writable, offset) || ReadFileBytes(writable, count, back.data()) != count) continue;
      matched = std::memcmp(back.data(), data, count) == 0;
    }
    CloseHandle(writable);
  }
  if (readOnly) SetFileAttributesW(destinationFile, attributes);
  return matched;
}

// Writes the link data read last onto the copied item, a link into the
// copied volume re-pointed at the copy.
bool WriteLinkCopy(const CString& destination) {
  if (LinkNaming.keepNames) return WriteReparsePointCopy(destination, std::vector<LinkVolumeMove>{});
  std::vector<LinkVolumeMove> moves{{LivePath(CopyRoot), CopyDestinationRoot}};
  moves.insert(moves.end(), LinkNaming.volumes.begin(), LinkNaming.volumes.end());
  return WriteReparsePointCopy(destination, moves);
}

// Gives a copied link its source's attributes and times (of the link itself,
// not of its target).
void CopyLinkMetadata(const CString& destination, const WIN32_FIND_DATAW& entry) {
  SetFileAttributesW(destination, entry.dwFileAttributes);
  HANDLE item = CreateFileW(destination, GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (item == INVALID_HANDLE_VALUE) return;
  SetFileTime(item, &entry.ftCreationTime, &entry.ftLastAccessTime, &entry.ftLastWriteTime);
  CloseHandle(item);
}

// A file symbolic link is copied as a link: an empty file given the link
// data. False (nothing left behind) where the destination holds no links.
bool CopyFileLink(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry) {
  if (ReadReparseTarget(source).IsEmpty()) return false;
  HANDLE file = CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  if (!WriteLinkCopy(destination)) {
    DeleteFileW(destination);
    return false;
  }
  WriteFileDacl(destination, ReadFileDacl(source));
  CopyLinkMetadata(destination, entry);
  return true;
}

// Re-creates one folder link on the destination from the source item's reparse data.
bool RecreateLink(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry) {
  const int allUsers = destination.Find(u"All Users");
  if (allUsers < 1) {
    ReadReparseTarget(LivePath(source));
    if (!WriteLinkCopy(destination)) return false;
    WriteFileDacl(destination, ReadFileDacl(LivePath(source)));
    CopyLinkMetadata(destination, entry);
    return true;
  }
  // The "All Users" folder link is made by a command script at the
  // destination's root.
  const CString command = CString(u"mklink /D  \"") + destination + u"\" " + u"..\\ProgramData";
  if (command.GetLength() >= kScriptLineSize) return false;
  char line[kScriptLineSize] = {};
  WideToNarrow(command, line, kScriptLineSize - 1);
  const CString script = destination.Left(3) + u"drummet.cmd";
  HANDLE file = CreateFileForWrite(script);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD length = static_cast<DWORD>(std::strlen(line));
  const bool written = WriteFileBytes(file, length, line) == length;
  CloseHandle(file);
  if (written) {
    if (IsWow64())
      RunAndWaitWithCom(script, CString(), SW_HIDE);
    else
      RunAndWait(script, CString(), SW_HIDE);
  }
  DeleteFileW(script);
  return written && (GetFileAttributesW(destination) & FILE_ATTRIBUTE_REPARSE_POINT) &&
         GetFileAttributesW(destination) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool CopyFileWithSecurity(const CString& sourceFile, const CString& destinationFile, bool verify,
                          const WIN32_FIND_DATAW& entry) {
  if (sourceFile.GetLength() < 4) return true;
  HANDLE source = OpenFileRead(sourceFile);
  if (source == INVALID_HANDLE_VALUE) {
    if (verify) ++CloneRunState.verifyUncomparedFiles;
    return false;
  }
  SetThreadExecutionState(ES_SYSTEM_REQUIRED);
  if (!verify) {
    // A further name of a file already copied becomes a link to that copy.
    const HardLinkTable::Outcome link = HardLinks.link_or_copy(source, destinationFile);
    if (link == HardLinkTable::Outcome::Linked) {
      CloseHandle(source);
      return true;
    }
    if (link == HardLinkTable::Outcome::LinkNotHeld) RecordSkipped(sourceFile, u"IDS_LeftOutHardLink");
  }
  std::vector<BYTE> dacl;
  if (!verify) dacl = ReadFileDacl(sourceFile);
  HANDLE destination = verify ? OpenFileRead(destinationFile) : CreateFileForBulkWrite(destinationFile);
  if (destination == INVALID_HANDLE_VALUE) {
    // A copy that is not there differs; one that is there but cannot be
    // opened was not compared.
    if (verify) {
      const DWORD error = GetLastError();
      ++(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? CloneRunState.verifyDifferingFiles
                                                                         : CloneRunState.verifyUncomparedFiles);
    }
    CloseHandle(source);
    return false;
  }
  CopyBuffer.resize(kCopyChunkBytes);
  if (verify) ReadBackBuffer.resize(kCopyChunkBytes);
  if (!verify && DestinationKeepsSecurity && !CopyCompression(destination, entry))
    RecordSkipped(sourceFile, u"IDS_LeftOutCompression");

  uint64_t fileBytes = 0;
  ChunkCopyHooks hooks;
  hooks.put = [&](const BYTE* data, DWORD count, uint64_t) {
    return verify ? ReadFileBytes(destination, count, ReadBackBuffer.data()) : WriteFileBytes(destination, count, data);
  };
  hooks.every_second_chunk = [&](uint64_t done) {
    PumpPageAndMain();
    ShowProgress(CloneRunState.copiedBytes + done);
    if (!verify) ShowItem(kCopiedSizeItem, FormatSectorCount(done / 512 + CloneRunState.operationSectors));
  };
  hooks.aborted = [] { return Aborted(); };
  // A chunk that differs is rewritten; the file differs when that fails.
  if (verify)
    hooks.check = [&](const BYTE* data, DWORD count, uint64_t offset) {
      return std::memcmp(data, ReadBackBuffer.data(), count) == 0 || RepairChunk(destinationFile, offset, data, count);
    };
  // A sparse file stays sparse: only its ranges that hold data are written.
  uint64_t expected = EntrySize(entry);
  const ChunkCopyResult copied = verify ? CopyChunks(source, CopyBuffer, hooks, fileBytes)
                                        : CopyFileData(source, destination, entry, CopyBuffer, hooks, fileBytes, expected);
  // In verify mode a copy of another size differs: longer, or shorter (its
  // read-back ends early, which is no failed read).
  auto otherSize = [&] {
    LARGE_INTEGER size{};
    return verify && GetFileSizeEx(destination, &size) && static_cast<uint64_t>(size.QuadPart) != expected;
  };
  bool ok = copied == ChunkCopyResult::Done;
  if (copied == ChunkCopyResult::ShortPut) {
    if (otherSize()) {
      ++CloneRunState.verifyDifferingFiles;
    } else {
      ++DiskContext.ioErrorCount;
      if (verify) ++CloneRunState.verifyUncomparedFiles;
    }
  } else if (copied == ChunkCopyResult::CheckFailed) {
    ++CloneRunState.verifyDifferingFiles;
  } else if (ok && fileBytes != expected) {
    // A read that ended early is a failed copy, not the end of the file.
    ++DiskContext.ioErrorCount;
    if (verify) ++CloneRunState.verifyUncomparedFiles;
    ok = false;
  } else if (ok && otherSize()) {
    ++CloneRunState.verifyDifferingFiles;
    ok = false;
  }
  // The named streams before the times: writing them changes the file's.
  if (!verify && ok && !CopyStreams(sourceFile, destinationFile, CopyBuffer))
    RecordSkipped(sourceFile, u"IDS_LeftOutStreams");
  if (!verify) SetFileTime(destination, &entry.ftCreationTime, &entry.ftLastAccessTime, &entry.ftLastWriteTime);
  CloseHandle(destination);
  CloseHandle(source);
  if (!verify) {
    WriteFileDacl(destinationFile, dacl);
    CopyShortName(destinationFile, entry);
    SetFileAttributesW(destinationFile, entry.dwFileAttributes);
    CloneRunState.copiedBytes += fileBytes;
  }
  CloneRunState.operationSectors += fileBytes / 512;
  return ok;
}

bool CopyTree(const CString& source, const CString& destination, bool verify) {
  if (Aborted()) return false;
  if (destination.GetLength() > 2 && destination.Find(u"Users\\All Users") < 0)
    CreateDirectoryW(destination, nullptr);

  // The whole listing first, so the walk below holds no find handle while it
  // descends.
  std::vector<WIN32_FIND_DATAW> entries;
  if (!ReadListing(source + u"\\*.*", entries)) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) RecordSkipped(source);
    return true;
  }

  for (const WIN32_FIND_DATAW& entry : entries) {
    const CString name(entry.cFileName);
    const CString childSource = source + u"\\" + name;
    const CString childDestination = destination + u"\\" + name;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (IsSkippedEntry(name, isFolder, source.CompareNoCase(CopyRoot) == 0)) continue;

    if (isFolder) {
      const CString target = ReadReparseTarget(childSource);
      // A link to another place is made after the walk; one that points at
      // the folder itself or a parent is copied as a folder.
      if (!target.IsEmpty() && !StartsWithNoCase(childSource, target)) {
        if (childDestination.Find(u"Users\\All Users") < 0) CreateDirectoryW(childDestination, nullptr);
        LinkList.push_back({childSource, childDestination, entry});
        continue;
      }
      if (FolderDepth >= kFolderDepthLimit) {
        RecordSkipped(childSource);
        continue;
      }
      ++FolderDepth;
      const bool copied = CopyTree(childSource, childDestination, verify);
      --FolderDepth;
      if (!copied) {
        if (Aborted()) return false;
        const CString question = CString(u"Error in copying") + childSource + u" to " + childDestination +
                                 u", do you want to continue?";
        if (MessageBoxW(nullptr, question, ShellState.messageCaption, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) ==
            IDNO)
          return false;
      }
      if (!verify) CopyFolderWithShortName(childSource, childDestination, entry);
      continue;
    }

    // A file symbolic link stays a link; where the destination holds none,
    // its target's contents are copied and the link is listed.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK) {
      if (verify) continue;
      if (CopyFileLink(childSource, childDestination, entry)) {
        ++CloneRunState.copyItemCount;
        continue;
      }
      RecordSkipped(childSource, u"IDS_LeftOutLink");
    }
    CloneRunState.currentItemText += u".";
    if (CloneRunState.currentItemText.GetLength() > 16) CloneRunState.currentItemText = u".";
    ShowItem(kStatusItem, CloneRunState.copyDescription + CloneRunState.currentItemText);
    // A file the verify pass finds wrong is counted on its own line, not as
    // an item the copy left out (the copy pass said so already).
    if (!CopyFileWithSecurity(childSource, childDestination, verify, entry) && !verify && !Aborted())
      RecordSkipped(childSource);
    if (!verify) ShowItem(kCopiedSizeItem, FormatSectorCount(CloneRunState.operationSectors));
    ++CloneRunState.copyItemCount;
    PumpPageAndMain();
    ShowProgress(CloneRunState.copiedBytes);
    if (Aborted()) return false;
  }
  return true;
}

bool RecreateLinks() {
  for (auto it = LinkList.rbegin(); it != LinkList.rend(); ++it)
    if (!RecreateLink(it->source, it->destination, it->entry)) RecordSkipped(it->source, u"IDS_LeftOutLink");
  LinkList.clear();
  return true;
}

CString GetVolumeLabelOf(WCHAR letter) {
  WCHAR root[] = {letter, u':', u'\\', 0};
  WCHAR label[kLabelSize] = {};
  if (!GetVolumeInformationW(root, label, kLabelSize, nullptr, nullptr, nullptr, nullptr, 0)) return CString();
  return CString(label);
}

bool SetVolumeLabelOf(WCHAR letter, const CString& label) {
  WCHAR root[] = {letter, u':', u'\\', 0};
  return SetVolumeLabelW(root, label) != FALSE;
}

bool CopyPartitionContents(const CString& source, const CString& destination, bool verify) {
  bool copied = false;
  const bool byFiles = CloneSettings.basicDuplication != 0;
  // Paths below an empty destination would name the current drive.
  if (byFiles && destination.IsEmpty()) {
    ++DiskContext.ioErrorCount;
    return false;
  }
  if (byFiles) {
    LinkList.clear();
    HardLinks.clear();
    CopyRoot = source;
    CopyDestinationRoot = destination;
    DestinationKeepsSecurity = KeepsSecurity(destination);
    // Onto FAT: what no file there can keep, said once for the volume.
    if (!verify && !DestinationKeepsSecurity && KeepsSecurity(source))
      RecordSkipped(LivePath(source), u"IDS_LeftOutSecurity");
    copied = CopyTree(source, destination, verify);
    HardLinks.clear();
    RecreateLinks();
    CopyBuffer = {};
    ReadBackBuffer = {};
  } else {
    copied = CopyPartitionRange(CopyProgressPage ? CWnd::FromHandle(CopyProgressPage) : nullptr,
                                verify ? RawPass::Verify : RawPass::Copy);
  }
  CloneRunState.copiedSectors = CloneRunState.operationSectors;
  CloneRunState.copiedBytes = CloneRunState.operationSectors * 512;

  if (copied && !source.IsEmpty() && !destination.IsEmpty()) {
    CString label;
    if (source[0] == u'\\') {
      WCHAR buffer[kLabelSize] = {};
      if (GetVolumeInformationW(source + u"\\", buffer, kLabelSize, nullptr, nullptr, nullptr, nullptr, 0))
        label = buffer;
    } else {
      label = GetVolumeLabelOf(source[0]);
    }
    // A volume path names its root with a trailing backslash.
    if (destination[0] == u'\\')
      SetVolumeLabelW(destination + u"\\", label);
    else
      SetVolumeLabelOf(destination[0], label);
  }
  // The files were written without write-through: the destination volume is
  // made durable once, here, before anything says the copy is complete. A
  // failed flush fails the copy, and the page does not call it complete.
  if (byFiles && !verify && !destination.IsEmpty() && !FlushVolumeFiles(destination + u"\\")) {
    ++DiskContext.ioErrorCount;
    return false;
  }
  CloneRunState.statusText = LookupString(u"IDS_CopyComplete");
  ShowItem(kStatusItem, CloneRunState.statusText);
  return copied;
}
