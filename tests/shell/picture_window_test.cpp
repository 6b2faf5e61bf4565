// CPictureWindow on a simulated PC: picture files on a host-folder drive (a
// BMP written byte by byte here, a PNG written by python3's zlib as an
// independent encoder), files that are not pictures, an empty and a missing
// file, no path at all; and the picture stretched over the window's client
// area when it paints.
#include "mainapp/shell/picture_window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ui/window.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;

// A 24-bit BMP: left half red, right half blue, top row green.
std::string TwoColourBmp(int width, int height) {
  auto b = disk_fixture::Bmp24(width, height, [width](int x, int y) -> uint32_t {
    if (y == 0) return 0x00FF00;
    return x < width / 2 ? 0xFF0000 : 0x0000FF;
  });
  return std::string(b.begin(), b.end());
}

class PictureWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = pc_.folder() + "/driveP";
    fs::create_directories(host_ + "/Pictures");
    std::ofstream(host_ + "/Pictures/two.bmp", std::ios::binary) << TwoColourBmp(8, 4);
    std::ofstream(host_ + "/Pictures/notes.txt", std::ios::binary) << "not a picture at all";
    std::ofstream(host_ + "/Pictures/empty.png", std::ios::binary);
    // A 2 x 1 GIF written byte by byte: a format whose reader is a plug-in.
    const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0,   // screen, 2-colour table
                                 0xFF, 0, 0, 0, 0, 0xFF,                                  // red, blue
                                 ',', 0, 0, 0, 0, 2, 0, 1, 0, 0,                          // the image
                                 2, 2, 0x44, 0x0A, 0, ';'};                               // LZW: clear, 0, 1, end
    std::ofstream(host_ + "/Pictures/two.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(gif), sizeof gif);
    // A 3 x 2 PNG from an encoder that is not ours: white, black, white / red ...
    std::string png = host_ + "/Pictures/small.png";
    std::string script =
        "import struct,zlib,sys\n"
        "def chunk(t,d):\n"
        "  c=struct.pack('>I',len(d))+t+d\n"
        "  return c+struct.pack('>I',zlib.crc32(t+d)&0xffffffff)\n"
        "rows=[bytes([0,255,255,255,0,0,0,255,255,255]),bytes([0,255,0,0,255,0,0,255,0,0])]\n"
        "raw=b''.join(rows)\n"
        "data=b'\\x89PNG\\r\\n\\x1a\\n'+chunk(b'IHDR',struct.pack('>IIBBBBB',3,2,8,2,0,0,0))"
        "+chunk(b'IDAT',zlib.compress(raw))+chunk(b'IEND',b'')\n"
        "open(sys.argv[1],'wb').write(data)\n";
    std::ofstream(pc_.folder() + "/png.py") << script;
    ASSERT_EQ(disk_fixture::Shell("python3 '" + pc_.folder() + "/png.py' '" + png + "'"), 0);
    pc_.AppendIni("\n[mount P]\npath = P:\nhost = " + host_ + "\ndrive_type = fixed\n");
    pc_.Boot();
  }

  disk_fixture::SimulatedPc pc_;
  std::string host_;
};

TEST_F(PictureWindowTest, LoadsPicturesAndRefusesWhatIsNotOne) {
  CPictureWindow window;
  struct Case {
    const char16_t* path;
    bool loaded;
    LONG width, height;
  };
  const Case cases[] = {
      {u"P:\\Pictures\\two.bmp", true, 8, 4},
      {u"P:\\Pictures\\notes.txt", false, 0, 0},
      {u"P:\\Pictures\\small.png", true, 3, 2},
      {u"P:\\Pictures\\two.gif", true, 2, 1},
      {u"P:\\Pictures\\empty.png", false, 0, 0},
      {u"P:\\Pictures\\missing.bmp", false, 0, 0},
      {u"Q:\\no\\such\\drive.bmp", false, 0, 0},
      {nullptr, false, 0, 0},
  };
  for (const auto& c : cases) {
    // Each load first releases what the previous one loaded.
    ASSERT_TRUE(window.LoadPictureFile(u"P:\\Pictures\\two.bmp"));
    EXPECT_EQ(window.LoadPictureFile(c.path), c.loaded) << (c.path ? "path" : "null");
    EXPECT_EQ(window.has_picture(), c.loaded);
    EXPECT_EQ(window.picture_size().cx, c.width);
    EXPECT_EQ(window.picture_size().cy, c.height);
  }
}

TEST_F(PictureWindowTest, DrawMessageIsPaintUnlessChanged) {
  CPictureWindow window;
  EXPECT_TRUE(window.IsDrawMessage(WM_PAINT));
  EXPECT_FALSE(window.IsDrawMessage(WM_ERASEBKGND));
  window.set_draw_message(WM_ERASEBKGND);
  EXPECT_TRUE(window.IsDrawMessage(WM_ERASEBKGND));
  EXPECT_FALSE(window.IsDrawMessage(WM_PAINT));
}

TEST_F(PictureWindowTest, PaintStretchesThePictureOverTheClient) {
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, u"DrumTestFrame", u"frame", WS_POPUP | WS_VISIBLE, CRect(0, 0, 300, 200),
                              nullptr, 0));
  for (UINT draw : {WM_PAINT, WM_ERASEBKGND}) {
    CPictureWindow window;
    window.set_draw_message(draw);
    ASSERT_TRUE(window.Create(u"DrumPicture", u"", WS_CHILD | WS_VISIBLE, CRect(10, 10, 90, 50), &parent, 5));
    ASSERT_TRUE(window.LoadPictureFile(u"P:\\Pictures\\two.bmp"));
    window.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = ::GetDC(window.m_hWnd);
    // 8 x 4 over 80 x 40: each picture pixel is a 10 x 10 block.
    EXPECT_EQ(::GetPixel(dc, 5, 5), RGB(0, 255, 0)) << draw;      // top row
    EXPECT_EQ(::GetPixel(dc, 5, 25), RGB(255, 0, 0)) << draw;     // left half
    EXPECT_EQ(::GetPixel(dc, 75, 35), RGB(0, 0, 255)) << draw;    // right half
    EXPECT_EQ(::GetPixel(dc, 39, 39), RGB(255, 0, 0)) << draw;
    EXPECT_EQ(::GetPixel(dc, 40, 39), RGB(0, 0, 255)) << draw;
    ::ReleaseDC(window.m_hWnd, dc);
    // Without a path the picture goes and the window is repainted plainly.
    EXPECT_FALSE(window.LoadPictureFile(nullptr));
    window.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    dc = ::GetDC(window.m_hWnd);
    EXPECT_EQ(::GetPixel(dc, 75, 35), ::GetSysColor(COLOR_BTNFACE)) << draw;
    ::ReleaseDC(window.m_hWnd, dc);
    window.DestroyWindow();
  }
  parent.DestroyWindow();
}

}  // namespace
