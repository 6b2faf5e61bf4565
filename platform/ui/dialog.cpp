#include "platform/ui/dialog.h"
#include "platform/ui/dialog_keys.h"

#include <algorithm>

#include "platform/core/ascii_case.h"
#include "platform/core/text.h"
#include "platform/ui/control_model.h"
#include "platform/ui/controls.h"
#include "platform/ui/menu.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

using platform::ui::FindWindowModel;
using platform::ui::Window;

// ---- data exchange ----

void CDataExchange::Fail(int id) {
  failed = true;
  if (CWnd* c = m_pDlgWnd->GetDlgItem(id)) c->SetFocus();
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd) return;
  if (!control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd)) dx->failed = true;
}

void DDX_Text(CDataExchange* dx, int id, std::u16string& value) {
  CWnd* c = dx->m_pDlgWnd->GetDlgItem(id);
  if (!c) {
    dx->failed = true;
    return;
  }
  if (dx->m_bSaveAndValidate)
    value = c->GetWindowText().GetString();
  else
    c->SetWindowText(value.c_str());
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  std::u16string text = value.GetString();
  DDX_Text(dx, id, text);
  if (dx->m_bSaveAndValidate) value = CString(text);
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
  if (dx->m_bSaveAndValidate) {
    BOOL ok = FALSE;
    UINT v = dx->m_pDlgWnd->GetDlgItemInt(id, &ok, TRUE);
    if (!ok) {
      AfxMessageBox(u"Please enter an integer.", MB_ICONEXCLAMATION);
      dx->Fail(id);
      return;
    }
    value = static_cast<int>(v);
  } else {
    dx->m_pDlgWnd->SetDlgItemInt(id, static_cast<UINT>(value), TRUE);
  }
}

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
  if (dx->m_bSaveAndValidate) {
    BOOL ok = FALSE;
    UINT v = dx->m_pDlgWnd->GetDlgItemInt(id, &ok, FALSE);
    if (!ok) {
      AfxMessageBox(u"Please enter a positive integer.", MB_ICONEXCLAMATION);
      dx->Fail(id);
      return;
    }
    value = v;
  } else {
    dx->m_pDlgWnd->SetDlgItemInt(id, value, FALSE);
  }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
  if (dx->m_bSaveAndValidate)
    value = static_cast<int>(dx->m_pDlgWnd->IsDlgButtonChecked(id));
  else
    dx->m_pDlgWnd->CheckDlgButton(id, static_cast<UINT>(value));
}

void DDX_Radio(CDataExchange* dx, int id, int& value) {
  // The group runs from `id` through the following radio buttons up to the
  // next WS_GROUP control.
  Window* d = FindWindowModel(dx->m_pDlgWnd->m_hWnd);
  HWND first = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
  if (!d || !first) {
    dx->failed = true;
    return;
  }
  auto it = std::find_if(d->children.begin(), d->children.end(),
                         [&](Window* c) { return c->handle == first; });
  int index = 0;
  if (dx->m_bSaveAndValidate) value = -1;
  for (; it != d->children.end(); ++it, ++index) {
    Window* c = *it;
    if (index > 0 && (c->style & WS_GROUP)) break;
    if (c->kind != platform::ui::WindowKind::Button) break;
    if (dx->m_bSaveAndValidate) {
      if (SendMessageW(c->handle, BM_GETCHECK, 0, 0)) value = index;
    } else {
      SendMessageW(c->handle, BM_SETCHECK, index == value ? 1 : 0, 0);
    }
  }
}

// ---- CDialog ----

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
  ON_MESSAGE(WM_HELP, &CDialog::HandleHelp)
  ON_COMMAND(IDOK, &CDialog::OnOkCommand)
  ON_COMMAND(IDCANCEL, &CDialog::OnCancelCommand)
END_MESSAGE_MAP()

CDialog::CDialog(UINT template_id, CWnd* parent) : m_nIDHelp(template_id), m_pParentWnd(parent) {}

