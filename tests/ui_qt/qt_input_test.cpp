// The Qt view's input beyond plain clicks: typing into editable combo boxes,
// list views in icon and list style, and browsing in the file dialog. Qt
// events drive the widgets; the model and the dialog's handlers are checked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "fs/volume_fixture.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/qt/folder_listing.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "ui_qt/qt_test_support.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace {

using platform::ui::Window;
using platform::ui::qt::MirrorMode;
using platform::ui::qt::WidgetMirror;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new qttest::WidgetApplication);
using qttest::Pump;

constexpr int IDD_INPUT = 950;
constexpr int IDC_TYPED = 3001, IDC_FIXED = 3002, IDC_ICONS = 3003, IDC_NAMES = 3004;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
const platform::ui::DialogItemTemplate kInputItems[] = {
    {u"ComboBox", u"", IDC_TYPED, 7, 7, 100, 60, kChild | CBS_DROPDOWN, 0, 0},
    {u"ComboBox", u"", IDC_FIXED, 120, 7, 100, 60, kChild | CBS_DROPDOWNLIST, 0, 0},
    // Below the combos' drop-down room, which their windows cover.
    {u"SysListView32", u"", IDC_ICONS, 7, 75, 150, 80, kChild | LVS_ICON | LVS_SINGLESEL, 0, 0},
    {u"SysListView32", u"", IDC_NAMES, 165, 75, 120, 80, kChild | LVS_LIST | LVS_SINGLESEL, 0, 0},
    {u"Button", u"OK", IDOK, 230, 160, 50, 14, kChild | BS_DEFPUSHBUTTON, 0, 0},
};
const platform::ui::DialogTemplate kDialogs[] = {
    {IDD_INPUT, u"Input", u"MS Shell Dlg", 8, 400, 0, 0, 0, 300, 180,
     DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kInputItems, std::size(kInputItems)},
};
const platform::ui::ResourceTable kTable = {"ui_qt_input_tests", kDialogs, std::size(kDialogs), nullptr, 0, nullptr, 0};

struct Note {
  int id;
  UINT code;
  int item;  // list-view row, else -1
  bool operator==(const Note&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Note& n) {
  return out << "{id " << n.id << " code " << static_cast<int>(n.code) << " item " << n.item << "}";
}

// Records what the controls tell the dialog, and the field's text as the
// handler of each edit notification reads it.
class InputPage : public CDialog {
 public:
  InputPage() : CDialog(IDD_INPUT) {}
  std::vector<Note> notes;
  std::vector<std::u16string> texts_seen;

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    for (int id : {IDC_TYPED, IDC_FIXED}) {
      auto* combo = static_cast<CComboBox*>(GetDlgItem(id));
      combo->AddString(u"FAT32");
      combo->AddString(u"NTFS");
      combo->AddString(u"exFAT");
    }
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_COMMAND && LOWORD(w) != IDOK) {
      notes.push_back({LOWORD(w), HIWORD(w), -1});
      if (HIWORD(w) == CBN_EDITCHANGE || HIWORD(w) == platform::ui::CBN_EDITUPDATE) {
        WCHAR buffer[64] = {};
        ::GetWindowTextW(reinterpret_cast<HWND>(l), buffer, 64);
        texts_seen.push_back(buffer);
      }
    } else if (message == WM_NOTIFY) {
      auto* h = reinterpret_cast<NMHDR*>(l);
      int item = -1;
      if (h->code == LVN_ITEMCHANGED || h->code == NM_CLICK || h->code == NM_DBLCLK)
        item = reinterpret_cast<NMLISTVIEW*>(l)->iItem;
      if (h->code != LVN_ITEMCHANGING) notes.push_back({static_cast<int>(h->idFrom), h->code, item});
    }
    return CDialog::WindowProc(message, w, l);
  }
};

std::u16string TextOf(HWND h) {
  WCHAR buffer[128] = {};
  ::GetWindowTextW(h, buffer, 128);
  return buffer;
}

