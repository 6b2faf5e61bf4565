#include "platform/ui/qt/widget_mirror.h"

#include "platform/ui/qt/dialog_style.h"
#include "platform/ui/qt/folder_listing.h"
#include "platform/ui/qt/mirror_parts.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/core/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_keys.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

namespace {

// The Qt window of a top-level model window: closing asks the model.
class TopLevelWidget : public QWidget {
 public:
  explicit TopLevelWidget(HWND hwnd) : hwnd_(hwnd) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    // The window goes when the model destroys it; the close button is the
    // system menu's Close, as on the platform.
    event->ignore();
    if (FindWindowModel(hwnd_)) PostMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
  }

 private:
  HWND hwnd_;
};

enum class ButtonShape { Push, Check, Radio, Group, OwnerDraw };

// The style bits that choose the widget class: a change remakes the widget.
DWORD shape_bits(const Window& w) {
  switch (w.kind) {
    case WindowKind::Button: return w.style & BS_TYPEMASK;
    case WindowKind::Static: return w.style & SS_TYPEMASK;
    case WindowKind::Edit: return w.style & ES_MULTILINE;
    case WindowKind::ComboBox: return w.style & 0x3;      // editable or a list
    case WindowKind::ListView: return w.style & kListViewTypeMask;  // report, icons or list
    default: return 0;
  }
}


std::u16string menu_signature(HMENU handle, int depth) {
  Menu* m = FindMenu(handle);
  if (!m || depth > kMaxMenuDepth) return u"";
  std::u16string s;
  for (const auto& i : m->items) {
    s += i.text + static_cast<char16_t>(i.id & 0xFFFF) + static_cast<char16_t>(i.flags & 0xFFFF) +
         static_cast<char16_t>(reinterpret_cast<uintptr_t>(i.bitmap) & 0xFFFF);
    if (i.flags & MF_POPUP) s += u'{' + menu_signature(i.submenu, depth + 1) + u'}';
  }
  return s;
}

int qt_key_to_vk(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_F1: return VK_F1;
    default: return 0;
  }
}

bool takes_typing(const Window* w) {
  return w && (w->kind == WindowKind::Edit || w->kind == WindowKind::RichEdit || w->kind == WindowKind::ComboBox);
}


}  // namespace

WidgetMirror::WidgetMirror(MirrorMode mode) : mode_(mode), thread_(&CurrentUiThread()) {
  InstallDialogStyle();
  AddWindowObserver(this);
  qApp->installEventFilter(this);
}

WidgetMirror::~WidgetMirror() {
  if (QCoreApplication::instance()) qApp->removeEventFilter(this);
  RemoveWindowObserver(this);
  std::vector<HWND> all;
  for (auto& [h, e] : entries_) all.push_back(h);
  for (HWND h : all) drop(h);
}

void WidgetMirror::defer(HWND window, std::function<void()> action) {
  deferred_.emplace_back(window, std::move(action));
}

bool WidgetMirror::run_deferred() {
  if (deferred_.empty()) return false;
  // Moved out first: an action may run a nested loop that defers more.
  std::vector<std::pair<HWND, std::function<void()>>> batch;
  batch.swap(deferred_);
  // Model code of another thread's window runs on that thread (and not at
  // all once the window is gone).
  for (auto& [window, action] : batch) RunOnWindowThread(window, action);
  return true;
}

// Windows of other threads never reach the widgets (they live on this one).
void WidgetMirror::window_destroyed(Window& w) {
  if (w.thread != thread_) return;
  repainted_.erase(w.handle);
  drop(w.handle);
}

void WidgetMirror::window_changed(Window& w) {
  if (w.thread == thread_ && !syncing_) repainted_.insert(w.handle);
}

void WidgetMirror::window_repainted(Window& w) {
  if (w.thread == thread_ && !syncing_) repainted_.insert(w.handle);
}

void WidgetMirror::window_invalidated(Window& w) {
  if (w.thread == thread_ && !syncing_) repainted_.insert(w.handle);
}

void WidgetMirror::drop(HWND hwnd) {
  auto it = entries_.find(hwnd);
  if (it == entries_.end()) return;
  std::unique_ptr<Entry> e = std::move(it->second);
  entries_.erase(it);
  // Later: the widget may be the one delivering the event being handled.
  QWidget* outer = e->top ? e->top.data() : e->widget.data();
  if (outer) {
    outer->hide();
    outer->setProperty(kHwndProperty, QVariant());
    outer->deleteLater();
  }
  if (e->widget) e->widget->setProperty(kHwndProperty, QVariant());
}

QWidget* WidgetMirror::widget_for(HWND hwnd) const {
  auto it = entries_.find(hwnd);
  return it == entries_.end() ? nullptr : it->second->widget.data();
}

QWidget* WidgetMirror::top_level_widget(HWND hwnd) const {
  auto it = entries_.find(hwnd);
  return it == entries_.end() ? nullptr : it->second->top.data();
}

