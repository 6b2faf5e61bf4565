// Real Qt widgets for the window model: each top-level window a Qt window,
// each control a Qt widget at its pixel rectangle, painted layers drawn where
// the model painted. The model stays the truth: sync() reconciles the widgets
// with it, and user input on the widgets becomes the model's own messages
// (the ones the headless driver sends), never a change made by Qt alone.
//
// Windows of the thread that made the mirror are shown, and those of other
// user-interface threads that set_other_threads admits (the view admits
// threads that take turns with it on the model); all calls come from the
// mirror's thread. Input on another thread's window is posted to that
// window's thread, and the model actions Qt input asks for run there.
#pragma once

#include <QObject>
#include <QImage>
#include <QPoint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/ui/window.h"

class QComboBox;
class QIcon;
class QMenu;
class QMouseEvent;
class QTreeWidget;
class QWidget;

namespace platform::ui {
struct MenuItem;
}

namespace platform::ui::qt {

enum class MirrorMode {
  OnScreen,   // real windows on the display (or the offscreen platform)
  Invisible,  // laid out and rendered, never put on a screen (pictures only)
};

// A control whose text does not fit the room its widget has.
struct ClippedText {
  int id = 0;
  std::u16string text;
  int needed = 0;     // pixels the text needs (width, or height for wrapped labels)
  int available = 0;  // pixels it has
};

class WidgetMirror : public QObject, public WindowObserver {
 public:
  explicit WidgetMirror(MirrorMode mode);
  ~WidgetMirror() override;
  WidgetMirror(const WidgetMirror&) = delete;
  WidgetMirror& operator=(const WidgetMirror&) = delete;

  // Brings every widget in line with the model: makes widgets for new
  // windows, drops those of destroyed ones, and copies text, geometry,
  // visibility, enabled state and control state that differ.
  void sync();
  // The thread whose windows this mirror shows.
  UiThread* thread() const { return thread_; }
  // Which other threads' windows to show as well (compared by address
  // only); the caller keeps those threads still while the mirror works.
  void set_other_threads(std::function<bool(const UiThread*)> admits) { other_threads_ = std::move(admits); }
  // The widget that stands for a window (the client widget of a top-level
  // window), or null.
  QWidget* widget_for(HWND hwnd) const;
  // The Qt window of a top-level model window, or null.
  QWidget* top_level_widget(HWND hwnd) const;
  // Runs the model actions that Qt input asked for (selection changes,
  // drags, expansions). They wait until Qt has finished delivering its
  // event, so a program's handler that opens a dialog never runs inside
  // Qt's signal emission. True when any ran.
  bool run_deferred();
  // Controls of a top-level window (after sync) whose texts are cut off in
  // the font they are shown in: push buttons, check boxes, radio buttons,
  // group-box titles, labels and rich edits (a single-line one by width, a
  // multi-line one by the height of its wrapped lines), the cells of report
  // lists (each by its column's width), and closed combo boxes (the item
  // shown by width; one that covers another control is reported too).
  // Empty when the layout fits.
  std::vector<ClippedText> clipped_texts(HWND top) const;
  // A picture of a top-level window the size of its window rectangle:
  // caption as the model draws it, then the real widgets of its client area.
  QImage grab(Window& top);

  // WindowObserver
  void window_destroyed(Window& window) override;
  void window_changed(Window& window) override;
  void window_repainted(Window& window) override;
  void window_invalidated(Window& window) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry;
  Entry* entry_for_widget(QObject* object, QWidget** mapped);
  Entry& make_entry(Window& w);
  void make_picker_panel(Entry& e, Window& w, QWidget* client);
  void make_browser(Entry& e, Window& w, QWidget* panel);
  // Lists the folder a file dialog shows, through its filter.
  void fill_browser(Entry& e);
  void sync_window(Window& w, int depth);
  void sync_focus();
  void update_common(Entry& e, Window& w);
  // `repainted`: the window was marked for repainting or changed since the
  // last pass, so what its painting asks (colours, custom draw) is asked.
  void update_control(Entry& e, Window& w, bool repainted);
  void update_top_level(Entry& e, Window& w);
  void rebuild_menu_bar(Entry& e, Window& w);
  void fill_menu(QMenu* into, HMENU handle, int depth, const std::function<void(UINT)>& pick);
  void sync_popup_menu(Window& w);
  // The picture shown beside an item: its bitmap, or the one its owner
  // draws (owner-drawn and callback items); none otherwise.
  QIcon item_picture(HMENU menu, const MenuItem& item);
  bool handle_mouse(Entry& e, Window& w, QWidget* mapped, QObject* watched, QEvent* event);
  // Posts the model's mouse message for a Qt mouse event at `at` (client
  // coordinates of `w`), to the window the mouse lands on there.
  void post_mouse(Window& w, QMouseEvent* me, POINT at);

  // Each control kind (mirror_<kind>.cpp): the widget for a new control,
  // bringing it in line with the model, and a click on it.
  QWidget* make_static(Window& w, QWidget* parent);
  void update_static(Entry& e, Window& w, bool repainted);
  QWidget* make_button(Window& w, QWidget* parent);
  void update_button(Entry& e, Window& w);
  QWidget* make_edit(Window& w, QWidget* parent);
  void update_edit(Entry& e, Window& w);
  QWidget* make_rich_edit(Window& w, QWidget* parent);
  void update_rich_edit(Entry& e, Window& w, bool repainted);
  QWidget* make_list_box(Window& w, QWidget* parent);
  void update_list_box(Entry& e, Window& w);
  bool list_box_mouse(Entry& e, Window& w, QWidget* source, QMouseEvent* me, QPoint local);
  QWidget* make_combo_box(Window& w, QWidget* parent);
  void update_combo_box(Entry& e, Window& w);
  QWidget* make_list_view(Window& w, QWidget* parent);
  void update_list_view(Entry& e, Window& w, bool repainted);
  bool list_view_mouse(Entry& e, Window& w, QWidget* source, QMouseEvent* me, QPoint local);
  QWidget* make_tree_view(Window& w, QWidget* parent);
  void update_tree_view(Entry& e, Window& w);
  bool tree_view_mouse(Entry& e, Window& w, QWidget* source, QMouseEvent* me, QPoint local);
  QWidget* make_progress(Window& w, QWidget* parent);
  void update_progress(Entry& e, Window& w);
  QWidget* make_slider(Window& w, QWidget* parent);
  void update_slider(Entry& e, Window& w);
  bool handle_key(Entry& e, Window& w, QEvent* event);
  void clipped_cells(const Window& w, QTreeWidget& tree, std::vector<ClippedText>& out) const;
  void clipped_combo(const Window& w, QComboBox& combo, std::vector<ClippedText>& out) const;
  void drop(HWND hwnd);
  bool shows(const Window& w) const { return w.thread == thread_ || (other_threads_ && other_threads_(w.thread)); }
  // Runs `action` once Qt has delivered its event, on the thread of `window`.
  void defer(HWND window, std::function<void()> action);

  MirrorMode mode_;
  UiThread* thread_;
  std::unordered_map<HWND, std::unique_ptr<Entry>> entries_;
  bool syncing_ = false;
  HWND menu_owner_ = nullptr;  // whose menu is being filled
  HWND activated_ = nullptr;   // the window last made Qt's active one
  // Windows whose layer or state changed since their last pass (changes
  // made while syncing are the mirror's own and do not count).
  std::unordered_set<HWND> repainted_;
  std::vector<std::pair<HWND, std::function<void()>>> deferred_;
  std::function<bool(const UiThread*)> other_threads_;
};

}  // namespace platform::ui::qt
