#include "mainapp/shell/main_dialog.h"

#include <string>

#include "disk/disk_tables.h"
#include "disk/shadow_copy.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/art_ids.h"
#include "mainapp/shell/boot_fix.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/otb_service_check.h"
#include "mainapp/shell/restart_prompt.h"
#include "mainapp/shell/system_exit.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/process_exit.h"
#include "platform/core/system_time.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

CMenu mainMenu;

namespace {

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kHeadingBlue = 0x9B5900;
// The sub-heading's band: pale sky, on which the heading blue reads at about 5.8:1.
constexpr COLORREF kSubHeadingBand = 0xF6E8D6;
constexpr UINT kSysCommandAbout = 0x10;

// The picture controls in the order of their codes 1 to 6.
constexpr int kPictureControls[6] = {1002, 1003, 1004, 1006, 1005, 1007};
// The pictures the mouse reacts to, in the order they are tested.
constexpr int kHoverOrder[5] = {1002, 1003, 1007, 1004, 1006};
constexpr const char16_t* kDescriptionKeys[6] = {u"IDS_DuplicateDiskDesc", u"IDS_DeleteDiskDesc",
                                                 u"IDS_ScanDiskDesc",      u"IDS_OneClickDesc",
                                                 u"IDS_PartMDesc",         u"IDS_FileFolderDesc"};

struct MenuLabel {
  UINT command;
  const char16_t* key;
};
constexpr MenuLabel kMenuLabels[] = {
    {shell::kCmdDuplicate, u"ID_ACTIONS_DUPLICATEDISK"},
    {shell::kCmdOneClick, u"ID_ACTIONS_ONECLICK"},
    {shell::kCmdFilesMigration, u"ID_ACTIONS_FILES"},
    {shell::kCmdUsbToolInstaller, u"ID_ACTIONS_USBBOOTABLETOOLINSTALLATION"},
    {shell::kCmdDelete, u"ID_ACTIONS_DELETEDISK"},
    {shell::kCmdScan, u"ID_ACTIONS_SCANNEWDISK"},
    {shell::kCmdPartitionManager, u"ID_ACTIONS_PARTITIONMANAGER"},
    {shell::kCmdViewer, u"ID_ACTIONS_VIEWDISK"},
    {shell::kCmdDiagnose, u"ID_ACTIONS_DIAGNOSE"},
    {shell::kCmdDriverInstallation, u"ID_ACTIONS_DRIVERINSTALLATION"},  // relabelled under WinPE only
    {shell::kCmdExit, u"ID_ACTIONS_EXIT"},
    {shell::kCmdHelp, u"ID_HELP_DRUMMETHELP"},
    {shell::kCmdAbout, u"ID_HELP_ABOUTDRUMMET"},
    {shell::kCmdPellimorTools, u"ID_ACTIONS_CREATEBOOTABLEUSB"},
    {shell::kCmdPellimorResources, u"ID_ACTIONS_CREATEBOOTABLEUSB"},
};

bool boot_fix_done = false;

int IndexOf(int control) {
  for (int i = 0; i < 6; ++i)
    if (kPictureControls[i] == control) return i;
  return -1;
}

}  // namespace

BEGIN_MESSAGE_MAP(CDrummetDlg, CBDialog)
  ON_WM_TIMER()
  ON_WM_CLOSE()
  ON_WM_QUERYENDSESSION()
  ON_WM_SYSCOMMAND()
  ON_WM_QUERYDRAGICON()
  ON_WM_MOUSEMOVE()
  ON_WM_LBUTTONDOWN()
  ON_WM_LBUTTONDBLCLK()
  ON_WM_INITMENUPOPUP()
  ON_WM_MEASUREITEM()
  ON_WM_DRAWITEM()
  ON_WM_CTLCOLOR()
  ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CDrummetDlg::CDrummetDlg(CWnd* parent) : CBDialog(IDD, parent) {
  icon_ = LoadIconW(nullptr, MAKEINTRESOURCEW(shell::art::kProgramIcon));
  looks_.fill(Look::Normal);
}

