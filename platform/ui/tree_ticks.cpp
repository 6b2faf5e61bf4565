// What a tree's state images mean to a script: the program's declaration
// and the driver's next move towards a ticked or unticked item.
#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/headless_driver.h"

namespace platform::ui {

void SetTreeTickImages(HWND tree, std::vector<UINT> ticked, std::vector<UINT> unticked) {
  if (auto* model = ModelOf<TreeViewModel>(tree)) {
    model->ticked_images = std::move(ticked);
    model->unticked_images = std::move(unticked);
  }
}

TreeTick NextTreeTick(const TreeViewModel& tree, const TreeNode& item, bool want, int& clicks, std::string& error) {
  const UINT image = (item.state & TVIS_STATEIMAGEMASK) >> 12;
  const std::vector<UINT>& goal = want ? tree.ticked_images : tree.unticked_images;
  if (std::find(goal.begin(), goal.end(), image) != goal.end()) {
    clicks = 0;
    return TreeTick::Done;
  }
  if (clicks >= kMaxTreeTickClicks) {
    error = "the box still shows state " + std::to_string(image) + " after " + std::to_string(clicks) +
            " clicks, not " + (want ? "ticked" : "unticked");
    clicks = 0;
    return TreeTick::Failed;
  }
  ++clicks;
  error = "waiting for the click on the box to take effect";
  return TreeTick::Click;
}

}  // namespace platform::ui
