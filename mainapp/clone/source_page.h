// The first page of the clone wizard (dialog 130): the user ticks one disk
// (whole-disk copy) or one partition (partition copy) in the disk list and
// chooses basic or sector-by-sector duplication; the chosen disk is drawn as
// a bar below the list. Ticking the Windows partition of an installation
// whose boot files lie on an earlier partition offers a system migration
// (the whole disk, up to that partition). Next stores the choice in
// CloneSettings and opens the destination page.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CDC;
class CWnd;
struct PartitionEntry;

// The list state the wizard's list pages share.
struct WizardListState {
  int32_t listRowCount = 0;       // rows inserted into the list on screen
  bool eventsEnabled = false;     // the list's change handler may act
  int32_t barHighlightRow = -1;   // list row whose segment the bar outlines
  int32_t barFirstPartitionRow = 0;
  int32_t sourceRow = -1;         // the row the last tick chose; Next works from it
  bool recheckInProgress = false; // the page re-ticks its remembered row
};
extern WizardListState WizardList;

// The pages the source page leads to and the tools of its View and
// Diagnostic buttons; each runs modally over `parent`. Unset: nothing opens.
using WizardPageRunner = INT_PTR (*)(CWnd* parent);
inline WizardPageRunner RunDestinationPage = nullptr;
inline WizardPageRunner RunDiskViewerPage = nullptr;
inline WizardPageRunner RunDiagnosticsPage = nullptr;

// Whether a list row is a disk row, and the disk row of any row (-1 outside the tables).
bool IsDiskListRow(int row);
int DiskRowOfListRow(int row);
// The bar legend: a swatch of each segment colour before statics 1086, 1087, 1090 and 1091.
void PaintBarLegend(CWnd& page, CDC& dc);

// Fills list 1027 of `page` with one row per listed disk with a model and
// one per partition, and the DiskListRows tables (at most 26 rows).
void FillSourceList(CListCtrl& list);

class CMirrorSource : public CDialog {
 public:
  static constexpr UINT IDD = 130;
  static constexpr int kList = 1027;
  static constexpr int kBasic = 1008;
  static constexpr int kSectorBySector = 1009;
  static constexpr int kBasicLabel = 1010;
  static constexpr int kBarArea = 1064;
  static constexpr int kNext = 1007;
  static constexpr int kBack = 4;
  static constexpr int kView = 5;
  static constexpr int kDiagnostic = 1000;
  static constexpr int kRunExplorer = 1179;

  explicit CMirrorSource(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnNext();
  void OnBack();
  void OnView();
  void OnDiagnostic();
  void OnRunExplorer();
  void OnHeaderFocus();
  void OnListItemChanging(NMHDR* header, LRESULT* result);
  void OnListItemChanged(NMHDR* header, LRESULT* result);
  void OnPaint();

 private:
  CListCtrl* List();
  bool IsDiskRow(int row) const;
  int DiskRowOf(int row) const;
  void SetBasicAllowed(bool allowed);
  void SetChecks(int first, int last, BOOL check, int except = -1);
  bool AskSystemMigration(int row);
  void RedrawBar();

  PageHeaderFonts fonts_;
  RECT bar_{};
  bool ready_ = false;
  DECLARE_MESSAGE_MAP()
};

// Runs the source page over `parent` after resetting the wizard's rows and
// choosing basic duplication, as the main dialog's Duplicate command does.
INT_PTR RunCloneWizard(CWnd* parent);