CDrummetDlg::~CDrummetDlg() = default;

int CDrummetDlg::PictureCode(int control) {
  int i = IndexOf(control);
  return i < 0 ? 0 : i + 1;
}

CDrummetDlg::Look CDrummetDlg::look(int control) const {
  int i = IndexOf(control);
  return i < 0 ? Look::Normal : looks_[static_cast<size_t>(i)];
}

HBITMAP CDrummetDlg::image(int control, Look which) {
  int i = IndexOf(control);
  if (i < 0) return nullptr;
  return static_cast<HBITMAP>(picture_images_[static_cast<size_t>(i * 3 + static_cast<int>(which))].GetSafeHandle());
}

UINT CDrummetDlg::image_id(int control, Look which) const {
  int i = IndexOf(control);
  if (i < 0) return 0;
  return picture_image_ids_[static_cast<size_t>(i * 3 + static_cast<int>(which))];
}

BOOL CDrummetDlg::OnInitDialog() {
  restartPromptFixedTexts = 1;
  ReleaseShadowCopy();
  ShellState.textFontHeight = ShellState.winPEMode ? 18 : 15;
  ShellState.titleFontHeight = 15;

  CBDialog::OnInitDialog();
  ShellState.MainDialogHandle = GetSafeHwnd();
  SetBackgroundMode(kStretch);
  SetBackgroundBitmap(shell::art::kMainBackground);
  description_.SubclassDlgItem(kDescription, this);
  time_text_.SubclassDlgItem(kTimeText, this);

  if (ShellState.winPEMode) LayOutForWinPE();

  ShellState.messageCaption = LookupString(u"IDS_Product");
  int font_height = ShellState.winPEMode ? ShellState.titleFontHeight + 2 : ShellState.titleFontHeight - 1;
  text_font_.CreateFont(font_height, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  for (UINT id : {kHeading, kSubHeading, kDescription})
    if (CWnd* c = GetDlgItem(static_cast<int>(id))) c->SetFont(&text_font_, TRUE);

  // The menu bar goes with its window; every main dialog loads its own.
  mainMenu.Detach();
  mainMenu.LoadMenu(ShellState.winPEMode ? kWinPEMenu : kWindowsMenu);
  SetMenu(&mainMenu);
  // Once per process under WinPE: a marker file found here ends the process.
  if (!boot_fix_done && ShellState.winPEMode) {
    boot_fix_done = true;
    ApplyBootFix();
  }

  // No disk row is ticked in the wizard's lists of a new session, nor in the
  // viewer's (the tools that keep a tick forget it through the start entry).
  CloneSettings.checkedRow = -1;
  shell::RunMainCommand(*this, shell::kCmdMainDialogStart);

  // The English set only for exactly "English"; the other set for any other name.
  bool english = ShellState.languageName == u"English";
  for (size_t i = 0; i < 6; ++i) {
    const shell::art::PictureArt& art = shell::art::kPictures[i];
    for (size_t k = 0; k < 3; ++k) {
      picture_image_ids_[i * 3 + k] = english ? art.english[k] : art.other[k];
      picture_images_[i * 3 + k].LoadBitmap(picture_image_ids_[i * 3 + k]);
      // Group 5 (index 4, the hidden partition manager) stays empty.
      if (i != 4) banner_frames_[i * 3 + k].LoadBitmap(art.banner[k]);
    }
  }
  for (int i = 0; i < 6; ++i) ShowLook(i, Look::Normal);
  hover_flag_.fill(0);
  selected_picture_ = 0;
  SelectTaskPicture(1006);

  SetDlgItemText(kHeading, LookupString(u"IDS_Mainmenu"));
  SetDlgItemText(kSubHeading, LookupString(u"IDS_DBInfo"));
  SetIcon(icon_, TRUE);
  SetIcon(icon_, FALSE);
  SetWindowText(LookupString(u"IDS_Product"));
  RelabelMenuBar();

  if (!ShellState.winPEMode) CheckOneTouchBootService();

  ShellState.oneClickAutoMode = false;
  CString command_line = ShellState.commandLine;
  command_line.MakeUpper();
  if (command_line == u"/B ONECLICK") {
    one_click_ticks_ = 0;
    one_click_timer_ = SetTimer(kOneClickTimer, 200, nullptr);
  }

  DetectSystemAndSpecialDisks();

  if (CWnd* time_text = GetDlgItem(kTimeText)) time_text->ShowWindow(ShellState.winPEMode ? SW_SHOW : SW_HIDE);
  if (ShellState.winPEMode) SetTimer(kRemainingTimer, 1000, nullptr);
  return TRUE;
}

void CDrummetDlg::LayOutForWinPE() {
  // The compact layout places each control at its window rectangle's
  // left and top as seen with the dialog at the screen's origin, less its
  // shift (pixels): so the controls move right by the dialog's left frame
  // and up by the shift less the caption and top frame. Each placement
  // brings the control to the top and shows it (the strip 1195 too).
  struct Shift {
    int control, up;
  };
  static constexpr Shift kShifts[] = {{1183, 2},  {1193, 28}, {1173, 26}, {1194, 32}, {1006, 64},
                                      {1002, 64}, {1007, 64}, {1003, 64}, {1004, 64}, {1195, 80}};
  RECT dialog;
  GetWindowRect(&dialog);
  for (const Shift& s : kShifts) {
    CWnd* c = GetDlgItem(s.control);
    if (!c) continue;
    RECT r;
    c->GetWindowRect(&r);
    c->SetWindowPos(nullptr, r.left - dialog.left, r.top - dialog.top - s.up, r.right - r.left, r.bottom - r.top,
                    SWP_SHOWWINDOW);
  }
  // The window rectangle in client coordinates gives the new size: the left
  // frame comes off the width, the caption, top frame and 32 pixels off the
  // height.
  RECT whole;
  GetWindowRect(&whole);
  ScreenToClient(&whole);
  SetWindowPos(nullptr, whole.left, whole.top, whole.right, whole.bottom - 32, SWP_SHOWWINDOW);
  CenterWindow();
}

void CDrummetDlg::ShowLook(int index, Look which) {
  looks_[static_cast<size_t>(index)] = which;
  if (auto* picture = static_cast<CStatic*>(GetDlgItem(kPictureControls[index])))
    picture->SetBitmap(image(kPictureControls[index], which));
}

void CDrummetDlg::SelectTaskPicture(int control) {
  int index = IndexOf(control);
  if (index < 0) return;
  for (int i = 0; i < 6; ++i) ShowLook(i, i == index ? Look::Selected : Look::Normal);
  int code = index + 1;
  if (selected_picture_ == code) return;
  selected_picture_ = code;
  auto* banner = static_cast<CStatic*>(GetDlgItem(kBanner));
  Sleep(500);
  for (size_t frame = 0; frame < 3; ++frame) {
    if (frame) Sleep(50);
    banner_frame_ = static_cast<int>(shell::art::kPictures[static_cast<size_t>(index)].banner[frame]);
    if (banner)
      banner->SetBitmap(static_cast<HBITMAP>(banner_frames_[static_cast<size_t>(index) * 3 + frame].GetSafeHandle()));
  }
  SetDescriptionText(LookupString(kDescriptionKeys[index]));
}

void CDrummetDlg::SetDescriptionText(const CString& text) {
  SetDlgItemText(kDescription, text);
  if (!description_.GetSafeHwnd()) return;
  for (int pass = 0; pass < 2; ++pass) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.crTextColor = kWhite;
    description_.SetSel(0, -1);
    description_.SetSelectionCharFormat(format);
    description_.SetSel(0, 0);
  }
}

