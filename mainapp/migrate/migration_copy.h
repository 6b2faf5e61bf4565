// The copy routines of the migration, shared with Yarv and Fennick: one
// item (a folder tree or a file) into a destination, with each file's data,
// access-control list, attributes and times, each folder's attributes,
// access-control list and times; system items and recycle bins left out.
// Volumes are read from a shadow copy where one can be made, so files held
// open by other programs are copied too.
//
// Errors are counted and listed, never thrown: a file that cannot be read,
// created or written whole adds a line to MigrationState.failedItems; a file
// written only in part is removed again. DiskContext.ioErrorCount counts the
// destination failures (-1 when no copy buffer could be had).
//
// The folder walk shares FolderDepth with the clone's file copy and the
// folder size walk: up before each descent, down after; a tree nested deeper
// than kFolderDepthLimit is given up at that point.
#pragma once

#include <cstdint>

#include "mainapp/migrate/migration_state.h"
#include "platform/core/cstring.h"
#include "platform/fs/file_api.h"

// Controls of the copy page that the routines keep up to date.
constexpr int kMigrationCurrentFile = 1188;
constexpr int kMigrationProgressBar = 1025;
constexpr int kMigrationElapsed = 1186;
constexpr int kMigrationRemaining = 1105;
constexpr int kMigrationPercent = 1113;
constexpr int kMigrationCopied = 1035;
constexpr int kMigrationFree = 1037;
constexpr int kMigrationActivity = 1117;

// Copies one item: a folder tree (isFolder) or one file. False when the item
// was given up (cancelled, no buffer, nested too deep).
bool CopyFolderTree(CString source, CString destination, bool isFolder, bool existingDestination);
// Copies one file. False when it could not be copied; see the header comment.
bool CopyFileWithProgress(CString source, CString destination, bool existingDestination,
                          const WIN32_FIND_DATAW& entry);
// The shadow device path of a drive root ("C:\"), or the root itself.
CString SourceRootWithShadow(const CString& root);
// "1023 Byte", "2 KB", "1 MB", "1.50 MB", "3 GB", "1.25 TB".
CString FormatByteCount(int64_t bytes);
// Elapsed and remaining time, and the destination's free space.
void UpdateCopyTimes();
// The percentage of the run done, 0 to 100, also when the total is tiny or
// was measured wrong.
int CopyPercent(uint64_t done, uint64_t total);
// The root a path is read under: "C:\" for a drive path, "\\server\share\"
// for a network path (never shadowed).
CString PathRoot(const CString& path);
// Whether `path` is `folder` or lies below it (without regard to case).
bool IsSameOrInside(const CString& path, const CString& folder);

// The whole run over MigrationState's items 1 .. itemCount into
// MigrationState.destination. A folder item that holds the destination is
// refused (listed as a failure) instead of copying into itself.
MigrationOutcome RunMigrationCopy();
// The outcome the counters give, and its language key.
MigrationOutcome CurrentMigrationOutcome();
const char16_t* MigrationOutcomeKey(MigrationOutcome outcome);