// The model's pickers have no controls of their own (the headless driver
// answers them with `choose`); on the screen the user types the path. OK
// chooses it as `choose` does, so the program's checks and prompts run.
void WidgetMirror::make_picker_panel(Entry& e, Window& w, QWidget* client) {
  auto* panel = new QWidget(client);
  panel->setProperty(kViewOwnProperty, true);
  RECT cr = w.client_rect();
  panel->setGeometry(0, 0, cr.right, cr.bottom);
  auto* status = new QLabel(panel);
  status->setGeometry(12, 12, std::max<int>(cr.right - 24, 10), 40);
  status->setWordWrap(true);
  auto* path = new QLineEdit(panel);
  path->setGeometry(12, 60, std::max<int>(cr.right - 24, 10), 24);
  auto* ok = new QPushButton(QStringLiteral("OK"), panel);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), panel);
  ok->setGeometry(std::max<int>(cr.right - 182, 0), std::max<int>(cr.bottom - 36, 90), 80, 26);
  cancel->setGeometry(std::max<int>(cr.right - 92, 0), std::max<int>(cr.bottom - 36, 90), 80, 26);
  ok->setDefault(true);
  HWND self = w.handle;
  connect(ok, &QPushButton::clicked, this, [this, self, path] {
    QString text = path->text();
    std::u16string chosen(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
    auto it = entries_.find(self);
    if (it != entries_.end() && !it->second->browse_folder.empty() && !chosen.empty() &&
        chosen.find_first_of(u"\\/:") == std::u16string::npos)
      chosen = ChildPath(it->second->browse_folder, chosen);
    if (FindWindowModel(self)) ChooseInPicker(self, chosen);
  });
  connect(path, &QLineEdit::returnPressed, ok, &QPushButton::click);
  connect(cancel, &QPushButton::clicked, this, [this, self] {
    defer(self, [self] {
      if (FindWindowModel(self)) EndPickerOrBox(self, IDCANCEL);
    });
  });
  e.picker_path = path;
  e.picker_ok = ok;
  e.picker_status = status;
  if (w.role == DialogRole::FileOpen || w.role == DialogRole::FileSave) make_browser(e, w, panel);
}

// File dialogs list the simulated PC above the name field: double-click
// enters a folder (".." goes up, above the drives' roots the drives), a
// click on a file puts its path in the field and a double-click chooses it;
// the filter chooses which files show. A bare name typed in the field is in
// the folder shown.
void WidgetMirror::make_browser(Entry& e, Window& w, QWidget* panel) {
  PickerState* picker = PickerFor(w.handle);
  RECT cr = w.client_rect();
  int width = std::max<int>(cr.right - 24, 10);
  int bottom = std::max<int>(cr.bottom, 200);
  auto* label = new QLabel(panel);
  label->setGeometry(12, 12, width, 20);
  auto* list = new QListWidget(panel);
  list->setGeometry(12, 36, width, bottom - 36 - 118);
  auto* filter = new QComboBox(panel);
  filter->setGeometry(12, bottom - 74, width, 26);
  e.picker_path->setGeometry(12, bottom - 110, width, 26);
  e.picker_status->hide();
  HWND self = w.handle;
  if (picker) {
    for (const auto& [name, pattern] : picker->filters) filter->addItem(qs(name), qs(pattern));
    if (picker->filter_index < picker->filters.size()) filter->setCurrentIndex(static_cast<int>(picker->filter_index));
    // The folder the dialog opens in: the one given, else that of the
    // starting path, else the drives.
    std::u16string folder = picker->folder;
    size_t slash = picker->selection.find_last_of(u"\\/");
    if (folder.empty() && slash != std::u16string::npos) folder = picker->selection.substr(0, slash);
    if (folder.size() == 2 && folder[1] == u':') folder += u'\\';
    e.browse_folder = folder;
  }
  e.browse_label = label;
  e.browse_list = list;
  e.browse_filter = filter;
  auto to_u16 = [](const QString& t) {
    return std::u16string(reinterpret_cast<const char16_t*>(t.utf16()), static_cast<size_t>(t.size()));
  };
  connect(filter, &QComboBox::currentIndexChanged, this, [this, self] {
    auto it = entries_.find(self);
    if (it != entries_.end()) fill_browser(*it->second);
  });
  connect(list, &QListWidget::itemClicked, this, [this, self](QListWidgetItem* item) {
    auto it = entries_.find(self);
    if (it == entries_.end() || !item || item->data(Qt::UserRole + 1).toBool()) return;
    it->second->picker_path->setText(item->data(Qt::UserRole).toString());
  });
  connect(list, &QListWidget::itemDoubleClicked, this, [this, self, to_u16](QListWidgetItem* item) {
    auto it = entries_.find(self);
    if (it == entries_.end() || !item) return;
    Entry& entry = *it->second;
    std::u16string path = to_u16(item->data(Qt::UserRole).toString());
    if (item->data(Qt::UserRole + 1).toBool()) {
      entry.browse_folder = path;
      fill_browser(entry);
    } else {
      entry.picker_path->setText(qs(path));
      if (FindWindowModel(self)) ChooseInPicker(self, path);
    }
  });
  fill_browser(e);
}

void WidgetMirror::fill_browser(Entry& e) {
  if (!e.browse_list || !e.browse_label) return;
  QListWidget* list = e.browse_list;
  std::u16string patterns;
  if (e.browse_filter && e.browse_filter->currentIndex() >= 0) {
    QString p = e.browse_filter->currentData().toString();
    patterns.assign(reinterpret_cast<const char16_t*>(p.utf16()), static_cast<size_t>(p.size()));
  }
  FolderListing listing = ListFolder(e.browse_folder, patterns);
  list->clear();
  QStyle* style = list->style();
  auto add = [&](const QString& text, const std::u16string& path, bool folder) {
    auto* item = new QListWidgetItem(style->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon), text, list);
    item->setData(Qt::UserRole, qs(path));
    item->setData(Qt::UserRole + 1, folder);
  };
  if (!e.browse_folder.empty()) add(QStringLiteral(".."), ParentFolder(e.browse_folder), true);
  for (const ListedEntry& entry : listing.entries) {
    std::u16string path = e.browse_folder.empty() ? entry.name + u"\\" : ChildPath(e.browse_folder, entry.name);
    add(qs(entry.name), path, entry.folder);
  }
  QString where = e.browse_folder.empty() ? QStringLiteral("Computer") : qs(e.browse_folder);
  e.browse_label->setText(listing.error.empty() ? where : qs(listing.error));
}

