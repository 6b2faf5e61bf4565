// Drawing checked by pixels: pies in the platform's arc direction, block
// transfers with their raster operations, rectangles and lines with their
// exclusive ends, clipping, text placement, and pictures from resources
// (the fixture pictures were written by a separate generator with known
// pixel values).
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "fixtures/resource.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/render.h"
#include "platform/ui/window.h"

namespace {

struct Canvas {
  CDC dc;
  CBitmap bitmap;
  CBitmap* old = nullptr;
  Canvas(int w, int h, COLORREF fill) {
    dc.CreateCompatibleDC(nullptr);
    bitmap.CreateCompatibleBitmap(&dc, w, h);
    old = dc.SelectObject(&bitmap);
    dc.FillSolidRect(0, 0, w, h, fill);
  }
  ~Canvas() { dc.SelectObject(old); }
};

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kMagenta = RGB(255, 0, 255);
constexpr COLORREF kNavy = RGB(0, 0, 128);

TEST(Gdi, PieRunsCounterClockwiseFromStartToEnd) {
  // The disk-space pie: from the circle's leftmost point to the angle point
  // at a = 90 degrees (straight up), counter-clockwise: three quarters.
  Canvas c(100, 100, kWhite);
  CBrush magenta(kMagenta);
  CPen none(PS_NULL, 0, 0);
  c.dc.SelectObject(&magenta);
  c.dc.SelectObject(&none);
  double a = M_PI / 2;
  POINT end{static_cast<LONG>(std::lround(50 - 50 * std::cos(a))), static_cast<LONG>(std::lround(50 - 50 * std::sin(a)))};
  ASSERT_TRUE(c.dc.Pie(0, 0, 100, 100, 0, 50, end.x, end.y));
  struct Case {
    int x, y;
    COLORREF want;
  };
  const Case cases[] = {
      {25, 25, kWhite},    // upper left: outside the sweep
      {25, 75, kMagenta},  // lower left
      {75, 75, kMagenta},  // lower right
      {75, 25, kMagenta},  // upper right
      {2, 2, kWhite},      // corner outside the circle
      {97, 97, kWhite},
  };
  for (const auto& k : cases) EXPECT_EQ(c.dc.GetPixel(k.x, k.y), k.want) << k.x << "," << k.y;
  // The second pie goes from the angle point back to the leftmost point:
  // exactly the quarter the first left out.
  CBrush navy(kNavy);
  c.dc.SelectObject(&navy);
  c.dc.Pie(0, 0, 100, 100, end.x, end.y, 0, 50);
  EXPECT_EQ(c.dc.GetPixel(25, 25), kNavy);
  EXPECT_EQ(c.dc.GetPixel(75, 75), kMagenta);
  c.dc.SelectStockObject(NULL_BRUSH);
  c.dc.SelectStockObject(BLACK_PEN);
}

TEST(Gdi, PieOutlineUsesThePen) {
  Canvas c(60, 60, kWhite);
  CPen yellow(PS_SOLID, 2, RGB(255, 255, 42));
  CBrush magenta(kMagenta);
  CPen* old_pen = c.dc.SelectObject(&yellow);
  CBrush* old_brush = c.dc.SelectObject(&magenta);
  c.dc.Pie(0, 0, 60, 60, 0, 30, 0, 30);  // equal radials: the whole ellipse
  EXPECT_EQ(c.dc.GetPixel(30, 1), RGB(255, 255, 42));
  EXPECT_EQ(c.dc.GetPixel(45, 40), kMagenta);
  EXPECT_EQ(c.dc.GetPixel(15, 30), RGB(255, 255, 42));  // the radial from the centre to the start
  c.dc.SelectObject(old_pen);
  c.dc.SelectObject(old_brush);
}

TEST(Gdi, BitBltRasterOperationsOnResourceBitmap) {
  CBitmap four;
  ASSERT_TRUE(four.LoadBitmap(IDB_FOUR));
  BITMAP info{};
  four.GetBitmap(&info);
  EXPECT_EQ(info.bmWidth, 4);
  EXPECT_EQ(info.bmHeight, 2);
  CDC src;
  src.CreateCompatibleDC(nullptr);
  CBitmap* old = src.SelectObject(&four);
  // Top row red, green, blue, white; bottom row black, yellow, magenta, cyan.
  const COLORREF top[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), kWhite};
  const COLORREF bottom[] = {RGB(0, 0, 0), RGB(255, 255, 0), kMagenta, RGB(0, 255, 255)};
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(src.GetPixel(x, 0), top[x]);
    EXPECT_EQ(src.GetPixel(x, 1), bottom[x]);
  }
  struct Case {
    DWORD rop;
    COLORREF background;
    COLORREF want_at_red;  // what lands where the red pixel goes
  };
  const COLORREF bg = RGB(0x0F, 0xF0, 0x81);
  const Case cases[] = {
      {SRCCOPY, bg, RGB(255, 0, 0)},
      {SRCAND, bg, RGB(0x0F & 255, 0xF0 & 0, 0x81 & 0)},
      {SRCPAINT, bg, RGB(0x0F | 255, 0xF0 | 0, 0x81 | 0)},
  };
  for (const auto& k : cases) {
    Canvas dst(10, 10, k.background);
    ASSERT_TRUE(dst.dc.BitBlt(3, 4, 4, 2, &src, 0, 0, k.rop));
    EXPECT_EQ(dst.dc.GetPixel(3, 4), k.want_at_red) << std::hex << k.rop;
    EXPECT_EQ(dst.dc.GetPixel(2, 4), k.background);  // left of the target
    EXPECT_EQ(dst.dc.GetPixel(7, 4), k.background);  // right of it
    COLORREF white_result = k.rop == SRCAND ? k.background : kWhite;
    EXPECT_EQ(dst.dc.GetPixel(6, 4), white_result);
  }
  // StretchBlt doubles each pixel.
  Canvas big(8, 4, kWhite);
  ASSERT_TRUE(big.dc.StretchBlt(0, 0, 8, 4, &src, 0, 0, 4, 2, SRCCOPY));
  EXPECT_EQ(big.dc.GetPixel(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(big.dc.GetPixel(2, 0), RGB(0, 255, 0));
  EXPECT_EQ(big.dc.GetPixel(7, 3), RGB(0, 255, 255));
  src.SelectObject(old);
}

TEST(Gdi, RectanglesLinesAndClipping) {
  Canvas c(40, 40, kWhite);
  CPen black(PS_SOLID, 1, RGB(0, 0, 0));
  CBrush blue(RGB(0, 0, 255));
  CPen* op = c.dc.SelectObject(&black);
  CBrush* ob = c.dc.SelectObject(&blue);
  c.dc.Rectangle(10, 10, 20, 20);
  EXPECT_EQ(c.dc.GetPixel(10, 10), RGB(0, 0, 0));
  EXPECT_EQ(c.dc.GetPixel(19, 19), RGB(0, 0, 0));  // the frame ends inside
  EXPECT_EQ(c.dc.GetPixel(20, 20), kWhite);
  EXPECT_EQ(c.dc.GetPixel(15, 15), RGB(0, 0, 255));
  // LineTo leaves out its end point.
  c.dc.MoveTo(0, 30);
  c.dc.LineTo(10, 30);
  EXPECT_EQ(c.dc.GetPixel(0, 30), RGB(0, 0, 0));
  EXPECT_EQ(c.dc.GetPixel(9, 30), RGB(0, 0, 0));
  EXPECT_EQ(c.dc.GetPixel(10, 30), kWhite);
  // FillRect excludes right and bottom; excluded areas stay untouched.
  c.dc.ExcludeClipRect(30, 0, 35, 5);
  CRect r(25, 0, 40, 10);
  CBrush green(RGB(0, 255, 0));
  c.dc.FillRect(&r, &green);
  EXPECT_EQ(c.dc.GetPixel(25, 0), RGB(0, 255, 0));
  EXPECT_EQ(c.dc.GetPixel(39, 9), RGB(0, 255, 0));
  EXPECT_EQ(c.dc.GetPixel(25, 10), kWhite);
  EXPECT_EQ(c.dc.GetPixel(31, 1), CLR_INVALID);  // excluded from the DC
  c.dc.SelectObject(op);
  c.dc.SelectObject(ob);
  // Out-of-range reads and bad handles fail without touching anything.
  EXPECT_EQ(c.dc.GetPixel(40, 0), CLR_INVALID);
  EXPECT_EQ(c.dc.GetPixel(-1, 0), CLR_INVALID);
  EXPECT_EQ(::GetPixel(reinterpret_cast<HDC>(0x55), 0, 0), CLR_INVALID);
  EXPECT_FALSE(::BitBlt(reinterpret_cast<HDC>(0x55), 0, 0, 1, 1, c.dc.m_hDC, 0, 0, SRCCOPY));
  EXPECT_EQ(::CreateCompatibleBitmap(nullptr, 0, 10), nullptr);
  EXPECT_EQ(::CreateCompatibleBitmap(nullptr, 100000, 100000), nullptr);
}

TEST(Gdi, DrawTextCentresASingleLine) {
  Canvas c(200, 40, kWhite);
  CFont font;
  font.CreateFont(-14, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  CFont* of = c.dc.SelectObject(&font);
  c.dc.SetBkMode(TRANSPARENT);
  c.dc.SetTextColor(RGB(0, 0, 0));
  CRect box(0, 0, 200, 40);
  c.dc.DrawText(u"Centred", &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  int minx = 1000, maxx = -1, miny = 1000, maxy = -1;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x)
      if (c.dc.GetPixel(x, y) != kWhite) {
        minx = std::min(minx, x);
        maxx = std::max(maxx, x);
        miny = std::min(miny, y);
        maxy = std::max(maxy, y);
      }
  ASSERT_GE(maxx, 0) << "nothing was drawn";
  EXPECT_NEAR((minx + maxx) / 2.0, 100, 4);
  EXPECT_NEAR((miny + maxy) / 2.0, 20, 4);
  EXPECT_GT(maxx - minx, 40);
  c.dc.SelectObject(of);
}

TEST(Gdi, IconsAndImageLists) {
  HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_ORANGE));
  ASSERT_NE(icon, nullptr);
  Canvas c(8, 8, kWhite);
  ASSERT_TRUE(DrawIconEx(c.dc.m_hDC, 2, 2, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.dc.GetPixel(2, 2), RGB(255, 128, 0));
  EXPECT_EQ(c.dc.GetPixel(4, 4), kWhite);
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(9999)), nullptr);
  CImageList list;
  ASSERT_TRUE(list.Create(2, 2, ILC_COLOR32, 2, 2));
  EXPECT_EQ(list.Add(icon), 0);
  CBitmap four;
  four.LoadBitmap(IDB_FOUR);
  EXPECT_EQ(list.Add(&four, static_cast<CBitmap*>(nullptr)), 1);  // a 4-wide strip adds two images
  EXPECT_EQ(list.GetImageCount(), 3);
  ASSERT_TRUE(list.Draw(&c.dc, 2, CPoint(6, 6), ILD_NORMAL));
  EXPECT_EQ(c.dc.GetPixel(6, 6), RGB(0, 0, 255));
  EXPECT_GE(ImageList_GetImageCount(platform::ui::SystemImageList()), 4);
  DestroyIcon(icon);
}