QImage Solid(QColor colour) {
  QImage image(32, 32, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

class QtInputTest : public qttest::PageTest<InputPage> {
 protected:
  QtInputTest() : PageTest(kTable, IDD_INPUT) {}
  template <class W>
  W* widget(int id) { return dynamic_cast<W*>(mirror.widget_for(item(id))); }
};

TEST_F(QtInputTest, TypingIntoAnEditableComboGivesTheModelItsTextAndNotifiesInOrder) {
  auto* typed = widget<QComboBox>(IDC_TYPED);
  auto* fixed = widget<QComboBox>(IDC_FIXED);
  ASSERT_TRUE(typed && fixed);
  ASSERT_TRUE(typed->isEditable());
  EXPECT_FALSE(fixed->isEditable());

  using platform::ui::CBN_EDITUPDATE;
  struct Step {
    const char* what;
    std::function<void()> act;
    std::u16string text;  // the model's text afterwards
  };
  const Step steps[] = {
      {"type two letters", [&] { QTest::keyClicks(typed->lineEdit(), "ab"); }, u"ab"},
      {"backspace", [&] { QTest::keyClick(typed->lineEdit(), Qt::Key_Backspace); }, u"a"},
      {"type a space and a letter", [&] { QTest::keyClicks(typed->lineEdit(), " z"); }, u"a z"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    page.notes.clear();
    page.texts_seen.clear();
    step.act();
    Pump(&mirror);
    EXPECT_EQ(TextOf(item(IDC_TYPED)), step.text);
    // Each key is one change: EDITUPDATE then EDITCHANGE, nothing else.
    ASSERT_EQ(page.notes.size() % 2, 0u);
    ASSERT_FALSE(page.notes.empty());
    for (size_t i = 0; i < page.notes.size(); i += 2) {
      EXPECT_EQ(page.notes[i], (Note{IDC_TYPED, CBN_EDITUPDATE, -1}));
      EXPECT_EQ(page.notes[i + 1], (Note{IDC_TYPED, CBN_EDITCHANGE, -1}));
    }
    EXPECT_EQ(page.notes.size() / 2, std::string(step.what) == "backspace" ? 1u : 2u);
    // The handlers read the text as it is after the change.
    ASSERT_FALSE(page.texts_seen.empty());
    EXPECT_EQ(page.texts_seen.back(), step.text);
  }

  // What the program sets shows in the field and echoes nothing back.
  auto* combo = static_cast<CComboBox*>(page.GetDlgItem(IDC_TYPED));
  const std::pair<const char*, std::function<void()>> program_steps[] = {
      {"SetWindowText", [&] { ::SetWindowTextW(item(IDC_TYPED), u"D:\\Backup"); }},
      {"SelectString", [&] { combo->SelectString(-1, u"nt"); }},
      {"SetCurSel", [&] { combo->SetCurSel(2); }},
  };
  const char16_t* shown[] = {u"D:\\Backup", u"NTFS", u"exFAT"};
  for (size_t i = 0; i < std::size(program_steps); ++i) {
    SCOPED_TRACE(program_steps[i].first);
    page.notes.clear();
    program_steps[i].second();
    Pump(&mirror);
    mirror.sync();
    Pump(&mirror);
    EXPECT_EQ(typed->lineEdit()->text(), QString::fromUtf16(shown[i]));
    EXPECT_EQ(TextOf(item(IDC_TYPED)), shown[i]);
    EXPECT_TRUE(page.notes.empty()) << page.notes.front();
  }

  // Typing into a drop-down list changes nothing.
  page.notes.clear();
  std::u16string before = TextOf(item(IDC_FIXED));
  ::PostMessageW(item(IDC_FIXED), WM_CHAR, u'x', 1);
  Pump(&mirror);
  EXPECT_EQ(TextOf(item(IDC_FIXED)), before);
  EXPECT_TRUE(page.notes.empty());
}

TEST_F(QtInputTest, IconAndListStyleViewsShowItemsAndClicksSelectInTheModel) {
  auto* icons = static_cast<CListCtrl*>(page.GetDlgItem(IDC_ICONS));
  auto* names = static_cast<CListCtrl*>(page.GetDlgItem(IDC_NAMES));
  CImageList large, small;
  large.Create(32, 32, ILC_COLOR32, 2, 0);
  large.Add(platform::ui::MakeIcon(Solid(QColor(0, 0, 255))));
  large.Add(platform::ui::MakeIcon(Solid(QColor(0, 200, 0))));
  small.Create(16, 16, ILC_COLOR32, 2, 0);
  small.Add(platform::ui::MakeIcon(Solid(QColor(255, 0, 0))));
  small.Add(platform::ui::MakeIcon(Solid(QColor(255, 255, 0))));
  for (CListCtrl* list : {icons, names}) {
    list->SetImageList(&large, LVSIL_NORMAL);
    list->SetImageList(&small, LVSIL_SMALL);
    list->InsertItem(0, u"Disk 0", 0);
    list->InsertItem(1, u"Disk 1", 1);
    list->InsertItem(2, u"Disk 2", 0);
  }
  Pump();
  mirror.sync();

  struct View {
    int id;
    QListView::ViewMode mode;
    QRgb second_icon;  // the picture of row 1: large in icon style, small otherwise
  };
  for (const View& v : {View{IDC_ICONS, QListView::IconMode, qRgb(0, 200, 0)},
                        View{IDC_NAMES, QListView::ListMode, qRgb(255, 255, 0)}}) {
    SCOPED_TRACE(v.id);
    auto* view = widget<QListWidget>(v.id);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->viewMode(), v.mode);
    ASSERT_EQ(view->count(), 3);
    EXPECT_EQ(view->item(2)->text(), "Disk 2");
    QIcon icon = view->item(1)->icon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(16, 16).toImage().pixel(8, 8), v.second_icon);

    // A click on an item selects it in the model with the platform's notes.
    auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(item(v.id));
    ASSERT_NE(model, nullptr);
    page.notes.clear();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(view->item(2)).center());
    Pump(&mirror);
    EXPECT_TRUE(model->rows[2].state & LVIS_SELECTED);
    EXPECT_FALSE(model->rows[0].state & LVIS_SELECTED);
    auto has = [&](Note n) { return std::find(page.notes.begin(), page.notes.end(), n) != page.notes.end(); };
    EXPECT_TRUE(has({v.id, LVN_ITEMCHANGED, 2}));
    EXPECT_TRUE(has({v.id, NM_CLICK, 2}));
    page.notes.clear();
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(view->item(1)).center());
    Pump(&mirror);
    EXPECT_TRUE(has({v.id, NM_DBLCLK, 1}));
    // A click beside the items selects nothing new.
    page.notes.clear();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(view->viewport()->width() - 2, view->viewport()->height() - 2));
    Pump(&mirror);
    EXPECT_TRUE(has({v.id, NM_CLICK, -1}));

    // The program's selection and new items show in the widget.
    CListCtrl* list = v.id == IDC_ICONS ? icons : names;
    list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    list->InsertItem(3, u"Disk 3", 1);
    Pump();
    mirror.sync();
    view = widget<QListWidget>(v.id);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->count(), 4);
    EXPECT_EQ(view->item(3)->text(), "Disk 3");
    EXPECT_EQ(view->currentRow(), 0);
  }

  // A change of style remakes the widget as the new style asks.
  page.GetDlgItem(IDC_NAMES)->ModifyStyle(LVS_LIST, LVS_REPORT);
  Pump();
  mirror.sync();
  EXPECT_EQ(widget<QListWidget>(IDC_NAMES), nullptr);
  EXPECT_NE(mirror.widget_for(item(IDC_NAMES)), nullptr);
}

