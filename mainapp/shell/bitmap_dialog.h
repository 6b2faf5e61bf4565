// CBDialog: a dialog base that paints a bitmap resource as its background,
// tiled (the initial mode), centred or stretched over the client area. The
// main dialog, the About box and the disk health page derive from it and
// choose mode and bitmap in their OnInitDialog after the base OnInitDialog.
#pragma once

#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

class CBDialog : public CDialog {
 public:
  static constexpr int kTile = 0;
  static constexpr int kCentre = 1;
  static constexpr int kStretch = 2;

  CBDialog(UINT template_id, CWnd* parent);
  ~CBDialog() override;

  // Takes 0 (tile), 1 (centre) or 2 (stretch); any other value leaves the
  // mode as it was. Does not repaint.
  void SetBackgroundMode(int mode);
  // Loads the bitmap resource `id` as the background. A bitmap that does not
  // load leaves the dialog on its plain background; returns whether it loaded.
  bool SetBackgroundBitmap(UINT id);

  int background_mode() const { return mode_; }
  bool has_background() const { return background_.GetSafeHandle() != nullptr; }

  BOOL OnEraseBkgnd(CDC* dc);
  // Offers a control's colour request to a CTransparentStatic2 first.
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  CBitmap background_;
  int mode_ = kTile;
};

namespace shell {

// Where the copies of a bitmap of `bitmap` pixels land in a client area of
// `client` pixels; shared by both dialog bases so their tiling is the same.
// Tile: a block per step of the bitmap size, rows top to bottom. An empty
// bitmap or client gives no blocks.
struct BlitPlan {
  int x, y;
};
std::vector<BlitPlan> TilePositions(SIZE bitmap, SIZE client);
// Centre: half the difference when the bitmap is smaller, else 0, per axis.
BlitPlan CentrePosition(SIZE bitmap, SIZE client);

}  // namespace shell
