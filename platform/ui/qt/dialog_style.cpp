#include "platform/ui/qt/dialog_style.h"

#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QStyleOption>

#include "platform/ui/message_queue.h"
#include "platform/ui/qt/mirror_parts.h"
#include "platform/ui/window.h"

namespace platform::ui::qt {

namespace {

// The model window a widget stands for; an editable combo box's own field
// stands for the combo box.
Window* window_of(const QWidget* widget) {
  for (int up = 0; widget && up < 2; ++up, widget = widget->parentWidget()) {
    QVariant v = widget->property(kHwndProperty);
    if (v.isValid()) return FindWindowModel(reinterpret_cast<HWND>(v.value<quintptr>()));
    if (!qobject_cast<const QComboBox*>(widget->parentWidget())) return nullptr;
  }
  return nullptr;
}

Window* model_focus(const Window& w) { return w.thread && w.thread->focus ? FindWindowModel(w.thread->focus) : nullptr; }

// The focus state of `w` is the model's, whatever Qt's focus is; the mark
// shows whether or not the keyboard moved it last.
void follow_model_focus(QStyle::State& state, const Window& w) {
  if (model_focus(w) == &w)
    state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
  else
    state &= ~QStyle::State_HasFocus;
}

bool is_push_button(const Window* w) {
  if (!w || w->kind != WindowKind::Button) return false;
  DWORD type = w->style & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// The dotted rectangle of a focused control, one pixel on and one off.
void draw_dotted_rect(QPainter* p, const QRect& r, const QColor& colour) {
  if (r.width() < 2 || r.height() < 2) return;
  p->save();
  p->setRenderHint(QPainter::Antialiasing, false);
  p->setPen(colour);
  for (int x = r.left(); x <= r.right(); x += 2) {
    p->drawPoint(x, r.top());
    p->drawPoint(x, r.bottom());
  }
  for (int y = r.top(); y <= r.bottom(); y += 2) {
    p->drawPoint(r.left(), y);
    p->drawPoint(r.right(), y);
  }
  p->restore();
}

}  // namespace

DialogStyle::DialogStyle() = default;

void DialogStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
  Window* w = window_of(widget);
  auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
  if (w && button && (element == CE_PushButton || element == CE_PushButtonBevel)) {
    QStyleOptionButton copy(*button);
    follow_model_focus(copy.state, *w);
    // While a push button has the focus it is the one Enter presses, and
    // it alone looks like the default button.
    Window* focus = model_focus(*w);
    if (is_push_button(focus) && focus->top_level() == w->top_level()) {
      if (focus == w)
        copy.features |= QStyleOptionButton::DefaultButton;
      else
        copy.features &= ~QStyleOptionButton::DefaultButton;
    }
    QProxyStyle::drawControl(element, &copy, painter, widget);
    if (element == CE_PushButton && (copy.state & State_HasFocus))
      draw_dotted_rect(painter, button->rect.adjusted(4, 4, -5, -5), copy.palette.color(QPalette::ButtonText));
    return;
  }
  if (w && button && (element == CE_CheckBox || element == CE_RadioButton)) {
    QStyleOptionButton copy(*button);
    follow_model_focus(copy.state, *w);
    QProxyStyle::drawControl(element, &copy, painter, widget);
    // Round the text, as the dialogs mark a focused check box or radio button.
    if ((copy.state & State_HasFocus) && !copy.text.isEmpty()) {
      QRect around = subElementRect(element == CE_CheckBox ? SE_CheckBoxFocusRect : SE_RadioButtonFocusRect, &copy, widget);
      draw_dotted_rect(painter, around, copy.palette.color(QPalette::WindowText));
    }
    return;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

void DialogStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
  if (element == PE_FrameFocusRect) {
    draw_dotted_rect(painter, option->rect, option->palette.color(QPalette::WindowText));
    return;
  }
  auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
  if (Window* w = window_of(widget); w && frame && (element == PE_PanelLineEdit || element == PE_FrameLineEdit)) {
    QStyleOptionFrame copy(*frame);
    follow_model_focus(copy.state, *w);
    QProxyStyle::drawPrimitive(element, &copy, painter, widget);
    return;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void DialogStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                     const QWidget* widget) const {
  auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
  if (Window* w = window_of(widget); w && combo && control == CC_ComboBox) {
    QStyleOptionComboBox copy(*combo);
    follow_model_focus(copy.state, *w);
    QProxyStyle::drawComplexControl(control, &copy, painter, widget);
    return;
  }
  QProxyStyle::drawComplexControl(control, option, painter, widget);
}

void InstallDialogStyle() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (dynamic_cast<DialogStyle*>(QApplication::style())) return;
  QApplication::setStyle(new DialogStyle);
}

}  // namespace platform::ui::qt