// A file dialog on the Qt view's own loop, over a simulated PC whose C:
// holds a few folders and files.
class QtFileDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_unique<platform::ui::qt::QtLoopBackend>(mirror, "");
    platform::ui::set_loop_backend(backend_.get());
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Backups", nullptr));
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Backups\\Old", nullptr));
    for (const char16_t* name : {u"C:\\top.img", u"C:\\readme.txt", u"C:\\Backups\\a.img", u"C:\\Backups\\notes.txt"}) {
      HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      CloseHandle(h);
    }
  }
  void TearDown() override {
    platform::ui::set_loop_backend(nullptr);
    backend_.reset();
  }
  // The list and the name field of the open file dialog, once it shows.
  static QWidget* ShownPicker() {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->findChild<QListWidget*>()) return top;
    return nullptr;
  }
  static QStringList Texts(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
  }
  static void DoubleClick(QListWidget* list, const QString& text) {
    auto found = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    QPoint at = list->visualItemRect(found[0]).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  }

  fstest::SimulatedDisk disk{{{u'C', 48ull << 20, "NTFS", "System"}}};
  WidgetMirror mirror{MirrorMode::OnScreen};

 private:
  std::unique_ptr<platform::ui::qt::QtLoopBackend> backend_;
};

TEST_F(QtFileDialogTest, BrowsesTheSimulatedFoldersAndReturnsThePathChosen) {
  struct Case {
    const char* what;
    BOOL open;
    const char16_t* typed;  // typed into the name field in Backups; null: the file clicked
    const char16_t* expected;
  };
  const Case cases[] = {
      {"open: a file clicked", TRUE, nullptr, u"C:\\Backups\\a.img"},
      {"save: a bare name typed", FALSE, u"new.img", u"C:\\Backups\\new.img"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CFileDialog dialog(c.open, nullptr, nullptr, 0, u"Disk images (*.img)|*.img|All files (*.*)|*.*||");
    dialog.m_ofn.lpstrInitialDir = u"C:\\";
    std::vector<QStringList> seen;  // the list after each step
    bool acted = false;
    std::function<void()> act = [&] {
      QWidget* top = ShownPicker();
      if (!top) {
        QTimer::singleShot(1, act);
        return;
      }
      acted = true;
      auto* list = top->findChild<QListWidget*>();
      auto* filter = top->findChild<QComboBox*>();
      ASSERT_TRUE(list && filter);
      seen.push_back(Texts(list));             // C:\ through the image filter
      DoubleClick(list, "Backups");
      seen.push_back(Texts(list));
      filter->setCurrentIndex(1);              // all files
      seen.push_back(Texts(list));
      DoubleClick(list, "..");
      DoubleClick(list, "..");
      seen.push_back(Texts(list));             // the drives
      DoubleClick(list, "C:");
      DoubleClick(list, "Backups");
      QLineEdit* field = nullptr;
      for (auto* edit : top->findChildren<QLineEdit*>())
        if (edit->parent() != filter) field = edit;
      ASSERT_NE(field, nullptr);
      if (c.typed) {
        field->setText(QString::fromUtf16(c.typed));
      } else {
        auto found = list->findItems("a.img", Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found[0]).center());
        EXPECT_EQ(field->text(), "C:\\Backups\\a.img");
      }
      for (auto* button : top->findChildren<QPushButton*>())
        if (button->text() == "OK") QTest::mouseClick(button, Qt::LeftButton);
    };
    QTimer::singleShot(0, act);
    INT_PTR result = dialog.DoModal();
    ASSERT_TRUE(acted);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(std::u16string(dialog.GetPathName().GetString()), c.expected);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], (QStringList{"..", "Backups", "top.img"}));
    EXPECT_EQ(seen[1], (QStringList{"..", "Old", "a.img"}));
    EXPECT_EQ(seen[2], (QStringList{"..", "Old", "a.img", "notes.txt"}));
    EXPECT_EQ(seen[3], (QStringList{"C:"}));
  }
}