void CDrummetDlg::RelabelMenuBar() {
  HMENU bar = ::GetMenu(GetSafeHwnd());
  if (!bar) return;
  CMenu* menu = CMenu::FromHandle(bar);
  const char16_t* keys[2] = {u"ID_POPUP", u"ID_POPUPNAME1"};
  for (UINT position = 0; position < 2; ++position) {
    CMenu* popup = menu->GetSubMenu(static_cast<int>(position));
    if (!popup) continue;
    CString label = LookupString(keys[position]);
    ::ModifyMenuW(bar, position, MF_BYPOSITION | MF_POPUP | MF_STRING,
                  reinterpret_cast<UINT_PTR>(popup->GetSafeHmenu()), label);
  }
  ::DrawMenuBar(GetSafeHwnd());
}

void CDrummetDlg::RelabelMenuItems(CMenu* menu) {
  if (!menu) return;
  for (const MenuLabel& label : kMenuLabels) {
    if (label.command == shell::kCmdDriverInstallation && !ShellState.winPEMode) continue;
    if (menu->GetMenuState(label.command, MF_BYCOMMAND) == static_cast<UINT>(-1)) continue;
    menu->ModifyMenu(label.command, MF_BYCOMMAND | MF_STRING, label.command, LookupString(label.key));
  }
}

