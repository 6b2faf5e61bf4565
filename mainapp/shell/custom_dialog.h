// CCustomDialog: a dialog base with a tiled bitmap background whose statics
// and buttons draw transparently over it (edit controls and list boxes keep
// their own colours). The splash window derives from it.
#pragma once

#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

class CCustomDialog : public CDialog {
 public:
  // Loads `bitmap_id` at once and reads its size.
  CCustomDialog(UINT bitmap_id, UINT template_id, CWnd* parent);
  ~CCustomDialog() override;

  UINT bitmap_id() const { return bitmap_id_; }
  // Pixel size of the loaded bitmap; 0 x 0 when it did not load.
  SIZE bitmap_size() const { return size_; }
  bool has_bitmap() const { return bitmap_.GetSafeHandle() != nullptr; }

  BOOL OnEraseBkgnd(CDC* dc);
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);
  void OnDestroy();

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  DECLARE_MESSAGE_MAP()

 private:
  UINT bitmap_id_;
  CBitmap bitmap_;
  SIZE size_{0, 0};
  HBRUSH transparent_brush_ = nullptr;
};
