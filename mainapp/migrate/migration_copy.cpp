#include "mainapp/migrate/migration_copy.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/number_text.h"
#include "program_support/path_helpers.h"
#include "disk/shadow_copy.h"
#include "program_support/shell_state.h"
#include "disk/volume_space.h"
#include "mainapp/migrate/file_copy.h"
#include "platform/core/ctime.h"
#include "platform/process/system_info.h"
#include "platform/ui/controls.h"
#include "platform/ui/winuser.h"

bool MigrationEntryFlag = false;
MigrationStateRecord MigrationState;
MigrationProgressRecord MigrationProgress;

void RecordMigrationFailure(const CString& path, const CString& reason) {
  ++MigrationState.failedCount;
  if (MigrationState.failedCount <= kFailedItemsListed)
    MigrationState.failedItems += path + u": " + reason + u"\r\n";
}

namespace {

constexpr int kActivityDotsMax = 16;

void Show(int item, const CString& text) {
  if (MigrationProgress.page) SetDlgItemTextW(MigrationProgress.page, item, text);
}

void Repaint() {
  if (MigrationProgress.page) UpdateWindow(MigrationProgress.page);
}

void PumpPageAndMain() {
  if (MigrationProgress.page) PumpMessages(MigrationProgress.page);
  if (ShellState.MainDialogHandle) PumpMessages(ShellState.MainDialogHandle);
}

void ShowPosition(uint64_t bytes) {
  if (!MigrationProgress.page) return;
  if (HWND bar = GetDlgItem(MigrationProgress.page, kMigrationProgressBar))
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(bytes / 512), 0);
}

CString PercentText(int percent) {
  char text[16];
  std::snprintf(text, sizeof text, "%d%%", percent);
  return CString(text);
}

// The shown path: the shadow root replaced by the drive root the user knows.
CString ShownPath(const CString& source) {
  const CString& root = MigrationState.sourceRoot;
  if (!root.IsEmpty() && source.Left(root.GetLength()).CompareNoCase(root) == 0)
    return PathRoot(MigrationState.previousPath) + source.Mid(root.GetLength());
  return source;
}

bool Aborted() { return MigrationProgress.abortRequested != 0; }

// Files with several names met in this run.
HardLinkTable HardLinks;
// Whether the destination keeps security, short names and compression
// (NTFS); onto one that does not, the end message says so once.
bool DestinationKeepsSecurity = true;
bool SecurityLossListed = false;

// A folder's named streams and compression, then its attributes, security,
// short name and times.
void CopyFolderItems(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry) {
  std::vector<BYTE> buffer(kCopyChunkBytes);
  if (!CopyStreams(source, destination, buffer))
    RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_LeftOutStreams"));
  CopyFolderMetadata(source, destination, entry, [&](HANDLE folder) {
    if (DestinationKeepsSecurity && !CopyCompression(folder, entry))
      RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_LeftOutCompression"));
    CopyShortName(folder, entry);
  });
}

// The copy of a file that failed part way is removed, so nothing half
// written is left looking whole.
void RemovePartial(const CString& destination) {
  SetFileAttributesW(destination, FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(destination);
}

}  // namespace

CString FormatByteCount(int64_t n) {
  char text[64];
  if (n < 1024) {
    std::snprintf(text, sizeof text, "%lld Byte", static_cast<long long>(n));
    return CString(text);
  }
  const float mb = static_cast<float>(n) / 1048576.0f;
  const float gb = mb / 1024.0f;
  const float tb = gb / 1024.0f;
  auto form = [&](float value, const char* unit) {
    if (value == static_cast<float>(static_cast<int64_t>(value)))
      std::snprintf(text, sizeof text, "%lld %s", static_cast<long long>(value), unit);
    else
      std::snprintf(text, sizeof text, "%4.2f %s", static_cast<double>(value), unit);
    return CString(text);
  };
  if (tb >= 1.0f) return form(tb, "TB");
  if (gb >= 1.0f) return form(gb, "GB");
  if (mb >= 1.0f) return form(mb, "MB");
  std::snprintf(text, sizeof text, "%lld KB", static_cast<long long>((n + 512) / 1024));
  return CString(text);
}

int CopyPercent(uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) return 100;
  if (done > UINT64_MAX / 100) return static_cast<int>(done / (total / 100));
  return static_cast<int>(done * 100 / total);
}