TEST(Gdi, WindowPaintLandsInTheScreenshot) {
  struct Painter : CWnd {
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
      if (m == WM_PAINT) {
        CPaintDC dc(this);
        dc.FillSolidRect(0, 0, 10, 10, RGB(0, 0, 128));
        return 0;
      }
      return CWnd::WindowProc(m, w, l);
    }
  } wnd;
  ASSERT_TRUE(wnd.CreateEx(0, u"", u"Paint", WS_POPUP | WS_VISIBLE, CRect(5, 5, 45, 45), nullptr, 0));
  wnd.UpdateWindow();
  auto* w = platform::ui::FindWindowModel(wnd.m_hWnd);
  QImage shot = platform::ui::RenderWindow(*w);
  EXPECT_EQ(shot.pixel(3, 3), qRgb(0, 0, 128));
  EXPECT_EQ(shot.pixel(20, 20), qRgb(240, 240, 240));  // erased with the face colour
  // The screen DC sees it at its screen position.
  CDC* screen = CDC::FromHandle(::GetDC(nullptr));
  EXPECT_EQ(screen->GetPixel(8, 8), RGB(0, 0, 128));
  ::ReleaseDC(nullptr, screen->m_hDC);
  wnd.DestroyWindow();
}

}  // namespace

namespace {

// A label over a painted background: with WM_CTLCOLORSTATIC answering the
// null brush in transparent mode, the background shows through.
class BackdropPage : public CDialog {
 public:
  explicit BackdropPage(bool transparent) : CDialog(IDD_MAIN), transparent_(transparent) {}

