// Progress bars and sliders as Qt progress bars and sliders.
#include "platform/ui/qt/mirror_parts.h"

#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

QWidget* WidgetMirror::make_progress(Window& w, QWidget* parent_widget) {
  auto* p = new QProgressBar(parent_widget);
  p->setTextVisible(false);
  return p;
}

void WidgetMirror::update_progress(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* bar = dynamic_cast<QProgressBar*>(widget);
  auto* model = dynamic_cast<ProgressModel*>(w.control.get());
  if (!bar || !model) return;
  // An empty range (high not above low) draws an empty bar; Qt would take
  // 0..0 for a busy indicator and animate it.
  const bool empty = model->high <= model->low;
  const int low = empty ? 0 : model->low;
  const int high = empty ? 1 : model->high;
  if (bar->minimum() != low || bar->maximum() != high) bar->setRange(low, high);
  int value = empty ? low : std::clamp(model->pos, low, high);
  if (bar->value() != value) bar->setValue(value);
}

QWidget* WidgetMirror::make_slider(Window& w, QWidget* parent_widget) {
  auto* s = new QSlider(parent_widget);
  HWND h = w.handle;
  // A user's drag or page step ends where Qt put the thumb; the model
  // then sends the scroll messages of a drag ending there.
  auto to_model = [this, h](int value) {
    if (syncing_) return;
    defer(h, [h, value] {
      auto* model = ModelOf<SliderModel>(h);
      Window* sw = FindWindowModel(h);
      if (model && sw) model->drag_to(*sw, value);
    });
  };
  connect(s, &QSlider::sliderReleased, this, [to_model, s] { to_model(s->value()); });
  connect(s, &QSlider::valueChanged, this, [to_model, s](int v) {
    if (!s->isSliderDown()) to_model(v);
  });
  return s;
}

void WidgetMirror::update_slider(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* slider = dynamic_cast<QSlider*>(widget);
  auto* model = dynamic_cast<SliderModel*>(w.control.get());
  if (!slider || !model || slider->isSliderDown()) return;
  QSignalBlocker block(slider);
  Qt::Orientation orientation = (w.style & TBS_VERT) ? Qt::Vertical : Qt::Horizontal;
  if (slider->orientation() != orientation) slider->setOrientation(orientation);
  QSlider::TickPosition ticks = (w.style & TBS_NOTICKS) ? QSlider::NoTicks : QSlider::TicksBelow;
  if (slider->tickPosition() != ticks) slider->setTickPosition(ticks);
  if (slider->minimum() != model->low || slider->maximum() != model->high)
    slider->setRange(model->low, std::max(model->low, model->high));
  if (slider->value() != model->pos) slider->setValue(model->pos);
}

}  // namespace platform::ui::qt
