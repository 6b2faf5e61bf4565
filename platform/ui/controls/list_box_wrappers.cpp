// CListBox and CComboBox: one implementation under each class's names.
#include "platform/ui/controls/control_wrappers.h"

#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/message_queue.h"

using namespace platform::ui;

namespace {
template <class M>
M* model(HWND h) { return ModelOf<M>(h); }
bool valid_index(const std::vector<ListEntry>& v, int i) { return i >= 0 && static_cast<size_t>(i) < v.size(); }
}  // namespace

#define DRUM_LIST_COMMON(Class, Model)                                                              \
  int Class::AddString(LPCWSTR text) {                                                              \
    Window* w = FindWindowModel(m_hWnd);                                                            \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && text ? m->add(*w, text) : -1;                                                       \
  }                                                                                                 \
  int Class::InsertString(int index, LPCWSTR text) {                                                \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || !text) return -1;                                                                     \
    size_t at = index < 0 || static_cast<size_t>(index) > m->items.size() ? m->items.size() : static_cast<size_t>(index); \
    m->items.insert(m->items.begin() + static_cast<long>(at), ListEntry{text, 0});                 \
    if (m->current >= static_cast<int>(at)) ++m->current;                                           \
    return static_cast<int>(at);                                                                    \
  }                                                                                                 \
  int Class::DeleteString(UINT index) {                                                             \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || index >= m->items.size()) return -1;                                                  \
    m->items.erase(m->items.begin() + index);                                                       \
    if (m->current == static_cast<int>(index)) m->current = -1;                                     \
    else if (m->current > static_cast<int>(index)) --m->current;                                    \
    return static_cast<int>(m->items.size());                                                       \
  }                                                                                                 \
  void Class::ResetContent() {                                                                      \
    if (auto* m = model<Model>(m_hWnd)) { m->items.clear(); m->current = -1; }                      \
  }                                                                                                 \
  int Class::GetCount() const { auto* m = model<Model>(m_hWnd); return m ? static_cast<int>(m->items.size()) : -1; } \
  int Class::GetCurSel() const { auto* m = model<Model>(m_hWnd); return m ? m->current : -1; }     \
  int Class::SetCurSel(int index) {                                                                 \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m) return -1;                                                                              \
    m->current = valid_index(m->items, index) ? index : -1;                                         \
    if (Window* w = FindWindowModel(m_hWnd)) {                                                      \
      m->show_current(*w);                                                                          \
      NotifyWindowRepainted(*w);                                                                    \
    }                                                                                               \
    return m->current == index ? index : -1;                                                        \
  }                                                                                                 \
  DWORD_PTR Class::GetItemData(int index) const {                                                   \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && valid_index(m->items, index) ? m->items[static_cast<size_t>(index)].data : static_cast<DWORD_PTR>(-1); \
  }                                                                                                 \
  int Class::SetItemData(int index, DWORD_PTR data) {                                               \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || !valid_index(m->items, index)) return -1;                                             \
    m->items[static_cast<size_t>(index)].data = data;                                               \
    return 0;                                                                                       \
  }

// The item texts and searches, under each class's names (LB_ERR and CB_ERR
// are both -1).
#define DRUM_LIST_TEXTS(Class, Model, GetItemText, GetItemTextLen)                                  \
  int Class::GetItemText(int index, std::u16string& text) const {                                   \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || !valid_index(m->items, index)) return LB_ERR;                                         \
    text = m->items[static_cast<size_t>(index)].text;                                               \
    return static_cast<int>(text.size());                                                           \
  }                                                                                                 \
  int Class::GetItemText(int index, CString& text) const {                                          \
    std::u16string t;                                                                               \
    int n = GetItemText(index, t);                                                                  \
    text = CString(t);                                                                              \
    return n;                                                                                       \
  }                                                                                                 \
  int Class::GetItemTextLen(int index) const {                                                      \
    std::u16string t;                                                                               \
    return GetItemText(index, t);                                                                   \
  }                                                                                                 \
  int Class::FindString(int start, LPCWSTR text) const {                                            \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && text ? m->find(text, start, false) : LB_ERR;                                        \
  }                                                                                                 \
  int Class::FindStringExact(int start, LPCWSTR text) const {                                       \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && text ? m->find(text, start, true) : LB_ERR;                                         \
  }

static_assert(LB_ERR == CB_ERR);
DRUM_LIST_COMMON(CListBox, ListBoxModel)
DRUM_LIST_COMMON(CComboBox, ComboBoxModel)
DRUM_LIST_TEXTS(CListBox, ListBoxModel, GetText, GetTextLen)
DRUM_LIST_TEXTS(CComboBox, ComboBoxModel, GetLBText, GetLBTextLen)

int CComboBox::SelectString(int start, LPCWSTR text) {
  int i = FindString(start, text);
  if (i >= 0) SetCurSel(i);
  return i;
}
