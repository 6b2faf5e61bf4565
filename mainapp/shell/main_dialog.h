// CDrummetDlg: the main window of Drummetworks (dialog 102). A banner, a
// description and five picture buttons, one per tool: hovering shows a
// picture's hover image and the hand cursor, a click selects it (three
// banner frames and the tool's description), a double click starts the tool.
// The menu bar (129 under WinPE, 216 under Windows) carries the same tools,
// relabelled from the language texts. Under WinPE a timer shows the
// remaining WinPE time; "/B ONECLICK" on the command line starts the
// one-click countdown.
#pragma once

#include <array>

#include "mainapp/shell/bitmap_dialog.h"
#include "mainapp/shell/picture_window.h"
#include "mainapp/shell/remaining_time.h"
#include "mainapp/shell/transparent_static.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"

class CDrummetDlg : public CBDialog {
 public:
  static constexpr UINT IDD = 102;
  static constexpr UINT kBanner = 1001;
  static constexpr UINT kDescription = 1072;
  static constexpr UINT kHeading = 1193;
  static constexpr UINT kSubHeading = 1194;
  static constexpr UINT kRule = 1173;
  static constexpr UINT kTimeText = 1183;
  static constexpr UINT kOneClickTimer = 1228;
  static constexpr UINT kRemainingTimer = 1224;
  static constexpr UINT kWinPEMenu = 129;
  static constexpr UINT kWindowsMenu = 216;

  // Which image a picture shows.
  enum class Look { Normal = 0, Selected = 1, Hover = 2 };

  explicit CDrummetDlg(CWnd* parent = nullptr);
  ~CDrummetDlg() override;

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnCommand(WPARAM w, LPARAM l) override;
  // Enter does not leave the main dialog: every way out goes through
  // ExitProgram, so WinPE always asks before it shuts the system down.
  void OnOK() override {}
  // Escape and the Cancel command never close the main dialog either.
  void OnCancel() override {}

  // Leaves the program: under Windows the process ends at once; under
  // WinPE the user is asked, and Yes shuts the system down.
  void ExitProgram();
  // The click routine of the picture with `control` id.
  void SelectTaskPicture(int control);
  void SetDescriptionText(const CString& text);
  void RelabelMenuBar();
  void RelabelMenuItems(CMenu* menu);
  // The 16 x 16 icon of a menu command: the icon resource of its number,
  // else the one named after the item's text with blanks as "_"; null when
  // there is none. Icons are shared: loaded once per process, never freed.
  HICON GetMenuIcon(UINT id);
  // The picture code (1-6) of a picture control, 0 for any other control.
  static int PictureCode(int control);

  // For tests and the view: the selected picture's code, each picture's
  // look, the remaining-time clock.
  int selected_picture() const { return selected_picture_; }
  Look look(int control) const;
  int banner_frame() const { return banner_frame_; }
  HBITMAP image(int control, Look look);
  // The bitmap resource chosen for a picture's look (English or other set).
  UINT image_id(int control, Look look) const;

  void OnTimer(UINT_PTR id);
  void OnClose();
  BOOL OnQueryEndSession();
  void OnSysCommand(UINT id, LPARAM l);
  HCURSOR OnQueryDragIcon();
  void OnMouseMove(UINT flags, CPoint point);
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  void OnInitMenuPopup(CMenu* menu, UINT index, BOOL system_menu);
  void OnMeasureItem(int id, LPMEASUREITEMSTRUCT item);
  void OnDrawItem(int id, LPDRAWITEMSTRUCT item);
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);
  // The background, then a pale band behind the sub-heading: its blue text
  // does not read on the navy that carries the white heading.
  BOOL OnEraseBkgnd(CDC* dc);

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  void ShowLook(int index, Look look);
  void HandleMouse(UINT message, int control);
  int PictureUnder(CPoint client_point) const;
  void RunOneClickCountdown();
  void LayOutForWinPE();

  HICON icon_ = nullptr;
  std::array<CBitmap, 18> picture_images_;
  std::array<UINT, 18> picture_image_ids_{};
  std::array<CBitmap, 21> banner_frames_;
  std::array<uint8_t, 6> hover_flag_{};
  std::array<Look, 6> looks_{};
  int selected_picture_ = 0;
  int banner_frame_ = 0;  // bitmap id of the frame on show, 0 before the first
  CFont text_font_;
  CRichEditCtrl description_;
  CTransparentStatic2 time_text_;  // the remaining WinPE time
  // Made and released with the dialog; no window is attached to it and no
  // picture loaded, so it draws nothing.
  CPictureWindow picture_window_;
  HCURSOR normal_cursor_ = nullptr;
  bool cursor_remembered_ = false;
  int one_click_ticks_ = 0;
  UINT_PTR one_click_timer_ = 0;
  shell::RemainingTimeClock remaining_;
};

// The menu bar of the main dialog that is open.
extern CMenu mainMenu;