TEST_F(QtFileDialogTest, FolderListingsPathsAndUnreadableFolders) {
  using platform::ui::qt::ListFolder;
  struct Case {
    const char16_t* folder;
    const char16_t* patterns;
    std::vector<std::u16string> names;  // folders first, then files
    bool error;
  };
  const Case cases[] = {
      {u"C:\\", u"*.img", {u"Backups", u"top.img"}, false},
      {u"C:\\", u"*.txt; *.img", {u"Backups", u"readme.txt", u"top.img"}, false},
      {u"C:\\Backups\\", u"", {u"Old", u"a.img", u"notes.txt"}, false},
      {u"C:\\Backups\\Old", u"*.*", {}, false},
      {u"", u"", {u"C:"}, false},
      {u"C:\\Missing", u"*.*", {}, true},
      {u"Q:\\", u"*.*", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.folder) + " " + platform::to_utf8(c.patterns));
    auto listing = ListFolder(c.folder, c.patterns);
    std::vector<std::u16string> names;
    for (const auto& e : listing.entries) names.push_back(e.name);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(!listing.error.empty(), c.error) << platform::to_utf8(listing.error);
  }
  const std::pair<const char16_t*, const char16_t*> parents[] = {
      {u"C:\\Backups\\Old", u"C:\\Backups"}, {u"C:\\Backups\\", u"C:\\"}, {u"C:\\Backups", u"C:\\"},
      {u"C:\\", u""}, {u"C:", u""},
  };
  for (const auto& [folder, parent] : parents)
    EXPECT_EQ(platform::ui::qt::ParentFolder(folder), parent) << platform::to_utf8(folder);
  EXPECT_EQ(platform::ui::qt::ChildPath(u"C:\\", u"a.img"), u"C:\\a.img");
  EXPECT_EQ(platform::ui::qt::ChildPath(u"C:\\Backups", u"a.img"), u"C:\\Backups\\a.img");
}

}  // namespace