void CDrummetDlg::OnInitMenuPopup(CMenu* menu, UINT index, BOOL system_menu) {
  CBDialog::OnInitMenuPopup(menu, index, system_menu);
  if (system_menu) menu = GetSystemMenu(FALSE);
  if (!menu) return;
  HMENU handle = menu->GetSafeHmenu();
  MENUINFO style{};
  style.cbSize = sizeof style;
  style.fMask = MIM_STYLE;
  style.dwStyle = MNS_CHECKORBMP | MNS_AUTODISMISS;
  SetMenuInfo(handle, &style);
  RelabelMenuItems(menu);
  const int count = menu->GetMenuItemCount();
  for (int position = 0; position < count; ++position) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID | MIIM_FTYPE;
    if (!GetMenuItemInfoW(handle, static_cast<UINT>(position), TRUE, &item)) continue;
    // The icon is shared: DestroyIcon leaves it to the process.
    HICON icon = GetMenuIcon(item.wID);
    if (!icon || (item.fType & MFT_OWNERDRAW)) {
      if (icon) ::DestroyIcon(icon);
      continue;
    }
    MENUITEMINFOW bitmap{};
    bitmap.cbSize = sizeof bitmap;
    bitmap.fMask = MIIM_BITMAP | MIIM_FTYPE;
    bitmap.fType = MFT_STRING;
    bitmap.hbmpItem = HBMMENU_CALLBACK;
    SetMenuItemInfoW(handle, static_cast<UINT>(position), TRUE, &bitmap);
  }
}

HICON CDrummetDlg::GetMenuIcon(UINT id) {
  // Shared icons: the platform loads each once and never frees it.
  if (id < 0x10000)
    if (HICON icon = static_cast<HICON>(::LoadImageW(nullptr, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_SHARED)))
      return icon;
  std::u16string name;
  if (HMENU bar = ::GetMenu(GetSafeHwnd())) CMenu::FromHandle(bar)->GetMenuString(id, name, MF_BYCOMMAND);
  if (name.empty()) return nullptr;
  for (char16_t& c : name)
    if (c == u' ') c = u'_';
  return static_cast<HICON>(::LoadImageW(nullptr, name.c_str(), IMAGE_ICON, 16, 16, LR_SHARED));
}

namespace {

// The size of an icon's colour bitmap; false for a bad icon.
bool IconSize(HICON icon, SIZE* size) {
  ::ICONINFO info{};
  if (!icon || !::GetIconInfo(icon, &info)) return false;
  BITMAP colour{};
  const bool ok = ::GetObjectW(info.hbmColor, sizeof colour, &colour) == sizeof colour;
  if (ok) *size = {colour.bmWidth, colour.bmHeight};
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  return ok;
}

}  // namespace

void CDrummetDlg::OnMeasureItem(int id, LPMEASUREITEMSTRUCT item) {
  if (!item || item->CtlType != ODT_MENU) {
    CBDialog::OnMeasureItem(id, item);
    return;
  }
  SIZE size{16, 16};
  IconSize(GetMenuIcon(item->itemID), &size);
  item->itemWidth = static_cast<UINT>(size.cx);
  item->itemHeight = static_cast<UINT>(size.cy);
}

