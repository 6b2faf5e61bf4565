// Statics and buttons as Qt labels, frames and buttons.
#include "platform/ui/qt/mirror_parts.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "platform/ui/controls.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

namespace {

// A group box drawn as the dialogs draw theirs: an etched frame whose top
// line runs through the title, and no fill, so the statics inside sit on the
// same face colour as the dialog (the style's own group box shades its inside).
class GroupFrame : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QFontMetrics metrics(font());
    const QString text = without_prefix(title().toStdU16String());
    const int line = text.isEmpty() ? 0 : metrics.height() / 2;
    const QRect frame = rect().adjusted(0, line, -2, -2);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(frame);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(frame.translated(1, 1));
    if (text.isEmpty()) return;
    const QRect label(6, 0, metrics.horizontalAdvance(text) + 4, metrics.height());
    p.fillRect(label, palette().color(QPalette::Window));
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(label, Qt::AlignCenter, text);
  }
};

}  // namespace

QWidget* WidgetMirror::make_static(Window& w, QWidget* parent_widget) {
  DWORD type = w.style & SS_TYPEMASK;
  if (type == SS_ETCHEDHORZ || type == SS_ETCHEDFRAME || type == SS_BLACKFRAME) {
    auto* f = new QFrame(parent_widget);
    f->setFrameShape(type == SS_ETCHEDHORZ ? QFrame::HLine : QFrame::Box);
    f->setFrameShadow(type == SS_BLACKFRAME ? QFrame::Plain : QFrame::Sunken);
    return f;
  }
  if (type == SS_BLACKRECT || type == SS_GRAYRECT || type == SS_WHITERECT || type == SS_OWNERDRAW)
    return new LayerWidget(w.handle, parent_widget);
  // Filled or transparent as the parent says (see update_static).
  return new QLabel(parent_widget);
}

void WidgetMirror::update_static(Entry& e, Window& w, bool repainted) {
  QWidget* widget = e.widget;
  auto* label = dynamic_cast<QLabel*>(widget);
  auto* model = dynamic_cast<StaticModel*>(w.control.get());
  if (!label) return;
  DWORD type = w.style & SS_TYPEMASK;
  if (type == SS_BITMAP || type == SS_ICON) {
    const QImage* image = model ? (type == SS_BITMAP ? BitmapImage(model->bitmap) : IconImage(model->icon)) : nullptr;
    if (image && (label->pixmap().isNull() || label->pixmap().toImage() != *image)) label->setPixmap(pixmap_of(image));
    Qt::Alignment image_align = (w.style & SS_CENTERIMAGE) ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop;
    if (label->alignment() != image_align) label->setAlignment(image_align);
    return;
  }
  QString text = (w.style & SS_NOPREFIX) ? qs(w.text) : without_prefix(w.text);
  if (label->text() != text) label->setText(text);
  Qt::Alignment h = type == SS_CENTER ? Qt::AlignHCenter : type == SS_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
  Qt::Alignment align = h | ((w.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop);
  if (label->alignment() != align) label->setAlignment(align);
  bool wrap = type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE;
  if (label->wordWrap() != wrap) label->setWordWrap(wrap);
  // The parent chooses colours through WM_CTLCOLORSTATIC when the label
  // paints, that is when it was marked for repainting: a transparent
  // mode or the null brush lets what the parent painted (a banner, a
  // bitmap background) show through.
  if (!repainted) return;
  ParentColours chosen = AskParentColours(w, WM_CTLCOLORSTATIC, GetSysColor(COLOR_BTNFACE));
  if (!chosen.alive) return;
  COLORREF text_colour = chosen.text, back = chosen.back;
  bool transparent = (w.ex_style & WS_EX_TRANSPARENT) != 0 || chosen.transparent;
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour(text_colour));
  palette.setColor(QPalette::Window, colour(back));
  if (palette != label->palette()) label->setPalette(palette);
  if (label->autoFillBackground() == transparent) label->setAutoFillBackground(!transparent);
}

QWidget* WidgetMirror::make_button(Window& w, QWidget* parent_widget) {
  switch (button_shape(w.style)) {
    case ButtonShape::Check: return new QCheckBox(parent_widget);
    case ButtonShape::Radio: {
      auto* r = new QRadioButton(parent_widget);
      r->setAutoExclusive(false);  // the model keeps the group
      return r;
    }
    case ButtonShape::Group: return new GroupFrame(parent_widget);
    case ButtonShape::OwnerDraw: return new LayerWidget(w.handle, parent_widget);
    case ButtonShape::Push: break;
  }
  return new QPushButton(parent_widget);
}

void WidgetMirror::update_button(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* model = dynamic_cast<ButtonModel*>(w.control.get());
  // Mnemonics are the dialog's (the model reads Alt+letter); Qt must not
  // take the keys as shortcuts of its own first.
  if (auto* group = dynamic_cast<QGroupBox*>(widget)) {
    // Shown without the marker, its '&'s doubled so that Qt finds none.
    QString title = without_prefix(w.text).replace(QLatin1Char('&'), QLatin1String("&&"));
    if (group->title() != title) group->setTitle(title);
    return;
  }
  auto* button = dynamic_cast<QAbstractButton*>(widget);
  if (!button || !model) return;
  if (button->text() != qs(w.text)) {
    button->setText(qs(w.text));
    button->setShortcut(QKeySequence());
  }
  const QImage* image = model->bitmap ? BitmapImage(model->bitmap) : model->icon ? IconImage(model->icon) : nullptr;
  if (image && image->cacheKey() != e.icon_key) {
    e.icon_key = image->cacheKey();
    button->setIcon(QIcon(QPixmap::fromImage(*image)));
    button->setIconSize(image->size());
  }
  if (auto* check = dynamic_cast<QCheckBox*>(widget)) {
    DWORD type = w.style & BS_TYPEMASK;
    bool tristate = type == BS_3STATE || type == BS_AUTO3STATE;
    if (check->isTristate() != tristate) check->setTristate(tristate);
    Qt::CheckState state = model->check == BST_CHECKED ? Qt::Checked
                           : model->check == BST_INDETERMINATE ? Qt::PartiallyChecked
                                                               : Qt::Unchecked;
    if (check->checkState() != state) {
      QSignalBlocker block(check);
      check->setCheckState(state);
    }
  } else if (auto* radio = dynamic_cast<QRadioButton*>(widget)) {
    bool on = model->check == BST_CHECKED;
    if (radio->isChecked() != on) {
      QSignalBlocker block(radio);
      radio->setChecked(on);
    }
  } else if (auto* push = dynamic_cast<QPushButton*>(widget)) {
    bool is_default = (w.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    if (push->isDefault() != is_default) push->setDefault(is_default);
  }
}

}  // namespace platform::ui::qt
