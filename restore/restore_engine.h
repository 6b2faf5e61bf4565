// The restore passes without their pages: disk and partition items written
// back sector by sector onto a physical disk of the simulated PC, and file
// and folder items written through the file API, with their attributes and
// times. Failures are counted and described in the report, never taken for
// success: a destination too small, a write that fails, a damaged block, a
// stored path that would leave the destination folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "restore/archive_session.h"

namespace restore {

// Where a disk or partition item goes.
struct DiskTarget {
  int32_t disk = 0;          // physical disk number (0..9)
  int64_t start_sector = 0;  // first 512-byte sector of the extent on that disk
  int64_t size_sectors = 0;  // room there; 0: up to the end of the disk
  char16_t volume_letter = 0;  // the partition's drive letter, locked while written; 0 = none
  // The partition-table entry rewritten for kinds 5 and 6 (size and type);
  // slot -1 = none.
  int64_t table_sector = 0;
  int32_t slot = -1;
};

struct RestoreHooks {
  // Called before each block; true when the user cancelled.
  std::function<bool(int64_t done_sectors)> progress;
  // Overwrite prompt for an existing file: 0 stop, 1 overwrite, 2 new name.
  std::function<int(const std::u16string& path)> ask_overwrite;
  // The boot.ini hand-off for a restored system partition in `slot` (1..4).
  std::function<void(int32_t disk, int32_t slot)> register_boot_fix;
  // Asked before a restored partition is made active while another entry
  // of the table is: true to take the mark from it. Unset: yes.
  std::function<bool()> confirm_active_change;
};

struct RestoreReport {
  int64_t done_sectors = 0;
  int items_restored = 0;
  int items_failed = 0;
  bool cancelled = false;
  bool stopped = false;  // Cancel at the overwrite prompt
  int32_t boot_slot = -1;
  bool made_active = false;  // the last system partition restored was made the active one
  std::vector<std::string> errors;
  bool succeeded() const { return items_failed == 0 && !cancelled && !stopped; }
};

// Writes disk item `item` of the open session (member count set by the
// caller) onto `target`.
bool RestoreDiskItem(ArchiveSession& session, int item, const DiskTarget& target, const RestoreHooks& hooks,
                     RestoreReport& report);

// The file pass: every selected file item, into `folder` (by its leaf name)
// or, when `folder` is empty, to its stored path.
void RestoreFileItems(ArchiveSession& session, const std::u16string& folder, const RestoreHooks& hooks,
                      RestoreReport& report);
// The folder pass: every selected folder item's files, the stored tree's
// root replaced by `folder` when it is not empty.
void RestoreFolderItems(ArchiveSession& session, const std::u16string& folder, const RestoreHooks& hooks,
                        RestoreReport& report);

// A stored path's parts that may be written below a destination: false for
// ".", "..", empty inner parts and names with characters that a path may
// not hold.
bool IsSafeRelativePath(std::u16string_view path);

// What MakePartitionActive did.
enum class ActivateResult {
  Activated,   // the entry is the only active one (also when it already was)
  Declined,    // another entry was active and the user kept it so: nothing written
  NoTable,     // sector 0 holds no MBR
  NotPrimary,  // no primary entry starts there: nothing written
  Failed,      // the disk could not be opened, read or written
};
// Makes the primary MBR entry of physical disk `disk` that starts at `start`
// (512-byte units; the table's native sectors are converted) the only
// active one. When another entry is active, `confirm` is asked first (unset:
// yes). `slot` gets the entry's 1-based number, -1 when there is none.
ActivateResult MakePartitionActive(int32_t disk, int64_t start, const std::function<bool()>& confirm,
                                   int32_t& slot);

}  // namespace restore