WidgetMirror::Entry& WidgetMirror::make_entry(Window& w) {
  auto e = std::make_unique<Entry>();
  e->hwnd = w.handle;
  e->kind = w.kind;
  e->shape = shape_bits(w);
  QWidget* parent_widget = nullptr;
  if (w.is_child()) {
    e->parent = w.parent->handle;
    parent_widget = widget_for(w.parent->handle);
  }
  QWidget* widget = nullptr;
  if (!w.is_child()) {
    auto* top = new TopLevelWidget(w.handle);
    if (mode_ == MirrorMode::Invisible) top->setAttribute(Qt::WA_DontShowOnScreen);
    e->top = top;
    widget = new LayerWidget(w.handle, top);
    if (w.role == DialogRole::FileOpen || w.role == DialogRole::FileSave || w.role == DialogRole::FolderBrowse)
      make_picker_panel(*e, w, widget);
  } else {
    switch (w.kind) {
      case WindowKind::Static: widget = make_static(w, parent_widget); break;
      case WindowKind::Button: widget = make_button(w, parent_widget); break;
      case WindowKind::Edit: widget = make_edit(w, parent_widget); break;
      case WindowKind::RichEdit: widget = make_rich_edit(w, parent_widget); break;
      case WindowKind::ListBox: widget = make_list_box(w, parent_widget); break;
      case WindowKind::ComboBox: widget = make_combo_box(w, parent_widget); break;
      case WindowKind::ListView: widget = make_list_view(w, parent_widget); break;
      case WindowKind::TreeView: widget = make_tree_view(w, parent_widget); break;
      case WindowKind::Progress: widget = make_progress(w, parent_widget); break;
      case WindowKind::Slider: widget = make_slider(w, parent_widget); break;
      case WindowKind::Dialog:
      case WindowKind::Generic:
        widget = new LayerWidget(w.handle, parent_widget);
        break;
    }
    // Native controls get an overlay for what programs paint over them.
    if (!dynamic_cast<LayerWidget*>(widget)) {
      e->overlay = new LayerOverlay(w.handle, widget);
      e->overlay->hide();
    }
  }
  widget->setProperty(kHwndProperty, QVariant::fromValue(reinterpret_cast<quintptr>(w.handle)));
  widget->setMouseTracking(true);
  if (e->top) e->top->setProperty(kHwndProperty, QVariant::fromValue(reinterpret_cast<quintptr>(w.handle)));
  e->widget = widget;
  Entry& ref = *e;
  entries_[w.handle] = std::move(e);
  return ref;
}

void WidgetMirror::sync() {
  syncing_ = true;
  // Windows whose model went away without a notice (or changed their kind).
  std::vector<HWND> stale;
  for (auto& [h, e] : entries_) {
    Window* w = FindWindowModel(h);
    if (!w || w->kind != e->kind || shape_bits(*w) != e->shape ||
        (w->is_child() ? w->parent->handle : nullptr) != e->parent || !e->widget)
      stale.push_back(h);
  }
  for (HWND h : stale) drop(h);
  // Top-level windows, bottom of the z-order first, so raising keeps order.
  const auto& tops = TopLevelWindows();
  std::vector<HWND> order;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it)
    if (shows(**it)) order.push_back((*it)->handle);
  for (HWND h : order)
    if (Window* w = FindWindowModel(h)) sync_window(*w, 0);
  if (mode_ == MirrorMode::OnScreen) sync_focus();
  syncing_ = false;
}

// Qt's focus follows the model's, so the keys reach the control the model
// focused (and an editable combo box's field takes its typing). A window
// whose model focus lies elsewhere keeps no Qt focus, except in the view's
// own panels (the pickers' path field), which the model does not know.
void WidgetMirror::sync_focus() {
  for (auto& [h, e] : entries_) {
    if (!e->top) continue;
    Window* top = FindWindowModel(h);
    if (!top || !top->thread) continue;
    HWND focus = top->thread->focus;
    Window* fw = focus ? FindWindowModel(focus) : nullptr;
    QWidget* want = nullptr;
    if (fw && fw != top && fw->top_level() == top)
      if (auto it = entries_.find(focus); it != entries_.end()) want = it->second->widget;
    QWidget* have = e->top->focusWidget();
    if (want) {
      if (have != want && !(have && want->isAncestorOf(have))) want->setFocus(Qt::OtherFocusReason);
      continue;
    }
    if (!have) continue;
    bool view_own = false;
    for (QObject* o = have; o && !view_own; o = o->parent()) view_own = o->property(kViewOwnProperty).isValid();
    if (!view_own) have->clearFocus();
  }
}

void WidgetMirror::sync_window(Window& w, int depth) {
  if (depth > kMaxDepth) return;
  if (w.class_name == u"#32768") {
    sync_popup_menu(w);
    return;
  }
  HWND self = w.handle;
  auto it = entries_.find(self);
  bool fresh = it == entries_.end();
  Entry& e = fresh ? make_entry(w) : *it->second;
  // Other threads' windows do not report their changes here: always repaint.
  bool repainted = fresh || repainted_.erase(self) > 0 || w.thread != thread_;
  if (e.top) update_top_level(e, w);
  if (repainted) {
    // What GDI drew shows on the next paint of the widget.
    e.widget->update();
    if (e.overlay) e.overlay->update();
  }
  update_common(e, w);
  update_control(e, w, repainted);
  Window* still = FindWindowModel(self);  // custom drawing may have destroyed it
  if (!still) return;
  std::vector<HWND> children;
  for (Window* c : PaintOrder(*still)) children.push_back(c->handle);
  // Raised in the order their pictures stack, so the last painted is in
  // front (mouse input still lands by the model's z-order).
  for (HWND h : children) {
    Window* c = FindWindowModel(h);
    if (!c) continue;
    sync_window(*c, depth + 1);
    if (QWidget* cw = widget_for(h)) cw->raise();
  }
}

