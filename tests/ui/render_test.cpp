// Pictures of the window model without a view: transparent rich edits let
// what lies beneath them show, overlapping siblings stack as they paint;
// and marking a window for repainting tells the model's observers.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "heading_dialog.h"
#include "platform/core/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/render.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

using ui_test::CountPixels;
using ui_test::HeadingDialog;
using ui_test::IsRed;
using ui_test::IsWhite;

namespace {

// Opens the dialog modeless and lets it paint.
void OpenPainted(HeadingDialog& dialog) {
  ASSERT_TRUE(dialog.Create(IDD_HEADING));
  ::ShowWindow(dialog.m_hWnd, SW_SHOW);
  ui_test::PumpMessages();
}

TEST(RenderedHeadings, TransparentRichEditsShowThePictureAndBackgroundBeneath) {
  HeadingDialog dialog;
  OpenPainted(dialog);
  platform::ui::Window* w = platform::ui::FindWindowModel(dialog.m_hWnd);
  ASSERT_NE(w, nullptr);
  ui_test::ExpectHeadingsOverWhatLiesBeneath(platform::ui::RenderWindow(*w), dialog);
  dialog.DestroyWindow();
}

TEST(RenderedHeadings, ASiblingThatClipsItsSiblingsStaysUnderThem) {
  HeadingDialog dialog;
  OpenPainted(dialog);
  HWND rich = ::GetDlgItem(dialog.m_hWnd, IDC_RICH);
  ::SetWindowLongW(rich, GWL_STYLE, ::GetWindowLongW(rich, GWL_STYLE) | WS_CLIPSIBLINGS);
  platform::ui::Window* w = platform::ui::FindWindowModel(dialog.m_hWnd);
  QImage picture = platform::ui::RenderWindow(*w);
  QRect over_banner = dialog.ControlInPicture(IDC_RICH);
  EXPECT_EQ(CountPixels(picture, over_banner, IsWhite), 0);
  EXPECT_EQ(CountPixels(picture, over_banner, IsRed), over_banner.width() * over_banner.height());
  dialog.DestroyWindow();
}

// A report list view draws its rows' texts whatever its extended styles:
// check boxes and grid lines together once left every row empty.
TEST(RenderedListView, RowsShowTheirTextsWithCheckBoxesAndGridLines) {
  const struct {
    const char* what;
    DWORD ex_style;
  } cases[] = {
      {"plain", 0},
      {"check boxes", LVS_EX_CHECKBOXES},
      {"grid lines", LVS_EX_GRIDLINES},
      {"check boxes and grid lines", LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES},
      {"with full-row select", LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CDialog page(IDD_CONTROLS);
    ASSERT_TRUE(page.Create(IDD_CONTROLS));
    auto* list = static_cast<CListCtrl*>(page.GetDlgItem(IDC_LIST));
    list->SetExtendedStyle(c.ex_style);
    list->InsertColumn(0, u"Disk", LVCFMT_LEFT, 110);
    list->InsertColumn(1, u"Size", LVCFMT_LEFT, 80);
    for (int row = 0; row < 3; ++row) {
      list->InsertItem(row, u"WWWW");
      list->SetItemText(row, 1, u"MMMM");
    }
    list->SetCheck(1, TRUE);
    platform::ui::Window* w = platform::ui::FindWindowModel(list->m_hWnd);
    ASSERT_NE(w, nullptr);
    const QImage picture = platform::ui::RenderWindow(*w);
    // Each row's cells hold black text pixels right of the check box.
    for (int row = 0; row < 3; ++row) {
      RECT r{};
      ASSERT_TRUE(list->GetItemRect(row, &r, LVIR_BOUNDS));
      for (const auto& [left, right] : {std::pair{20, 110}, std::pair{112, 190}}) {
        int black = 0;
        for (int y = r.top; y < r.bottom; ++y)
          for (int x = left; x < right; ++x)
            black += picture.valid(x, y) && (picture.pixel(x, y) & 0xFFFFFF) == 0;
        EXPECT_GE(black, 10) << "row " << row << " from x " << left;
      }
    }
    page.DestroyWindow();
  }
}

// Filled rectangle statics take their colours; a rich edit given a bold
// font shows its text bold (more ink than the same text in the normal one).
TEST(RenderedControls, FilledRectanglesAndRichEditFonts) {
  CDialog page(IDD_CONTROLS);
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  platform::ui::Window* parent = platform::ui::FindWindowModel(page.m_hWnd);
  ASSERT_NE(parent, nullptr);
  auto make = [&](const char16_t* class_name, DWORD style, int width, int height) {
    platform::ui::CreateParams p;
    p.class_name = class_name;
    p.style = WS_CHILD | WS_VISIBLE | style;
    p.id = 4000;
    p.parent = parent;
    p.rect = {0, 0, width, height};
    return platform::ui::CreateWindowModel(p);
  };
  const struct {
    DWORD type;
    QColor colour;
  } rects[] = {{SS_BLACKRECT, QColor(0, 0, 0)}, {SS_GRAYRECT, QColor(128, 128, 128)}, {SS_WHITERECT, QColor(255, 255, 255)}};
  for (const auto& r : rects) {
    SCOPED_TRACE(r.type);
    platform::ui::Window* w = make(u"Static", r.type, 30, 20);
    ASSERT_NE(w, nullptr);
    QImage shot = platform::ui::RenderWindow(*w).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(CountPixels(shot, QRect(0, 0, 30, 20), [&](const QColor& p) { return p.rgb() == r.colour.rgb(); }), 600);
    ::DestroyWindow(w->handle);
  }
  auto ink = [&](int weight) {
    platform::ui::Window* w = make(u"RICHEDIT50W", ES_READONLY, 300, 30);
    HWND h = w->handle;
    HFONT font = ::CreateFontW(-15, 0, 0, 0, weight, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
    ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::SetWindowTextW(h, u"Install the RAID driver");
    QImage shot = platform::ui::RenderWindow(*platform::ui::FindWindowModel(h)).convertToFormat(QImage::Format_RGB32);
    ::DestroyWindow(h);
    ::DeleteObject(font);
    return CountPixels(shot, QRect(0, 0, 300, 30), [](const QColor& p) { return qGray(p.rgb()) < 100; });
  };
  const int regular = ink(FW_NORMAL), bold = ink(FW_BOLD);
  EXPECT_GT(regular, 50);
  EXPECT_GT(bold, regular * 5 / 4) << "bold " << bold << " regular " << regular;
  page.DestroyWindow();
}

// A multi-line rich edit wraps its text at its rectangle's width, onto the
// lines below; a single-line one keeps one line, cut at its right edge.
TEST(RenderedControls, MultiLineRichEditsWrapTheirTextInTheirRectangle) {
  CDialog page(IDD_CONTROLS);
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  platform::ui::Window* parent = platform::ui::FindWindowModel(page.m_hWnd);
  ASSERT_NE(parent, nullptr);
  HFONT font = ::CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  struct Case {
    DWORD style;
    const char16_t* text;
    bool ink_below_first_line;
  };
  const Case cases[] = {
      {ES_MULTILINE | ES_READONLY, u"Install the RAID driver before the copy starts", true},
      {ES_READONLY, u"Install the RAID driver before the copy starts", false},
      {ES_MULTILINE | ES_READONLY, u"Install", false},
      {ES_MULTILINE | ES_READONLY | WS_HSCROLL, u"Install the RAID driver before the copy starts", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.text) + " style " + std::to_string(c.style));
    platform::ui::CreateParams p;
    p.class_name = u"RichEdit20W";
    p.style = WS_CHILD | WS_VISIBLE | c.style;
    p.id = 4001;
    p.parent = parent;
    p.rect = {0, 0, 120, 70};
    platform::ui::Window* w = platform::ui::CreateWindowModel(p);
    ASSERT_NE(w, nullptr);
    HWND h = w->handle;
    ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::SetWindowTextW(h, c.text);
    QImage shot = platform::ui::RenderWindow(*w).convertToFormat(QImage::Format_RGB32);
    auto dark = [](const QColor& px) { return qGray(px.rgb()) < 100; };
    EXPECT_GT(CountPixels(shot, QRect(0, 0, 120, 20), dark), 20) << "the first line shows";
    EXPECT_EQ(CountPixels(shot, QRect(0, 24, 120, 46), dark) > 20, c.ink_below_first_line);
    ::DestroyWindow(h);
  }
  ::DeleteObject(font);
  page.DestroyWindow();
}

// Marking for repainting tells the observers which windows will repaint.
TEST(Invalidation, ObserversHearOfEveryWindowMarkedForRepainting) {
  struct Recorder : platform::ui::WindowObserver {
    std::set<int> ids;  // control ids, 0 for the dialog
    void window_invalidated(platform::ui::Window& w) override { ids.insert(w.id); }
  } recorder;
  struct Case {
    const char* what;
    DWORD dialog_style;  // added to the dialog's style
    int hidden;          // a control hidden before, or 0
    std::function<void(HeadingDialog&)> act;
    std::set<int> told;
  } cases[] = {
      {"InvalidateRect on a control", 0, 0,
       [](HeadingDialog& d) { ::InvalidateRect(::GetDlgItem(d.m_hWnd, IDC_HEAD), nullptr, TRUE); }, {IDC_HEAD}},
      {"CWnd::Invalidate on a control", 0, 0, [](HeadingDialog& d) { d.GetDlgItem(IDC_OPAQUE)->Invalidate(); },
       {IDC_OPAQUE}},
      {"RedrawWindow on a control", 0, 0,
       [](HeadingDialog& d) { ::RedrawWindow(::GetDlgItem(d.m_hWnd, IDC_RICH), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); },
       {IDC_RICH}},
      // The dialog's painting covers its children: they repaint over it.
      {"InvalidateRect on the dialog", 0, 0, [](HeadingDialog& d) { ::InvalidateRect(d.m_hWnd, nullptr, TRUE); },
       {0, IDC_BANNER, IDC_RICH, IDC_HEAD, IDC_OPAQUE}},
      {"InvalidateRect on a dialog that clips its children", WS_CLIPCHILDREN, 0,
       [](HeadingDialog& d) { ::InvalidateRect(d.m_hWnd, nullptr, TRUE); }, {0}},
      {"RedrawWindow with its children on a dialog that clips them", WS_CLIPCHILDREN, 0,
       [](HeadingDialog& d) { ::RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN); },
       {0, IDC_BANNER, IDC_RICH, IDC_HEAD, IDC_OPAQUE}},
      // Hidden controls do not paint.
      {"a hidden control is not told", 0, IDC_HEAD,
       [](HeadingDialog& d) { ::InvalidateRect(d.m_hWnd, nullptr, TRUE); }, {0, IDC_BANNER, IDC_RICH, IDC_OPAQUE}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HeadingDialog dialog;
    OpenPainted(dialog);
    if (c.hidden) ::ShowWindow(::GetDlgItem(dialog.m_hWnd, c.hidden), SW_HIDE);
    if (c.dialog_style) ::SetWindowLongW(dialog.m_hWnd, GWL_STYLE, ::GetWindowLongW(dialog.m_hWnd, GWL_STYLE) | c.dialog_style);
    platform::ui::AddWindowObserver(&recorder);
    recorder.ids.clear();
    c.act(dialog);
    platform::ui::RemoveWindowObserver(&recorder);
    EXPECT_EQ(recorder.ids, c.told);
    dialog.DestroyWindow();
  }
}

}  // namespace
