#include <algorithm>
#include <ctime>

#include "disk/volume_formatter.h"
#include "platform/core/text.h"
#include "platform/ui/message_map.h"
#include "program_support/boot_ini_fix.h"
#include "program_support/message_pump.h"
#include "restore/yarv_app.h"
#include "restore/yarv_pages.h"
#include "restore/yarv_settings.h"
#include "restore/yarv_state.h"

RestoreRunRecord RestoreRun;
bool ProgressPageOpen = false;

namespace {

CString LocalTimeText(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  localtime_r(&t, &parts);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
  return CString(platform::to_utf16(text).c_str());
}

CString SpanText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  CString text;
  text.Format(u"%02d:%02d:%02d", static_cast<int>(seconds / 3600 % 24), static_cast<int>(seconds / 60 % 60),
              static_cast<int>(seconds % 60));
  return text;
}

bool HasDiskItems() { return Archive().disk_records().size() > 1; }

CString ArchiveItemText() { return YarvText(HasDiskItems() ? 621 : 623); }

CString SelectedContentsText() {
  CString text;
  const auto& files = Archive().file_records();
  for (int k = 1; k < static_cast<int>(files.size()); ++k) {
    if (files[k].selection < 0) continue;
    text += CString(u"  ") + YarvText(523) + u":  " + Archive().FilePath(k).c_str() + u"," +
            FormatSizeText(files[k].size / 512) + u"\r\n";
  }
  const auto& folders = Archive().folder_records();
  for (int i = 1; i < static_cast<int>(folders.size()); ++i) {
    if (folders[i].kind <= 10) continue;
    text += CString(u"  ") + YarvText(500) + u": " + Archive().FolderPath(i).c_str() + u" " +
            (folders[i].size == -2 ? CString() : FormatSizeText(folders[i].size / 512)) + u"\r\n";
  }
  const auto& disks = Archive().disk_records();
  for (int j = 1; j < static_cast<int>(disks.size()); ++j) {
    if (disks[j].kind < 0) continue;
    CString line;
    if (disks[j].is_whole_disk()) {
      line.Format(u"  %s%d: ", YarvText(519).GetString(), disks[j].disk_number);
    } else {
      line.Format(u"  %s %c: ", YarvText(500).GetString(),
                  disks[j].drive_text.empty() ? u'?' : static_cast<wchar_t>(disks[j].drive_text[0]));
    }
    text += line + FormatSizeText(disks[j].extent_sectors()) + u"\r\n";
  }
  return text;
}

CString DestinationText(const CString& selected) {
  const auto& disks = Archive().disk_records();
  if (disks.size() > 1) {
    if (!DestinationDescription.IsEmpty()) return DestinationDescription;
    CString text;
    if (!disks[1].is_whole_disk()) {
      text.Format(u"%s%d %s(%s)", YarvText(603).GetString(), disks[1].disk_number,
                  YarvText(disks.back().is_whole_disk() ? 519 : 500).GetString(), disks.back().drive_text.c_str());
      return text;
    }
    for (size_t j = 1; j < disks.size(); ++j) {
      CString part;
      part.Format(u" %s %d", YarvText(disks[j].is_whole_disk() ? 519 : 500).GetString(), disks[j].disk_number);
      text += part;
    }
    return text;
  }
  const auto& folders = Archive().folder_records();
  if (folders.size() > 1 && folders[1].kind > 10) return DestinationDescription.IsEmpty() ? selected : DestinationDescription;
  return DestinationDescription.IsEmpty() ? CString(u"\r\n  ") : DestinationDescription + u"\\" + u"\r\n  ";
}

// Where files and folders go: the chosen folder, or the drive a file-level
// partition goes to; empty for their stored paths.
std::u16string FileDestination() {
  const auto& folders = Archive().folder_records();
  if (folders.size() > 1 && folders[1].is_partition()) {
    if (!DestinationDriveText.IsEmpty()) return DestinationDriveText.GetString();
    if (!DestinationDescription.IsEmpty()) return DestinationDescription.GetString();
    return std::u16string();
  }
  return DestinationDescription.GetString();
}

