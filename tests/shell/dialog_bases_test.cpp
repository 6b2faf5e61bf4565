// The dialog bases and picture controls checked by pixels: CBDialog's tile,
// centre and stretch backgrounds and its plain look without a bitmap,
// CCustomDialog's tiling, colours and a bitmap that does not load, the splash
// window's size and band, CTransparentStatic2's snapshot, and CPictureWindow
// loading picture files from a simulated drive. The test bitmaps are written
// here byte by byte (24-bit BMP) with a colour that encodes each pixel's
// position, so every copied pixel tells where it came from.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mainapp/shell/bitmap_dialog.h"
#include "mainapp/shell/custom_dialog.h"
#include "mainapp/shell/picture_window.h"
#include "mainapp/shell/splash_dialog.h"
#include "mainapp/shell/transparent_static.h"
#include "platform/ui/controls.h"
#include "platform/ui/resources.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using platform::ui::BinaryResource;
using platform::ui::DialogItemTemplate;
using platform::ui::DialogTemplate;
using platform::ui::ResourceTable;

// The colour of pixel (x, y) of a test bitmap.
COLORREF Code(int x, int y) { return RGB(10 + x * 7, 20 + y * 9, 200); }

// A 24-bit bottom-up BMP file of the coded pattern.
std::vector<unsigned char> CodedBmp(int width, int height) {
  return disk_fixture::Bmp24(width, height, [](int x, int y) {
    COLORREF c = Code(x, y);
    return static_cast<uint32_t>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
  });
}

constexpr int kSmallBitmap = 31001;  // 11 x 6
constexpr int kWideBitmap = 31002;   // 600 x 8, wider than the test dialog
constexpr int kMissingBitmap = 31999;
constexpr int kPlainDialog = 31100;
constexpr int kStaticDialog = 31101;
constexpr int kStaticId = 1183;

const std::vector<unsigned char>& SmallBmp() {
  static const auto b = CodedBmp(11, 6);
  return b;
}
const std::vector<unsigned char>& WideBmp() {
  static const auto b = CodedBmp(600, 8);
  return b;
}

const DialogItemTemplate kStaticItems[] = {
    {u"Static", u"", kStaticId, 40, 30, 40, 12, WS_CHILD | WS_VISIBLE | SS_LEFT, WS_EX_TRANSPARENT, 0},
};
const DialogTemplate kDialogs[] = {
    {kPlainDialog, u"Plain", u"", 0, 400, 0, 0, 0, 160, 100, WS_POPUP | WS_CAPTION, 0, 0, nullptr, 0},
    {kStaticDialog, u"Static", u"", 0, 400, 0, 0, 0, 160, 100, WS_POPUP | WS_CAPTION, 0, 0, kStaticItems, 1},
};

struct TestResources {
  std::vector<BinaryResource> binaries;
  ResourceTable table{};
  TestResources() {
    binaries.push_back({platform::ui::kBitmapResource, kSmallBitmap, SmallBmp().data(), SmallBmp().size()});
    binaries.push_back({platform::ui::kBitmapResource, kWideBitmap, WideBmp().data(), WideBmp().size()});
    table = ResourceTable{"dialog_bases_test", kDialogs, 2, nullptr, 0, binaries.data(), binaries.size()};
    platform::ui::RegisterResourceTable(&table);
  }
  ~TestResources() { platform::ui::UnregisterResourceTable(&table); }
};

// The dialog's client pixels as they stand after an erase.
struct Erased {
  HDC dc;
  HWND hwnd;
  explicit Erased(CWnd& w) : hwnd(w.m_hWnd) {
    dc = ::GetDC(hwnd);
    ::SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  }
  ~Erased() { ::ReleaseDC(hwnd, dc); }
  COLORREF at(int x, int y) const { return ::GetPixel(dc, x, y); }
};

SIZE ClientSize(CWnd& w) {
  RECT r{};
  w.GetClientRect(&r);
  return SIZE{r.right, r.bottom};
}

class DialogBases : public ::testing::Test {
 protected:
  TestResources resources_;
};

