// Menu item information (types, states, pictures, menu styles), items whose
// picture the owner measures and draws as a pop-up opens, and icons loaded
// at a size, shared, and split into colour and mask bitmaps.
#include <gtest/gtest.h>

#include <QImage>
#include <map>
#include <vector>

#include "fixtures/resource.h"
#include "platform/core/error.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_map.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

using platform::ui::Script;

namespace {

constexpr DWORD kItemNotFound = 1456;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kMenu = RGB(240, 240, 240);

MENUITEMINFOW ReadItem(HMENU menu, UINT position, char16_t* text = nullptr, UINT size = 0) {
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_BITMAP | MIIM_DATA | MIIM_STATE | MIIM_SUBMENU |
               (text ? MIIM_STRING : 0u);
  item.dwTypeData = text;
  item.cch = size;
  EXPECT_TRUE(GetMenuItemInfoW(menu, position, TRUE, &item)) << "position " << position;
  return item;
}

TEST(MenuItemInfo, TypesStatesPicturesAndStylesReadBack) {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING | MF_GRAYED, 101, u"First");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_OWNERDRAW, 103, reinterpret_cast<LPCWSTR>(uintptr_t{0x5150}));
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"More");

  char16_t text[8] = {};
  MENUITEMINFOW item = ReadItem(menu, 0, text, 8);
  EXPECT_EQ(item.fType, MFT_STRING);
  EXPECT_EQ(item.fState, MF_GRAYED);
  EXPECT_EQ(item.wID, 101u);
  EXPECT_EQ(item.hbmpItem, nullptr);
  EXPECT_EQ(std::u16string(text), u"First");
  EXPECT_EQ(item.cch, 5u);
  // A short buffer takes what fits and its terminator.
  char16_t small[3] = {u'x', u'x', u'x'};
  item = ReadItem(menu, 0, small, 3);
  EXPECT_EQ(std::u16string(small), u"Fi");
  EXPECT_EQ(item.cch, 2u);
  EXPECT_EQ(ReadItem(menu, 1).fType, MFT_SEPARATOR);
  item = ReadItem(menu, 2);
  EXPECT_EQ(item.fType, MFT_OWNERDRAW);
  EXPECT_EQ(item.dwItemData, 0x5150u);
  item = ReadItem(menu, 3);
  EXPECT_EQ(item.hSubMenu, sub);
  EXPECT_EQ(item.wID, 0u);

  // The callback picture goes beside the text, which stays, also when the
  // item is relabelled; taking it away leaves a plain string item.
  MENUITEMINFOW set{};
  set.cbSize = sizeof set;
  set.fMask = MIIM_BITMAP | MIIM_FTYPE;
  set.fType = MFT_STRING;
  set.hbmpItem = HBMMENU_CALLBACK;
  ASSERT_TRUE(SetMenuItemInfoW(menu, 101, FALSE, &set));
  ASSERT_TRUE(ModifyMenuW(menu, 101, MF_BYCOMMAND | MF_STRING, 101, u"Renamed"));
  item = ReadItem(menu, 0, text, 8);
  EXPECT_EQ(item.hbmpItem, HBMMENU_CALLBACK);
  EXPECT_EQ(item.fType, MFT_STRING);
  EXPECT_EQ(std::u16string(text), u"Renamed");
  EXPECT_TRUE(platform::ui::DrawnByOwner(platform::ui::FindMenu(menu)->items[0]));
  set.hbmpItem = nullptr;
  ASSERT_TRUE(SetMenuItemInfoW(menu, 0, TRUE, &set));
  EXPECT_EQ(ReadItem(menu, 0).hbmpItem, nullptr);
  EXPECT_FALSE(platform::ui::DrawnByOwner(platform::ui::FindMenu(menu)->items[0]));
  // A real bitmap is taken as the picture too.
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, 4, 4);
  set.hbmpItem = bitmap;
  ASSERT_TRUE(SetMenuItemInfoW(menu, 0, TRUE, &set));
  EXPECT_EQ(ReadItem(menu, 0).hbmpItem, bitmap);

  // State, command and text written through the structure.
  MENUITEMINFOW write{};
  write.cbSize = sizeof write;
  write.fMask = MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_DATA;
  write.fState = MF_CHECKED;
  write.wID = 111;
  write.dwTypeData = const_cast<LPWSTR>(u"Other");
  write.dwItemData = 9;
  ASSERT_TRUE(SetMenuItemInfoW(menu, 0, TRUE, &write));
  item = ReadItem(menu, 0, text, 8);
  EXPECT_EQ(item.fState, MF_CHECKED);
  EXPECT_EQ(item.wID, 111u);
  EXPECT_EQ(item.dwItemData, 9u);
  EXPECT_EQ(std::u16string(text), u"Other");
  EXPECT_EQ(GetMenuState(menu, 111, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED), MF_CHECKED);

  MENUINFO style{};
  style.cbSize = sizeof style;
  style.fMask = MIM_STYLE;
  style.dwStyle = MNS_CHECKORBMP | MNS_AUTODISMISS;
  EXPECT_TRUE(SetMenuInfo(menu, &style));
  style.dwStyle = 0;
  EXPECT_TRUE(GetMenuInfo(menu, &style));
  EXPECT_EQ(style.dwStyle, MNS_CHECKORBMP | MNS_AUTODISMISS);
  EXPECT_TRUE(GetMenuInfo(sub, &style));
  EXPECT_EQ(style.dwStyle, 0u) << "each menu has its own style";
  DestroyMenu(menu);
  SetLastError(0);
  EXPECT_FALSE(GetMenuInfo(menu, &style)) << "a destroyed menu has no style";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

