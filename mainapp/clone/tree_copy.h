// The file-level copy of one partition: with basic duplication a partition is
// copied as files from its source (normally a shadow copy) onto the formatted
// destination volume, keeping each file's contents, access-control list,
// attributes and times, each folder's attributes, access-control list, short
// name and times, and re-creating folder links after the walk; system files
// and recycle bins are left out, and the destination gets the source's volume
// label. In verify mode the files are read back and compared, and a differing
// chunk is rewritten through a writable handle; the pass counts files, never
// chunks: those whose copy still differs and those it could not compare.
//
// Everything runs on the user-interface thread of the clone page. The copy
// pumps CopyProgressPage's and the main dialog's messages, so the page's
// Cancel sets CloneRunState.cloneAborted, which stops the copy.
//
// Counters moved (CloneRunState): operationSectors (512-byte units of file
// data handled), copiedBytes (bytes written), copiedSectors, currentItemText,
// copyItemCount, verifyDifferingFiles and verifyUncomparedFiles,
// skippedItemCount/skippedItems (the copy pass); and the disk layer's
// ioErrorCount for short writes and reads.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/reparse_points.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/fs/file_api.h"
// IsSkippedEntry, the skip list this walk shares with the migration.
#include "mainapp/migrate/file_copy.h"

// The page the copy keeps alive and shows its progress in (status item 1117,
// size item 1035); null when the copy runs without a page.
extern HWND CopyProgressPage;
constexpr int kStatusItem = 1117;
constexpr int kCopiedSizeItem = 1035;

// Copies (or verifies) one partition: by files with basic duplication, else
// by sectors (CopyPartitionRange, the wizard's partition choice). Source: "X:" or
// a volume or shadow device path without trailing backslash; destination "Y:"
// or a volume path. Copies the volume label when the copy succeeded.
bool CopyPartitionContents(const CString& source, const CString& destination, bool verify);

// The recursive walk of one folder (texts without trailing backslash). False
// when cancelled or when the user chose to stop after a failed subfolder.
// Folders nested deeper than kFolderDepthLimit are not entered: they are
// recorded as skipped and the walk goes on.
bool CopyTree(const CString& source, const CString& destination, bool verify);

// Copies (or verifies) one file. False when it could not be opened, created,
// read or written whole, or when a differing chunk could not be repaired,
// or (verify) when the copy has another size; the copy pass's caller records
// it as skipped, the verify pass counts it as differing or not compared.
bool CopyFileWithSecurity(const CString& sourceFile, const CString& destinationFile, bool verify,
                          const WIN32_FIND_DATAW& entry);


// How the copy's absolute links name the volumes of the run. When
// `keepNames`, as the source's links do: the copy takes the source's place,
// and its system gives its volumes the source's letters when it starts.
// Else a link into the volume being copied names its copy, and a link into
// one of `volumes` (each copied in the same run) names that volume's copy.
// The clone run sets it for its copies; empty, it is the plain rule.
struct LinkNamingRecord {
  bool keepNames = false;
  std::vector<LinkVolumeMove> volumes;
};
extern LinkNamingRecord LinkNaming;

// Re-creates the folder links the last walk met, in reverse order of discovery.
bool RecreateLinks();

// The label of "X:\" (empty on failure), and setting it.
CString GetVolumeLabelOf(WCHAR letter);
bool SetVolumeLabelOf(WCHAR letter, const CString& label);