 protected:
  BOOL OnEraseBkgnd(CDC* dc) {
    CRect r;
    GetClientRect(&r);
    dc->FillSolidRect(&r, RGB(0, 0, 128));
    return TRUE;
  }
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
    if (transparent_ && wnd && wnd->GetDlgCtrlID() == IDC_LABEL) {
      dc->SetBkMode(TRANSPARENT);
      dc->SetTextColor(RGB(255, 255, 255));
      return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    return CWnd::OnCtlColor(dc, wnd, kind);
  }
  DECLARE_MESSAGE_MAP()

 private:
  bool transparent_;
};
BEGIN_MESSAGE_MAP(BackdropPage, CDialog)
  ON_WM_ERASEBKGND()
  ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

TEST(Gdi, TransparentLabelShowsTheParentsBackground) {
  for (bool transparent : {true, false}) {
    BackdropPage page(transparent);
    ASSERT_TRUE(page.Create(IDD_MAIN));
    page.ShowWindow(SW_SHOW);
    page.UpdateWindow();
    CRect label;
    page.GetDlgItem(IDC_LABEL)->GetWindowRect(&label);
    CRect frame;
    page.GetWindowRect(&frame);
    auto* w = platform::ui::FindWindowModel(page.m_hWnd);
    QImage shot = platform::ui::RenderWindow(*w);
    // The label's right end holds no text ("Welcome" is short).
    QPoint probe(label.right - frame.left - 3, label.top - frame.top + 2);
    QRgb want = transparent ? qRgb(0, 0, 128) : qRgb(240, 240, 240);
    EXPECT_EQ(shot.pixel(probe), want) << transparent;
    // Away from the label the painted background shows either way.
    EXPECT_EQ(shot.pixel(probe.x(), probe.y() + 40), qRgb(0, 0, 128));
    page.DestroyWindow();
  }
}

TEST(Metrics, SystemMetricsOfTheSimulatedScreen) {
  platform::ui::SetScreenSize(1024, 768);
  struct Case {
    int index;
    int value;
  };
  const Case cases[] = {{SM_CXSCREEN, 1024}, {SM_CYSCREEN, 768}, {SM_CYCAPTION, 22},
                        {SM_CXDLGFRAME, 3},  {SM_CXICON, 32},    {SM_CXSMICON, 16}};
  for (const auto& c : cases) EXPECT_EQ(GetSystemMetrics(c.index), c.value) << c.index;
  // A captioned dialog's window is its client area plus frame and caption.
  CDialog page(IDD_PAGE1);
  ASSERT_TRUE(page.Create(IDD_PAGE1));
  CRect window, client;
  page.GetWindowRect(&window);
  page.GetClientRect(&client);
  EXPECT_EQ(window.Width() - client.Width(), 2 * GetSystemMetrics(SM_CXDLGFRAME));
  EXPECT_EQ(window.Height() - client.Height(), 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION));
  CPoint origin(0, 0);
  page.ClientToScreen(&origin);
  EXPECT_EQ(origin, CPoint(window.left + 3, window.top + 3 + 22));
  page.DestroyWindow();
  // With a menu bar the client area keeps the template's size.
  CDialog with_menu(IDD_MAIN);
  ASSERT_TRUE(with_menu.Create(IDD_MAIN));
  with_menu.GetWindowRect(&window);
  with_menu.GetClientRect(&client);
  EXPECT_EQ(client.Width(), 200 * 8 / 4);
  EXPECT_EQ(window.Height() - client.Height(), 2 * 3 + 22 + GetSystemMetrics(SM_CYMENU));
  ASSERT_NE(with_menu.GetMenu(), nullptr);
  EXPECT_EQ(with_menu.GetMenu()->GetMenuItemCount(), 2);
  with_menu.DestroyWindow();
}

}  // namespace

