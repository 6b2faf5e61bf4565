// Dialogs made from resource templates: modal (DoModal runs a nested loop
// until EndDialog) and modeless (Create).
//
// Rules for subclasses: call the base OnInitDialog first; OnOK validates
// with UpdateData(TRUE) and ends with IDOK; OnCancel ends with IDCANCEL.
// A handler may end its own page and run the next page's DoModal right away:
// EndDialog hides the page and re-enables its owner at once, and the page's
// loop ends when the handler returns.
#pragma once

#include <string>

#include "platform/ui/cwnd.h"
#include "platform/ui/message_queue.h"

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL save_and_validate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(save_and_validate) {}
  CWnd* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
  bool failed = false;
  // Marks the exchange failed (after telling the user) with focus on `id`.
  void Fail(int id);
};

void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, std::u16string& value);
void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
void DDX_Radio(CDataExchange* dx, int id, int& value);

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT template_id = 0, CWnd* parent = nullptr);
  ~CDialog() override;

  UINT m_nIDHelp = 0;  // the template id
  CWnd* m_pParentWnd = nullptr;

  // Runs the dialog modally; returns the EndDialog result, or -1 when the
  // template is missing.
  virtual INT_PTR DoModal();
  // Makes a modeless dialog (shown when the template says WS_VISIBLE).
  virtual BOOL Create(UINT template_id, CWnd* parent = nullptr);
  BOOL Create(LPCWSTR, LPCWSTR, DWORD, const RECT&, CWnd*, UINT) override { return FALSE; }
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  void EndDialog(int result);
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT DefWindowProc(UINT message, WPARAM w, LPARAM l) override;

  void GotoDlgCtrl(CWnd* control);
  void NextDlgCtrl() const;
  void PrevDlgCtrl() const;
  void SetDefID(UINT id);
  DWORD GetDefID() const;
  bool is_modal() const { return loop_ != nullptr; }

 protected:
  DECLARE_MESSAGE_MAP()
  LRESULT HandleInitDialog(WPARAM, LPARAM);
  LRESULT HandleHelp(WPARAM, LPARAM);
  void OnOkCommand() { OnOK(); }
  void OnCancelCommand() { OnCancel(); }

 private:
  bool make_window(bool modal);
  platform::ui::ModalLoop* loop_ = nullptr;
  HWND disabled_owner_ = nullptr;
  bool ended_early_ = false;
  INT_PTR early_result_ = 0;
};

namespace platform::ui {

struct DialogTemplate;
struct Window;

// Makes a dialog window and its controls from a template (hidden; the
// caller shows it). Placement: relative to the owner's client origin, or
// centred on the screen for DS_CENTER.
Window* BuildDialogWindow(const DialogTemplate& t, Window* owner, ::CWnd* object, bool child);

// Whether the keyboard focus is on the dialog or one of its controls.
bool HoldsFocus(Window& dialog);
// Focuses the first visible, enabled tab stop of the dialog (none: no change).
void FocusFirstTabStop(Window& dialog);

// The dialog's default push button, or null.
Window* DefaultButton(Window& dialog);

}  // namespace platform::ui
