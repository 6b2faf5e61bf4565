// Edit fields and rich edits as Qt line and text edits.
#include "platform/ui/qt/mirror_parts.h"

#include <QLineEdit>
#include <QTextEdit>
#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

QWidget* WidgetMirror::make_edit(Window& w, QWidget* parent_widget) {
  if (w.style & ES_MULTILINE) {
    auto* t = new QTextEdit(parent_widget);
    t->setAcceptRichText(false);
    return t;
  }
  return new QLineEdit(parent_widget);
}

namespace {
// Read-only edits are drawn on the dialog's face colour, as the system
// draws them (and as disabled ones look), not on the window colour of a
// field that takes typing.
void show_read_only(QWidget& edit, bool read_only) {
  QPalette palette = edit.palette();
  const QColor base = read_only ? sys_colour(COLOR_BTNFACE) : sys_colour(COLOR_WINDOW);
  if (palette.color(QPalette::Active, QPalette::Base) == base && palette.color(QPalette::Inactive, QPalette::Base) == base)
    return;
  palette.setColor(QPalette::Active, QPalette::Base, base);
  palette.setColor(QPalette::Inactive, QPalette::Base, base);
  edit.setPalette(palette);
}
}  // namespace

void WidgetMirror::update_edit(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* model = dynamic_cast<EditModel*>(w.control.get());
  QString text = qs(w.text);
  show_read_only(*widget, (w.style & ES_READONLY) != 0);
  if (auto* line = dynamic_cast<QLineEdit*>(widget)) {
    if (line->text() != text) line->setText(text);
    QLineEdit::EchoMode echo = (w.style & ES_PASSWORD) ? QLineEdit::Password : QLineEdit::Normal;
    if (line->echoMode() != echo) line->setEchoMode(echo);
    if (line->isReadOnly() != ((w.style & ES_READONLY) != 0)) line->setReadOnly((w.style & ES_READONLY) != 0);
    Qt::Alignment align = (w.style & ES_RIGHT) ? Qt::AlignRight : (w.style & ES_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
    if (line->alignment() != (align | Qt::AlignVCenter)) line->setAlignment(align | Qt::AlignVCenter);
    if (model) {
      int size = static_cast<int>(w.text.size());
      int a = std::clamp(model->sel_start, 0, size), b = std::clamp(model->sel_end, 0, size);
      if (a == b) {
        if (line->cursorPosition() != b || line->hasSelectedText()) line->setCursorPosition(b);
      } else if (line->selectionStart() != a || line->selectionLength() != b - a) {
        line->setSelection(a, b - a);
      }
    }
  } else if (auto* edit = dynamic_cast<QTextEdit*>(widget)) {
    if (edit->toPlainText() != text) edit->setPlainText(text);
    if (edit->isReadOnly() != ((w.style & ES_READONLY) != 0)) edit->setReadOnly((w.style & ES_READONLY) != 0);
  }
}

QWidget* WidgetMirror::make_rich_edit(Window& w, QWidget* parent_widget) {
  auto* t = new QTextEdit(parent_widget);
  // A border and scroll bars only when the styles ask for them.
  t->setFrameShape((w.style & WS_BORDER) || (w.ex_style & WS_EX_CLIENTEDGE) ? QFrame::StyledPanel : QFrame::NoFrame);
  t->setVerticalScrollBarPolicy((w.style & WS_VSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  t->setHorizontalScrollBarPolicy((w.style & WS_HSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  return t;
}

void WidgetMirror::update_rich_edit(Entry& e, Window& w, bool repainted) {
  QWidget* widget = e.widget;
  auto* edit = dynamic_cast<QTextEdit*>(widget);
  auto* model = dynamic_cast<RichEditModel*>(w.control.get());
  if (!edit || !model) return;
  // The parent chooses the colours when the control paints (when it was
  // marked for repainting); they are kept for the passes between.
  if (repainted || !e.rich_colours_known) {
    RichEditModel::Colours chosen = model->colours(w);
    if (!chosen.alive) return;
    e.rich_colours = chosen;
    e.rich_colours_known = true;
  }
  const RichEditModel::Colours& chosen = e.rich_colours;
  // Runs of equal format become spans; rebuilt only when text, formats
  // or colours change.
  std::u16string sig = w.text;
  for (const auto& r : model->runs(w)) {
    for (long v : {long{r.start}, long{r.length}, static_cast<long>(r.format.color & 0xFFFF),
                   static_cast<long>(r.format.color >> 16), long{r.format.bold}, long{r.format.italic},
                   long{r.format.auto_color}, long{r.format.height_twips}})
      sig += static_cast<char16_t>(v & 0xFFFF);
    sig += r.format.face;
    sig += u'\x1f';
  }
  for (COLORREF c : {chosen.background, chosen.auto_text}) {
    sig += static_cast<char16_t>(c & 0xFFFF);
    sig += static_cast<char16_t>(c >> 16);
  }
  sig += static_cast<char16_t>(chosen.has_background);
  sig += static_cast<char16_t>(RichEditModel::wraps(w));
  sig += edit->font().toString().toStdU16String();
  if (sig == e.signature) return;
  e.signature = sig;
  edit->setReadOnly((w.style & ES_READONLY) != 0);
  // No background (WS_EX_TRANSPARENT, or the parent's null brush or
  // transparent mode): what lies beneath (the parent's painting, a
  // banner) shows through around the text.
  bool transparent = !chosen.has_background;
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, transparent ? QColor(Qt::transparent) : colour(chosen.background));
  edit->setPalette(palette);
  edit->viewport()->setAutoFillBackground(!transparent);
  edit->setAutoFillBackground(false);
  // Multi-line controls wrap at their width, as the model's own drawing does.
  edit->setLineWrapMode(RichEditModel::wraps(w) ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
  model->layout_document(w, *edit->document(), edit->font(), chosen.auto_text, edit->viewport()->width());
}

}  // namespace platform::ui::qt
