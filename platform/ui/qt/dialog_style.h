// The look of the mirrored controls where the window model decides it
// rather than Qt: the keyboard focus mark follows the model's focus (so
// pictures of windows never put on a screen show it too), a push button
// with the focus looks like the default one while it has it, and the mark
// is the dotted rectangle of the dialogs. Internal to the Qt view.
#pragma once

#include <QProxyStyle>

namespace platform::ui::qt {

class DialogStyle : public QProxyStyle {
 public:
  DialogStyle();
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget) const override;
};

// Installs the style on the application once.
void InstallDialogStyle();

}  // namespace platform::ui::qt