void UpdateCopyTimes() {
  const int64_t now = CTime::GetCurrentTime().GetTime();
  const int64_t elapsed = now - MigrationProgress.startTime;
  if (elapsed == MigrationState.lastElapsed) return;
  MigrationState.lastElapsed = elapsed;
  Show(kMigrationElapsed, CTimeSpan(elapsed).Format(u"%H:%M:%S"));
  int64_t remaining = 0;
  const uint64_t done = MigrationProgress.copiedBytes + MigrationState.fileBytes;
  if (MigrationProgress.copiedBytes != 0 && done != 0) {
    remaining = static_cast<int64_t>(MigrationState.totalBytes * static_cast<uint64_t>(elapsed) / done) - elapsed;
    if (remaining < 0) remaining = 0;
  }
  Show(kMigrationRemaining, CTimeSpan(remaining).Format(u"%H:%M:%S"));
  if (!MigrationState.destination.IsEmpty() && MigrationState.destination[0] != u'\\')
    Show(kMigrationFree, FormatSectorCount(GetFreeSectors(MigrationState.destination[0])));
}

CString SourceRootWithShadow(const CString& root) {
  const CString shadow = CreateShadowCopy(root);
  return shadow.IsEmpty() ? root : shadow;
}

CString PathRoot(const CString& path) {
  if (path.Left(2) == CString(u"\\\\")) {
    const int server = path.Find(u'\\', 2);
    if (server < 0) return path + u"\\";
    const int share = path.Find(u'\\', server + 1);
    return share < 0 ? path + u"\\" : path.Left(share + 1);
  }
  return path.Left(3);
}

bool IsSameOrInside(const CString& path, const CString& folder) {
  CString inner = path, outer = folder;
  while (inner.GetLength() > 3 && inner.Right(1) == CString(u"\\")) inner = inner.Left(inner.GetLength() - 1);
  while (outer.GetLength() > 3 && outer.Right(1) == CString(u"\\")) outer = outer.Left(outer.GetLength() - 1);
  if (outer.IsEmpty()) return false;
  if (inner.CompareNoCase(outer) == 0) return true;
  const CString prefix = outer.Right(1) == CString(u"\\") ? outer : outer + u"\\";
  return inner.GetLength() > prefix.GetLength() && inner.Left(prefix.GetLength()).CompareNoCase(prefix) == 0;
}

bool CopyFileWithProgress(CString source, CString destination, bool existingDestination,
                          const WIN32_FIND_DATAW& entry) {
  MigrationState.fileBytes = 0;
  Show(kMigrationCurrentFile, ShownPath(source));
  if (source.GetLength() < 4) return true;
  HANDLE in = OpenFileRead(source);
  if (in == INVALID_HANDLE_VALUE) {
    RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_MigrateCannotRead"));
    return false;
  }
  SetThreadExecutionState(ES_SYSTEM_REQUIRED);
  if (!existingDestination) {
    // A further name of a file already copied becomes a link to that copy.
    const HardLinkTable::Outcome link = HardLinks.link_or_copy(in, destination);
    if (link == HardLinkTable::Outcome::Linked) {
      CloseHandle(in);
      return true;
    }
    if (link == HardLinkTable::Outcome::LinkNotHeld)
      RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_LeftOutHardLink"));
  }
  std::vector<BYTE> dacl;
  if (!existingDestination) dacl = ReadFileDacl(source);
  HANDLE out = existingDestination ? OpenFileRead(destination) : CreateFileForWrite(destination);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    ++DiskContext.ioErrorCount;
    RecordMigrationFailure(destination, LookupString(u"IDS_MigrateCannotCreate"));
    return false;
  }
  if (!existingDestination && DestinationKeepsSecurity && !CopyCompression(out, entry))
    RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_LeftOutCompression"));
  std::vector<BYTE> buffer;
  try {
    buffer.resize(kCopyChunkBytes);
  } catch (const std::bad_alloc&) {
    DiskContext.ioErrorCount = -1;
    CloseHandle(in);
    CloseHandle(out);
    return false;
  }
  ChunkCopyHooks hooks;
  hooks.put = [&](const BYTE* data, DWORD count, uint64_t) { return WriteFileBytes(out, count, data); };
  hooks.every_second_chunk = [&](uint64_t done) {
    MigrationState.fileBytes = done;
    UpdateCopyTimes();
    PumpPageAndMain();
    const uint64_t all = MigrationProgress.copiedBytes + done;
    ShowPosition(all);
    Show(kMigrationPercent, PercentText(CopyPercent(all, MigrationState.totalBytes)));
    Show(kMigrationCopied, FormatByteCount(static_cast<int64_t>(all)));
  };
  hooks.aborted = [] { return Aborted(); };
  uint64_t bytes = 0;
  // A sparse file stays sparse: only its ranges that hold data are written.
  uint64_t expected = EntrySize(entry);
  const ChunkCopyResult result = existingDestination ? CopyChunks(in, buffer, hooks, bytes)
                                                     : CopyFileData(in, out, entry, buffer, hooks, bytes, expected);
  MigrationState.fileBytes = bytes;
  CString failure;
  if (result == ChunkCopyResult::ShortPut) {
    ++DiskContext.ioErrorCount;
    failure = LookupString(u"IDS_MigrateShortWrite");
  } else if (result == ChunkCopyResult::Done && bytes != expected) {
    // The read ended before the end of the file.
    ++DiskContext.ioErrorCount;
    failure = LookupString(u"IDS_MigrateCannotRead");
  }
  if (result != ChunkCopyResult::Done || !failure.IsEmpty()) {
    CloseHandle(in);
    CloseHandle(out);
    if (!existingDestination) RemovePartial(destination);
    if (!failure.IsEmpty()) RecordMigrationFailure(ShownPath(source), failure);
    return false;
  }
  // The named streams before the times: writing them changes the file's.
  if (!existingDestination && !CopyStreams(source, destination, buffer))
    RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_LeftOutStreams"));
  if (!existingDestination) SetFileTime(out, &entry.ftCreationTime, &entry.ftLastAccessTime, &entry.ftLastWriteTime);
  CloseHandle(in);
  CloseHandle(out);
  if (!existingDestination) {
    WriteFileDacl(destination, dacl);
    CopyShortName(destination, entry);
    SetFileAttributesW(destination, entry.dwFileAttributes);
  }
  MigrationProgress.copiedBytes += bytes;
  return true;
}

