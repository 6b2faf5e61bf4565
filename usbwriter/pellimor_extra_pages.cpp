#include "usbwriter/pellimor_extra_pages.h"

#include "disk/disk_context.h"
#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"
#include "usbwriter/pellimor_pages.h"
#include "usbwriter/usb_write.h"

namespace pellimor {

namespace {

bool RunFormatDialog(WCHAR letter, int32_t code, uint8_t fat32Flag) {
  if (letter < u'A' || letter > u'Z') return false;
  FormatRequest = FormatRequestRecord{};
  FormatRequest.fileSystemCode = code;
  FormatRequest.driveIndex = letter - u'A';
  FormatRequest.fat32Flag = fat32Flag;
  FormatSucceeded = 0;
  CCFormat dialog;
  dialog.DoModal();
  return FormatSucceeded != 0;
}

}  // namespace

CCFormat::CCFormat(CWnd* parent) : ::CCFormat(IDD, parent) {}

BOOL CCFormat::OnInitDialog() {
  ::CCFormat::OnInitDialog();
  CString title = LookupString(u"IDS_FORMATTING");
  title.AppendChar(static_cast<WCHAR>(u'A' + FormatRequest.driveIndex));
  title += u":";
  SetWindowText(title);
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_CANCEL"));
  return TRUE;
}

void CCFormat::OnCancel() {
  cancelled_ = true;
  FormatDone = 1;
  EndDialog(IDCANCEL);
}

bool FormatDriveNtfs(WCHAR letter) { return RunFormatDialog(letter, FS_NTFS, 0); }

bool FormatDriveFat32(WCHAR letter) { return RunFormatDialog(letter, 12, 1); }

}  // namespace pellimor

// ---- source page ----

BEGIN_MESSAGE_MAP(CSrc, CDialog)
  ON_CBN_SELCHANGE(CSrc::kDriveCombo, &CSrc::OnSelectDrive)
  ON_BN_CLICKED(CSrc::kImageButton, &CSrc::OnChooseImage)
  ON_BN_CLICKED(CSrc::kPassKeyCheck, &CSrc::OnPassKeyCheck)
  ON_BN_CLICKED(CSrc::kBack, &CSrc::OnBack)
END_MESSAGE_MAP()

CSrc::CSrc(CWnd* parent) : CDialog(IDD, parent) {}

void CSrc::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kDriveCombo, drives_);
}

BOOL CSrc::OnInitDialog() {
  CDialog::OnInitDialog();
  SetPageIcon(this);
  SetWindowText(LookupString(u"IDS_CAPTION"));
  SetHeadingFonts(this, &titleFont_, &textFont_);
  SetDlgItemText(1357, LookupString(u"IDS_SRCTITLE"));
  SetDlgItemText(1359, LookupString(u"IDS_SRCTITLE1"));
  SetDlgItemText(1020, LookupString(u"IDS_SRCDRIVE"));
  SetDlgItemText(kImageButton, LookupString(u"IDS_SRCFILE"));
  SetDlgItemText(1016, LookupString(u"IDS_CONFIRM"));
  SetDlgItemText(kPassKeyCheck, LookupString(u"IDS_PASSKEY"));
  SetDlgItemText(IDOK, LookupString(u"IDS_NXT"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_CANCEL"));
  SetDlgItemText(kBack, LookupString(u"IDS_BK"));
  drives_.ResetContent();
  drives_.AddString(LookupString(u"IDS_SRCSELECT"));
  int rows = 0;
  DWORD letters = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(letters & (1u << i))) continue;
    CString root;
    root.AppendChar(static_cast<WCHAR>(u'A' + i));
    root += u":\\";
    UINT type = GetDriveTypeW(root);
    CString row;
    if (type == DRIVE_CDROM) {
      row = u"CD Drive: ";
    } else if (type == DRIVE_REMOVABLE && i < 2) {
      row = u"Floppy Drive: ";
    } else {
      continue;
    }
    row += root.Left(2);
    drives_.AddString(row);
    driveRoots_[rows++] = root.Left(2);
  }
  drives_.SetCurSel(0);
  if (CEdit* key = static_cast<CEdit*>(GetDlgItem(kPassKeyEdit))) {
    key->LimitText(kPassKeyLength);
    key->EnableWindow(FALSE);
  }
  PassKey.Empty();
  if (CWnd* next = GetDlgItem(IDOK)) next->EnableWindow(FALSE);
  return TRUE;
}

bool CSrc::ShowDescription() {
  CString description = SourceIsoPath.IsEmpty() ? CString() : DescribeIso();
  SetDlgItemText(kDescription, description);
  if (CWnd* next = GetDlgItem(IDOK)) next->EnableWindow(!description.IsEmpty());
  return !description.IsEmpty();
}

void CSrc::OnSelectDrive() {
  int row = drives_.GetCurSel();
  if (row < 1) {
    SourceIsoPath.Empty();
    ShowDescription();
    return;
  }
  // The disc itself, read as an image through its volume device.
  SourceIsoPath = u"\\\\.\\" + driveRoots_[row - 1];
  if (!ShowDescription()) {
    SourceIsoPath.Empty();
    MessageBoxW(GetSafeHwnd(), u"No CD or DVD is found. Please insert the disc and try it again",
                LookupString(u"IDS_PRODNAME"), MB_OK);
  }
}

void CSrc::OnChooseImage() {
  drives_.SetCurSel(0);
  ChooseIsoFile();
  if (!ShowDescription()) SourceIsoPath.Empty();
}

void CSrc::OnPassKeyCheck() {
  bool on = IsDlgButtonChecked(kPassKeyCheck) == BST_CHECKED;
  if (CWnd* key = GetDlgItem(kPassKeyEdit)) key->EnableWindow(on);
}

void CSrc::OnOK() {
  if (SourceIsoPath.IsEmpty()) return;
  PassKey.Empty();
  if (IsDlgButtonChecked(kPassKeyCheck) == BST_CHECKED) {
    GetDlgItemText(kPassKeyEdit, PassKey);
    PassKey = PassKey.Left(kPassKeyLength);
  }
  EndDialog(IDOK);
  CThird destination(nullptr);
  destination.DoModal();
}

void CSrc::OnBack() {
  EndDialog(IDCANCEL);
  CPellimorDlg welcome(nullptr);
  welcome.DoModal();
}

void CSrc::OnCancel() {
  EndDialog(IDCANCEL);
  ExitProcess(0);
}