CDialog::~CDialog() {
  if (m_hWnd && IsWindow()) DestroyWindow();
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

// Help asked of the dialog becomes its help command, which the dialog, or
// else the application object, handles.
LRESULT CDialog::HandleHelp(WPARAM, LPARAM) {
  SendMessage(WM_COMMAND, ID_HELP, 0);
  return TRUE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
  if (loop_) {
    loop_->ended = true;
    loop_->result = result;
  } else if (!m_hWnd || !IsWindow()) {
    ended_early_ = true;
    early_result_ = result;
    return;
  } else if (!ended_early_ && is_modal()) {
    // unreachable: modal dialogs always have a loop
  }
  if (disabled_owner_) {
    ::EnableWindow(disabled_owner_, TRUE);
    disabled_owner_ = nullptr;
  }
  if (m_hWnd) ::ShowWindow(m_hWnd, SW_HIDE);
  if (!loop_) {
    ended_early_ = true;
    early_result_ = result;
  }
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (!m_hWnd) return FALSE;
  return IsDialogMessageW(m_hWnd, msg);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM w, LPARAM l) {
  return ::DefWindowProcW(m_hWnd, message, w, l);
}

bool CDialog::make_window(bool modal) {
  const auto* t = platform::ui::FindDialogTemplate(static_cast<int>(m_nIDHelp));
  if (!t) return false;
  Window* owner = nullptr;
  if (m_pParentWnd) {
    owner = FindWindowModel(m_pParentWnd->m_hWnd);
  } else if (CWnd* main = AfxGetMainWnd(); main && main != this && main->m_hWnd) {
    owner = FindWindowModel(main->m_hWnd);
  }
  if (modal && owner) {
    Window* top = owner->top_level();
    if (top->enabled()) {
      ::EnableWindow(top->handle, FALSE);
      disabled_owner_ = top->handle;
    }
  }
  Window* w = platform::ui::BuildDialogWindow(*t, owner, this, false);
  owns_window_ = true;
  // Subclassing dialog items happens in OnInitDialog through data exchange.
  LRESULT focus_default = SendMessage(WM_INITDIALOG, 0, 0);
  if (!FindWindowModel(w->handle)) return true;
  // The keyboard goes to the new dialog: a focus left in another window
  // (the owner, now disabled) would take the dialog's keys.
  if (focus_default && !platform::ui::HoldsFocus(*w)) platform::ui::FocusFirstTabStop(*w);
  return true;
}

INT_PTR CDialog::DoModal() {
  ended_early_ = false;
  platform::ui::ModalLoop loop;
  // Where the keyboard was, to give it back when the dialog has gone.
  HWND focus_before = ::GetFocus();
  if (!make_window(true)) {
    if (disabled_owner_) ::EnableWindow(disabled_owner_, TRUE);
    disabled_owner_ = nullptr;
    return -1;
  }
  HWND self = m_hWnd;
  loop.window = FindWindowModel(self);
  loop_ = &loop;
  if (ended_early_) {
    loop.ended = true;
    loop.result = early_result_;
  }
  struct Cleanup {
    CDialog& d;
    HWND self;
    HWND focus_before;
    ~Cleanup() {
      d.loop_ = nullptr;
      if (d.disabled_owner_) {
        ::EnableWindow(d.disabled_owner_, TRUE);
        d.disabled_owner_ = nullptr;
      }
      if (Window* w = FindWindowModel(self)) {
        ::ShowWindow(self, SW_HIDE);
        platform::ui::DestroyWindowModel(w);
      }
      // The window beneath gets its keyboard focus back, unless a handler
      // has put the focus somewhere since.
      if (!::GetFocus() && focus_before && ::IsWindow(focus_before) && ::IsWindowVisible(focus_before))
        if (Window* f = FindWindowModel(focus_before); f && f->top_level()->enabled()) ::SetFocus(focus_before);
    }
  } cleanup{*this, self, focus_before};
  if (!loop.ended && loop.window) {
    ::ShowWindow(self, SW_SHOW);
    ::SetActiveWindow(self);
    if (Window* w = FindWindowModel(self); w && !platform::ui::HoldsFocus(*w)) platform::ui::FocusFirstTabStop(*w);
  }
  if (!loop.window) loop.ended = true;
  platform::ui::RunModalLoop(loop);
  return loop.result;
}

BOOL CDialog::Create(UINT template_id, CWnd* parent) {
  m_nIDHelp = template_id;
  if (parent) m_pParentWnd = parent;
  if (!make_window(false)) return FALSE;
  Window* w = FindWindowModel(m_hWnd);
  const auto* t = platform::ui::FindDialogTemplate(static_cast<int>(template_id));
  if (w && t && (t->style & WS_VISIBLE)) ::ShowWindow(m_hWnd, SW_SHOW);
  return TRUE;
}

void CDialog::GotoDlgCtrl(CWnd* control) {
  if (control) ::SetFocus(control->m_hWnd);
}

namespace {

bool is_radio(const Window* w) {
  if (!w || w->kind != platform::ui::WindowKind::Button) return false;
  DWORD type = w->style & BS_TYPEMASK;
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

bool is_group_box(const Window* w) {
  return w && w->kind == platform::ui::WindowKind::Button && (w->style & BS_TYPEMASK) == BS_GROUPBOX;
}

bool takes_input(const Window* w) { return w->visible() && w->enabled(); }

// The group of the child at `index`: from the last WS_GROUP control at or
// before it (the first child starts one) to the next, exclusive.
std::pair<size_t, size_t> group_of(const Window& dialog, size_t index) {
  const auto& kids = dialog.children;
  size_t first = index;
  while (first > 0 && !(kids[first]->style & WS_GROUP)) --first;
  size_t end = first + 1;
  while (end < kids.size() && !(kids[end]->style & WS_GROUP)) ++end;
  return {first, end};
}

// Tabbing into a group of radio buttons lands on the one that is checked.
Window* checked_radio_in_group(Window& dialog, Window* radio) {
  const auto& kids = dialog.children;
  auto at = std::find(kids.begin(), kids.end(), radio);
  if (at == kids.end()) return radio;
  auto [first, end] = group_of(dialog, static_cast<size_t>(at - kids.begin()));
  for (size_t i = first; i < end; ++i)
    if (is_radio(kids[i]) && takes_input(kids[i]) && SendMessageW(kids[i]->handle, BM_GETCHECK, 0, 0) == BST_CHECKED)
      return kids[i];
  return radio;
}

Window* step_tab(Window& dialog, HWND from, bool forward) {
  std::vector<Window*> stops;
  for (Window* c : dialog.children)
    if ((c->style & WS_TABSTOP) && takes_input(c)) stops.push_back(c);
  if (stops.empty()) return nullptr;
  // A focused radio button without WS_TABSTOP of its own stands for its group's stop.
  Window* from_window = FindWindowModel(from);
  if (is_radio(from_window) && from_window->parent == &dialog &&
      std::find(stops.begin(), stops.end(), from_window) == stops.end()) {
    const auto& kids = dialog.children;
    auto at = std::find(kids.begin(), kids.end(), from_window);
    auto [first, end] = group_of(dialog, static_cast<size_t>(at - kids.begin()));
    for (size_t i = first; i < end; ++i)
      if (std::find(stops.begin(), stops.end(), kids[i]) != stops.end()) from = kids[i]->handle;
  }
  auto it = std::find_if(stops.begin(), stops.end(), [&](Window* c) { return c->handle == from; });
  Window* next = nullptr;
  if (it == stops.end())
    next = forward ? stops.front() : stops.back();
  else if (forward)
    next = ++it == stops.end() ? stops.front() : *it;
  else
    next = it == stops.begin() ? stops.back() : *(it - 1);
  return is_radio(next) ? checked_radio_in_group(dialog, next) : next;
}

// Arrow keys on a button: the previous or next control of its group that
// takes input (statics and group boxes are passed over), wrapping round.
Window* step_group(Window& dialog, Window* from, bool forward) {
  const auto& kids = dialog.children;
  auto at = std::find(kids.begin(), kids.end(), from);
  if (at == kids.end()) return nullptr;
  const size_t index = static_cast<size_t>(at - kids.begin());
  auto [first, end] = group_of(dialog, index);
  const size_t size = end - first;
  for (size_t step = 1; step < size; ++step) {
    size_t i = forward ? first + (index - first + step) % size : first + (index - first + size - step) % size;
    Window* c = kids[i];
    if (takes_input(c) && c->kind != platform::ui::WindowKind::Static && !is_group_box(c)) return c;
  }
  return nullptr;
}

// Controls whose keys are their own: characters typed there are text or a
// search, never a mnemonic.
bool takes_characters(const Window* w) {
  using platform::ui::WindowKind;
  return w && (w->kind == WindowKind::Edit || w->kind == WindowKind::RichEdit || w->kind == WindowKind::ComboBox ||
               w->kind == WindowKind::ListBox || w->kind == WindowKind::ListView || w->kind == WindowKind::TreeView);
}

// The control whose mnemonic is `c`, searched from the one after the focus
// (so a repeated letter steps through controls sharing it), then acted on:
// a push button is pressed, a check box or radio button focused and
// clicked, and a label or group box hands the focus to the control after it.
bool press_mnemonic(Window& dialog, char16_t c, HWND focus) {
  const auto& kids = dialog.children;
  const size_t n = kids.size();
  if (n == 0 || c == 0 || c == u' ') return false;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i)
    if (kids[i]->handle == focus) start = i + 1;
  for (size_t k = 0; k < n; ++k) {
    const size_t index = (start + k) % n;
    Window* w = kids[index];
    if (!takes_input(w)) continue;
    const bool label = w->kind == platform::ui::WindowKind::Static;
    if (!label && w->kind != platform::ui::WindowKind::Button) continue;
    if (label && (w->style & SS_NOPREFIX)) continue;
    if (platform::AsciiUpper(platform::ui::MnemonicOf(w->text)) != platform::AsciiUpper(c)) continue;
    if (label || is_group_box(w)) {
      for (size_t j = index + 1; j < n; ++j) {
        Window* next = kids[j];
        if (!takes_input(next) || next->kind == platform::ui::WindowKind::Static || is_group_box(next)) continue;
        ::SetFocus((is_radio(next) ? checked_radio_in_group(dialog, next) : next)->handle);
        return true;
      }
      return true;
    }
    const DWORD type = w->style & BS_TYPEMASK;
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW) {
      SendMessageW(dialog.handle, WM_COMMAND, MAKELONG(static_cast<WORD>(w->id), BN_CLICKED),
                   reinterpret_cast<LPARAM>(w->handle));
    } else {
      ::SetFocus(w->handle);
      SendMessageW(w->handle, BM_CLICK, 0, 0);
    }
    return true;
  }
  return false;
}

}  // namespace

