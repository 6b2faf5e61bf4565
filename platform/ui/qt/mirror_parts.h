// What the widget mirror's files share: the entry it keeps per window,
// the widgets that show painted layers, and small conversions. Internal to
// the Qt view.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/qt/widget_mirror.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPushButton;

namespace platform::ui::qt {

constexpr int kMaxDepth = 32;       // nesting of child windows is capped
constexpr int kMaxMenuDepth = 8;    // and so is that of sub-menus
inline const char* const kHwndProperty = "drum_hwnd";
// Widgets of the view's own (the file pickers' panel) take Qt's input as is.
inline const char* const kViewOwnProperty = "drum_view_own";
constexpr DWORD kListViewTypeMask = 0x3;  // LVS_ICON, LVS_REPORT, LVS_SMALLICON, LVS_LIST

inline bool is_report(const Window& w) { return (w.style & kListViewTypeMask) == LVS_REPORT; }
inline QString qs(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
inline QColor colour(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline QColor sys_colour(int index) { return colour(GetSysColor(index)); }
inline QPixmap pixmap_of(const QImage* image) { return image ? QPixmap::fromImage(*image) : QPixmap(); }

// Statics show '&' as a mnemonic marker unless SS_NOPREFIX; "&&" is one '&'.
QString without_prefix(const std::u16string& text);
// The height of a closed drop-down combo box in `font`: a line of text
// with the field's frame and margins.
int ClosedComboHeight(const QFont& font);
QIcon image_list_icon(HIMAGELIST list, int index);

// Paints a window's GDI layer, or the dialog face colour before anything
// was painted. Dialogs, generic windows and owner-drawn buttons use it.
class LayerWidget : public QWidget {
 public:
  LayerWidget(HWND hwnd, QWidget* parent) : QWidget(parent), hwnd_(hwnd) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    Window* w = FindWindowModel(hwnd_);
    if (w && w->layer) {
      p.drawImage(0, 0, *w->layer);
    } else {
      p.fillRect(rect(), sys_colour(COLOR_BTNFACE));
      if (w && w->control) w->control->draw(*w, p);
    }
  }

 private:
  HWND hwnd_;
};

// Shows what a program painted over a native control (owner drawing,
// banners drawn on a static); hidden while nothing was painted. Input goes
// through to the control underneath.
class LayerOverlay : public QWidget {
 public:
  LayerOverlay(HWND hwnd, QWidget* parent) : QWidget(parent), hwnd_(hwnd) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    Window* w = FindWindowModel(hwnd_);
    if (!w || !w->layer) return;
    QPainter p(this);
    p.drawImage(0, 0, *w->layer);
  }

 private:
  HWND hwnd_;
};


enum class ButtonShape { Push, Check, Radio, Group, OwnerDraw };
ButtonShape button_shape(DWORD style);

// What the list and tree widgets last showed, to rebuild only on change.
std::u16string list_view_signature(const ListViewModel& lv);
std::u16string tree_signature(const TreeViewModel& tv);
std::u16string list_signature(const ListBoxModel& lb);
// A list view in icon or list style: the large pictures in icon style, the
// small ones otherwise; check boxes and the selection as the model has them.
void fill_icon_list(QListWidget& list, const Window& w, const ListViewModel& model);

struct WidgetMirror::Entry {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  WindowKind kind = WindowKind::Generic;
  DWORD shape = 0;
  QPointer<QWidget> top;      // top-level windows: the Qt window
  QPointer<QWidget> widget;   // the client area or the control
  QPointer<QWidget> overlay;  // painted layer over a native control
  QPointer<QMenuBar> menu_bar;
  std::u16string signature;
  std::u16string menu_sig;
  HMENU menu = nullptr;
  HICON small_icon = nullptr;
  HICON big_icon = nullptr;
  qint64 icon_key = 0;  // the button picture last shown
  // File and folder pickers: the path field, OK and status the view adds.
  QPointer<QLineEdit> picker_path;
  QPointer<QPushButton> picker_ok;
  QPointer<QLabel> picker_status;
  std::u16string picker_selection;
  // File dialogs browse the simulated PC: the folder shown ("" for the
  // drives), its entries and the filter that chooses the files.
  QPointer<QLabel> browse_label;
  QPointer<QListWidget> browse_list;
  QPointer<QComboBox> browse_filter;
  std::u16string browse_folder;
  // Rich edits: the colours the parent chose when the control last painted.
  RichEditModel::Colours rich_colours;
  bool rich_colours_known = false;
};

}  // namespace platform::ui::qt
