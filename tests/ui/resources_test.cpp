// Resource scripts: every construct the programs use, dialog units against
// the pixel sizes the programs rely on, the version block layout, and clear
// errors for malformed scripts.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <memory>
#include <fstream>

#include "fixtures/resource.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/ui/dialog.h"
#include "platform/ui/font_faces.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"
#include "tools/rc/rc_compiler.h"

namespace {

std::string fixture(const std::string& name) {
  const char* root = std::getenv("DRUM_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/ui/fixtures/" + name;
}

TEST(DialogUnits, PixelSizesTheProgramsRelyOn) {
  struct Case {
    const char16_t* face;
    int points;
    RECT units;
    LONG width, height;
  };
  const Case cases[] = {
      {u"Verdana", 9, {0, 0, 120, 34}, 240, 60},    // picture buttons: 240 x 60 pictures
      {u"Verdana", 9, {0, 0, 398, 131}, 796, 229},  // the banner row: 796 pixels wide
      {u"verdana", 9, {10, 140, 130, 174}, 240, 60},
      {u"MS Shell Dlg", 8, {0, 0, 4, 8}, 6, 13},    // one base unit each way
      {u"MS Shell Dlg", 8, {0, 0, 360, 306}, 540, 497},
      {u"", 0, {0, 0, 4, 8}, 6, 13},                // no font: the system font
  };
  for (const auto& c : cases) {
    RECT px = platform::ui::DialogUnitsToPixels(c.units, platform::ui::BaseUnitsForFont(c.face, c.points));
    EXPECT_EQ(px.right - px.left, c.width) << c.units.right;
    EXPECT_EQ(px.bottom - px.top, c.height) << c.units.bottom;
  }
}

TEST(DialogUnits, BuiltDialogHasThoseSizes) {
  CDialog page(IDD_PICTURE);
  ASSERT_TRUE(page.Create(IDD_PICTURE));
  CRect picture;
  page.GetDlgItem(IDC_PICTURE)->GetWindowRect(&picture);
  EXPECT_EQ(picture.Width(), 240);
  EXPECT_EQ(picture.Height(), 60);
  CRect client;
  page.GetClientRect(&client);
  EXPECT_EQ(client.Width(), 796);
  // A bitmap static takes its picture's size (the fixture is 4 x 2).
  CRect banner;
  page.GetDlgItem(IDC_BANNER)->GetWindowRect(&banner);
  EXPECT_EQ(banner.Width(), 4);
  EXPECT_EQ(banner.Height(), 2);
  page.DestroyWindow();
}

TEST(Fonts, FacesMapToInstalledFamilies) {
  struct Case {
    const char16_t* face;
    const char* family;
  };
  const Case cases[] = {{u"Verdana", "DejaVu Sans"},        {u"MS Shell Dlg", "DejaVu Sans"},
                        {u"Microsoft Sans Serif", "DejaVu Sans"}, {u"Courier New", "DejaVu Sans Mono"},
                        {u"Meiryo", "DejaVu Sans"},         {u"MS UI Gothic", "DejaVu Sans"},
                        {u"MS Gothic", "IPAGothic"},        {u"verdena", "DejaVu Sans"},
                        {u"", "DejaVu Sans"}};
  for (const auto& c : cases) EXPECT_EQ(platform::ui::FontFamilyFor(c.face), c.family);
}

// The Japanese dialog faces draw proportionally: Latin text and the
// backslash of a path as the Latin family draws them, Japanese characters
// from the proportional Japanese family (not the fixed-pitch one, whose
// Latin letters are all one width and whose backslash is a yen sign).
TEST(Fonts, JapaneseDialogFacesAreProportionalWithABackslash) {
  auto picture = [](const QFont& font, const QString& text) {
    QImage image(120, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(4, 20, text);
    return image;
  };
  QFont latin(QStringLiteral("DejaVu Sans"));
  QFont fixed(QStringLiteral("IPAGothic"));
  for (const char16_t* face : {u"MS UI Gothic", u"Meiryo"}) {
    SCOPED_TRACE(platform::to_utf8(face));
    QFont font = platform::ui::QtFontFor(platform::ui::MakeFont(face, -12, 400, false));
    latin.setPixelSize(12);
    latin.setStyleStrategy(font.styleStrategy());
    fixed.setPixelSize(12);
    fixed.setStyleStrategy(font.styleStrategy());
    QFontMetrics metrics(font);
    EXPECT_LT(metrics.horizontalAdvance(QStringLiteral("iiii")), metrics.horizontalAdvance(QStringLiteral("WWWW")));
    EXPECT_EQ(picture(font, QStringLiteral("C:\\Docs")), picture(latin, QStringLiteral("C:\\Docs")));
    EXPECT_NE(picture(font, QStringLiteral("C:\\Docs")), picture(fixed, QStringLiteral("C:\\Docs")));
    // Kana are narrower than the fixed-pitch family's full-width cells.
    const QString kana = QString::fromUtf8("パーティション");
    EXPECT_LT(metrics.horizontalAdvance(kana), QFontMetrics(fixed).horizontalAdvance(kana));
  }
}

class ParsedFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    rc::Error error;
    ASSERT_TRUE(rc::ParseFile(fixture("test.rc"), {}, file, error)) << error.message();
  }
  const rc::Dialog* dialog(int id) const {
    for (const auto& d : file.dialogs)
      if (d.id == id) return &d;
    return nullptr;
  }
  const rc::Control* control(const rc::Dialog& d, int id) const {
    for (const auto& c : d.controls)
      if (c.id == id) return &c;
    return nullptr;
  }
  rc::ResourceFile file;
};

TEST_F(ParsedFixture, DialogHeaderStatements) {
  EXPECT_EQ(file.dialogs.size(), 10u);
  const rc::Dialog* main = dialog(IDD_MAIN);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->caption, u"Main");
  EXPECT_EQ(main->font_face, u"Verdana");
  EXPECT_EQ(main->font_points, 9);
  EXPECT_EQ(main->font_weight, 400);
  EXPECT_EQ(main->cx, 200);
  EXPECT_EQ(main->cy, 100);
  EXPECT_EQ(main->style, DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(main->ex_style, WS_EX_APPWINDOW);
  EXPECT_EQ(main->menu_id, IDR_MENU);
  // DIALOG (not EX) without STYLE gets the default pop-up style plus caption.
  const rc::Dialog* old = dialog(IDD_PAGE3);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->style, WS_POPUP | WS_CAPTION);
}