void CDialog::NextDlgCtrl() const {
  if (Window* d = FindWindowModel(m_hWnd))
    if (Window* n = step_tab(*d, ::GetFocus(), true)) ::SetFocus(n->handle);
}
void CDialog::PrevDlgCtrl() const {
  if (Window* d = FindWindowModel(m_hWnd))
    if (Window* n = step_tab(*d, ::GetFocus(), false)) ::SetFocus(n->handle);
}

void CDialog::SetDefID(UINT id) {
  Window* d = FindWindowModel(m_hWnd);
  if (!d) return;
  for (Window* c : d->children) {
    if (c->kind != platform::ui::WindowKind::Button) continue;
    DWORD type = c->style & BS_TYPEMASK;
    if (type == BS_DEFPUSHBUTTON && c->id != static_cast<int>(id))
      c->style = (c->style & ~BS_TYPEMASK) | BS_PUSHBUTTON;
    else if (type == BS_PUSHBUTTON && c->id == static_cast<int>(id))
      c->style = (c->style & ~BS_TYPEMASK) | BS_DEFPUSHBUTTON;
  }
}

DWORD CDialog::GetDefID() const {
  Window* d = FindWindowModel(m_hWnd);
  Window* b = d ? platform::ui::DefaultButton(*d) : nullptr;
  return b ? MAKELONG(static_cast<WORD>(b->id), 0x534B) : 0;
}