namespace {

TEST(Gdi, WordBreakWrapsIntoMoreLines) {
  Canvas c(200, 200, kWhite);
  CFont font;
  font.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, u"MS Shell Dlg");
  CFont* of = c.dc.SelectObject(&font);
  const std::u16string text = u"one two three four five six seven eight";
  CRect wide(0, 0, 400, 0), narrow(0, 0, 60, 0), single(0, 0, 60, 0);
  c.dc.DrawText(text, &wide, DT_WORDBREAK | DT_CALCRECT);
  c.dc.DrawText(text, &narrow, DT_WORDBREAK | DT_CALCRECT);
  c.dc.DrawText(text, &single, DT_SINGLELINE | DT_CALCRECT);
  EXPECT_GT(narrow.Height(), 3 * wide.Height());  // several lines
  EXPECT_EQ(single.Height(), wide.Height());       // one line, however narrow
  EXPECT_LE(narrow.Width(), 60);
  c.dc.SelectObject(of);
}

}  // namespace

namespace {

TEST(Gdi, PaletteIconTakesItsMask) {
  HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_MASKED));
  ASSERT_NE(icon, nullptr);
  Canvas c(4, 4, RGB(0, 255, 0));
  ASSERT_TRUE(DrawIconEx(c.dc.m_hDC, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.dc.GetPixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(c.dc.GetPixel(1, 0), RGB(0, 255, 0));  // masked out: the background stays
  EXPECT_EQ(c.dc.GetPixel(0, 1), RGB(0, 0, 255));
  EXPECT_EQ(c.dc.GetPixel(1, 1), RGB(255, 0, 0));
  DestroyIcon(icon);
}

}  // namespace