void WidgetMirror::update_top_level(Entry& e, Window& w) {
  QWidget* top = e.top;
  QString title = qs(w.text);
  if (top->windowTitle() != title) top->setWindowTitle(title);
  // Both sizes of the window's icon (WM_SETICON), in the task bar and caption.
  if (w.small_icon != e.small_icon || w.big_icon != e.big_icon) {
    e.small_icon = w.small_icon;
    e.big_icon = w.big_icon;
    QIcon icon;
    for (HICON h : {w.small_icon, w.big_icon})
      if (const QImage* image = IconImage(h)) icon.addPixmap(QPixmap::fromImage(*image));
    top->setWindowIcon(icon);
  }
  // Owned windows are dialogs over their owner; others stand in the task bar.
  Qt::WindowFlags flags = w.owner ? Qt::Dialog : Qt::Window;
  if ((top->windowFlags() & Qt::WindowType_Mask) != flags) top->setWindowFlags(flags);
  bool modal = false;
  for (ModalLoop* loop : w.thread->loops)
    if (loop->window == &w && !loop->ended) modal = true;
  Qt::WindowModality modality = modal ? Qt::ApplicationModal : Qt::NonModal;
  if (top->windowModality() != modality) {
    bool was_visible = top->isVisible();
    if (was_visible) top->hide();  // modality takes effect when shown
    top->setWindowModality(modality);
  }
  rebuild_menu_bar(e, w);
  if (PickerState* picker = e.picker_path ? PickerFor(w.handle) : nullptr) {
    // The program moves the selection, sets the status and enables OK.
    if (picker->selection != e.picker_selection) {
      e.picker_selection = picker->selection;
      e.picker_path->setText(qs(picker->selection));
    }
    e.picker_status->setText(qs(picker->status));
    if (w.role == DialogRole::FolderBrowse) e.picker_status->setVisible(picker->shows_status);
    e.picker_ok->setEnabled(picker->ok_enabled);
  }
  RECT cr = w.client_rect();
  int menu_height = e.menu_bar ? MenuBarHeight() : 0;
  QSize size(std::max<int>(cr.right, 1), std::max<int>(cr.bottom, 1) + menu_height);
  if (top->size() != size) top->setFixedSize(size);
  POINT origin = w.client_origin_on_screen();
  QPoint pos(origin.x, origin.y - menu_height);
  if (mode_ == MirrorMode::OnScreen && top->pos() != pos && !top->isVisible()) top->move(pos);
  if (e.menu_bar) e.menu_bar->setGeometry(0, 0, size.width(), menu_height);
  e.widget->setGeometry(0, menu_height, cr.right, cr.bottom);
  bool visible = w.visible();
  if (top->isVisible() != visible) {
    top->setVisible(visible);
    // The offscreen platform has no stacking to change.
    if (visible && w.handle == w.thread->active && QGuiApplication::platformName() != QLatin1String("offscreen"))
      top->raise();
  }
  // The model's active window gets the keyboard on the display, once each
  // time it becomes the active one (a new page, a message box).
  if (mode_ == MirrorMode::OnScreen && visible && w.handle == w.thread->active && activated_ != w.handle) {
    activated_ = w.handle;
    top->activateWindow();
  }
  // Owned windows stay over their owner on the desktop.
  if (w.owner && top->windowHandle()) {
    QWidget* owner_top = top_level_widget(w.owner->handle);
    QWindow* owner_window = owner_top ? owner_top->windowHandle() : nullptr;
    if (owner_window && top->windowHandle()->transientParent() != owner_window)
      top->windowHandle()->setTransientParent(owner_window);
  }
  // A disabled window (the owner of a modal dialog) is not greyed out; it
  // only takes no input (see eventFilter).
  // The model's cursor over its windows.
  HCURSOR cursor = GetCursor();
  auto id = reinterpret_cast<UINT_PTR>(cursor);
  Qt::CursorShape shape = id == IDC_WAIT_VALUE ? Qt::WaitCursor : id == IDC_HAND_VALUE ? Qt::PointingHandCursor : Qt::ArrowCursor;
  if (top->cursor().shape() != shape) top->setCursor(shape);
}

void WidgetMirror::rebuild_menu_bar(Entry& e, Window& w) {
  std::u16string sig = w.menu ? menu_signature(w.menu, 0) : u"";
  if (e.menu == w.menu && sig == e.menu_sig && (e.menu_bar != nullptr) == (w.menu != nullptr)) return;
  e.menu = w.menu;
  e.menu_sig = sig;
  if (e.menu_bar) delete e.menu_bar.data();
  if (!w.menu) return;
  auto* bar = new QMenuBar(e.top);
  HWND owner = w.handle;
  menu_owner_ = owner;
  // A pick posts the command the way the headless `menu` verb does.
  auto post_command = [owner](UINT command) {
    if (FindWindowModel(owner)) PostMessageW(owner, WM_COMMAND, command, 0);
  };
  Menu* m = FindMenu(w.menu);
  if (m) {
    for (const MenuItem& item : m->items) {
      if (!(item.flags & MF_POPUP)) {
        QAction* a = bar->addAction(qs(item.text));
        UINT command = item.id;
        connect(a, &QAction::triggered, this, [owner, command] {
          if (FindWindowModel(owner)) PostMessageW(owner, WM_COMMAND, command, 0);
        });
        continue;
      }
      QMenu* sub = bar->addMenu(qs(item.text));
      HMENU popup = item.submenu;
      // The program updates the items before they show: the pop-up is
      // refilled in place (rebuilding the bar would close it as it opens).
      connect(sub, &QMenu::aboutToShow, this, [this, sub, owner, popup, post_command] {
        Window* w = FindWindowModel(owner);
        if (!w) return;
        SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELONG(0, 0));
        if (!FindWindowModel(owner) || !FindMenu(popup)) return;
        sub->clear();
        menu_owner_ = owner;
        fill_menu(sub, popup, 1, post_command);
        auto it = entries_.find(owner);
        if (it != entries_.end() && it->second->menu == w->menu && w->menu)
          it->second->menu_sig = menu_signature(w->menu, 0);
      });
      fill_menu(sub, popup, 1, post_command);
    }
  }
  bar->show();
  e.menu_bar = bar;
}