namespace platform::ui {

bool HoldsFocus(Window& dialog) {
  HWND focus = CurrentUiThread().focus;
  Window* f = focus ? FindWindowModel(focus) : nullptr;
  for (int hops = 0; f && hops < 64; ++hops, f = f->is_child() ? f->parent : nullptr)
    if (f == &dialog) return true;
  return false;
}

void FocusFirstTabStop(Window& dialog) {
  for (Window* c : dialog.children)
    if ((c->style & WS_TABSTOP) && c->visible() && c->enabled()) {
      ::SetFocus(c->handle);
      return;
    }
}

char16_t MnemonicOf(const std::u16string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] == u'&') {
      ++i;
      continue;
    }
    return text[i + 1];
  }
  return 0;
}

Window* DefaultButton(Window& dialog) {
  for (Window* c : dialog.children)
    if (c->kind == WindowKind::Button && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return c;
  return nullptr;
}

Window* BuildDialogWindow(const DialogTemplate& t, Window* owner, ::CWnd* object, bool child) {
  std::u16string face = t.font_face ? t.font_face : u"";
  BaseUnits base = BaseUnitsForFont(face, t.font_points);
  RECT client = DialogUnitsToPixels({t.x, t.y, t.x + t.cx, t.y + t.cy}, base);
  CreateParams p;
  p.class_name = u"#32770";
  p.text = t.caption ? t.caption : u"";
  p.style = (t.style & ~WS_VISIBLE) | (child ? WS_CHILD : 0);
  if (!child) p.style &= ~WS_CHILD;
  p.ex_style = t.ex_style;
  p.template_id = t.id;
  p.object = object;
  if (child)
    p.parent = owner;
  else
    p.owner = owner;
  // Window rectangle = client area plus frame and caption.
  int frame = child ? 0 : FrameWidth(p.style);
  int caption = !child && (p.style & WS_CAPTION) == WS_CAPTION ? CaptionHeight() : 0;
  LONG width = (client.right - client.left) + 2 * frame;
  // A menu bar sits between the caption and the client area, which keeps
  // the template's size.
  int menu_bar = !child && t.menu_id && FindMenuTemplate(t.menu_id) ? MenuBarHeight() : 0;
  LONG height = (client.bottom - client.top) + 2 * frame + caption + menu_bar;
  POINT origin{client.left, client.top};
  if (!child && owner) {
    POINT o = owner->client_origin_on_screen();
    origin.x += o.x;
    origin.y += o.y;
  }
  if (!child && (t.style & DS_CENTER)) {
    SIZE screen = ScreenSize();
    origin = {(screen.cx - width) / 2, (screen.cy - height) / 2};
  }
  p.rect = {origin.x, origin.y, origin.x + width, origin.y + height};
  Window* dialog = CreateWindowModel(p);

  HFONT font = nullptr;
  if (!face.empty()) font = MakeFont(face, -MulDiv(t.font_points, 96, 72), t.font_weight ? t.font_weight : 400, t.font_italic != 0);
  dialog->font = font;
  for (size_t i = 0; i < t.item_count; ++i) {
    const DialogItemTemplate& it = t.items[i];
    CreateParams c;
    c.class_name = it.class_name;
    c.text = it.text ? it.text : u"";
    c.style = it.style | WS_CHILD;
    c.ex_style = it.ex_style;
    c.id = it.id;
    c.parent = dialog;
    c.rect = DialogUnitsToPixels({it.x, it.y, it.x + it.cx, it.y + it.cy}, base);
    Window* w = CreateWindowModel(c);
    w->font = font;
    if (it.image_id) AttachResourceImage(*w, it.image_id);
  }
  if (t.menu_id) {
    if (HMENU m = LoadMenuFromTable(t.menu_id)) dialog->menu = m;
  }
  return dialog;
}

}  // namespace platform::ui