// A file-level partition's volume is formatted before its files are
// restored onto it: FAT32 kinds with FAT32 (quick), others with NTFS. False
// (with the reason in the report) when it cannot be, and then nothing is
// restored there.
bool FormatRestoreTarget(CRestoreProgress& page, const CString& drive, int8_t kind, restore::RestoreReport& report) {
  const char16_t letter = drive.IsEmpty() ? 0 : static_cast<char16_t>(drive[0] & ~0x20);
  auto refuse = [&](const std::string& why) {
    report.errors.push_back(why);
    ++report.items_failed;
    return false;
  };
  if (letter < u'A' || letter > u'Z' || drive.GetLength() < 2 || drive[1] != u':')
    return refuse("the partition's drive \"" + platform::to_utf8(drive.GetString()) + "\" names no volume to format");
  // The archive's own volume is never formatted: it would be read from afterwards.
  if (!ProgramPath.IsEmpty() && (ProgramPath[0] & ~0x20) == letter)
    return refuse(std::string("the partition ") + static_cast<char>(letter) + ": holds the archive itself");
  const bool fat32 = kind == 11 || kind == 13;
  if (!fat32 && letter < u'D' && !WinPeMode)
    return refuse(std::string("the partition ") + static_cast<char>(letter) + ": cannot be formatted from Windows");
  if (CWnd* busy = page.GetDlgItem(229)) busy->ShowWindow(SW_SHOW);
  PumpMessages(page.GetSafeHwnd());
  const int32_t index = letter - u'A';
  const uint8_t formatted = fat32 ? FormatFatVolume(index, 1, 1) : FormatNtfsVolume(index, 0, 0);
  if (CWnd* busy = page.GetDlgItem(229)) busy->ShowWindow(SW_HIDE);
  if (!formatted) return refuse(std::string("the partition ") + static_cast<char>(letter) + ": could not be formatted");
  return true;
}

// The model of the destination disk as the machine lists it, without blanks around.
CString ListedModelOfDisk(int32_t disk) {
  for (int32_t listed = 1; listed <= ListedDiskCount(); ++listed)
    if (ListedDiskPhysical(listed) == disk) {
      CString model = ListedDiskModel(listed);
      model.Trim();
      return model;
    }
  return CString();
}

// Whether two model texts name the same model. Blanks do not count: a
// model is its vendor and product texts, which archives store as they were
// read, padded or run together ("ACMETest Disk"), while the machine now
// joins them with one blank ("ACME Test Disk").
bool SameModelText(const CString& a, const CString& b) {
  CString x = a, y = b;
  x.Remove(u' ');
  y.Remove(u' ');
  return x == y;
}

// Marks the partition behind `drive` ("E:") as the active one of its disk.
// A logical drive or a disk without a table is left alone.
void ActivateRestoredVolume(const CString& drive, const restore::RestoreHooks& hooks, restore::RestoreReport& report) {
  const char16_t letter = drive.IsEmpty() ? 0 : drive[0];
  const int32_t disk = LetterDiskPlusOne(letter) - 1;
  int64_t start = 0, length = 0;
  int32_t slot = -1;
  if (disk < 0 || !QueryLetterPartition(letter, start, length) ||
      restore::MakePartitionActive(disk, start, hooks.confirm_active_change, slot) ==
          restore::ActivateResult::Failed) {
    report.errors.push_back("the partition " + platform::to_utf8(drive.Left(2).GetString()) +
                            " could not be made active");
    ++report.items_failed;
  }
}

}  // namespace

CString RestoreContentsText() {
  const restore::ArchiveHeader& h = Archive().header();
  CString text = u"\r\n";
  auto line = [&](UINT label, const CString& value) { text += YarvText(label) + u": " + value + u"\r\n"; };
  RestoreRun.itemLine = ArchiveItemText();
  line(466, Archive().catalog_path().c_str());
  line(624, LocalTimeText(h.backup_time));
  line(625, RestoreRun.itemLine);
  line(626, ArchiveTypeText(h.type));
  line(448, CompressionText(h.compression));
  line(449, EncryptionText(h.encrypted));
  line(541, EncryptionText(static_cast<uint8_t>(h.split & 0xFF)));
  line(472, FormatSizeText(h.total_sectors));
  line(446, h.description.c_str());
  CString selected = SelectedContentsText();
  if (selected.IsEmpty()) selected = CurrentContentsLine;
  text += YarvText(627) + u":" + (SelectionText.IsEmpty() ? selected : SelectionText) + u"\r\n";
  CString destination = DestinationText(selected);
  if (selected.GetLength() >= 5 && selected.Right(5) == u":  \r\n") destination = CurrentContentsLine;
  if (destination.Left(2) == u"\r\n") destination = YarvText(799);
  RestoreRun.destinationText = destination;
  text += YarvText(628) + u": " + destination + u"\r\n";
  return text;
}

// ---- progress page ----

