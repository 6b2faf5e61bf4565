// Message dispatch throughput on the headless model: the rate a copy loop's
// pump can go through messages. Target: over a million messages per second
// (the closing table says whether each of our rows reaches it).
// The peer is a plain std::deque + switch dispatch of the same messages,
// the least any queue can cost.
#include <deque>

#include "bench/common/bench_support.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/time_source.h"

namespace {

class Counter : public CWnd {
 public:
  uint64_t commands = 0;
  uint64_t timers = 0;

 protected:
  void OnTick() { ++commands; }
  LRESULT OnApp(WPARAM w, LPARAM) {
    commands += w;
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Counter, CWnd)
  ON_COMMAND(100, &Counter::OnTick)
  ON_COMMAND(101, &Counter::OnTick)
  ON_COMMAND(102, &Counter::OnTick)
  ON_MESSAGE(WM_APP, &Counter::OnApp)
END_MESSAGE_MAP()

// PostMessage, then a PeekMessage/TranslateMessage/DispatchMessage pump, as
// the programs' long loops do.
void BM_PostPeekDispatch(benchmark::State& state) {
  platform::ui::VirtualTimeSource clock;
  platform::ui::set_time_source(&clock);
  Counter wnd;
  wnd.CreateEx(0, u"", u"bench", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
  const int batch = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) PostMessageW(wnd.m_hWnd, WM_APP, 1, 0);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
  wnd.DestroyWindow();
  platform::ui::set_time_source(nullptr);
}

// SendMessage of WM_COMMAND through the message map.
void BM_SendCommand(benchmark::State& state) {
  Counter wnd;
  wnd.CreateEx(0, u"", u"bench", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
  for (auto _ : state) benchmark::DoNotOptimize(SendMessageW(wnd.m_hWnd, WM_COMMAND, 102, 0));
  state.SetItemsProcessed(state.iterations());
  wnd.DestroyWindow();
}

// The peer: a bare queue and a switch.
void BM_PeerDequeSwitch(benchmark::State& state) {
  std::deque<MSG> queue;
  uint64_t count = 0;
  const int batch = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) queue.push_back(MSG{nullptr, WM_APP, 1, 0, 0, {}});
    while (!queue.empty()) {
      MSG m = queue.front();
      queue.pop_front();
      switch (m.message) {
        case WM_APP: count += m.wParam; break;
        default: break;
      }
    }
  }
  benchmark::DoNotOptimize(count);
  state.SetItemsProcessed(state.iterations() * batch);
}

}  // namespace

int main(int argc, char** argv) {
  // Batches of 1, 64 and 1024 posted messages; the table pairs each batch
  // size with the bare queue's.
  for (int batch : {1, 64, 1024}) {
    bench::Register("dispatch_batch", "ours:PostMessage+PeekMessage", BM_PostPeekDispatch)
        ->Arg(batch)
        ->Unit(benchmark::kMicrosecond);
    bench::Register("dispatch_batch", "peer:deque+switch", BM_PeerDequeSwitch)
        ->Arg(batch)
        ->Unit(benchmark::kMicrosecond);
  }
  bench::Register("send_command", "ours:SendMessage", BM_SendCommand)->Unit(benchmark::kNanosecond);
  bench::SetTargetRate("dispatch_batch", 1e6);
  bench::SetTargetRate("send_command", 1e6);
  return bench::Main(argc, argv);
}