bool CopyFolderTree(CString source, CString destination, bool isFolder, bool existingDestination) {
  if (Aborted()) return false;
  if (isFolder && destination.GetLength() > 2) CreateDirectoryW(destination, nullptr);
  const CString pattern = isFolder ? source + u"\\*.*" : source;
  // The whole listing first: the walk holds no search open while it descends.
  std::vector<WIN32_FIND_DATAW> entries;
  if (!ReadListing(pattern, entries)) {
    if (!isFolder || (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_NO_MORE_FILES))
      RecordMigrationFailure(ShownPath(source), LookupString(u"IDS_MigrateCannotRead"));
    if (isFolder) --FolderDepth;
    return true;
  }

  for (const WIN32_FIND_DATAW& entry : entries) {
    const CString name(entry.cFileName);
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const CString childSource = isFolder ? source + u"\\" + name : source;
    const CString childDestination = isFolder ? destination + u"\\" + name : destination;
    // The system's own items lie in the root of the volume read.
    const bool atVolumeRoot =
        !MigrationState.sourceRoot.IsEmpty() &&
        childSource.Left(childSource.ReverseFind(u'\\') + 1).CompareNoCase(MigrationState.sourceRoot) == 0;
    if (IsSkippedEntry(name, folder, atVolumeRoot)) continue;
    if (folder && isFolder) {
      // Checked before the descent, so a hostile tree cannot run the walk
      // deeper than the limit. A walk given up leaves the counter to the
      // run, which puts it back for the item.
      if (FolderDepth >= kFolderDepthLimit) {
        RecordMigrationFailure(ShownPath(childSource), LookupString(u"IDS_MigrateTooDeep"));
        return false;
      }
      ++FolderDepth;
      if (!CopyFolderTree(childSource, childDestination, true, existingDestination)) return false;
      CopyFolderItems(childSource, childDestination, entry);
      continue;
    }
    if (folder) continue;
    MigrationProgress.activityDots += u".";
    if (MigrationProgress.activityDots.GetLength() > kActivityDotsMax) MigrationProgress.activityDots = u".";
    Show(kMigrationActivity, MigrationProgress.activityPrefix + MigrationProgress.activityDots);
    Repaint();
    const bool copied = CopyFileWithProgress(childSource, childDestination, existingDestination, entry);
    if (!copied && DiskContext.ioErrorCount < 0) return false;
    if (copied) {
      Show(kMigrationCopied, FormatByteCount(static_cast<int64_t>(MigrationProgress.copiedBytes)));
      ++MigrationProgress.filesCopied;
    }
    UpdateCopyTimes();
    PumpPageAndMain();
    ShowPosition(MigrationProgress.copiedBytes);
    if (Aborted()) return false;
    if (!isFolder) return true;
  }
  if (isFolder) --FolderDepth;
  return true;
}

