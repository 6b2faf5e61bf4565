// The items of the clone page that the run's stages update while they work
// (status line, progress bar, copied amount, elapsed time, format percent),
// and the small helpers every stage uses on them. Every helper takes the
// page as a nullable window: a stage run without a page (a test, a run from
// another page) updates nothing and still works.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/core/cstring.h"

class CWnd;

namespace clone_items {
constexpr int kStart = 1011;
constexpr int kCancel = 2;
constexpr int kBack = 4;
constexpr int kProgress = 1025;
constexpr int kCopied = 1035;
constexpr int kElapsed = 1103;
constexpr int kFormatPercent = 1112;
constexpr int kStatus = 1117;
}  // namespace clone_items

// Item 1103 := the time since CloneRunState.operationStart as "%H:%M:%S"
// (hours within the day, so 25 hours show 01:00:00).
void ShowElapsedTime(CWnd* page);
// Serves the page's and the main dialog's pending messages once each, so
// the page's Cancel can run inside a long stage.
void PumpClonePage(CWnd* page);
// Sets the page's status line.
void ShowCloneStatus(CWnd* page, const CString& text);
// The progress bar takes 32-bit positions: a 64-bit range and position are
// shifted right by the same amount until the range fits.
void SetCloneProgressRange(CWnd* page, uint64_t high);
void SetCloneProgressPos(CWnd* page, uint64_t position, uint64_t high);
// Range and position in the run's own small units (0 .. 2n + 200).
void SetCloneProgressRange32(CWnd* page, int32_t high);
void SetCloneProgressPos32(CWnd* page, int32_t position);

// The run's own units for n partitions: 2 for each partition (its entry
// written, its volume formatted), then 100 for the copy pass and 100 more
// for the verify pass.
constexpr int32_t kCloneProgressPerPartition = 2;
constexpr int32_t kCloneProgressPerPass = 100;
// Where the passes start: 2n.
constexpr int64_t CloneProgressPassStart(int32_t partitions) {
  return int64_t{kCloneProgressPerPartition} * partitions;
}
// The bar's end: 2n + 100, or 2n + 200 with the verify pass.
constexpr int32_t CloneProgressEnd(int32_t partitions, bool verify) {
  return static_cast<int32_t>(CloneProgressPassStart(partitions) + (verify ? 2 : 1) * kCloneProgressPerPass);
}

// The pace at which a long stage shows its progress on the page: the engines
// move hundreds of blocks a second, and showing each one costs the page's
// messages and repaints on the copy's own thread, while the bar has only so
// many steps and a reader sees a few changes a second. A position is shown
// when its whole percent of the stage changed, when kInterval of real time
// passed since the page last showed one (the elapsed time moves on), and at
// the stage's end.
class DisplayPace {
 public:
  static constexpr std::chrono::milliseconds kInterval{200};
  // True at the first call and then once kInterval has passed since the
  // last call that answered true.
  bool Due();
  // Forgets the time, for a position shown for another reason.
  void Shown();

 private:
  std::chrono::steady_clock::time_point last_{};
  bool started_ = false;
};

// A position a stage reports after every block, out of `total`.
struct PacedPosition {
  explicit PacedPosition(uint64_t stageTotal) : total(stageTotal) {}
  uint64_t total;
  DisplayPace pace;
  uint64_t last = 0;     // the position reported last
  uint64_t shown = 0;    // the position the page shows
  bool pending = false;  // reported but not shown yet: the stage shows it when it ends
  // Records `done`; true when the page should show it now.
  bool Take(uint64_t done);
};
