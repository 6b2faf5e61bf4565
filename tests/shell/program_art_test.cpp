// The program's generated pictures as the resource table carries them: every
// tool picture in both sets and all three states, the banner frames, the
// backgrounds, the splash pictures (their file headers read here byte by
// byte, not by the platform's decoder), the program and menu icons; the
// splash dialog's template and the splash window's size and band.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

#include "mainapp/shell/art_ids.h"
#include "mainapp/shell/splash_dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/render.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace {

using platform::ui::FindBinaryResource;
using platform::ui::kBitmapResource;
using platform::ui::kIconResource;

struct BmpHeader {
  int32_t width = 0, height = 0;
  int bits = 0;
};

// The header of a BMP resource, read from its bytes.
bool ReadBmpHeader(unsigned id, BmpHeader* out) {
  const auto* r = FindBinaryResource(kBitmapResource, static_cast<int>(id));
  if (!r || r->size < 54 || r->data[0] != 'B' || r->data[1] != 'M') return false;
  auto i32 = [&](size_t at) {
    return static_cast<int32_t>(r->data[at] | (r->data[at + 1] << 8) | (r->data[at + 2] << 16) |
                                (static_cast<uint32_t>(r->data[at + 3]) << 24));
  };
  out->width = i32(18);
  out->height = i32(22) < 0 ? -i32(22) : i32(22);
  out->bits = r->data[28] | (r->data[29] << 8);
  return true;
}

// The decoded pixels of a bitmap resource (null when it does not load).
struct Loaded {
  CBitmap bitmap;
  const QImage* image = nullptr;
  explicit Loaded(unsigned id) {
    if (bitmap.LoadBitmap(id)) image = platform::ui::BitmapImage(static_cast<HBITMAP>(bitmap.GetSafeHandle()));
  }
};

void ExpectBitmap(unsigned id, int width, int height) {
  BmpHeader h;
  ASSERT_TRUE(ReadBmpHeader(id, &h)) << "bitmap " << id << " is missing";
  EXPECT_EQ(h.width, width) << id;
  EXPECT_EQ(h.height, height) << id;
  Loaded l(id);
  ASSERT_NE(l.image, nullptr) << id;
  EXPECT_EQ(l.image->width(), width) << id;
  EXPECT_EQ(l.image->height(), height) << id;
}

// Share of pixels that differ between two pictures of the same size.
double Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 1.0;
  int differ = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) differ += a.pixel(x, y) != b.pixel(x, y);
  return static_cast<double>(differ) / (a.width() * a.height());
}

TEST(ProgramArt, ToolPicturesInBothSetsAndEveryState) {
  std::set<unsigned> seen;
  for (const auto& p : shell::art::kPictures) {
    for (const unsigned* set : {p.english, p.other}) {
      for (int s = 0; s < 3; ++s) {
        ExpectBitmap(set[s], 240, 60);
        seen.insert(set[s]);
      }
      // Normal, selected and hover must look different from each other.
      Loaded normal(set[0]), selected(set[1]), hover(set[2]);
      ASSERT_TRUE(normal.image && selected.image && hover.image);
      EXPECT_GT(Difference(*normal.image, *selected.image), 0.3) << set[0];
      EXPECT_GT(Difference(*normal.image, *hover.image), 0.05) << set[0];
      EXPECT_GT(Difference(*selected.image, *hover.image), 0.3) << set[0];
    }
    // The Japanese label differs from the English one.
    Loaded english(p.english[0]), other(p.other[0]);
    ASSERT_TRUE(english.image && other.image);
    EXPECT_GT(Difference(*english.image, *other.image), 0.02) << p.english[0];
  }
  EXPECT_EQ(seen.size(), 36u) << "every picture has its own bitmap";
}