BEGIN_MESSAGE_MAP(CRestoreProgress, CDialog)
  ON_BN_CLICKED(CRestoreProgress::kRestoreNow, &CRestoreProgress::OnRestoreNow)
  ON_BN_CLICKED(CRestoreProgress::kBack, &CRestoreProgress::OnBack)
  ON_EN_SETFOCUS(1007, &CRestoreProgress::OnTitleFocus)
  ON_EN_SETFOCUS(1008, &CRestoreProgress::OnTitleFocus)
  ON_WM_QUERYENDSESSION()
END_MESSAGE_MAP()

CRestoreProgress::CRestoreProgress(CWnd* parent) : CDialog(IDD, parent) { ProgressPageOpen = true; }
CRestoreProgress::~CRestoreProgress() { ProgressPageOpen = false; }

void CRestoreProgress::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kBar, bar_);
}

BOOL CRestoreProgress::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  SetTitleFonts(*this, titleFont_, subtitleFont_);
  SetWindowText(YarvText(422));
  SetDlgItemText(1007, YarvText(423));
  SetDlgItemText(1008, YarvText(424));
  SetDlgItemText(226, YarvText(309) + YarvText(310));
  SetDlgItemText(1019, YarvText(618));
  SetDlgItemText(1020, YarvText(225));
  SetDlgItemText(1025, YarvText(226));
  SetDlgItemText(227, YarvText(227));
  SetDlgItemText(1111, YarvText(314));
  SetDlgItemText(1033, YarvText(612));
  SetDlgItemText(1109, YarvText(729));
  SetDlgItemText(kRestoreNow, YarvText(605));
  SetDlgItemText(1061, YarvText(232));
  SetDlgItemText(IDCANCEL, YarvText(107));
  SetDlgItemText(kBack, YarvText(113));
  SetDlgItemText(229, YarvText(744));
  progressStarted_ = false;
  BootIniFixRegistered = false;
  RestoreRun = RestoreRunRecord{};
  SetDlgItemText(kContents, RestoreContentsText());
  SetDlgItemText(1034, FormatSizeText(Archive().header().total_sectors));
  return TRUE;
}

void CRestoreProgress::OnTitleFocus() {
  if (CWnd* group = GetDlgItem(1020)) group->SetFocus();
}

BOOL CRestoreProgress::OnQueryEndSession() { return AllowEndSession(GetSafeHwnd()) ? TRUE : FALSE; }

void CRestoreProgress::OnRestoreNow() {
  PasskeyAttempts = 0;
  if (Archive().header().encrypted) {
    UseOwnModule();
    CEncryption passkey(nullptr);
    passkey.DoModal();
    UseLanguageLibrary();
  }
  RestoreRun.cancelled = false;
  for (int id : {kBack, kRestoreNow})
    if (CWnd* button = GetDlgItem(id)) button->EnableWindow(FALSE);
  if (CWnd* busy = GetDlgItem(1111)) busy->ShowWindow(SW_SHOW);
  if (PasskeyAttempts == -1) {
    UseOwnModule();
    EndDialog(IDCANCEL);
    return;
  }
  RestoreRunning = true;
  RunRestore();
  RestoreRunning = false;
}

bool CRestoreProgress::UpdateRestoreProgress(int64_t done) {
  if (bar_.GetSafeHwnd()) bar_.SetPos(static_cast<int>(std::min<int64_t>(done, INT32_MAX)));
  progressStarted_ = true;
  SetDlgItemText(1128, FormatSizeText(done));
  const int64_t elapsed = static_cast<int64_t>(std::time(nullptr)) - RestoreRun.startTime;
  SetDlgItemText(1135, SpanText(elapsed));
  if (done > 0) {
    const double estimate = static_cast<double>(elapsed) * Archive().header().total_sectors / static_cast<double>(done);
    SetDlgItemText(1134, estimate >= static_cast<double>(elapsed) ? SpanText(static_cast<int64_t>(estimate) - elapsed)
                                                                  : SpanText(elapsed));
    PumpMessages(GetSafeHwnd());
  }
  return RestoreRun.cancelled;
}