void CDrummetDlg::OnDrawItem(int id, LPDRAWITEMSTRUCT item) {
  if (!item || item->CtlType != ODT_MENU) {
    CBDialog::OnDrawItem(id, item);
    return;
  }
  HICON icon = GetMenuIcon(item->itemID);
  SIZE size{};
  if (!IconSize(icon, &size)) return;
  ::DrawIconEx(item->hDC, item->rcItem.left, item->rcItem.top, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
}

int CDrummetDlg::PictureUnder(CPoint client_point) const {
  CWnd* child = ChildWindowFromPoint(client_point);
  if (!child) return 0;
  int id = child->GetDlgCtrlID();
  for (int control : kHoverOrder)
    if (control == id) return id;
  return 0;
}

void CDrummetDlg::HandleMouse(UINT message, int control) {
  if (message == WM_MOUSEMOVE) {
    if (!cursor_remembered_) {
      cursor_remembered_ = true;
      normal_cursor_ = ::SetCursor(nullptr);
      ::SetCursor(normal_cursor_);
    }
    if (control) {
      int index = IndexOf(control);
      if (hover_flag_[static_cast<size_t>(index)] == 0) ShowLook(index, Look::Hover);
      hover_flag_[static_cast<size_t>(index)] = 2;
      for (int i = 0; i < 6; ++i)
        if (i != index && hover_flag_[static_cast<size_t>(i)]) {
          ShowLook(i, Look::Normal);
          hover_flag_[static_cast<size_t>(i)] = 0;
        }
      HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
      if (previous != ::LoadCursorW(nullptr, IDC_HAND)) normal_cursor_ = previous;
    } else {
      for (int i = 0; i < 6; ++i)
        if (hover_flag_[static_cast<size_t>(i)]) {
          ShowLook(i, Look::Normal);
          hover_flag_[static_cast<size_t>(i)] = 0;
        }
      if (selected_picture_ > 0 && selected_picture_ != 5) {
        ShowLook(selected_picture_ - 1, Look::Selected);
        hover_flag_[static_cast<size_t>(selected_picture_ - 1)] = 0;
      }
      ::SetCursor(normal_cursor_);
    }
    return;
  }
  if (message == WM_LBUTTONDOWN) {
    if (control) SelectTaskPicture(control);
    return;
  }
  if (message == WM_LBUTTONDBLCLK) {
    switch (control) {
      case 1007: shell::RunMainCommand(*this, shell::kCmdFilesMigration); break;
      case 1002: shell::RunMainCommand(*this, shell::kCmdDuplicatePicture); break;
      case 1003: shell::RunMainCommand(*this, shell::kCmdDeletePicture); break;
      case 1004: shell::RunMainCommand(*this, shell::kCmdScan); break;
      case 1006: shell::RunMainCommand(*this, shell::kCmdOneClick); break;
      default: break;
    }
  }
}

void CDrummetDlg::OnMouseMove(UINT flags, CPoint point) {
  HandleMouse(WM_MOUSEMOVE, PictureUnder(point));
  CBDialog::OnMouseMove(flags, point);
}

void CDrummetDlg::OnLButtonDown(UINT flags, CPoint point) {
  HandleMouse(WM_LBUTTONDOWN, PictureUnder(point));
  CBDialog::OnLButtonDown(flags, point);
}

void CDrummetDlg::OnLButtonDblClk(UINT flags, CPoint point) {
  HandleMouse(WM_LBUTTONDBLCLK, PictureUnder(point));
  CBDialog::OnLButtonDblClk(flags, point);
}

BOOL CDrummetDlg::PreTranslateMessage(MSG* msg) {
  // Escape skips the dialog's keyboard handling, so it never cancels the
  // main dialog. The pictures are plain bitmap statics: the mouse passes
  // through them to the dialog's own handlers.
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) return FALSE;
  return CBDialog::PreTranslateMessage(msg);
}