TEST(ProgramArt, BannerFramesAnimate) {
  for (const auto& p : shell::art::kPictures) {
    for (unsigned id : p.banner) ExpectBitmap(id, 796, 230);
    Loaded f0(p.banner[0]), f1(p.banner[1]), f2(p.banner[2]);
    ASSERT_TRUE(f0.image && f1.image && f2.image);
    EXPECT_GT(Difference(*f0.image, *f1.image), 0.005) << p.banner[0];
    EXPECT_GT(Difference(*f1.image, *f2.image), 0.005) << p.banner[1];
    // The description is drawn in white over the banner's right part
    // (x 270 to 762, y 38 to 200): it must stay dark there.
    for (const QImage* f : {f0.image, f1.image, f2.image}) {
      int brightest = 0;
      for (int y = 38; y < 200; ++y)
        for (int x = 270; x < 762; ++x) brightest = std::max(brightest, qGray(f->pixel(x, y)));
      EXPECT_LT(brightest, 110) << p.banner[0];
    }
  }
  // Banners of different tools differ too.
  Loaded a(shell::art::kPictures[0].banner[2]), b(shell::art::kPictures[3].banner[2]);
  ASSERT_TRUE(a.image && b.image);
  EXPECT_GT(Difference(*a.image, *b.image), 0.01);
}

TEST(ProgramArt, BackgroundsAndSplash) {
  struct Case {
    unsigned id;
    int width, height, bits;  // bits 0: any depth
  };
  const Case cases[] = {
      {shell::art::kMainBackground, 48, 48, 0},   {shell::art::kBannerStart, 796, 230, 0},
      {shell::art::kBottomStrip, 144, 21, 0},     {shell::art::kHealthTile, 240, 60, 0},
      {shell::art::kSplashBackground, 640, 480, 24}, {shell::art::kSplashPicture, 640, 480, 24},
  };
  for (const auto& c : cases) {
    ExpectBitmap(c.id, c.width, c.height);
    BmpHeader h;
    ASSERT_TRUE(ReadBmpHeader(c.id, &h));
    if (c.bits) {
      EXPECT_EQ(h.bits, c.bits) << c.id;
    }
  }
}

// The row pictures of the disk lists: a disk, a partition and their greyed
// forms, each 16 x 16 and each telling itself apart from the others.
TEST(ProgramArt, DiskListRowPictures) {
  const unsigned ids[] = {143, 144, 180, 181};
  std::vector<QImage> images;
  for (unsigned id : ids) {
    ExpectBitmap(id, 16, 16);
    Loaded l(id);
    ASSERT_NE(l.image, nullptr) << id;
    images.push_back(l.image->convertToFormat(QImage::Format_RGB32));
  }
  for (size_t i = 0; i < images.size(); ++i)
    for (size_t j = i + 1; j < images.size(); ++j) EXPECT_GT(Difference(images[i], images[j]), 0.02) << ids[i] << " " << ids[j];
  // Greyed forms carry no colour of their own.
  for (size_t i = 2; i < 4; ++i)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const QColor c = images[i].pixelColor(x, y);
        EXPECT_LE(std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}), 24)
            << ids[i] << " at " << x << "," << y;
      }
}

TEST(ProgramArt, ProgramAndMenuIcons) {
  std::vector<unsigned> ids(std::begin(shell::art::kMenuIcons), std::end(shell::art::kMenuIcons));
  ids.push_back(shell::art::kProgramIcon);
  for (unsigned id : ids) {
    const auto* r = FindBinaryResource(kIconResource, static_cast<int>(id));
    ASSERT_NE(r, nullptr) << "icon " << id << " is missing";
    ASSERT_GE(r->size, 22u);
    EXPECT_EQ(r->data[2], 1) << id;  // an icon file, not a cursor
    HICON icon = static_cast<HICON>(
        ::LoadImageW(nullptr, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_SHARED));
    ASSERT_NE(icon, nullptr) << id;
    const QImage* image = platform::ui::IconImage(icon);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 16);
    // Something is drawn: not every pixel is transparent.
    bool drawn = false;
    for (int y = 0; y < image->height() && !drawn; ++y)
      for (int x = 0; x < image->width() && !drawn; ++x) drawn = qAlpha(image->pixel(x, y)) > 0;
    EXPECT_TRUE(drawn) << id;
  }
}