// Owner-drawn and callback items (the programs' items with icons) are
// measured and drawn by the menu's owner, as when a pop-up opens.
QIcon WidgetMirror::item_picture(HMENU menu, const MenuItem& item) {
  if (DrawnByOwner(item)) {
    QImage picture = OwnerDrawnPicture(menu_owner_, menu, item);
    return picture.isNull() ? QIcon() : QIcon(QPixmap::fromImage(picture));
  }
  if (const QImage* bitmap = item.bitmap ? BitmapImage(item.bitmap) : nullptr)
    return QIcon(QPixmap::fromImage(*bitmap));
  return QIcon();
}

void WidgetMirror::fill_menu(QMenu* into, HMENU handle, int depth, const std::function<void(UINT)>& pick) {
  Menu* m = FindMenu(handle);
  if (!m || depth > kMaxMenuDepth) return;
  for (const MenuItem& item : m->items) {
    if (item.flags & MF_SEPARATOR) {
      into->addSeparator();
      continue;
    }
    if (item.flags & MF_POPUP) {
      fill_menu(into->addMenu(qs(item.text)), item.submenu, depth + 1, pick);
      continue;
    }
    QAction* a = into->addAction(qs(item.text));
    if (QIcon picture = item_picture(handle, item); !picture.isNull()) a->setIcon(picture);
    a->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
    a->setCheckable((item.flags & MF_CHECKED) != 0);
    a->setChecked((item.flags & MF_CHECKED) != 0);
    UINT command = item.id;
    connect(a, &QAction::triggered, this, [pick, command] { pick(command); });
  }
}

// A menu tracked by TrackPopupMenu: the model's pop-up window stands for a
// QMenu at its place. A pick sets the tracked choice and ends the pick's
// loop, as the headless `menu` verb does; closing the menu ends it with none.
void WidgetMirror::sync_popup_menu(Window& w) {
  if (entries_.count(w.handle)) return;
  TrackedMenu* tracked = CurrentTrackedMenu();
  auto e = std::make_unique<Entry>();
  e->hwnd = w.handle;
  e->kind = w.kind;
  e->shape = shape_bits(w);
  auto* menu = new QMenu;
  menu->setProperty(kHwndProperty, QVariant::fromValue(reinterpret_cast<quintptr>(w.handle)));
  HWND self = w.handle;
  auto end_pick = [self](UINT command) {
    Window* popup = FindWindowModel(self);
    TrackedMenu* t = CurrentTrackedMenu();
    if (!popup || !t) return;
    if (command) t->chosen = command;
    if (auto* loop = reinterpret_cast<ModalLoop*>(popup->user_data)) loop->ended = true;
    // GetMessage returns once something is queued; the loop then sees its end.
    PostMessageW(t->owner, WM_NULL, 0, 0);
  };
  if (tracked) {
    menu_owner_ = tracked->owner;
    fill_menu(menu, tracked->menu, 0, end_pick);
  }
  connect(menu, &QMenu::aboutToHide, this, [this, end_pick] {
    // A pick's triggered signal comes after the menu hides; end without
    // a choice only when none came.
    QMetaObject::invokeMethod(this, [end_pick] { end_pick(0); }, Qt::QueuedConnection);
  });
  e->widget = menu;
  entries_[w.handle] = std::move(e);
  if (mode_ == MirrorMode::OnScreen) menu->popup(QPoint(w.rect.left, w.rect.top));
}

void WidgetMirror::update_common(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  if (!e.top) {
    RECT cr = w.client_rect();
    POINT off = w.client_offset();
    QRect geometry(w.rect.left + off.x, w.rect.top + off.y, std::max<int>(cr.right, 0), std::max<int>(cr.bottom, 0));
    // A drop-down combo box's rectangle holds its dropped list; closed it
    // is one line high (the list shows only while open).
    if (w.kind == WindowKind::ComboBox && (w.style & 0x3) != CBS_SIMPLE)
      geometry.setHeight(std::min(geometry.height(), ClosedComboHeight(QtFontFor(w.font))));
    if (widget->geometry() != geometry) widget->setGeometry(geometry);
    if (widget->isVisible() != w.visible() || widget->isHidden() == w.visible()) widget->setVisible(w.visible());
    // A disabled picture static still shows its picture as it is (the
    // mirror keeps input from disabled windows itself); Qt would grey it.
    DWORD type = w.style & SS_TYPEMASK;
    bool picture = w.kind == WindowKind::Static && (type == SS_BITMAP || type == SS_ICON);
    bool enabled = w.enabled() || picture;
    if (widget->isEnabled() != enabled) widget->setEnabled(enabled);
    QFont font = QtFontFor(w.font);
    if (widget->font() != font) widget->setFont(font);
  }
  if (e.overlay) {
    bool show = w.painted && w.layer;
    if (show) {
      e.overlay->setGeometry(widget->rect());
      e.overlay->raise();
    }
    if (e.overlay->isHidden() == show) e.overlay->setVisible(show);
  }
}

void WidgetMirror::update_control(Entry& e, Window& w, bool repainted) {
  switch (w.kind) {
    case WindowKind::Static: update_static(e, w, repainted); break;
    case WindowKind::Button: update_button(e, w); break;
    case WindowKind::Edit: update_edit(e, w); break;
    case WindowKind::RichEdit: update_rich_edit(e, w, repainted); break;
    case WindowKind::ListBox: update_list_box(e, w); break;
    case WindowKind::ComboBox: update_combo_box(e, w); break;
    case WindowKind::ListView: update_list_view(e, w, repainted); break;
    case WindowKind::TreeView: update_tree_view(e, w); break;
    case WindowKind::Progress: update_progress(e, w); break;
    case WindowKind::Slider: update_slider(e, w); break;
    default: break;
  }
}