BOOL CDrummetDlg::OnCommand(WPARAM w, LPARAM l) {
  UINT command = LOWORD(w);
  UINT code = HIWORD(w);
  // Clicking into a text control hands the focus to the One Click picture.
  if ((code == EN_SETFOCUS && (command == kDescription || command == kHeading || command == kSubHeading)) ||
      (command == 1172 && l != 0)) {
    if (CWnd* one_click = GetDlgItem(1006)) one_click->SetFocus();
    return TRUE;
  }
  if (l == 0 && shell::RunMainCommand(*this, command)) return TRUE;
  return CBDialog::OnCommand(w, l);
}

void CDrummetDlg::ExitProgram() {
  if (IsWow64()) SendShadowRequest(u"/q");
  // A row ticked in the wizard is not kept past Exit, even when WinPE stays up.
  CloneSettings.checkedRow = -1;
  if (!ShellState.winPEMode) ExitProcess(0);
  if (MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_EXITSYSTEM"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES)
    RestartOrShutdown(kExitRestart);
}

void CDrummetDlg::OnClose() { ExitProgram(); }

BOOL CDrummetDlg::OnQueryEndSession() {
  if (CBDialog::OnQueryEndSession()) ExitProgram();
  return FALSE;
}

void CDrummetDlg::OnSysCommand(UINT id, LPARAM l) {
  if ((id & 0xFFF0) == kSysCommandAbout) {
    shell::RunMainCommand(*this, shell::kCmdAbout);
    return;
  }
  CBDialog::OnSysCommand(id, l);
}

HCURSOR CDrummetDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(icon_); }

BOOL CDrummetDlg::OnEraseBkgnd(CDC* dc) {
  CBDialog::OnEraseBkgnd(dc);
  CWnd* sub = GetDlgItem(kSubHeading);
  if (!dc || !sub) return TRUE;
  // The band spans the client's width at the sub-heading's rows, wherever the
  // layout (Windows or WinPE) put it.
  RECT r;
  sub->GetWindowRect(&r);
  ScreenToClient(&r);
  RECT client;
  GetClientRect(&client);
  dc->FillSolidRect(client.left, r.top, client.right - client.left, r.bottom - r.top, kSubHeadingBand);
  return TRUE;
}

HBRUSH CDrummetDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  HBRUSH brush = CBDialog::OnCtlColor(dc, wnd, ctl_color);
  int id = wnd ? wnd->GetDlgCtrlID() : 0;
  COLORREF colour;
  if (id == kDescription || id == kHeading || id == kTimeText) colour = kWhite;
  else if (id == kSubHeading || id == kRule) colour = kHeadingBlue;
  else return brush;
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(colour);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

void CDrummetDlg::OnTimer(UINT_PTR id) {
  if (one_click_timer_ && id == one_click_timer_) {
    if (++one_click_ticks_ >= 5) {
      KillTimer(one_click_timer_);
      one_click_timer_ = 0;
      RunOneClickCountdown();
    }
  } else if (id == kRemainingTimer) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    int64_t unix_seconds = static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
    std::string text = remaining_.Format(unix_seconds);
    CString shown = LookupString(u"IDS_RemainWINPETime");
    shown += u": ";
    shown += CString(std::u16string(text.begin(), text.end()).c_str());
    SetDlgItemText(kTimeText, shown);
  }
  CBDialog::OnTimer(id);
}

void CDrummetDlg::RunOneClickCountdown() {
  restartPromptText = LookupString(u"IDS_OTB");
  restartOkText = LookupString(u"IDS_STARTNOW");
  restartCancelText = LookupString(u"IDS_Cancel");
  restartAccepted = 0;
  restartPromptFixedTexts = 0;
  {
    CRestart prompt(nullptr);
    prompt.DoModal();
  }
  restartPromptFixedTexts = 1;
  if (!restartAccepted) {
    ShellState.oneClickAutoMode = false;
    return;
  }
  ShellState.oneClickAutoMode = true;
  shell::RunMainCommand(*this, shell::kCmdOneClick);
  ShellState.oneClickAutoMode = false;
}