TEST(MenuItemInfo, BadCallsFailWithTheirErrorAndChangeNothing) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 101, u"First");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, 103, u"Third");
  struct Bad {
    const char* what;
    HMENU menu;
    UINT item;
    BOOL by_position;
    UINT size;
    UINT mask;
    HBITMAP bitmap;
    UINT type;
    HMENU submenu;
    DWORD error;
    bool reads_fail;  // GetMenuItemInfoW fails the same way
  };
  const HMENU unknown = reinterpret_cast<HMENU>(uintptr_t{0x7777});
  const HBITMAP not_a_bitmap = reinterpret_cast<HBITMAP>(uintptr_t{0x1234});
  const Bad bad[] = {
      {"unknown menu", unknown, 0, TRUE, sizeof(MENUITEMINFOW), MIIM_BITMAP, nullptr, 0, nullptr,
       ERROR_INVALID_HANDLE, true},
      {"position past the end", menu, 3, TRUE, sizeof(MENUITEMINFOW), MIIM_BITMAP, nullptr, 0, nullptr,
       kItemNotFound, true},
      {"no such command", menu, 999, FALSE, sizeof(MENUITEMINFOW), MIIM_BITMAP, nullptr, 0, nullptr,
       kItemNotFound, true},
      {"wrong structure size", menu, 0, TRUE, 48, MIIM_BITMAP, nullptr, 0, nullptr, ERROR_INVALID_PARAMETER,
       true},
      {"a picture that is no bitmap", menu, 0, TRUE, sizeof(MENUITEMINFOW), MIIM_BITMAP, not_a_bitmap, 0,
       nullptr, ERROR_INVALID_PARAMETER, false},
      {"an unknown type bit", menu, 0, TRUE, sizeof(MENUITEMINFOW), MIIM_FTYPE, nullptr, 0x4000, nullptr,
       ERROR_INVALID_PARAMETER, false},
      {"a sub-menu that does not exist", menu, 0, TRUE, sizeof(MENUITEMINFOW), MIIM_SUBMENU, nullptr, 0,
       unknown, ERROR_INVALID_HANDLE, false},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.what);
    MENUITEMINFOW info{};
    info.cbSize = b.size;
    info.fMask = b.mask;
    info.hbmpItem = b.bitmap;
    info.fType = b.type;
    info.hSubMenu = b.submenu;
    SetLastError(0);
    EXPECT_FALSE(SetMenuItemInfoW(b.menu, b.item, b.by_position, &info));
    EXPECT_EQ(GetLastError(), b.error);
    if (b.reads_fail) {
      SetLastError(0);
      EXPECT_FALSE(GetMenuItemInfoW(b.menu, b.item, b.by_position, &info));
      EXPECT_EQ(GetLastError(), b.error);
    }
  }
  // Nothing was changed by the refused calls.
  MENUITEMINFOW first = ReadItem(menu, 0);
  EXPECT_EQ(first.hbmpItem, nullptr);
  EXPECT_EQ(first.fType, MFT_STRING);
  EXPECT_EQ(first.hSubMenu, nullptr);
  EXPECT_EQ(GetMenuItemCount(menu), 3);
  SetLastError(0);
  EXPECT_FALSE(SetMenuItemInfoW(menu, 0, TRUE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetMenuItemInfoW(menu, 0, TRUE, nullptr));
  MENUINFO style{};
  style.cbSize = 12;
  style.fMask = MIM_STYLE;
  EXPECT_FALSE(SetMenuInfo(menu, &style));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SetMenuInfo(menu, nullptr));
  DestroyMenu(menu);
}