WidgetMirror::Entry* WidgetMirror::entry_for_widget(QObject* object, QWidget** mapped) {
  int guard = 0;
  for (QObject* o = object; o && guard < 64; o = o->parent(), ++guard) {
    if (o->property(kViewOwnProperty).isValid()) return nullptr;
    QVariant v = o->property(kHwndProperty);
    if (!v.isValid()) continue;
    auto h = reinterpret_cast<HWND>(v.value<quintptr>());
    auto it = entries_.find(h);
    if (it == entries_.end()) return nullptr;
    *mapped = it->second->widget;
    return it->second.get();
  }
  return nullptr;
}

bool WidgetMirror::eventFilter(QObject* watched, QEvent* event) {
  QEvent::Type type = event->type();
  bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
               type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove || type == QEvent::Leave;
  bool key = type == QEvent::KeyPress || type == QEvent::KeyRelease;
  if ((!mouse && !key) || syncing_) return false;
  QWidget* mapped = nullptr;
  Entry* e = entry_for_widget(watched, &mapped);
  if (!e || !mapped) return false;
  Window* w = FindWindowModel(e->hwnd);
  if (!w || w->class_name == u"#32768") return false;  // pop-up menus are Qt's own
  // Windows in a disabled top-level window take no input, nor do disabled
  // windows take keys; the mouse over a disabled control goes where the
  // model's hit test puts it (the window beneath), see handle_mouse.
  Window* top = w->top_level();
  if ((top && !top->enabled()) || (key && !w->enabled())) return true;
  // Only the widget and its own parts; menu bars and their menus stay Qt's.
  auto* source = qobject_cast<QWidget*>(watched);
  bool own = source && (source == mapped || mapped->isAncestorOf(source) || (key && source == e->top.data()));
  if (!own) return false;
  if (key) return handle_key(*e, *w, event);
  return handle_mouse(*e, *w, mapped, watched, event);
}

void WidgetMirror::post_mouse(Window& w, QMouseEvent* me, POINT at) {
  bool right = me->button() == Qt::RightButton;
  // The message goes where the mouse lands on the model (a plain static
  // passes it to the window beneath); that window chooses the cursor first,
  // once Qt has delivered this event.
  auto post_message = [&](UINT message, WPARAM keys) {
    MouseHit hit = MouseLanding(w, at);
    HWND target = hit.window->handle;
    defer(target, [target, message] {
      if (Window* tw = FindWindowModel(target)) SetCursorFor(*tw, message);
    });
    PostMouseInput(hit, message, keys);
  };
  QEvent::Type t = me->type();
  if (t == QEvent::MouseMove)
    post_message(WM_MOUSEMOVE, (me->buttons() & Qt::LeftButton) ? MK_LBUTTON : 0);
  else if (me->button() != Qt::LeftButton && me->button() != Qt::RightButton)
    return;
  else if (t == QEvent::MouseButtonPress)
    post_message(right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON);
  else if (t == QEvent::MouseButtonRelease)
    post_message(right ? WM_RBUTTONUP : WM_LBUTTONUP, 0);
  else if (t == QEvent::MouseButtonDblClick)
    post_message(right ? WM_RBUTTONDOWN : WM_LBUTTONDBLCLK, right ? MK_RBUTTON : MK_LBUTTON);
}

bool WidgetMirror::handle_mouse(Entry& e, Window& w, QWidget* mapped, QObject* watched, QEvent* event) {
  HWND self = w.handle;
  if (event->type() == QEvent::Leave) {
    if (watched != mapped) return false;
    if (w.track_leave) {
      w.track_leave = false;
      PostInputMessage(self, WM_MOUSELEAVE, 0, 0);
    }
    return false;
  }
  auto* me = static_cast<QMouseEvent*>(event);
  auto* source = qobject_cast<QWidget*>(watched);
  if (!source) return false;
  // Only the control itself and its own parts (viewports, scroll bars), not
  // child windows that have entries of their own.
  QPoint local = source->mapTo(mapped, me->position().toPoint());
  bool right = me->button() == Qt::RightButton;
  QEvent::Type type = event->type();
  // A disabled control takes nothing itself: the mouse lands beneath it.
  if (!w.enabled()) {
    post_mouse(w, me, {local.x(), local.y()});
    return true;
  }
  if (qobject_cast<QScrollBar*>(source)) return false;
  // Combo boxes and sliders keep Qt's handling; their signals reach the model.
  if (w.kind == WindowKind::ComboBox || w.kind == WindowKind::Slider) return false;
  if (e.top && mapped == e.top) return false;

  if (type == QEvent::MouseMove) {
    post_mouse(w, me, {local.x(), local.y()});
    return false;
  }
  if (me->button() != Qt::LeftButton && me->button() != Qt::RightButton) return true;

  // Item views: rows are under the viewport; headers and the like stay Qt's.
  if (auto* view = dynamic_cast<QAbstractItemView*>(e.widget.data())) {
    QWidget* port = view->viewport();
    if (source != port && !port->isAncestorOf(source)) return false;
  }
  if (w.kind == WindowKind::ListView) return list_view_mouse(e, w, source, me, local);
  if (w.kind == WindowKind::TreeView) return tree_view_mouse(e, w, source, me, local);
  if (w.kind == WindowKind::ListBox && type == QEvent::MouseButtonPress && !right)
    return list_box_mouse(e, w, source, me, local);
  post_mouse(w, me, {local.x(), local.y()});
  return true;
}