TEST_F(ParsedFixture, ControlStatementsAndStyles) {
  const rc::Dialog* d = dialog(IDD_CONTROLS);
  ASSERT_NE(d, nullptr);
  struct Case {
    int id;
    const char* cls;
    DWORD style;
    DWORD ex_style;
  };
  const DWORD child = WS_CHILD | WS_VISIBLE;
  const Case cases[] = {
      {IDC_LIST, "SysListView32", child | LVS_REPORT | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP, 0},
      {IDC_COMBO, "ComboBox", child | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0},
      {IDC_NUMBER, "Edit", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, 0},
      {IDC_RADIO1, "Button", child | BS_AUTORADIOBUTTON | WS_GROUP, 0},
      {IDC_CHECK, "Button", child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
      {1063, "Button", child | BS_CHECKBOX, 0},  // NOT WS_TABSTOP removed the default
      {1064, "Button", child | BS_RADIOBUTTON, 0},
      {1065, "Button", child | BS_GROUPBOX, 0},
      {1066, "Static", child | SS_RIGHT | WS_GROUP, 0},
      {1067, "Static", child | SS_CENTER | WS_GROUP, 0},
      {1068, "ListBox", child | LBS_NOTIFY | WS_BORDER | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, 0},
      {1069, "Static", child | SS_ICON, 0},
      {IDC_RICH, "RichEdit20W", child | ES_MULTILINE | ES_READONLY, WS_EX_TRANSPARENT},
      {1091, "Button", WS_CHILD | BS_PUSHBUTTON, 0},  // NOT WS_VISIBLE
      {1092, "Button", child | WS_TABSTOP | WS_DISABLED, 0},
      {IDOK, "Button", child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
  };
  for (const auto& c : cases) {
    const rc::Control* ctl = control(*d, c.id);
    ASSERT_NE(ctl, nullptr) << c.id;
    EXPECT_EQ(ctl->class_name, c.cls) << c.id;
    EXPECT_EQ(ctl->style, c.style) << c.id;
    EXPECT_EQ(ctl->ex_style, c.ex_style) << c.id;
  }
  const rc::Control* icon = control(*d, 1069);
  EXPECT_EQ(icon->image_id, IDI_ORANGE);
  EXPECT_EQ(icon->cx, 20);
  const rc::Control* banner = control(*dialog(IDD_PICTURE), IDC_BANNER);
  EXPECT_EQ(banner->image_id, IDB_FOUR);
  EXPECT_EQ(banner->style, WS_CHILD | WS_VISIBLE | SS_BITMAP);
  // An id given as an expression of header names.
  EXPECT_NE(control(*dialog(IDD_MAIN), IDC_NEXT + 100), nullptr);
  EXPECT_EQ(file.defines.at("IDC_LABEL"), 1101);
}

TEST_F(ParsedFixture, MenusAndBinaries) {
  ASSERT_EQ(file.menus.size(), 3u);
  const rc::Menu& m = file.menus[0];
  ASSERT_EQ(m.items.size(), 6u);
  EXPECT_EQ(m.items[0].text, u"&File");
  EXPECT_EQ(m.items[0].flags, 0x10u);
  EXPECT_EQ(m.items[1].depth, 1);
  EXPECT_EQ(m.items[1].id, ID_FILE_OPEN);
  EXPECT_EQ(m.items[2].flags, 0x800u);          // separator
  EXPECT_EQ(m.items[3].flags, 0x1u);            // GRAYED
  EXPECT_EQ(m.items[5].flags, 0x8u);            // CHECKED
  const rc::Menu& ex = file.menus[1];
  ASSERT_EQ(ex.items.size(), 4u);
  EXPECT_EQ(ex.items[1].flags & 0x3u, 0x3u);    // MFS_GRAYED
  EXPECT_EQ(ex.items[2].flags & 0x800u, 0x800u);
  int bitmaps = 0, icons = 0, versions = 0;
  for (const auto& b : file.binaries) {
    bitmaps += b.type == 2 && b.id == IDB_FOUR && b.data.size() == 78;
    icons += b.type == 14 && b.id == IDI_ORANGE;
    versions += b.type == 16 && b.id == 1;
  }
  EXPECT_EQ(bitmaps, 1);
  EXPECT_EQ(icons, 1);
  EXPECT_EQ(versions, 1);
}

// Words that are not defined numbers, and quoted texts, name resources; the
// names are kept upper-case and the ids are 0.
TEST_F(ParsedFixture, NamedResourcesKeepTheirNames) {
  std::vector<std::tuple<int, std::u16string, size_t>> named;  // type, name, size
  for (const auto& b : file.binaries)
    if (!b.name.empty()) named.emplace_back(b.type, b.name, b.data.size());
  using Named = std::tuple<int, std::u16string, size_t>;
  EXPECT_EQ(named, (std::vector<Named>{{14, u"DISK_COPY", 86}, {2, u"BANNER FOUR", 78}}));
  for (const auto& b : file.binaries) {
    if (!b.name.empty()) {
      EXPECT_EQ(b.id, 0);
    }
  }
  ASSERT_EQ(file.menus.size(), 3u);
  EXPECT_EQ(file.menus[2].name, u"TRAY_MENU");
  EXPECT_EQ(file.menus[2].id, 0);
  EXPECT_TRUE(file.menus[0].name.empty());
  int named_dialogs = 0;
  for (const auto& d : file.dialogs)
    if (!d.name.empty()) {
      ++named_dialogs;
      EXPECT_EQ(d.name, u"NAMED_PAGE");
      EXPECT_EQ(d.caption, u"Named page");
      EXPECT_EQ(d.id, 0);
    }
  EXPECT_EQ(named_dialogs, 1);
}

// The loaders find resources the fixture names with words or quoted texts,
// whatever the case of the name asked for; "#123" stays a number, and a name
// that only a number stands for in the header finds nothing.
TEST(NamedResources, LoadersFindNamesInAnyCase) {
  HICON numbered = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_ORANGE));
  HBITMAP four = LoadBitmapW(nullptr, MAKEINTRESOURCEW(IDB_FOUR));
  ASSERT_NE(numbered, nullptr);
  ASSERT_NE(four, nullptr);
  for (const char16_t* name : {u"Disk_Copy", u"DISK_COPY", u"disk_copy", u"dIsK_cOpY"}) {
    HICON icon = LoadIconW(nullptr, name);
    ASSERT_NE(icon, nullptr) << platform::to_utf8(name);
    EXPECT_EQ(*platform::ui::IconImage(icon), *platform::ui::IconImage(numbered)) << "the same orange.ico";
    HANDLE sized = LoadImageW(nullptr, name, IMAGE_ICON, 16, 16, 0);
    ASSERT_NE(sized, nullptr);
    EXPECT_EQ(platform::ui::IconImage(static_cast<HICON>(sized))->size(), QSize(16, 16));
    DestroyIcon(static_cast<HICON>(sized));
    DestroyIcon(icon);
  }
  for (const char16_t* name : {u"Banner four", u"BANNER FOUR", u"banner four"}) {
    HBITMAP bitmap = LoadBitmapW(nullptr, name);
    ASSERT_NE(bitmap, nullptr) << platform::to_utf8(name);
    EXPECT_EQ(*platform::ui::BitmapImage(bitmap), *platform::ui::BitmapImage(four));
    DeleteObject(bitmap);
    HANDLE image = LoadImageW(nullptr, name, IMAGE_BITMAP, 0, 0, 0);
    EXPECT_NE(image, nullptr);
    DeleteObject(image);
  }
  const std::u16string number_text = u"#" + platform::to_utf16(std::to_string(IDI_ORANGE));
  HICON by_text = LoadIconW(nullptr, number_text.c_str());
  ASSERT_NE(by_text, nullptr);
  EXPECT_EQ(*platform::ui::IconImage(by_text), *platform::ui::IconImage(numbered));
  DestroyIcon(by_text);
  DestroyIcon(numbered);
  DeleteObject(four);

  // Not found: numbers' names, near misses, the wrong kind, malformed texts.
  const std::u16string too_long(300, u'D');
  struct Miss {
    const char16_t* name;
    bool icon;  // else a bitmap
  };
  const Miss misses[] = {
      {u"IDI_ORANGE", true},  {u"IDB_FOUR", false},  {u"Disk Copy", true},  {u"Disk_Copy ", true},
      {u"Disk_Copy", false},  {u"Banner four", true}, {u"Banner_four", false}, {u"#", true},
      {u"#70000", true},      {u"#30x", true},         {u"", true},           {too_long.c_str(), true},
      {nullptr, true},        {nullptr, false},
  };
  for (const auto& m : misses) {
    SetLastError(0);
    const std::string shown = m.name ? platform::to_utf8(m.name).substr(0, 20) : "(null)";
    if (m.icon) {
      EXPECT_EQ(LoadIconW(nullptr, m.name), nullptr) << shown;
      EXPECT_EQ(LoadImageW(nullptr, m.name, IMAGE_ICON, 16, 16, LR_SHARED), nullptr) << shown;
    } else {
      EXPECT_EQ(LoadBitmapW(nullptr, m.name), nullptr) << shown;
    }
    EXPECT_EQ(GetLastError(), 1814u) << shown;
  }
}

