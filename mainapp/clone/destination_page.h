// The second page of the clone wizard (dialog 134): the user ticks the
// destination disk (whole-disk copy) or partition (partition copy), picks
// the sizing (automatic, same size, manual) and sees the destination before
// and after the copy as a drawn bar. Ticking a destination disk plans its
// layout; with manual sizing one planned partition at a time is resized
// (combo, trackbar, MiB field and Apply). Next checks the sizes and opens
// the options page; Back returns to the source page. The page writes
// nothing to any disk.
#pragma once

#include <cstdint>

#include "mainapp/clone/clone_plan.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/records/clone_settings.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

// What the page keeps across its visits.
struct DestinationPageStateRecord {
  uint8_t rowEnabled[64] = {};  // 0: the row is drawn grey and cannot be ticked
  bool barAfter = true;         // the last paint showed the After bar
  uint64_t destinationStart = 0;  // the ticked row's start and size (512-byte sectors)
  uint64_t destinationSize = 0;
  int32_t plannedEntries = 0;     // layout entries of the last plan
  bool rawTarget = false;         // a disk was just turned into one new partition for a partition copy
  int32_t preparedRow = -1;       // that disk's row; its new partition is the row after it
};
extern DestinationPageStateRecord DestinationPageState;

class CMirrorDestination : public CDialog {
 public:
  static constexpr UINT IDD = 134;
  static constexpr int kGroup = 1001;
  static constexpr int kList = 1027;
  static constexpr int kAuto = 1031;
  static constexpr int kSame = 1032;
  static constexpr int kManual = 1033;
  static constexpr int kSizingText = 1075;
  static constexpr int kBefore = 1034;
  static constexpr int kAfter = 1035;
  static constexpr int kDiskNumber = 1062;
  static constexpr int kCombo = 1029;
  static constexpr int kTrackbar = 1059;
  static constexpr int kMiB = 1017;
  static constexpr int kMiBLabel = 1127;
  static constexpr int kApply = 1126;
  static constexpr int kMaximumLabel = 1078;
  static constexpr int kMinimumLabel = 1079;
  static constexpr int kMaximumText = 1060;
  static constexpr int kMinimumText = 1061;
  static constexpr int kBarArea = 1064;
  static constexpr int kPrepareProgress = 1124;
  static constexpr int kBack = 4;
  static constexpr int kNext = 1007;

  explicit CMirrorDestination(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnNext();
  void OnBack();
  void OnHeaderFocus();
  void OnMiBFocus();
  void OnListItemChanging(NMHDR* header, LRESULT* result);
  void OnListCustomDraw(NMHDR* header, LRESULT* result);
  void OnAutomatic();
  void OnSameSize();
  void OnManual();
  void OnBeforeView();
  void OnAfterView();
  void OnComboChange();
  void OnTrackbarReleased(NMHDR* header, LRESULT* result);
  void OnApply();
  void OnPaint();
  void OnLButtonDown(UINT flags, CPoint point);

 private:
  CListCtrl* List();
  bool IsDiskRow(int row) const;
  int DiskRowOf(int row) const;
  int NextDiskRow(int row) const;
  bool IsSourceRow(int row) const;
  bool IsSystemDiskRow(int row) const;
  void FillList();
  void SetChecks(int first, int last, BOOL check, int except = -1);
  bool SelectRow(int row);
  void PrepareRawTargetRow(int row);
  void WaitForRawTarget(ListedDiskIndex listed, int32_t physical, const DiskMapRecord& before, int32_t volumesBefore);
  bool IsPreparedPartition() const;
  void ClearDestination();
  bool PlanWholeDisk();
  void FillCombo();
  void ShowManualBounds(int32_t item);
  void HideManualControls();
  void ApplyTypedLength();
  void ApplyRequestedLength();
  void LayOutAfterBar();
  void SetSizingText(const char16_t* key);
  void SelectSizingRadio(SizingMode mode);
  bool ManualWholeDisk() const;
  void Redraw();

  PageHeaderFonts fonts_;
  RECT bar_{};
  bool ready_ = false;
  DECLARE_MESSAGE_MAP()
};

// Runs the destination page modally over `parent` (the source page's Next
// and the options page's Back).
INT_PTR RunDestinationPageModal(CWnd* parent);