TEST(DialogBasesPlan, TilePositionsAndCentre) {
  struct Case {
    SIZE bitmap, client;
    size_t tiles;
    int last_x, last_y;  // origin of the last tile
    int centre_x, centre_y;
  };
  const Case cases[] = {
      {{10, 6}, {25, 13}, 9, 20, 12, 7, 3},    // cut tiles at the right and bottom
      {{10, 6}, {20, 12}, 4, 10, 6, 5, 3},     // exact multiples
      {{600, 8}, {300, 20}, 3, 0, 16, 0, 6},   // wider than the client: x 0
      {{48, 48}, {48, 48}, 1, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    auto tiles = shell::TilePositions(c.bitmap, c.client);
    ASSERT_EQ(tiles.size(), c.tiles) << c.client.cx << "x" << c.client.cy;
    EXPECT_EQ(tiles.front().x, 0);
    EXPECT_EQ(tiles.front().y, 0);
    EXPECT_EQ(tiles.back().x, c.last_x);
    EXPECT_EQ(tiles.back().y, c.last_y);
    // Rows run top to bottom, each left to right.
    for (size_t i = 1; i < tiles.size(); ++i)
      EXPECT_TRUE(tiles[i].y > tiles[i - 1].y || (tiles[i].y == tiles[i - 1].y && tiles[i].x > tiles[i - 1].x));
    auto centre = shell::CentrePosition(c.bitmap, c.client);
    EXPECT_EQ(centre.x, c.centre_x);
    EXPECT_EQ(centre.y, c.centre_y);
  }
  // A bitmap without a size gives no tiles rather than an endless walk.
  EXPECT_TRUE(shell::TilePositions({0, 6}, {100, 100}).empty());
  EXPECT_TRUE(shell::TilePositions({10, 0}, {100, 100}).empty());
  EXPECT_TRUE(shell::TilePositions({10, 6}, {0, 0}).empty());
}

TEST_F(DialogBases, BackgroundModeKeepsOnlyKnownValues) {
  CBDialog dialog(kPlainDialog, nullptr);
  EXPECT_EQ(dialog.background_mode(), CBDialog::kTile);
  struct Step {
    int given, expected;
  };
  const Step steps[] = {{2, 2}, {3, 2}, {-1, 2}, {1, 1}, {7, 1}, {0, 0}, {-1, 0}};
  for (const auto& s : steps) {
    dialog.SetBackgroundMode(s.given);
    EXPECT_EQ(dialog.background_mode(), s.expected) << "after " << s.given;
  }
}

TEST_F(DialogBases, WithoutBitmapLooksLikePlainDialog) {
  CBDialog dialog(kPlainDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kPlainDialog));
  EXPECT_FALSE(dialog.SetBackgroundBitmap(kMissingBitmap));
  EXPECT_FALSE(dialog.has_background());
  Erased e(dialog);
  SIZE s = ClientSize(dialog);
  COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  for (POINT p : {POINT{0, 0}, POINT{s.cx / 2, s.cy / 2}, POINT{s.cx - 1, s.cy - 1}})
    EXPECT_EQ(e.at(p.x, p.y), face) << p.x << "," << p.y;
  dialog.DestroyWindow();
}

TEST_F(DialogBases, TileModeRepeatsTheBitmapWithCutEdges) {
  CBDialog dialog(kPlainDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kPlainDialog));
  ASSERT_TRUE(dialog.SetBackgroundBitmap(kSmallBitmap));
  Erased e(dialog);
  SIZE s = ClientSize(dialog);
  ASSERT_NE(s.cx % 11, 0) << "the client width should cut the last tile";
  // Every pixel, the cut tiles at the right and bottom edge included, shows
  // the bitmap pixel at its position modulo the bitmap size.
  for (int y : {0, 5, 6, 11, s.cy - 1})
    for (int x : {0, 10, 11, 17, s.cx - 2, s.cx - 1})
      EXPECT_EQ(e.at(x, y), Code(x % 11, y % 6)) << x << "," << y;
  dialog.DestroyWindow();
}

