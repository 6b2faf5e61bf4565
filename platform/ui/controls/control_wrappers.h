// The framework's wrapper classes of the built-in controls (CButton,
// CListCtrl, ...). They work through messages and the control models;
// changes made through them send the notifications the platform sends
// (LVN_ITEMCHANGING before a list row changes, refusable, and so on).
#pragma once

#include <string>

#include "platform/ui/controls/button_control.h"
#include "platform/ui/controls/combo_box_control.h"
#include "platform/ui/controls/edit_control.h"
#include "platform/ui/controls/list_box_control.h"
#include "platform/ui/controls/list_view_control.h"
#include "platform/ui/controls/progress_control.h"
#include "platform/ui/controls/rich_edit_control.h"
#include "platform/ui/controls/slider_control.h"
#include "platform/ui/controls/static_control.h"
#include "platform/ui/controls/tree_view_control.h"
#include "platform/ui/cwnd.h"

class CStatic : public CWnd {
 public:
  HBITMAP SetBitmap(HBITMAP bitmap);
  HBITMAP GetBitmap() const;
  HICON SetIcon(HICON icon);
  HICON GetIcon() const;
};

class CButton : public CWnd {
 public:
  int GetCheck() const;
  void SetCheck(int check);
  UINT GetState() const;
  UINT GetButtonStyle() const;
  void SetButtonStyle(UINT style, BOOL redraw = TRUE);
  HBITMAP SetBitmap(HBITMAP bitmap);
  HBITMAP GetBitmap() const;
  HICON SetIcon(HICON icon);
};

class CEdit : public CWnd {
 public:
  void SetSel(int start, int end, BOOL no_scroll = FALSE);
  void GetSel(int& start, int& end) const;
  void ReplaceSel(LPCWSTR text, BOOL can_undo = FALSE);
  void SetLimitText(UINT max);
  void LimitText(int max = 0) { SetLimitText(static_cast<UINT>(max)); }
  BOOL SetReadOnly(BOOL read_only = TRUE);
  BOOL GetModify() const;
  void SetModify(BOOL modified = TRUE);
};

class CRichEditCtrl : public CWnd {
 public:
  void SetSel(long start, long end);
  void GetSel(long& start, long& end) const;
  void ReplaceSel(LPCWSTR text, BOOL can_undo = FALSE);
  BOOL SetSelectionCharFormat(CHARFORMAT2W& format);
  BOOL SetDefaultCharFormat(CHARFORMAT2W& format);
  BOOL SetWordCharFormat(CHARFORMAT2W& format) { return SetSelectionCharFormat(format); }
  DWORD GetSelectionCharFormat(CHARFORMAT2W& format) const;
  COLORREF SetBackgroundColor(BOOL system_colour, COLORREF colour);
  BOOL SetReadOnly(BOOL read_only = TRUE);
  void HideSelection(BOOL, BOOL) {}
};

