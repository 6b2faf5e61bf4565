// CTransparentStatic2: a static text that shows its parent's background under
// its text. The first erase takes a snapshot of the parent's pixels under the
// control (and draws nothing); later erases paint that snapshot back, so a new
// text is drawn over the background it had when the control first painted.
// The snapshot is never refreshed.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"

class CTransparentStatic2 : public CStatic {
 public:
  CTransparentStatic2() = default;
  ~CTransparentStatic2() override;

  bool has_snapshot() const { return snapshot_.GetSafeHandle() != nullptr; }
  // The snapshot's pixels (null before the first erase), for inspection.
  HBITMAP snapshot() const { return static_cast<HBITMAP>(snapshot_.GetSafeHandle()); }

  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  LRESULT OnSetText(WPARAM w, LPARAM l);
  // The colour request the parent reflects to the control: transparent text
  // background and the null brush.
  HBRUSH CtlColor(CDC* dc, UINT ctl_color);

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  CBitmap snapshot_;
  bool painted_over_ = false;  // the snapshot has been painted onto the control
};