bool WidgetMirror::handle_key(Entry& e, Window& w, QEvent* event) {
  auto* ke = static_cast<QKeyEvent*>(event);
  const int key = ke->key();
  const Qt::KeyboardModifiers modifiers = ke->modifiers();
  QString text = ke->text();
  // Alt with a letter or digit is a mnemonic (Qt may give no text with Alt).
  QChar mnemonic;
  if ((modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier)) {
    if (!text.isEmpty() && text.at(0).isLetterOrNumber())
      mnemonic = text.at(0);
    else if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
      mnemonic = QChar(key);
  }
  const bool dialog_key = key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
                          key == Qt::Key_Enter || key == Qt::Key_Escape;
  // Sliders and combo boxes move with Qt's own keys (arrows, typing into an
  // editable field, the open list's Enter and Escape); the dialog's keys
  // and mnemonics stay the dialog's.
  if (w.kind == WindowKind::Slider || w.kind == WindowKind::ComboBox) {
    auto* combo = qobject_cast<QComboBox*>(e.widget.data());
    const bool list_open = combo && combo->view() && combo->view()->isVisible();
    if (list_open || (!dialog_key && mnemonic.isNull())) return false;
  }
  HWND target = w.thread->focus;
  if (!FindWindowModel(target)) {
    Window* top = w.top_level();
    target = top ? top->handle : w.handle;
  }
  Window* tw = FindWindowModel(target);
  const bool press = event->type() == QEvent::KeyPress;
  if (!mnemonic.isNull()) {
    if (press) PostInputMessage(target, WM_SYSCHAR, mnemonic.unicode(), 1);
    return true;
  }
  const int vk = qt_key_to_vk(key);
  const bool printable = !text.isEmpty() && text.at(0).unicode() >= 0x20 && text.at(0).unicode() != 0x7F &&
                         !(modifiers & Qt::ControlModifier);
  // Characters, as the driver's `type` sends them: text in a field, and
  // where no field takes them a letter the dialog reads as a mnemonic.
  if (printable && (takes_typing(tw) || !vk)) {
    if (press)
      for (QChar c : text) PostInputMessage(target, WM_CHAR, c.unicode(), 1);
    return true;
  }
  if (!vk) return true;
  // Repeat count 1; Tab carries Shift in bit 0, which is what the dialog
  // manager reads to step backwards.
  LPARAM l = 1;
  if (vk == VK_TAB) l = (key == Qt::Key_Backtab || (modifiers & Qt::ShiftModifier)) ? 1 : 0;
  // TranslateMessage makes the characters of Backspace, Return and the like.
  PostInputMessage(target, press ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(vk), l);
  return true;
}

// Japanese text wraps between any two characters, so a paragraph may end
// in a line of one character and its full stop ("す。"). The pixels that
// line's text takes when it is such an orphan, else 0.
namespace {
int OrphanedLineEnd(const QString& text, const QFont& font, int width) {
  auto is_japanese = [](QChar c) { return c.unicode() >= 0x3000 && c.unicode() < 0xA000; };
  for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
    if (paragraph.isEmpty() || !is_japanese(paragraph.back())) continue;
    QTextLayout layout(paragraph, font);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0, last_start = 0, last_length = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      ++lines;
      last_start = line.textStart();
      last_length = line.textLength();
    }
    layout.endLayout();
    const QString last = paragraph.mid(last_start, last_length).trimmed();
    if (lines >= 2 && !last.isEmpty() && last.size() <= 2) return QFontMetrics(font).horizontalAdvance(last);
  }
  return 0;
}
}  // namespace

std::vector<ClippedText> WidgetMirror::clipped_texts(HWND top) const {
  std::vector<ClippedText> out;
  Window* tw = FindWindowModel(top);
  if (!tw) return out;
  std::vector<std::pair<Window*, int>> stack{{tw, 0}};
  while (!stack.empty()) {
    auto [w, depth] = stack.back();
    stack.pop_back();
    if (depth < kMaxDepth)
      for (Window* c : w->children) stack.push_back({c, depth + 1});
    QWidget* widget = widget_for(w->handle);
    if (!widget || !w->visible() || w == tw) continue;
    QFontMetrics metrics(widget->font());
    QStyle* style = widget->style();
    int needed = 0, available = widget->width();
    if (auto* push = dynamic_cast<QPushButton*>(widget)) {
      QString text = push->text().remove('&');
      needed = metrics.horizontalAdvance(text) + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push);
      if (!push->icon().isNull()) needed += push->iconSize().width() + 4;
    } else if (auto* box = dynamic_cast<QCheckBox*>(widget)) {
      needed = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box) +
               metrics.horizontalAdvance(box->text().remove('&'));
    } else if (auto* radio = dynamic_cast<QRadioButton*>(widget)) {
      needed = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, radio) +
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, radio) +
               metrics.horizontalAdvance(radio->text().remove('&'));
    } else if (auto* group = dynamic_cast<QGroupBox*>(widget)) {
      needed = metrics.horizontalAdvance(group->title().remove('&')) + 16;
    } else if (auto* rich = dynamic_cast<QTextEdit*>(widget); rich && w->kind == WindowKind::RichEdit) {
      if (std::all_of(w->text.begin(), w->text.end(), [](char16_t c) { return c == u' ' || c == u'\r' || c == u'\n'; }))
        continue;
      // Laid out anew at the room inside the frame: a widget never shown
      // may not have laid out its text at its width yet.
      const int frame = rich->frameWidth();
      const int room_width = std::max(widget->width() - 2 * frame, 1), room_height = widget->height() - 2 * frame;
      std::unique_ptr<QTextDocument> doc(rich->document()->clone());
      const bool wraps = RichEditModel::wraps(*w);
      doc->setTextWidth(wraps ? room_width : -1);
      const int wide = static_cast<int>(std::ceil(doc->idealWidth()));
      available = room_width;
      needed = wide;
      // Multi-line text runs out of height, unless a single word is wider
      // than the control. A scroll bar or horizontal scrolling shows the rest.
      if (wraps && wide <= room_width) {
        needed = (w->style & WS_VSCROLL) ? 0 : static_cast<int>(std::ceil(doc->size().height()));
        available = room_height;
      } else if (w->style & (WS_HSCROLL | ES_AUTOHSCROLL)) {
        needed = 0;
      }
    } else if (auto* label = dynamic_cast<QLabel*>(widget)) {
      // Blanks and line ends after the last word show nothing, so they cut nothing.
      QString text = label->text();
      while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
      if (text.isEmpty()) continue;
      if (label->wordWrap()) {
        // Wrapped labels run out of height, not width.
        QRect used = metrics.boundingRect(QRect(0, 0, std::max(widget->width(), 1), 100000),
                                          Qt::TextWordWrap | Qt::AlignLeft, text);
        needed = used.height();
        available = widget->height();
        if (used.width() > widget->width()) {  // a single word wider than the label
          needed = used.width();
          available = widget->width();
        }
        if (needed <= available) {
          if (int orphan = OrphanedLineEnd(text, label->font(), widget->width())) {
            // A Japanese paragraph whose last line holds a lone character
            // (and its full stop): reported as the width the line's end
            // needs beyond the label's.
            out.push_back({w->id, w->text, widget->width() + orphan, widget->width()});
            continue;
          }
        }
      } else {
        needed = metrics.horizontalAdvance(text);
      }
    } else if (auto* tree = dynamic_cast<QTreeWidget*>(widget); tree && w->kind == WindowKind::ListView) {
      clipped_cells(*w, *tree, out);
      continue;
    } else if (auto* combo = dynamic_cast<QComboBox*>(widget)) {
      clipped_combo(*w, *combo, out);
      continue;
    } else {
      continue;
    }
    if (needed > available) out.push_back({w->id, w->text, needed, available});
  }
  return out;
}