TEST_F(DialogBases, CentreModePlacesNarrowBitmapsInTheMiddleAndWideOnesAtTheLeft) {
  CBDialog dialog(kPlainDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kPlainDialog));
  dialog.SetBackgroundMode(CBDialog::kCentre);
  SIZE s = ClientSize(dialog);
  COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  {
    ASSERT_TRUE(dialog.SetBackgroundBitmap(kSmallBitmap));
    Erased e(dialog);
    int x0 = (s.cx - 11) / 2, y0 = (s.cy - 6) / 2;
    EXPECT_EQ(e.at(x0, y0), Code(0, 0));
    EXPECT_EQ(e.at(x0 + 10, y0 + 5), Code(10, 5));
    EXPECT_EQ(e.at(x0 - 1, y0), face);  // left of the bitmap: the plain background
    EXPECT_EQ(e.at(0, 0), face);
  }
  {
    ASSERT_TRUE(dialog.SetBackgroundBitmap(kWideBitmap));
    Erased e(dialog);
    ASSERT_LT(s.cx, 600);
    int y0 = (s.cy - 8) / 2;
    EXPECT_EQ(e.at(0, y0), Code(0, 0));  // cut at the right, not centred
    EXPECT_EQ(e.at(s.cx - 1, y0 + 7), Code(s.cx - 1, 7));
  }
  dialog.DestroyWindow();
}

TEST_F(DialogBases, StretchModeCoversTheClient) {
  CBDialog dialog(kPlainDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kPlainDialog));
  dialog.SetBackgroundMode(CBDialog::kStretch);
  ASSERT_TRUE(dialog.SetBackgroundBitmap(kSmallBitmap));
  Erased e(dialog);
  SIZE s = ClientSize(dialog);
  EXPECT_EQ(e.at(0, 0), Code(0, 0));
  EXPECT_EQ(e.at(s.cx - 1, s.cy - 1), Code(10, 5));
  EXPECT_EQ(e.at(s.cx - 1, 0), Code(10, 0));
  EXPECT_EQ(e.at(0, s.cy - 1), Code(0, 5));
  dialog.DestroyWindow();
}

TEST_F(DialogBases, CustomDialogTilesInBitmapSteps) {
  CCustomDialog dialog(kSmallBitmap, kPlainDialog, nullptr);
  EXPECT_EQ(dialog.bitmap_size().cx, 11);
  EXPECT_EQ(dialog.bitmap_size().cy, 6);
  ASSERT_TRUE(dialog.Create(kPlainDialog));
  Erased e(dialog);
  SIZE s = ClientSize(dialog);
  for (int y : {0, 6, 13, s.cy - 1})
    for (int x : {0, 11, 23, s.cx - 1}) EXPECT_EQ(e.at(x, y), Code(x % 11, y % 6)) << x << "," << y;
  dialog.DestroyWindow();
}

TEST_F(DialogBases, CustomDialogWithoutBitmapErasesPlainly) {
  // No usable size to step by: the erase must end, with the plain background.
  CCustomDialog dialog(kMissingBitmap, kPlainDialog, nullptr);
  EXPECT_FALSE(dialog.has_bitmap());
  EXPECT_EQ(dialog.bitmap_size().cx, 0);
  ASSERT_TRUE(dialog.Create(kPlainDialog));
  Erased e(dialog);
  EXPECT_EQ(e.at(3, 3), ::GetSysColor(COLOR_BTNFACE));
  dialog.DestroyWindow();
}

TEST_F(DialogBases, CustomDialogColoursLetTheBitmapShowThrough) {
  CCustomDialog dialog(kSmallBitmap, kStaticDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kStaticDialog));
  HWND label = ::GetDlgItem(dialog.m_hWnd, kStaticId);
  HBRUSH null_brush = static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
  struct Case {
    UINT message;
    bool transparent;
  };
  const Case cases[] = {{WM_CTLCOLORSTATIC, true}, {WM_CTLCOLORBTN, true}, {WM_CTLCOLORDLG, true},
                        {WM_CTLCOLOREDIT, false},  {WM_CTLCOLORLISTBOX, false}};
  for (const auto& c : cases) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    ::SetBkMode(dc, OPAQUE);
    auto brush = reinterpret_cast<HBRUSH>(
        ::SendMessageW(dialog.m_hWnd, c.message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
    int mode = ::SetBkMode(dc, OPAQUE);
    EXPECT_EQ(brush == null_brush, c.transparent) << std::hex << c.message;
    EXPECT_EQ(mode == TRANSPARENT, c.transparent) << std::hex << c.message;
    ::DeleteDC(dc);
  }
  // The bitmap goes with the window.
  dialog.DestroyWindow();
  EXPECT_FALSE(dialog.has_bitmap());
}