// Shared icons are one per resource and size, whichever way it is named.
TEST(NamedResources, SharedIconsAreOnePerResource) {
  HANDLE a = LoadImageW(nullptr, u"disk_copy", IMAGE_ICON, 32, 32, LR_SHARED);
  HANDLE b = LoadImageW(nullptr, u"DISK_COPY", IMAGE_ICON, 32, 32, LR_SHARED);
  const std::u16string number_text = u"#" + platform::to_utf16(std::to_string(IDI_ORANGE));
  HANDLE c = LoadImageW(nullptr, number_text.c_str(), IMAGE_ICON, 32, 32, LR_SHARED);
  HANDLE d = LoadImageW(nullptr, MAKEINTRESOURCEW(IDI_ORANGE), IMAGE_ICON, 32, 32, LR_SHARED);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(c, d);
  EXPECT_NE(a, c) << "a named resource is not the numbered one";
}

TEST(NamedResources, MenusAndDialogsByName) {
  HMENU menu = LoadMenuW(nullptr, u"tray_menu");
  ASSERT_NE(menu, nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(ID_FILE_OPEN));
  DestroyMenu(menu);
  SetLastError(0);
  EXPECT_EQ(LoadMenuW(nullptr, u"IDR_MENU"), nullptr);
  EXPECT_EQ(GetLastError(), 1814u);
  EXPECT_NE(LoadMenuW(nullptr, MAKEINTRESOURCEW(IDR_MENU)), nullptr);

  const auto* page = platform::ui::FindDialogTemplate(u"Named_Page");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(std::u16string(page->caption), u"Named page");
  EXPECT_EQ(platform::ui::FindDialogTemplate(u"IDD_MAIN"), nullptr);
  EXPECT_EQ(platform::ui::FindDialogTemplate(platform::ui::ParseResourceRef(u"NAMED_PAGE")), page);
  EXPECT_EQ(platform::ui::FindMenuTemplate(u"named_page"), nullptr) << "a dialog's name is not a menu's";
  EXPECT_EQ(platform::ui::FindDialogTemplate(platform::ui::ParseResourceRef(MAKEINTRESOURCEW(IDD_MAIN))),
            platform::ui::FindDialogTemplate(IDD_MAIN));
}