// A report list's cells, each in its column: the room the item delegate
// asks for the text, with the check box and picture of the first column,
// against the column's width.
void WidgetMirror::clipped_cells(const Window& w, QTreeWidget& tree, std::vector<ClippedText>& out) const {
  QAbstractItemDelegate* delegate = tree.itemDelegate();
  if (!delegate) return;
  QStyleOptionViewItem option;
  option.initFrom(&tree);
  option.font = tree.font();
  option.fontMetrics = QFontMetrics(tree.font());
  option.decorationSize = tree.iconSize().isValid() ? tree.iconSize() : QSize(16, 16);
  option.showDecorationSelected = true;
  for (int row = 0; row < tree.topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = tree.topLevelItem(row);
    for (int column = 0; column < tree.columnCount(); ++column) {
      if (item->text(column).isEmpty()) continue;
      const QModelIndex index = tree.model()->index(row, column);
      const int needed = delegate->sizeHint(option, index).width();
      const int available = tree.columnWidth(column);
      if (needed > available) out.push_back({w.id, item->text(column).toStdU16String(), needed, available});
    }
  }
}

// A closed drop-down combo box: one line high, clear of the controls below
// it, and wide enough for the item it shows.
void WidgetMirror::clipped_combo(const Window& w, QComboBox& combo, std::vector<ClippedText>& out) const {
  const QString shown = combo.currentText();
  if (!shown.isEmpty()) {
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = combo.isEditable();
    const QSize content(QFontMetrics(combo.font()).horizontalAdvance(shown), QFontMetrics(combo.font()).height());
    const int needed = combo.style()->sizeFromContents(QStyle::CT_ComboBox, &option, content, &combo).width();
    if (needed > combo.width()) out.push_back({w.id, shown.toStdU16String(), needed, combo.width()});
  }
  QWidget* parent = combo.parentWidget();
  if (!parent) return;
  for (QObject* o : parent->children()) {
    auto* sibling = qobject_cast<QWidget*>(o);
    if (!sibling || sibling == &combo || !sibling->isVisibleTo(parent) || qobject_cast<QGroupBox*>(sibling)) continue;
    if (!sibling->property(kHwndProperty).isValid()) continue;
    const QRect overlap = combo.geometry() & sibling->geometry();
    if (overlap.isEmpty()) continue;
    // Reported as the height the combo box takes against what it may take.
    out.push_back({w.id, u"(covers another control)", combo.geometry().bottom() + 1 - combo.geometry().top(),
                   sibling->geometry().top() - combo.geometry().top()});
  }
}

QImage WidgetMirror::grab(Window& top) {
  sync();
  int width = std::max<int>(top.rect.right - top.rect.left, 1);
  int height = std::max<int>(top.rect.bottom - top.rect.top, 1);
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(240, 240, 240));
  QPainter p(&image);
  POINT off = top.client_offset();
  if ((top.style & WS_CAPTION) == WS_CAPTION) {
    p.fillRect(QRect(0, 0, width, off.y), QColor(255, 255, 255));
    p.setPen(QColor(100, 100, 100));
    p.drawRect(QRect(0, 0, width - 1, height - 1));
    p.setPen(Qt::black);
    p.setFont(QtFontFor(nullptr));
    p.drawText(QRect(8, 0, width - 16, CaptionHeight()), Qt::AlignVCenter | Qt::AlignLeft, qs(top.text));
  }
  auto it = entries_.find(top.handle);
  QWidget* outer = it == entries_.end() ? nullptr : (it->second->top ? it->second->top.data() : it->second->widget.data());
  if (outer) {
    // Item views lay out their rows, and with them their scroll bars, on a
    // timer, and show or hide a bar whose range changed on a queued call; a
    // picture taken before these run (a headless run's, whose windows never
    // reach a screen) would show a long list, or columns wider than it,
    // without the scroll bar the screen shows: both are run now.
    for (QAbstractItemView* view : outer->findChildren<QAbstractItemView*>()) {
      view->doItemsLayout();
      QCoreApplication::sendPostedEvents(view, QEvent::MetaCall);
    }
    int menu_height = it->second->menu_bar ? MenuBarHeight() : 0;
    p.drawPixmap(QPoint(off.x, off.y - menu_height), outer->grab());
  }
  p.end();
  return image;
}

}  // namespace platform::ui::qt
