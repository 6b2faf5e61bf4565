// Two pages Pellimor carries beside its wizard: its own format-progress
// dialog (997), which formats a lettered volume through the shared format
// worker, with the launchers that fill the format request for NTFS or
// FAT32; and the source page CSrc (177), which takes the image from an
// optical or floppy drive or from an ISO file and offers a pass key that
// scrambles the boot image written to the stick.
#pragma once

#include "disk/volume_formatter.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

namespace pellimor {

class CCFormat : public ::CCFormat {
 public:
  static constexpr UINT IDD = 997;
  explicit CCFormat(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  // Cancel closes the dialog; a format already running finishes on its
  // worker, unwatched.
  void OnCancel() override;
};

// Fill the format request for `letter` and run the dialog; true when the
// formatter reported success.
bool FormatDriveNtfs(WCHAR letter);
bool FormatDriveFat32(WCHAR letter);

}  // namespace pellimor

class CSrc : public CDialog {
 public:
  static constexpr UINT IDD = 177;
  static constexpr int kDriveCombo = 1029;
  static constexpr int kImageButton = 1030;
  static constexpr int kDescription = 1395;
  static constexpr int kPassKeyCheck = 1022;
  static constexpr int kPassKeyEdit = 1392;
  static constexpr int kBack = 1003;
  explicit CSrc(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnSelectDrive();
  void OnChooseImage();
  void OnPassKeyCheck();
  void OnOK() override;
  void OnBack();
  void OnCancel() override;

 private:
  // Shows the description of SourceIsoPath; false (and nothing shown) when
  // it is no readable image.
  bool ShowDescription();
  CComboBox drives_;
  CString driveRoots_[26];
  CFont titleFont_, textFont_;
  DECLARE_MESSAGE_MAP()
};