// ---- dialog keyboard handling ----

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
  Window* d = FindWindowModel(dialog);
  if (!d || !msg) return FALSE;
  Window* target = FindWindowModel(msg->hwnd);
  bool inside = false;
  for (Window* w = target; w; w = w->is_child() ? w->parent : nullptr)
    if (w == d) inside = true;
  if (!inside) return FALSE;
  if (msg->message == WM_SYSCHAR) return press_mnemonic(*d, static_cast<char16_t>(msg->wParam), GetFocus()) ? TRUE : FALSE;
  if (msg->message == WM_CHAR) {
    WPARAM c = msg->wParam;
    // A letter typed where no control takes characters (a button, a box's
    // buttons) is a mnemonic, as with Alt.
    if (c > u' ' && c != 0x7F && !takes_characters(FindWindowModel(GetFocus())) &&
        press_mnemonic(*d, static_cast<char16_t>(c), GetFocus()))
      return TRUE;
    // The keys the dialog handles itself never reach controls as characters.
    if (c == u'\r' || c == 0x1B || c == u'\t') {
      bool wants_return = target && target->kind == platform::ui::WindowKind::Edit &&
                          (target->style & (ES_MULTILINE | ES_WANTRETURN)) == (ES_MULTILINE | ES_WANTRETURN);
      if (!(c == u'\r' && wants_return)) return TRUE;
    }
    return FALSE;
  }
  if (msg->message != WM_KEYDOWN) return FALSE;
  HWND focus = GetFocus();
  Window* focused = FindWindowModel(focus);
  auto command = [&](int id, Window* from) {
    SendMessageW(dialog, WM_COMMAND, MAKELONG(static_cast<WORD>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(from ? from->handle : nullptr));
  };
  switch (msg->wParam) {
    case VK_RETURN: {
      if (focused && focused->kind == platform::ui::WindowKind::Edit &&
          (focused->style & (ES_MULTILINE | ES_WANTRETURN)) == (ES_MULTILINE | ES_WANTRETURN))
        return FALSE;
      if (focused && focused->parent == d && focused->kind == platform::ui::WindowKind::Button) {
        DWORD type = focused->style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
          if (focused->enabled()) command(focused->id, focused);
          return TRUE;
        }
      }
      Window* def = platform::ui::DefaultButton(*d);
      if (def) {
        if (def->enabled() && def->visible()) command(def->id, def);
      } else {
        HWND ok = GetDlgItem(dialog, IDOK);
        Window* okw = FindWindowModel(ok);
        if (!okw || okw->enabled()) command(IDOK, okw);
      }
      return TRUE;
    }
    case VK_ESCAPE: {
      HWND cancel = GetDlgItem(dialog, IDCANCEL);
      Window* cw = FindWindowModel(cancel);
      if (cw && !cw->enabled()) return TRUE;
      command(IDCANCEL, cw);
      return TRUE;
    }
    case VK_TAB: {
      bool back = (msg->lParam & 0x1) != 0;  // the driver marks Shift+Tab in bit 0
      if (Window* n = step_tab(*d, focus, !back)) SetFocus(n->handle);
      return TRUE;
    }
    case VK_F1: {
      // Help: asked of the control with the focus; the default procedure
      // passes it up to the dialog.
      Window* asked = d;
      for (Window* up = focused; up; up = up->is_child() ? up->parent : nullptr)
        if (up == d) asked = focused;
      HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, asked == d ? 0 : asked->id, asked->handle, 0, {0, 0}};
      GetCursorPos(&info.MousePos);
      SendMessageW(asked->handle, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
      return TRUE;
    }
    case VK_SPACE:
      if (focused && focused->kind == platform::ui::WindowKind::Button && focused->enabled()) {
        SendMessageW(focused->handle, BM_CLICK, 0, 0);
        return TRUE;
      }
      return FALSE;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN: {
      // Buttons leave arrows to the dialog, which moves within the group
      // (a radio button reached so is chosen); lists, edits and the like
      // use them themselves.
      if (!focused || focused->parent != d || focused->kind != platform::ui::WindowKind::Button || is_group_box(focused))
        return FALSE;
      const bool forward = msg->wParam == VK_RIGHT || msg->wParam == VK_DOWN;
      if (Window* n = step_group(*d, focused, forward)) {
        SetFocus(n->handle);
        if (is_radio(n)) SendMessageW(n->handle, BM_CLICK, 0, 0);
      }
      return TRUE;
    }
  }
  return FALSE;
}