// An owner that draws its menu pictures: each command's picture is a solid
// square of (command - 600) * 4 pixels in red; it records what it was asked.
class PictureOwner : public CDialog {
 public:
  PictureOwner() : CDialog(IDD_PAGE1) {}
  std::vector<UINT> measured, drawn;
  std::vector<UINT> drawn_states;
  UINT picked = 0;
  bool with_bar = false;  // the pop-up hangs from a menu bar of the dialog

  // A pop-up with a callback picture (601), an owner-drawn item (602), a
  // plain item (603) and a greyed callback item (604).
  HMENU MakePopup() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 601, u"&Copy");
    AppendMenuW(menu, MF_OWNERDRAW, 602, reinterpret_cast<LPCWSTR>(uintptr_t{77}));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, 603, u"Plain");
    AppendMenuW(menu, MF_STRING | MF_GRAYED, 604, u"Gone");
    MENUITEMINFOW set{};
    set.cbSize = sizeof set;
    set.fMask = MIIM_BITMAP;
    set.hbmpItem = HBMMENU_CALLBACK;
    SetMenuItemInfoW(menu, 601, FALSE, &set);
    SetMenuItemInfoW(menu, 604, FALSE, &set);
    return menu;
  }

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (with_bar) {
      HMENU bar = CreateMenu();
      AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(MakePopup()), u"Edit");
      ::SetMenu(m_hWnd, bar);
    }
    return TRUE;
  }
  void OnDestroy() {
    if (HMENU bar = ::GetMenu(m_hWnd)) {
      ::SetMenu(m_hWnd, nullptr);
      DestroyMenu(bar);
    }
    CDialog::OnDestroy();
  }
  void OnNext() {
    HMENU menu = MakePopup();
    picked = static_cast<UINT>(::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, m_hWnd, nullptr));
    DestroyMenu(menu);
  }
  void OnMeasureItem(int, LPMEASUREITEMSTRUCT mi) {
    if (mi->CtlType != ODT_MENU) return;
    measured.push_back(mi->itemID);
    mi->itemWidth = mi->itemHeight = (mi->itemID - 600) * 4;
  }
  void OnDrawItem(int, LPDRAWITEMSTRUCT di) {
    if (di->CtlType != ODT_MENU) return;
    drawn.push_back(di->itemID);
    drawn_states.push_back(di->itemState);
    HBRUSH red = CreateSolidBrush(kRed);
    FillRect(di->hDC, &di->rcItem, red);
    DeleteObject(red);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(PictureOwner, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &PictureOwner::OnNext)
  ON_WM_MEASUREITEM()
  ON_WM_DRAWITEM()
  ON_WM_DESTROY()
END_MESSAGE_MAP()

// Rows of the picture holding any pixel of `colour` (within the columns).
std::vector<int> RowsWith(const QImage& image, QRgb colour, int from_x, int to_x) {
  std::vector<int> rows;
  for (int y = 0; y < image.height(); ++y)
    for (int x = from_x; x < std::min(to_x, image.width()); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
        rows.push_back(y);
        break;
      }
  return rows;
}

TEST(Menus, CallbackPicturesAreDrawnByTheOwnerBesideTheirText) {
  PictureOwner owner;
  ASSERT_TRUE(owner.Create(IDD_PAGE1));
  HMENU menu = owner.MakePopup();
  QImage picture = platform::ui::DrawPopupMenu(owner.m_hWnd, menu);
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(owner.measured, (std::vector<UINT>{601, 602, 604}));
  EXPECT_EQ(owner.drawn, (std::vector<UINT>{601, 602, 604}));
  EXPECT_EQ(owner.drawn_states, (std::vector<UINT>{0, 0, ODS_GRAYED}));
  // Rows: 601 (20, its 4-pixel picture centred), 602 (20, 8 pixels), the
  // separator (8), 603 (20), 604 (20, 16 pixels).
  const QRgb red = platform::ui::ToQRgb(kRed);
  const int widest = 16, text_x = 4 + widest + 4;
  std::vector<int> red_rows = RowsWith(picture, red, 0, text_x);
  std::vector<int> want;
  for (int y = 8; y < 12; ++y) want.push_back(y);          // 601
  for (int y = 26; y < 34; ++y) want.push_back(y);         // 602
  for (int y = 70; y < 86; ++y) want.push_back(y);         // 604
  EXPECT_EQ(red_rows, want);
  EXPECT_EQ(picture.pixel(4, 8) & 0xFFFFFF, red & 0xFFFFFF) << "the picture starts at the item's left";
  EXPECT_EQ(picture.pixel(8, 8) & 0xFFFFFF, platform::ui::ToQRgb(kMenu) & 0xFFFFFF);
  // Text beside the pictures, black for enabled items and grey for 604; the
  // owner-drawn item has none of the platform's.
  std::vector<int> black_rows = RowsWith(picture, 0xFF000000, text_x, picture.width());
  std::vector<int> grey_rows = RowsWith(picture, platform::ui::ToQRgb(GetSysColor(COLOR_GRAYTEXT)), text_x,
                                        picture.width());
  auto any_in = [](const std::vector<int>& rows, int from, int to) {
    for (int y : rows)
      if (y >= from && y < to) return true;
    return false;
  };
  EXPECT_TRUE(any_in(black_rows, 0, 20)) << "Copy";
  EXPECT_FALSE(any_in(black_rows, 20, 40)) << "the owner-drawn item";
  EXPECT_TRUE(any_in(black_rows, 48, 68)) << "Plain";
  EXPECT_FALSE(any_in(black_rows, 68, 88));
  EXPECT_TRUE(any_in(grey_rows, 68, 88)) << "Gone is grey";
  EXPECT_EQ(picture.height(), 88);
  DestroyMenu(menu);
  owner.DestroyWindow();
}

// Checked items get a tick at the left in their text colour (grey when
// greyed), in a column that is there only when something is checked; the
// owner of a whole owner-drawn item is told it is checked and draws its own.
TEST(Menus, CheckedItemsHaveATickAtTheLeft) {
  PictureOwner owner;
  ASSERT_TRUE(owner.Create(IDD_PAGE1));
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING | MF_CHECKED, 701, u"On");                // row 0..20
  AppendMenuW(menu, MF_STRING, 702, u"Off");                            // 20..40
  AppendMenuW(menu, MF_STRING | MF_CHECKED | MF_GRAYED, 703, u"Grey");  // 40..60
  AppendMenuW(menu, MF_OWNERDRAW | MF_CHECKED, 604, reinterpret_cast<LPCWSTR>(uintptr_t{5}));  // 60..80
  QImage picture = platform::ui::DrawPopupMenu(owner.m_hWnd, menu);
  ASSERT_FALSE(picture.isNull());
  ASSERT_EQ(picture.height(), 80);
  EXPECT_EQ(owner.drawn_states, (std::vector<UINT>{ODS_CHECKED}));
  const QRgb black = 0xFF000000, grey = platform::ui::ToQRgb(GetSysColor(COLOR_GRAYTEXT));
  // The tick column is 16 pixels past a 4-pixel gap; the owner-drawn item's
  // 16-pixel picture sets the picture column's width.
  const int column = 4, text_x = 4 + 16 + 16 + 4;
  auto in_rows = [](const std::vector<int>& rows, int from, int to) {
    std::vector<int> out;
    for (int y : rows)
      if (y >= from && y < to) out.push_back(y);
    return out;
  };
  // The column holds ticks only in the checked rows with text.
  const std::vector<int> black_ticks = RowsWith(picture, black, column, column + 16);
  const std::vector<int> grey_ticks = RowsWith(picture, grey, column, column + 16);
  EXPECT_FALSE(in_rows(black_ticks, 0, 20).empty()) << "On";
  EXPECT_TRUE(in_rows(black_ticks, 20, 80).empty()) << "nothing black below On's row";
  EXPECT_TRUE(in_rows(grey_ticks, 0, 40).empty());
  EXPECT_FALSE(in_rows(grey_ticks, 40, 60).empty()) << "Grey's tick is grey";
  EXPECT_TRUE(in_rows(grey_ticks, 60, 80).empty());
  // A tick, not a box: the bottom of its V is drawn, the corners above it
  // and the box's left edge are not, and it stays inside its row.
  auto at = [&](int x, int y) { return picture.pixel(x, y) & 0xFFFFFF; };
  EXPECT_EQ(at(column + 6, 13), black & 0xFFFFFF) << "the bottom of the tick";
  EXPECT_EQ(at(column + 12, 7), black & 0xFFFFFF) << "the top of its long stroke";
  EXPECT_NE(at(column + 3, 5), black & 0xFFFFFF);
  EXPECT_NE(at(column + 12, 14), black & 0xFFFFFF);
  EXPECT_NE(at(column, 10), black & 0xFFFFFF);
  for (int y : black_ticks) EXPECT_TRUE(y >= 5 && y < 16) << y;
  // Texts start past the column, all at one x.
  auto first_x = [&](int from_y, int to_y, QRgb colour) {
    for (int x = 0; x < picture.width(); ++x)
      for (int y = from_y; y < to_y; ++y)
        if ((picture.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return x;
    return -1;
  };
  const int off_text = first_x(20, 40, black);
  EXPECT_GE(off_text, text_x);
  EXPECT_LT(off_text, text_x + 4) << "Off's text starts where the ticked rows' texts do";
  const int on_first = first_x(0, 20, black);
  EXPECT_GE(on_first, column);
  EXPECT_LT(on_first, column + 6) << "On's row starts with its tick";
  // The owner-drawn item is the owner's red alone, from the row's left.
  EXPECT_EQ(at(column, 70), platform::ui::ToQRgb(kRed) & 0xFFFFFF);
  EXPECT_EQ(at(column + 15, 70), platform::ui::ToQRgb(kRed) & 0xFFFFFF);
  EXPECT_TRUE(in_rows(RowsWith(picture, black, 0, picture.width()), 60, 80).empty());
  DestroyMenu(menu);

  // Nothing checked: no column, the text starts right at the left.
  HMENU plain = CreatePopupMenu();
  AppendMenuW(plain, MF_STRING, 702, u"Off");
  QImage unchecked = platform::ui::DrawPopupMenu(owner.m_hWnd, plain);
  EXPECT_EQ(unchecked.width(), picture.width() - 32);
  int x = -1;
  for (int cx = 0; cx < unchecked.width() && x < 0; ++cx)
    for (int y = 0; y < unchecked.height(); ++y)
      if ((unchecked.pixel(cx, y) & 0xFFFFFF) == 0) {
        x = cx;
        break;
      }
  EXPECT_EQ(x, off_text - 32);
  DestroyMenu(plain);
  owner.DestroyWindow();
}

TEST(Menus, TrackPopupMenuAndTheMenuVerbAskTheOwnerForPictures) {
  // TrackPopupMenu draws the pop-up as it opens.
  {
    PictureOwner owner;
    Script s;
    s.expect_dialog(IDD_PAGE1).click(IDC_NEXT).menu(603).key("escape");
    auto run = ui_test::RunScripted(s, [&] { owner.DoModal(); });
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(owner.picked, 603u);
    EXPECT_EQ(owner.measured, (std::vector<UINT>{601, 602, 604}));
    EXPECT_EQ(owner.drawn, (std::vector<UINT>{601, 602, 604}));
  }
  // The `menu` verb on a menu bar opens the command's pop-up the same way.
  {
    PictureOwner owner;
    owner.with_bar = true;
    Script s;
    s.expect_dialog(IDD_PAGE1).menu(603).key("escape");
    auto run = ui_test::RunScripted(s, [&] { owner.DoModal(); });
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(owner.measured, (std::vector<UINT>{601, 602, 604}));
    EXPECT_EQ(owner.drawn, (std::vector<UINT>{601, 602, 604}));
  }
}

TEST(Icons, TheEntryOfTheAskedSizeIsChosenAndScaledOnlyWhenMissing) {
  struct Case {
    int size;
    int got;
    COLORREF colour;
  };
  const Case cases[] = {
      {16, 16, RGB(255, 0, 0)}, {32, 32, RGB(0, 255, 0)}, {48, 48, RGB(0, 0, 255)},
      {24, 24, RGB(0, 255, 0)},  // the next larger entry, scaled down
      {64, 64, RGB(0, 0, 255)},  // the largest, scaled up
      {0, 48, RGB(0, 0, 255)},   // as stored: the largest
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    HICON icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(IDI_SIZES), IMAGE_ICON, c.size, c.size, 0));
    ASSERT_NE(icon, nullptr);
    const QImage* image = platform::ui::IconImage(icon);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), c.got);
    EXPECT_EQ(image->height(), c.got);
    EXPECT_EQ(image->pixel(c.got / 2, c.got / 2), platform::ui::ToQRgb(c.colour) | 0xFF000000u);
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_EQ(platform::ui::IconImage(icon), nullptr) << "an icon of its own is destroyed";
  }
}