TEST_F(DialogBases, TransparentStaticSnapshotsTheParentOnce) {
  CBDialog dialog(kStaticDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kStaticDialog));
  ASSERT_TRUE(dialog.SetBackgroundBitmap(kSmallBitmap));
  CTransparentStatic2 text;
  ASSERT_TRUE(text.SubclassDlgItem(kStaticId, &dialog));
  dialog.ShowWindow(SW_SHOW);
  { Erased parent(dialog); }
  RECT r{};
  text.GetWindowRect(&r);
  dialog.ScreenToClient(&r);
  int w = r.right - r.left, h = r.bottom - r.top;
  ASSERT_GT(w, 4);
  ASSERT_GT(h, 4);

  // First erase: the snapshot holds the parent's pixels under the control,
  // and nothing is drawn on the control.
  HDC own = ::GetDC(text.m_hWnd);
  ::SetPixel(own, 1, 1, RGB(1, 2, 3));
  ::SendMessageW(text.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(own), 0);
  ASSERT_TRUE(text.has_snapshot());
  EXPECT_EQ(::GetPixel(own, 1, 1), RGB(1, 2, 3));
  HDC memory = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(memory, text.snapshot());
  for (POINT p : {POINT{0, 0}, POINT{3, 2}, POINT{w - 1, h - 1}})
    EXPECT_EQ(::GetPixel(memory, p.x, p.y), Code((r.left + p.x) % 11, (r.top + p.y) % 6)) << p.x << "," << p.y;
  ::SelectObject(memory, old);
  ::DeleteDC(memory);

  // The parent's background changes; the next erase still paints the old
  // snapshot onto the control.
  dialog.SetBackgroundMode(CBDialog::kStretch);
  { Erased parent(dialog); }
  ::SendMessageW(text.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(own), 0);
  EXPECT_EQ(::GetPixel(own, 1, 1), Code((r.left + 1) % 11, (r.top + 1) % 6));
  EXPECT_EQ(::GetPixel(own, w - 1, 0), Code((r.left + w - 1) % 11, r.top % 6));
  ::ReleaseDC(text.m_hWnd, own);

  // Setting a text repaints at once: snapshot first, then the text over it.
  ::SetWindowTextW(text.m_hWnd, u"12:34");
  EXPECT_EQ(text.GetWindowText(), CString(u"12:34"));
  HDC after = ::GetDC(text.m_hWnd);
  int text_pixels = 0, snapshot_pixels = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      COLORREF c = ::GetPixel(after, x, y);
      if (c == Code((r.left + x) % 11, (r.top + y) % 6)) ++snapshot_pixels;
      else ++text_pixels;
    }
  ::ReleaseDC(text.m_hWnd, after);
  EXPECT_GT(text_pixels, 5);
  EXPECT_GT(snapshot_pixels, w * h / 2);
  text.Detach();
  dialog.DestroyWindow();
}

TEST_F(DialogBases, BitmapDialogPassesColourRequestsToTheTransparentStatic) {
  CBDialog dialog(kStaticDialog, nullptr);
  ASSERT_TRUE(dialog.Create(kStaticDialog));
  HWND label = ::GetDlgItem(dialog.m_hWnd, kStaticId);
  HBRUSH null_brush = static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
  auto ask = [&](int* mode) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    ::SetBkMode(dc, OPAQUE);
    auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(dialog.m_hWnd, WM_CTLCOLORSTATIC,
                                                         reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
    *mode = ::SetBkMode(dc, OPAQUE);
    ::DeleteDC(dc);
    return brush;
  };
  int mode = 0;
  // A plain static keeps the dialog's default colours.
  EXPECT_NE(ask(&mode), null_brush);
  EXPECT_EQ(mode, OPAQUE);
  CTransparentStatic2 text;
  ASSERT_TRUE(text.SubclassDlgItem(kStaticId, &dialog));
  EXPECT_EQ(ask(&mode), null_brush);
  EXPECT_EQ(mode, TRANSPARENT);
  text.Detach();
  dialog.DestroyWindow();
}

TEST_F(DialogBases, TransparentStaticAsksForTransparentText) {
  CTransparentStatic2 text;
  HDC dc = ::CreateCompatibleDC(nullptr);
  CDC* wrapper = CDC::FromHandle(dc);
  ::SetBkMode(dc, OPAQUE);
  EXPECT_EQ(text.CtlColor(wrapper, 6), static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH)));
  EXPECT_EQ(::SetBkMode(dc, OPAQUE), TRANSPARENT);
  ::DeleteDC(dc);
}

}  // namespace