// The programs read the version text by walking the block as consecutive
// NUL-terminated UTF-16 texts and taking the value two units after the end
// of the "FileVersion" key.
TEST(VersionBlock, FileVersionSitsWhereTheProgramsLook) {
  const auto* res = platform::ui::FindBinaryResource(platform::ui::kVersionResource, 1);
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(res->size % 2, 0u);
  std::u16string units(res->size / 2, u'\0');
  std::memcpy(units.data(), res->data, res->size);
  EXPECT_EQ(units[0] * 1u, res->size);  // wLength covers the whole block
  size_t at = 0;
  std::u16string value;
  while (at < units.size()) {
    size_t end = units.find(u'\0', at);
    if (end == std::u16string::npos) break;
    std::u16string text = units.substr(at, end - at);
    if (text.find(u"FileVersion") != std::u16string::npos) {
      size_t v = end + 2;  // the terminator, then one alignment unit
      value = units.substr(v, units.find(u'\0', v) - v);
      break;
    }
    at = end + 1;
  }
  EXPECT_EQ(value, u"2, 5, 0, 17");
  // The fixed part: signature at byte 40, file version 2.5 / 0.17.
  auto u32 = [&](size_t o) {
    return static_cast<uint32_t>(res->data[o] | (res->data[o + 1] << 8) | (res->data[o + 2] << 16) |
                                 (static_cast<uint32_t>(res->data[o + 3]) << 24));
  };
  EXPECT_EQ(u32(40), 0xFEEF04BDu);
  EXPECT_EQ(u32(48), 0x00020005u);
  EXPECT_EQ(u32(52), 0x00000011u);
}