TEST(Icons, SharedIconsAreOnePerResourceAndSizeAndOutliveDestroyIcon) {
  auto load = [](LPCWSTR name, int size) {
    return static_cast<HICON>(LoadImageW(nullptr, name, IMAGE_ICON, size, size, LR_SHARED));
  };
  HICON a = load(MAKEINTRESOURCEW(IDI_SIZES), 16);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(load(MAKEINTRESOURCEW(IDI_SIZES), 16), a);
  EXPECT_EQ(load(u"#303", 16), a) << "a number written as a name";
  HICON b = load(MAKEINTRESOURCEW(IDI_SIZES), 32);
  EXPECT_NE(b, a);
  EXPECT_EQ(platform::ui::IconImage(b)->width(), 32);
  EXPECT_TRUE(DestroyIcon(a));
  ASSERT_NE(platform::ui::IconImage(a), nullptr) << "a shared icon stays";
  EXPECT_EQ(load(MAKEINTRESOURCEW(IDI_SIZES), 16), a);

  struct Bad {
    LPCWSTR name;
    int size;
    DWORD error;
  };
  const Bad bad[] = {
      {MAKEINTRESOURCEW(9999), 16, 1814}, {u"#", 16, 1814},     {u"#30x", 16, 1814},
      {u"#99999999999", 16, 1814},        {u"Orange", 16, 1814}, {MAKEINTRESOURCEW(IDI_SIZES), -1, ERROR_INVALID_PARAMETER},
      {MAKEINTRESOURCEW(IDI_SIZES), 5000, ERROR_INVALID_PARAMETER},
  };
  for (const Bad& b : bad) {
    SetLastError(0);
    EXPECT_EQ(load(b.name, b.size), nullptr);
    EXPECT_EQ(GetLastError(), b.error);
  }
  SetLastError(0);
  EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(uintptr_t{0x4321})));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Icons, IconInfoGivesColourAndMaskBitmapsTheCallerOwns) {
  // masked.ico: 2 x 2, red and blue solid pixels, (1, 0) clear.
  HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_MASKED));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  EXPECT_TRUE(info.fIcon);
  const QImage* colour = platform::ui::BitmapImage(info.hbmColor);
  const QImage* mask = platform::ui::BitmapImage(info.hbmMask);
  ASSERT_NE(colour, nullptr);
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(colour->size(), QSize(2, 2));
  EXPECT_EQ(colour->pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(colour->pixel(0, 1) & 0xFFFFFF, 0x0000FFu);
  const std::map<std::pair<int, int>, QRgb> mask_wanted{
      {{0, 0}, 0x000000}, {{1, 0}, 0xFFFFFF}, {{0, 1}, 0x000000}, {{1, 1}, 0x000000}};
  for (auto& [at, want] : mask_wanted) EXPECT_EQ(mask->pixel(at.first, at.second) & 0xFFFFFF, want);
  EXPECT_TRUE(DeleteObject(info.hbmColor));
  EXPECT_TRUE(DeleteObject(info.hbmMask));
  EXPECT_NE(platform::ui::IconImage(icon), nullptr) << "the icon is untouched";
  DestroyIcon(icon);

  SetLastError(0);
  EXPECT_FALSE(GetIconInfo(icon, &info)) << "a destroyed icon";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetIconInfo(nullptr, &info));
  HICON other = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_ORANGE));
  EXPECT_FALSE(GetIconInfo(other, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  DestroyIcon(other);
}

}  // namespace
