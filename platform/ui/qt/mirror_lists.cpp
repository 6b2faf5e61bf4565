// List boxes and combo boxes as Qt lists and combos.
#include "platform/ui/qt/mirror_parts.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalBlocker>

#include "platform/ui/controls.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

QWidget* WidgetMirror::make_list_box(Window&, QWidget* parent_widget) { return new QListWidget(parent_widget); }

void WidgetMirror::update_list_box(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* list = dynamic_cast<QListWidget*>(widget);
  auto* model = dynamic_cast<ListBoxModel*>(w.control.get());
  if (!list || !model) return;
  QSignalBlocker block(list);
  std::u16string sig = list_signature(*model);
  if (sig != e.signature) {
    e.signature = sig;
    list->clear();
    for (const auto& item : model->items) list->addItem(qs(item.text));
  }
  if (list->currentRow() != model->current) list->setCurrentRow(model->current);
}

bool WidgetMirror::list_box_mouse(Entry& e, Window& w, QWidget* source, QMouseEvent* me, QPoint local) {
  HWND self = w.handle;
  // The selection moves as the driver's `select` moves it.
  auto* list = dynamic_cast<QListWidget*>(e.widget.data());
  auto* model = dynamic_cast<ListBoxModel*>(w.control.get());
  post_mouse(w, me, {local.x(), local.y()});
  if (list && model) {
    int row = list->row(list->itemAt(source->mapTo(list->viewport(), me->position().toPoint())));
    defer(self, [self, row] {
      auto* lb = ModelOf<ListBoxModel>(self);
      Window* lw = FindWindowModel(self);
      if (!lb || !lw || row < 0 || row >= static_cast<int>(lb->items.size())) return;
      lb->current = row;
      NotifyWindowRepainted(*lw);
      NotifyParentCommand(*lw, LBN_SELCHANGE);
    });
  }
  return true;
}

QWidget* WidgetMirror::make_combo_box(Window& w, QWidget* parent_widget) {
  auto* c = new QComboBox(parent_widget);
  HWND h = w.handle;
  // A pick in the drop-down is the model's selection change, as the
  // headless driver's `select` makes it.
  connect(c, &QComboBox::activated, this, [this, h](int index) {
    defer(h, [h, index] {
      auto* model = ModelOf<ComboBoxModel>(h);
      Window* cw = FindWindowModel(h);
      if (!model || !cw || index < 0 || index >= static_cast<int>(model->items.size())) return;
      model->current = index;
      model->show_current(*cw);
      NotifyWindowRepainted(*cw);
      NotifyParentCommand(*cw, CBN_SELCHANGE);
    });
  });
  if (ComboBoxModel::editable(w)) {
    // Typing goes to Qt's field; each change the user makes is the
    // model's text at once (so a sync in between keeps it), and the
    // parent hears of it once Qt has delivered the key.
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);
    connect(c->lineEdit(), &QLineEdit::textEdited, this, [this, h](const QString& typed) {
      if (syncing_) return;
      std::u16string text(reinterpret_cast<const char16_t*>(typed.utf16()), static_cast<size_t>(typed.size()));
      Window* cw = FindWindowModel(h);
      if (!cw || cw->text == text) return;
      defer(h, [h, text] {
        auto* model = ModelOf<ComboBoxModel>(h);
        Window* cw = FindWindowModel(h);
        if (model && cw) model->user_edit(*cw, text);
      });
    });
  }
  return c;
}

void WidgetMirror::update_combo_box(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* combo = dynamic_cast<QComboBox*>(widget);
  auto* model = dynamic_cast<ComboBoxModel*>(w.control.get());
  if (!combo || !model) return;
  QSignalBlocker block(combo);
  std::u16string sig = list_signature(*model);
  if (sig != e.signature) {
    e.signature = sig;
    combo->clear();
    for (const auto& item : model->items) combo->addItem(qs(item.text));
  }
  if (combo->currentIndex() != model->current) combo->setCurrentIndex(model->current);
  // The field shows the model's text; the program's changes echo nothing.
  if (QLineEdit* field = combo->lineEdit(); field && field->text() != qs(w.text)) {
    QSignalBlocker block_field(field);
    field->setText(qs(w.text));
  }
}

}  // namespace platform::ui::qt