TEST(ResourceScript, MalformedInputGivesFileLineAndReason) {
  struct Case {
    const char* text;
    int line;
    const char* reason;
  };
  const Case cases[] = {
      {"100 DIALOGEX 0, 0, 10 10\nBEGIN\nEND\n", 1, "expected ','"},
      {"100 DIALOGEX 0, 0, 10, 10\nBEGIN\n  BUTTONX \"a\", 1, 0, 0, 1, 1\nEND\n", 3, "unknown control statement 'BUTTONX'"},
      {"100 DIALOGEX 0, 0, 10, 10\nCAPTION \"open\nBEGIN\nEND\n", 2, "unterminated string"},
      {"100 DIALOGEX 0, 0, 10, 10\nBEGIN\n  PUSHBUTTON \"a\", IDC_NOWHERE, 0, 0, 1, 1\nEND\n", 3, "unknown name 'IDC_NOWHERE'"},
      {"100 DIALOGEX 0, 0, 10, 10\nBEGIN\n  PUSHBUTTON \"a\", 1, 0, 0, 1, 1\n", 3, "has no END"},
      {"5 BITMAP \"missing.bmp\"\n", 1, "cannot find file 'missing.bmp'"},
      {"#if 1\n100 MENU\nBEGIN\nEND\n", 4, "#if without #endif"},
      {"100 DIALOG 0,0,1,1\nBEGIN\nEND\n100 DIALOG 0,0,1,1\nBEGIN\nEND\n", 0, "dialog 100 is defined twice"},
      {"100 DIALOG 0,0,12abc,1\n", 1, "malformed number"},
      {"100 WIDGET \"x\"\n", 1, "unsupported resource type 'WIDGET'"},
      {"IDD_NAMED + 1 DIALOG 0,0,1,1\nBEGIN\nEND\n", 1, "resource name 'IDD_NAMED' is not a number"},
      {"100 DIALOG 0,0,1,1\nMENU NO_MENU\nBEGIN\nEND\n", 2, "resource name 'NO_MENU' is not a number"},
      {"\n\"\" ICON \"orange.ico\"\n", 2, "resource name is empty"},
      {"#define IDI_TEXT \"x\"\nIDI_TEXT ICON \"orange.ico\"\n", 2, "'IDI_TEXT' is defined, but not as a number"},
      {"\"#12\" ICON \"orange.ico\"\n", 1, "starts with '#'"},
      {"pic ICON \"orange.ico\"\nPic ICON \"orange.ico\"\n", 0, "icon 'PIC' is defined twice"},
      {"Tray MENU\nBEGIN\nEND\nTRAY MENU\nBEGIN\nEND\n", 0, "menu 'TRAY' is defined twice"},
      {"page DIALOG 0,0,1,1\nBEGIN\nEND\nPAGE DIALOG 0,0,1,1\nBEGIN\nEND\n", 0, "dialog 'PAGE' is defined twice"},
      {"\n\npage DIALOG 0,0,1,1\nBEGIN\n", 4, "dialog 'PAGE' has no END"},
      {"100 MENU\nBEGIN\n  MENUITEM \"a\" 5\nEND\n", 3, "expected ','"},
      {"#include \"nothere.h\"\n", 1, "cannot find included file 'nothere.h'"},
      {"100 VERSIONINFO\nBEGIN\n  VALUE \"x\" 1\nEND\n", 3, "expected ','"},
      {"100 DIALOG 0,0,1,1\nBEGIN\n  CONTROL \"\", 1, WIDGETCLASS, 0, 0, 0, 1, 1\nEND\n", 3, "unknown control class 'WIDGETCLASS'"},
  };
  for (const auto& c : cases) {
    rc::ResourceFile out;
    rc::Error error;
    EXPECT_FALSE(rc::ParseText(c.text, fixture("broken.rc"), {}, out, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text << " -> " << error.message();
    EXPECT_NE(error.what.find(c.reason), std::string::npos) << error.message();
    EXPECT_NE(error.message().find("broken.rc:"), std::string::npos);
  }
}

// Names up to 256 characters; one more is refused. The same name may name
// an icon and a bitmap, and a word may name one resource while a number
// names another of the same kind.
TEST(ResourceScript, NameLengthsAndKinds) {
  struct Case {
    std::string text;
    bool ok;
  };
  const std::string longest(256, 'N');
  const Case cases[] = {
      {longest + " ICON \"orange.ico\"\n", true},
      {"\"" + longest + "\" ICON \"orange.ico\"\n", true},
      {longest + "N ICON \"orange.ico\"\n", false},
      {"\"" + longest + "N\" BITMAP \"four.bmp\"\n", false},
      {"Same ICON \"orange.ico\"\nSame BITMAP \"four.bmp\"\n5 ICON \"orange.ico\"\n", true},
  };
  for (const auto& c : cases) {
    rc::ResourceFile out;
    rc::Error error;
    EXPECT_EQ(rc::ParseText(c.text, fixture("named.rc"), {}, out, error), c.ok)
        << c.text.substr(0, 40) << " -> " << error.message();
    if (!c.ok) {
      EXPECT_NE(error.what.find("is longer than 256 characters"), std::string::npos) << error.message();
    }
  }
}

// String tables: the compiled fixture's strings through LoadStringW, laid out
// in blocks of 16 as the loader reads them.
TEST(StringTable, LoadStringReadsEveryBlock) {
  struct Case {
    UINT id;
    std::u16string text;  // empty: no such string
  };
  const Case cases[] = {
      {1, u"first"},
      {17, u"Hello, \"world\"\tand tab"},
      {31, u""},  // defined empty: absent, as the loader treats it
      {0, u""},   // same block, never defined
      {16, u""},
      {686, u""},
      {687, u" Please select the location of Volume. "},
      {689, u"\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8"},
      {65535, u"last"},
      {4000, u""},  // no block at all
  };
  for (const auto& c : cases) {
    WCHAR buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    const int n = LoadStringW(nullptr, c.id, buffer, 64);
    EXPECT_EQ(n, static_cast<int>(c.text.size())) << c.id;
    EXPECT_EQ(std::u16string(buffer), c.text) << c.id;
  }
  // Truncated to the buffer with a terminator; size 0 hands out the stored text.
  WCHAR small[4];
  EXPECT_EQ(LoadStringW(nullptr, 17, small, 4), 3);
  EXPECT_EQ(std::u16string(small), u"Hel");
  const WCHAR* stored = nullptr;
  EXPECT_EQ(LoadStringW(nullptr, 687, reinterpret_cast<LPWSTR>(&stored), 0), 39);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(std::u16string(stored, 39), u" Please select the location of Volume. ");
  EXPECT_EQ(LoadStringW(nullptr, 4000, reinterpret_cast<LPWSTR>(&stored), 0), 0);
  EXPECT_EQ(stored, nullptr);
}

// Bad string tables are among the malformed scripts above.
TEST(StringTable, BlockLayoutAndDamagedBlocks) {
  // The block layout itself: block 2 holds ids 16..31, each length-prefixed.
  const auto blocks = rc::BuildStringBlocks({{16, u"ab"}, {18, u"c"}});
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].type, 6);
  EXPECT_EQ(blocks[0].id, 2);
  const std::vector<uint8_t> expected = {2, 0, 'a', 0, 'b', 0, 0, 0, 1, 0, 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(blocks[0].data, expected);

  // A damaged block yields nothing past its end.
  const unsigned char damaged[] = {1, 0, 'x', 0, 0x50, 0, 'y', 0};
  const platform::ui::BinaryResource block{6, 300, damaged, sizeof damaged};
  const platform::ui::ResourceTable table{"damaged_strings", nullptr, 0, nullptr, 0, &block, 1};
  platform::ui::RegisterResourceTable(&table);
  WCHAR buffer[8];
  EXPECT_EQ(LoadStringW(nullptr, 299 * 16, buffer, 8), 1);
  EXPECT_EQ(LoadStringW(nullptr, 299 * 16 + 1, buffer, 8), 0);
  EXPECT_EQ(LoadStringW(nullptr, 299 * 16 + 7, buffer, 8), 0);
  platform::ui::UnregisterResourceTable(&table);
}

// A language library: drum_rc --strings writes the fixture's string blocks
// alone; LoadStringW with its handle finds only its texts, the own tables
// stay behind a null handle; damaged files are refused whole.
TEST(StringTable, LanguageLibraryOfStringBlocks) {
  auto dir = std::filesystem::temp_directory_path() / ("drum_rc_strings_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "lang.rc") << "STRINGTABLE\nBEGIN\n  1 \"eins\"\n  687 \"Band\"\nEND\n";
  const auto out = dir / "lang.dll";
  ASSERT_EQ(std::system((std::string(DRUM_RC_PATH) + " --strings " + (dir / "lang.rc").string() + " " + out.string())
                            .c_str()),
            0);
  std::ifstream in(out, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto set = std::make_shared<platform::ui::StringBlockSet>();
  std::string error;
  ASSERT_TRUE(platform::ui::ParseStringBlockFile(bytes, *set, &error)) << error;
  const HINSTANCE library = reinterpret_cast<HINSTANCE>(0x7000);
  platform::ui::SetInstanceStrings(library, set);
  WCHAR buffer[16];
  EXPECT_EQ(LoadStringW(library, 1, buffer, 16), 4);
  EXPECT_EQ(std::u16string(buffer), u"eins");
  EXPECT_EQ(LoadStringW(library, 687, buffer, 16), 4);
  EXPECT_EQ(LoadStringW(library, 17, buffer, 16), 0);  // only in the own table
  EXPECT_EQ(LoadStringW(nullptr, 1, buffer, 16), 5);    // the own table's "first"
  platform::ui::SetInstanceStrings(library, nullptr);
  EXPECT_EQ(LoadStringW(library, 1, buffer, 16), 5);

  // Damaged files: each refused with a reason, nothing kept.
  auto damaged = [&](std::vector<unsigned char> b) {
    platform::ui::StringBlockSet s;
    std::string why;
    EXPECT_FALSE(platform::ui::ParseStringBlockFile(b, s, &why));
    EXPECT_TRUE(s.blocks.empty());
    return why;
  };
  EXPECT_NE(damaged({'N', 'O', 'P', 'E'}).find("magic"), std::string::npos);
  std::vector<unsigned char> cut = bytes;
  cut.resize(cut.size() - 3);
  EXPECT_NE(damaged(cut).find("remain"), std::string::npos);
  std::vector<unsigned char> header_cut(bytes.begin(), bytes.begin() + 11);
  EXPECT_NE(damaged(header_cut).find("cut off"), std::string::npos);
  std::vector<unsigned char> twice = bytes;
  twice.insert(twice.end(), bytes.begin() + 8, bytes.end());
  EXPECT_NE(damaged(twice).find("twice"), std::string::npos);
  std::vector<unsigned char> zero = bytes;
  zero[8] = zero[9] = 0;
  EXPECT_NE(damaged(zero).find("block number 0"), std::string::npos);
  // A library needs strings.
  std::ofstream(dir / "empty.rc") << "100 MENU\nBEGIN\n  MENUITEM \"x\", 1\nEND\n";
  EXPECT_NE(std::system((std::string(DRUM_RC_PATH) + " --strings " + (dir / "empty.rc").string() + " " +
                         (dir / "empty.dll").string() + " 2>/dev/null")
                            .c_str()),
            0);
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.dll"));
  std::filesystem::remove_all(dir);
}

TEST(ResourceScript, CompilerToolRefusesBadInputAndWritesNothing) {
  auto dir = std::filesystem::temp_directory_path() / ("drum_rc_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto bad = dir / "bad.rc";
  std::ofstream(bad) << "100 DIALOGEX 0, 0, 10, 10\nBEGIN\n  LTEXT \"x\" 1, 0, 0, 1, 1\nEND\n";
  auto out = dir / "out.cpp";
  std::string cmd = std::string(DRUM_RC_PATH) + " " + bad.string() + " " + out.string() + " t 2>" + (dir / "err").string();
  int status = std::system(cmd.c_str());
  EXPECT_NE(status, 0);
  EXPECT_FALSE(std::filesystem::exists(out));
  std::ifstream err(dir / "err");
  std::string message((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  EXPECT_NE(message.find("bad.rc:3: expected ','"), std::string::npos) << message;
  // The good fixture compiles to a source naming the table.
  cmd = std::string(DRUM_RC_PATH) + " " + fixture("test.rc") + " " + out.string() + " sample";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream code(out);
  std::string text((std::istreambuf_iterator<char>(code)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("drum_resources_sample()"), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
