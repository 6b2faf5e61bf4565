// The dialog of the heading tests (IDD_HEADING): a red banner picture, a
// dark blue dialog background, white text in the rich edit over the banner
// (a colour of its own), and two read-only rich edits beside it whose
// colours the dialog chooses: yellow text with no background for IDC_HEAD,
// a green background under the default black text for IDC_OPAQUE; and
// where each control lies in a picture of the whole window.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>

#include "fixtures/resource.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

namespace ui_test {

constexpr COLORREF kBannerRed = RGB(200, 0, 0);
constexpr COLORREF kDialogBlue = RGB(0, 40, 110);
constexpr COLORREF kHeadYellow = RGB(255, 220, 0);
constexpr COLORREF kOpaqueGreen = RGB(0, 160, 0);

class HeadingDialog : public CDialog {
 public:
  HeadingDialog() : CDialog(IDD_HEADING) {}
  int colour_requests = 0;  // WM_CTLCOLORDLG asked of the dialog

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    CClientDC screen(this);
    RECT r;
    ::GetClientRect(::GetDlgItem(m_hWnd, IDC_BANNER), &r);
    banner_.CreateCompatibleBitmap(&screen, r.right, r.bottom);
    CDC memory;
    memory.CreateCompatibleDC(&screen);
    CBitmap* old = memory.SelectObject(&banner_);
    memory.FillSolidRect(&r, kBannerRed);
    memory.SelectObject(old);
    static_cast<CStatic*>(GetDlgItem(IDC_BANNER))->SetBitmap(static_cast<HBITMAP>(banner_.GetSafeHandle()));
    SetDlgItemText(IDC_RICH, u"Description");
    CHARFORMAT2W white{};
    white.cbSize = sizeof white;
    white.dwMask = CFM_COLOR;
    white.crTextColor = RGB(255, 255, 255);
    GetDlgItem(IDC_RICH)->SendMessage(EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&white));
    SetDlgItemText(IDC_HEAD, u"Heading");
    SetDlgItemText(IDC_OPAQUE, u"Opaque");
    return TRUE;
  }

  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_CTLCOLORDLG) {
      ++colour_requests;
      return reinterpret_cast<LRESULT>(background_.GetSafeHandle());
    }
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(l) == ::GetDlgItem(m_hWnd, IDC_HEAD)) {
      ::SetTextColor(reinterpret_cast<HDC>(w), kHeadYellow);
      ::SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    }
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(l) == ::GetDlgItem(m_hWnd, IDC_OPAQUE))
      return reinterpret_cast<LRESULT>(green_.GetSafeHandle());
    return CDialog::WindowProc(message, w, l);
  }

  // A control's client area in a picture of the whole window.
  QRect ControlInPicture(int id) const {
    RECT window, control;
    ::GetWindowRect(m_hWnd, &window);
    HWND item = ::GetDlgItem(m_hWnd, id);
    ::GetClientRect(item, &control);
    POINT origin{0, 0};
    ::ClientToScreen(item, &origin);
    return QRect(origin.x - window.left, origin.y - window.top, control.right, control.bottom);
  }

 private:
  CBitmap banner_;
  CBrush background_{kDialogBlue};
  CBrush green_{kOpaqueGreen};
};

// Pixels of `area` in `image` for which `test` holds.
template <class Test>
int CountPixels(const QImage& image, const QRect& area, Test test) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.valid(x, y) && test(QColor(image.pixel(x, y)))) ++n;
  return n;
}

inline bool IsRed(const QColor& c) { return c.red() > 150 && c.green() < 60 && c.blue() < 60; }
inline bool IsBlue(const QColor& c) { return c.red() < 40 && c.green() < 80 && c.blue() > 80; }
inline bool IsWhite(const QColor& c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }
inline bool IsDark(const QColor& c) { return qGray(c.rgb()) < 40; }
inline bool IsBlack(const QColor& c) { return c.red() < 40 && c.green() < 40 && c.blue() < 40; }
inline bool IsYellow(const QColor& c) { return c.red() > 200 && c.green() > 180 && c.blue() < 60; }
inline bool IsGreen(const QColor& c) { return c.red() < 60 && c.green() > 120 && c.blue() < 60; }

// A picture of the dialog (from any renderer) shows what lies beneath the
// transparent rich edits, and their texts over it.
inline void ExpectHeadingsOverWhatLiesBeneath(const QImage& picture, const HeadingDialog& dialog) {
  QRect over_banner = dialog.ControlInPicture(IDC_RICH);
  QRect over_background = dialog.ControlInPicture(IDC_HEAD);
  QRect opaque = dialog.ControlInPicture(IDC_OPAQUE);
  // Below the text of each, what shows is what lies beneath.
  auto corner = [&](const QRect& r) { return QColor(picture.pixel(r.right() - 2, r.bottom() - 2)); };
  EXPECT_TRUE(IsRed(corner(over_banner))) << corner(over_banner).name().toStdString();
  EXPECT_TRUE(IsBlue(corner(over_background))) << corner(over_background).name().toStdString();
  EXPECT_TRUE(IsGreen(corner(opaque))) << "the dialog's brush: " << corner(opaque).name().toStdString();
  // The texts show: white over the banner (which is above the rich edit in
  // the z-order but painted first), yellow over the background as the
  // dialog chose, black (the default) over green.
  EXPECT_GT(CountPixels(picture, over_banner, IsWhite), 10);
  EXPECT_GT(CountPixels(picture, over_background, IsYellow), 10);
  EXPECT_EQ(CountPixels(picture, over_background, IsBlack), 0);
  EXPECT_GT(CountPixels(picture, opaque, IsDark), 10);
  // Nothing of the rich edits' own white fills the transparent ones.
  EXPECT_LT(CountPixels(picture, over_background, IsWhite), over_background.width() * over_background.height() / 20);
}

}  // namespace ui_test
