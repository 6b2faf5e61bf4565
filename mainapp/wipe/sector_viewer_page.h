// The sector viewer (dialog 156): one sector of the disk or partition that
// DiskSelection describes, as a hex dump, with Start, End, Previous, Next
// and a typed sector number. It only reads: a whole disk and a partition
// alike are read from the physical disk, one native sector at a time (a
// partition at its start plus the sector number), so partitions without a
// drive letter and disks of 4096-byte sectors show what they hold.
#pragma once

#include <cstdint>
#include <vector>

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

// The sector shown, counted from the target's start in native sectors.
extern int64_t ViewerSector;

class CViewDiskData : public CDialog {
 public:
  static constexpr UINT IDD = 156;
  static constexpr int kSectorEdit = 1078;
  static constexpr int kDump = 1049;
  static constexpr int kGo = 1000;
  static constexpr int kStart = 1011;
  static constexpr int kEnd = 1008;
  static constexpr int kPrevious = 1050;
  static constexpr int kNext = 1079;
  static constexpr int kClose = 8;

  explicit CViewDiskData(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override { OnGo(); }
  void OnCancel() override;
  // Clamps ViewerSector to the target, reads it and shows its dump (or,
  // when the read fails, says so instead of showing stale bytes).
  bool ShowSector();
  void OnGo();
  void OnStart();
  void OnEnd();
  void OnPrevious();
  void OnNext();

 private:
  int64_t LastSector() const;
  PageHeaderFonts fonts_;
  CFont dumpFont_;
  std::vector<uint8_t> buffer_;
  // Native sectors shown: the selection's, or a whole disk's real length.
  uint64_t sectorCount_ = 0;
  DECLARE_MESSAGE_MAP()
};

// Opens the sector viewer on DiskSelection (the wipe pages' View buttons).
void OpenSectorViewer();