TEST(SplashWindow, TemplateAndWindow) {
  const auto* t = platform::ui::FindDialogTemplate(CSplashDlg::kTemplateId);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->cx, 366);
  EXPECT_EQ(t->cy, 296);
  EXPECT_EQ(std::u16string(t->font_face), u"Verdana");
  EXPECT_EQ(t->style & (WS_POPUP | WS_VISIBLE | WS_BORDER), WS_POPUP | WS_VISIBLE | WS_BORDER);
  EXPECT_EQ(t->style & WS_CAPTION & ~WS_BORDER, 0u) << "no caption";
  ASSERT_EQ(t->item_count, 1u);
  EXPECT_EQ(t->items[0].image_id, static_cast<int>(shell::art::kSplashPicture));
  EXPECT_EQ(t->items[0].style & 0x1F, 0xEu) << "a bitmap static";
  EXPECT_EQ(t->items[0].cx, 366);
  EXPECT_EQ(t->items[0].cy, 296);

  auto* splash = new CSplashDlg(nullptr);
  ASSERT_TRUE(splash->has_bitmap());
  ASSERT_TRUE(splash->Create(CSplashDlg::kTemplateId, nullptr));
  EXPECT_TRUE(splash->IsWindowVisible());
  RECT r{};
  splash->GetWindowRect(&r);
  EXPECT_EQ(r.right - r.left, 640 + ::GetSystemMetrics(SM_CXDLGFRAME));
  EXPECT_EQ(r.bottom - r.top, 480 + ::GetSystemMetrics(SM_CYDLGFRAME));
  EXPECT_NE(splash->GetExStyle() & WS_EX_TOPMOST, 0u);
  // Its background is the splash bitmap, tiled from the corner.
  HDC dc = ::GetDC(splash->m_hWnd);
  ::SendMessageW(splash->m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  Loaded tile(shell::art::kSplashBackground);
  ASSERT_NE(tile.image, nullptr);
  for (POINT p : {POINT{0, 0}, POINT{100, 300}, POINT{5, 470}}) {
    QRgb expected = tile.image->pixel(p.x, p.y);
    EXPECT_EQ(::GetPixel(dc, p.x, p.y), RGB(qRed(expected), qGreen(expected), qBlue(expected)));
  }
  ::ReleaseDC(splash->m_hWnd, dc);
  splash->DestroyWindow();
  delete splash;
}

// What the user sees of the splash: the whole picture, uncut, from the
// client's corner, and where the window is larger than the picture, a
// continuation of the picture's edge rather than a seam.
TEST(SplashWindow, ShowsTheWholePictureWithoutASeam) {
  auto* splash = new CSplashDlg(nullptr);
  ASSERT_TRUE(splash->Create(CSplashDlg::kTemplateId, nullptr));
  platform::ui::Window* w = platform::ui::FindWindowModel(splash->m_hWnd);
  ASSERT_NE(w, nullptr);
  ::UpdateWindow(splash->m_hWnd);
  QImage shot = platform::ui::RenderWindow(*w).convertToFormat(QImage::Format_RGB32);
  POINT origin = w->client_offset();
  RECT client = w->client_rect();
  Loaded picture(shell::art::kSplashPicture);
  ASSERT_NE(picture.image, nullptr);
  QImage art = picture.image->convertToFormat(QImage::Format_RGB32);
  ASSERT_GE(client.right, art.width());
  ASSERT_GE(client.bottom, art.height());
  int differing = 0;
  for (int y = 0; y < art.height(); y += 3)
    for (int x = 0; x < art.width(); x += 3)
      if (shot.pixel(origin.x + x, origin.y + y) != art.pixel(x, y)) ++differing;
  EXPECT_EQ(differing, 0) << "the picture is cut or moved";
  // The spare column and row continue the picture's last ones.
  int seams = 0;
  for (int y = 0; y < client.bottom; ++y)
    for (int x = art.width(); x < client.right; ++x)
      if (shot.pixel(origin.x + x, origin.y + y) != art.pixel(art.width() - 1, std::min(y, art.height() - 1))) ++seams;
  for (int x = 0; x < art.width(); ++x)
    for (int y = art.height(); y < client.bottom; ++y)
      if (shot.pixel(origin.x + x, origin.y + y) != art.pixel(x, art.height() - 1)) ++seams;
  EXPECT_EQ(seams, 0) << "the window's edge shows a seam";
  splash->DestroyWindow();
  delete splash;
}

}  // namespace