MigrationOutcome CurrentMigrationOutcome() {
  if (MigrationProgress.abortRequested) return MigrationOutcome::Aborted;
  if (DiskContext.ioErrorCount < 0) return MigrationOutcome::Failed;
  if (DiskContext.ioErrorCount > 0 || MigrationState.failedCount > 0) return MigrationOutcome::CompletedWithErrors;
  return MigrationOutcome::Completed;
}

const char16_t* MigrationOutcomeKey(MigrationOutcome outcome) {
  switch (outcome) {
    case MigrationOutcome::Completed: return u"IDS_Completed_File";
    case MigrationOutcome::CompletedWithErrors: return u"IDS_Completed_Error_File";
    case MigrationOutcome::Aborted: return u"IDS_Aborted_File";
    case MigrationOutcome::Failed: return u"IDS_Fail_File";
  }
  return u"IDS_Fail_File";
}

MigrationOutcome RunMigrationCopy() {
  MigrationProgress.startTime = CTime::GetCurrentTime().GetTime();
  MigrationState.previousPath = u"   ";
  MigrationState.sourceRoot.Empty();
  HardLinks.clear();
  const CString& target = MigrationState.destination;
  DestinationKeepsSecurity = KeepsSecurity(target);
  SecurityLossListed = false;
  for (int32_t i = 1; i <= MigrationState.itemCount && i < static_cast<int32_t>(MigrationState.items.size()); ++i) {
    if (Aborted()) break;
    const MigrationItem& item = MigrationState.items[static_cast<size_t>(i)];
    const bool isFolder = item.kind == 1;
    if (isFolder && IsSameOrInside(target, item.path)) {
      RecordMigrationFailure(item.path, LookupString(u"IDS_MigrateDestInside"));
      continue;
    }
    const CString leaf = GetPathLeaf(item.path);
    WIN32_FIND_DATAW found{};
    bool haveFound = false;
    if (HANDLE find = FindFirstFileW(item.path, &found); find != INVALID_HANDLE_VALUE) {
      FindClose(find);
      haveFound = true;
    }
    const CString root = PathRoot(item.path);
    const bool network = item.path.Left(2) == CString(u"\\\\");
    if (PathRoot(MigrationState.previousPath).CompareNoCase(root) != 0) {
      MigrationState.previousPath = item.path;
      MigrationState.sourceRoot = network ? root : SourceRootWithShadow(root);
      if (MigrationState.sourceRoot.Right(1) != CString(u"\\")) MigrationState.sourceRoot += u"\\";
    } else {
      MigrationState.previousPath = item.path;
    }
    CString source = MigrationState.sourceRoot + item.path.Mid(root.GetLength());
    if (source.Right(1) == CString(u"\\")) source = source.Left(source.GetLength() - 1);
    const CString destination = leaf.IsEmpty() ? target : target + u"\\" + leaf;

    // Onto FAT: what no file there can keep, said once for the run.
    if (!DestinationKeepsSecurity && !SecurityLossListed && !network && KeepsSecurity(source)) {
      SecurityLossListed = true;
      RecordMigrationFailure(target, LookupString(u"IDS_LeftOutSecurity"));
    }
    // The item's own level is counted like every descent, so each item
    // leaves the shared counter where it found it, given up or not.
    const int32_t depthBefore = FolderDepth;
    if (isFolder) ++FolderDepth;
    CopyFolderTree(source, destination, isFolder, false);
    FolderDepth = depthBefore;

    const bool lastOfRoot = i == MigrationState.itemCount ||
                            PathRoot(MigrationState.items[static_cast<size_t>(i) + 1].path).CompareNoCase(root) != 0;
    if (haveFound && isFolder && !leaf.IsEmpty()) CopyFolderItems(source, destination, found);
    if (lastOfRoot && !network) ReleaseShadowCopy();
  }
  Show(kMigrationPercent, u"100%");
  Repaint();
  return CurrentMigrationOutcome();
}