class CListBox : public CWnd {
 public:
  int AddString(LPCWSTR text);
  int InsertString(int index, LPCWSTR text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetText(int index, std::u16string& text) const;
  int GetText(int index, CString& text) const;
  int GetTextLen(int index) const;
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  int FindString(int start, LPCWSTR text) const;
  int FindStringExact(int start, LPCWSTR text) const;
};

class CComboBox : public CWnd {
 public:
  int AddString(LPCWSTR text);
  int InsertString(int index, LPCWSTR text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetLBText(int index, std::u16string& text) const;
  int GetLBText(int index, CString& text) const;
  int GetLBTextLen(int index) const;
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  int FindString(int start, LPCWSTR text) const;
  int FindStringExact(int start, LPCWSTR text) const;
  int SelectString(int start, LPCWSTR text);
};

class CListCtrl : public CWnd {
 public:
  DWORD SetExtendedStyle(DWORD style);
  DWORD GetExtendedStyle() const;
  int InsertColumn(int index, LPCWSTR heading, int format = LVCFMT_LEFT, int width = -1, int sub_item = -1);
  BOOL DeleteColumn(int index);
  int GetColumnWidth(int index) const;
  BOOL SetColumnWidth(int index, int width);
  int InsertItem(int index, LPCWSTR text);
  int InsertItem(int index, LPCWSTR text, int image);
  int InsertItem(const LVITEMW* item);
  BOOL SetItemText(int row, int column, LPCWSTR text);
  CString GetItemText(int row, int column) const;
  int GetItemText(int row, int column, LPWSTR buffer, int size) const;
  BOOL SetItemData(int row, DWORD_PTR data);
  DWORD_PTR GetItemData(int row) const;
  BOOL SetItem(const LVITEMW* item);
  BOOL GetItem(LVITEMW* item) const;
  BOOL SetItemState(int row, UINT state, UINT mask);
  UINT GetItemState(int row, UINT mask) const;
  BOOL SetCheck(int row, BOOL check = TRUE);
  BOOL GetCheck(int row) const;
  BOOL DeleteItem(int row);
  BOOL DeleteAllItems();
  int GetItemCount() const;
  int GetNextItem(int start, int flags) const;
  int GetSelectionMark() const;
  int GetSelectedCount() const;
  CImageList* SetImageList(CImageList* list, int which);
  CImageList* GetImageList(int which) const;
  int HitTest(LVHITTESTINFO* info) const;
  int HitTest(CPoint point, UINT* flags = nullptr) const;
  BOOL GetItemRect(int row, LPRECT rect, UINT code) const;
  BOOL EnsureVisible(int row, BOOL partial_ok);
  int GetTopIndex() const;
  BOOL RedrawItems(int, int) { Invalidate(); return TRUE; }
};

class CTreeCtrl : public CWnd {
 public:
  HTREEITEM InsertItem(const TVINSERTSTRUCTW* insert);
  HTREEITEM InsertItem(LPCWSTR text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
  HTREEITEM InsertItem(LPCWSTR text, int image, int selected_image, HTREEITEM parent = TVI_ROOT,
                       HTREEITEM after = TVI_LAST);
  BOOL DeleteItem(HTREEITEM item);
  BOOL DeleteAllItems();
  HTREEITEM GetRootItem() const;
  HTREEITEM GetChildItem(HTREEITEM item) const;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetPrevSiblingItem(HTREEITEM item) const;
  HTREEITEM GetParentItem(HTREEITEM item) const;
  HTREEITEM GetNextItem(HTREEITEM item, UINT code) const;
  HTREEITEM GetSelectedItem() const;
  BOOL ItemHasChildren(HTREEITEM item) const;
  CString GetItemText(HTREEITEM item) const;
  BOOL SetItemText(HTREEITEM item, LPCWSTR text);
  DWORD_PTR GetItemData(HTREEITEM item) const;
  BOOL SetItemData(HTREEITEM item, DWORD_PTR data);
  BOOL GetItem(TVITEMW* item) const;
  BOOL SetItem(TVITEMW* item);
  UINT GetItemState(HTREEITEM item, UINT mask) const;
  BOOL SetItemState(HTREEITEM item, UINT state, UINT mask);
  BOOL GetItemImage(HTREEITEM item, int& image, int& selected_image) const;
  BOOL SetItemImage(HTREEITEM item, int image, int selected_image);
  BOOL GetCheck(HTREEITEM item) const;
  BOOL SetCheck(HTREEITEM item, BOOL check = TRUE);
  BOOL Expand(HTREEITEM item, UINT code);
  BOOL SelectItem(HTREEITEM item);
  HTREEITEM HitTest(CPoint point, UINT* flags = nullptr) const;
  HTREEITEM HitTest(TVHITTESTINFO* info) const;
  CImageList* SetImageList(CImageList* list, int which);
  CImageList* GetImageList(int which) const;
  UINT GetCount() const;
  BOOL GetItemRect(HTREEITEM item, LPRECT rect, BOOL text_only) const;
  BOOL EnsureVisible(HTREEITEM) { return TRUE; }
  // Orders the children of sort->hParent (the top level for TVI_ROOT or
  // null) by the callback; equal items keep their order. Only that one level
  // moves. FALSE for a bad parent or no callback.
  BOOL SortChildrenCB(LPTVSORTCB sort, BOOL recurse = FALSE);
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange(short low, short high) { SetRange32(low, high); }
  void SetRange32(int low, int high);
  void GetRange(int& low, int& high) const;
  int SetPos(int pos);
  int GetPos() const;
  int OffsetPos(int delta);
  int SetStep(int step);
  int StepIt();
};

class CSliderCtrl : public CWnd {
 public:
  void SetRange(int low, int high, BOOL redraw = FALSE);
  void GetRange(int& low, int& high) const;
  void SetRangeMin(int low, BOOL redraw = FALSE);
  void SetRangeMax(int high, BOOL redraw = FALSE);
  int GetRangeMin() const;
  int GetRangeMax() const;
  void SetPos(int pos);
  int GetPos() const;
};

class CScrollBar : public CWnd {};