void CRestoreProgress::RunRestore() {
  restore::RestoreReport& report = RestoreRun.report;
  FolderChooserPath = GetParentPath(CString(Archive().catalog_path().c_str()));
  const restore::ArchiveResult opened = Archive().OpenArchiveChain([this](const std::u16string& volume) {
    // A missing volume: the user finds its folder, or cancels the run.
    CString ask = YarvText(687);
    ask += u"\r\n";
    ask += volume.c_str();
    if (YarvMessage(GetSafeHwnd(), ask, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
      return std::optional<std::u16string>();
    do {
      UseOwnModule();
      CBit1 chooser(nullptr);
      const INT_PTR answer = chooser.DoModal();
      UseLanguageLibrary();
      if (answer != IDOK) return std::optional<std::u16string>();
    } while (FolderChooserPath.IsEmpty());
    return std::optional<std::u16string>(FolderChooserPath.GetString());
  });
  if (CWnd* hidden = GetDlgItem(1136)) hidden->SetWindowText(Archive().archive_name().c_str());
  if (bar_.GetSafeHwnd()) {
    bar_.SetRange32(0, std::max(1, Archive().header().total_sectors));
    bar_.SetPos(0);
  }
  RestoreRun.startTime = static_cast<int64_t>(std::time(nullptr));

  restore::RestoreHooks hooks;
  hooks.progress = [this](int64_t done) { return UpdateRestoreProgress(done); };
  bool overwrite_all = false;
  hooks.ask_overwrite = [this, &overwrite_all](const std::u16string& path) {
    if (overwrite_all) return 1;
    OverwritePromptText = YarvText(673) + u"\r\n" + path.c_str() + u"\r\n" + YarvText(674);
    UseOwnModule();
    CBit prompt(nullptr);
    prompt.DoModal();
    UseLanguageLibrary();
    switch (OverwriteChoice) {
      case 1: return 1;
      case 2: overwrite_all = true; return 1;
      case 3: return 2;
      default: return 0;
    }
  };
  int32_t boot_disk = -1;
  hooks.register_boot_fix = [&boot_disk](int32_t disk, int32_t slot) {
    BootIniFixDriveText = DestinationDriveText;
    BootIniFixSlot = slot;
    boot_disk = disk;
    RegisterBootIniFix(1, disk);
  };
  hooks.confirm_active_change = [this] {
    return YarvMessage(GetSafeHwnd(), YarvText(747), MB_YESNO | MB_ICONINFORMATION) == IDYES;
  };

  if (opened != restore::ArchiveResult::Ok) {
    if (opened == restore::ArchiveResult::VolumeCancelled) report.cancelled = true;
    report.errors.push_back(Archive().error_detail());
    ++report.items_failed;
  } else {
    std::u16string folder = FileDestination();
    Archive().set_member_count(Archive().chain_index());
    restore::RestoreFileItems(Archive(), folder, hooks, report);
    overwrite_all = false;
    const auto& folders = Archive().folder_records();
    bool folders_go = true;
    if (folders.size() > 1 && folders[1].is_partition() && folders[1].kind >= 0 && !report.stopped &&
        !report.cancelled) {
      // At the original place the partition's own drive.
      CString drive = folder.empty() ? CString(Archive().FolderPath(1).c_str()).Left(2) : CString(folder.c_str()).Left(2);
      folders_go = FormatRestoreTarget(*this, drive, folders[1].kind, report);
      if (folder.empty()) folder = drive.GetString();
    }
    if (folders_go) {
      restore::RestoreFolderItems(Archive(), folder, hooks, report);
      // A partition backed up file by file as an active one is made active again.
      if (folders.size() > 1 && folders[1].is_partition() && folders[1].kind >= 13 && !report.cancelled &&
          !report.stopped)
        ActivateRestoredVolume(CString(folder.c_str()), hooks, report);
    }
    const auto& disks = Archive().disk_records();
    if (disks.size() > 1 && !report.cancelled && !report.stopped) {
      Archive().set_member_count(Archive().chain_index() + 1);
      if (Archive().LoadBlockTable() != restore::ArchiveResult::Ok) {
        report.errors.push_back(Archive().error_detail());
        ++report.items_failed;
      } else {
        for (int j = 1; j < static_cast<int>(disks.size()) && !report.cancelled; ++j) {
          if (disks[j].kind < 0 || j >= static_cast<int>(DiskItemTargets.size())) continue;
          // Each item is confirmed before its target is touched; a No ends the run there.
          if (YarvMessage(GetSafeHwnd(), YarvText(disks[j].kind <= 1 ? 675 : 629), MB_YESNO | MB_ICONINFORMATION) !=
              IDYES) {
            report.cancelled = true;
            break;
          }
          if (!restore::RestoreDiskItem(Archive(), j, DiskItemTargets[j], hooks, report)) continue;
          RestoreRun.diskRestored = true;
          if (disks[j].kind <= 4) RestoreRun.outcome = 8;
          else if (disks[j].kind == 6) RestoreRun.outcome = BootIniFixRegistered ? 9 : 12;
          else RestoreRun.outcome = 10;
          // A system partition on another model of disk: Windows takes a new disk signature.
          if (disks[j].kind == 6 && report.made_active &&
              !SameModelText(CString(disks[1].model.c_str()), ListedModelOfDisk(DiskItemTargets[j].disk))) {
            if (ClearDiskSignature(DiskItemTargets[j].disk)) RestoreRun.outcome = 9;
            else report.errors.push_back("the disk signature of the destination could not be cleared");
          }
        }
      }
    }
    Archive().CloseChain();
  }
  RestoreRun.cancelled = RestoreRun.cancelled || report.cancelled;
  if (!report.errors.empty()) {
    CString all;
    for (const std::string& e : report.errors) all += CString(u"\r\n") + platform::to_utf16(e).c_str();
    CString message;
    message.Format(YarvText(900).GetString(), all.GetString());
    if (!report.succeeded() || report.items_failed) YarvMessage(GetSafeHwnd(), message, MB_OK | MB_ICONEXCLAMATION);
  }
  if (report.stopped) {
    if (CWnd* back = GetDlgItem(kBack)) back->EnableWindow(FALSE);
    return;
  }
  CRestoreProgressSummary summary(nullptr);
  UseOwnModule();
  EndDialog(IDCANCEL);
  summary.DoModal();
}

void CRestoreProgress::OnCancel() {
  const bool asked_570 = progressStarted_ && HasDiskItems();
  if (YarvMessage(GetSafeHwnd(), YarvText(asked_570 ? 570 : 798), MB_YESNO | MB_ICONINFORMATION) == IDNO) return;
  RestoreRun.cancelled = true;
  UseOwnModule();
  EndDialog(IDCANCEL);
}

void CRestoreProgress::OnBack() {
  UseOwnModule();
  EndDialog(IDCANCEL);
  CRestore1 selection(nullptr);
  selection.DoModal();
}

// ---- summary ----

BEGIN_MESSAGE_MAP(CRestoreProgressSummary, CDialog)
  ON_BN_CLICKED(CRestoreProgressSummary::kFinish, &CRestoreProgressSummary::OnFinish)
END_MESSAGE_MAP()

CRestoreProgressSummary::CRestoreProgressSummary(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CRestoreProgressSummary::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  SetTitleFonts(*this, titleFont_, subtitleFont_);
  const restore::ArchiveHeader& h = Archive().header();
  SetWindowText(YarvText(425));
  SetDlgItemText(1007, YarvText(426));
  SetDlgItemText(1008, YarvText(427));
  SetDlgItemText(1019, YarvText(318));
  SetDlgItemText(226, YarvText(316));
  SetDlgItemText(230, YarvText(782));
  SetDlgItemText(231, YarvText(783));
  SetDlgItemText(1025, YarvText(218));
  SetDlgItemText(1026, YarvText(237));
  SetDlgItemText(1028, YarvText(695));
  SetDlgItemText(1029, YarvText(696));
  SetDlgItemText(1027, YarvText(615));
  SetDlgItemText(1056, YarvText(113));
  SetDlgItemText(1058, YarvText(112));
  SetDlgItemText(kFinish, YarvText(173));
  SetDlgItemText(IDCANCEL, YarvText(107));
  SetDlgItemText(1108, Archive().catalog_path().c_str());
  SetDlgItemText(1113, FormatSizeText(h.total_sectors));
  SetDlgItemText(1115, LocalTimeText(h.backup_time));
  SetDlgItemText(1114, ArchiveTypeText(h.type));
  SetDlgItemText(1110, RestoreRun.destinationText);
  SetDlgItemText(1112, RestoreRun.itemLine);
  SetDlgItemText(1109, SpanText(static_cast<int64_t>(std::time(nullptr)) - RestoreRun.startTime));
  // A run with failed items is no success, whether or not it was cancelled.
  const UINT status = RestoreRun.cancelled ? 617 : RestoreRun.report.items_failed ? 902 : 616;
  SetDlgItemText(229, YarvText(status));
  return TRUE;
}

void CRestoreProgressSummary::OnFinish() {
  if (!RestoreRun.diskRestored || RestoreRun.cancelled) {
    UseOwnModule();
    EndDialog(IDCANCEL);
    return;
  }
  UINT text = 810;
  bool restart = true;
  if (RestoreRun.outcome == 8) {
    text = WinPeMode ? 816 : 806;
    restart = false;
  } else if (RestoreRun.outcome == 9) {
    text = WinPeMode ? 817 : 807;
  }
  AfxMessageBox(YarvText(text), MB_OK);
  if (WinPeMode) return;
  ShutDownMachine(restart);
  UseOwnModule();
  EndDialog(IDCANCEL);
}
