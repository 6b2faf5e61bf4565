#include "platform/ui/device_events.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/storage/mount_manager.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/time_source.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

struct Event {
  uint64_t sequence;
  UINT event;
  storage::DEV_BROADCAST_VOLUME record;  // the header of other kinds is its first 12 bytes
};

struct Events {
  std::mutex mutex;
  // Records stay alive while handlers may still read them through lParam;
  // the oldest go once more than this many are kept.
  std::deque<Event> recent;
  std::atomic<uint64_t> latest{0};
  std::atomic<int> listener{-1};
};

Events& events() {
  static Events* e = new Events;
  return *e;
}

constexpr size_t kKeptEvents = 256;

}  // namespace

void QueueDeviceChange(uint32_t event, uint32_t device_type, uint32_t unit_mask) {
  auto& e = events();
  {
    std::lock_guard lock(e.mutex);
    Event ev{};
    ev.sequence = e.latest.load() + 1;
    ev.event = event;
    ev.record.dbcv_size = device_type == storage::DBT_DEVTYP_VOLUME ? sizeof(storage::DEV_BROADCAST_VOLUME)
                                                                     : sizeof(storage::DEV_BROADCAST_HDR);
    ev.record.dbcv_devicetype = device_type;
    ev.record.dbcv_unitmask = unit_mask;
    e.recent.push_back(ev);
    while (e.recent.size() > kKeptEvents) e.recent.pop_front();
    e.latest.store(ev.sequence);
  }
  WakeAllUiThreads();
}

uint64_t NextDevicePoll(const UiThread& thread) {
  return events().listener.load() >= 0 ? thread.next_device_poll : UINT64_MAX;
}

void DeliverDeviceChanges(UiThread& thread) {
  auto& e = events();
  if (e.listener.load() >= 0) {
    uint64_t now = time_source().now_ms();
    if (now >= thread.next_device_poll) {
      thread.next_device_poll = now + kDevicePollMs;
      storage::PollAttachedDisks();  // its events come back through the listener
    }
  }
  uint64_t latest = e.latest.load(std::memory_order_acquire);
  if (thread.device_seen >= latest) return;
  std::vector<std::pair<UINT, LPARAM>> todo;
  {
    std::lock_guard lock(e.mutex);
    for (auto& ev : e.recent)
      if (ev.sequence > thread.device_seen)
        todo.emplace_back(ev.event, reinterpret_cast<LPARAM>(&ev.record));
    thread.device_seen = latest;
  }
  for (auto [event, record] : todo)
    for (Window* w : TopLevelWindows())
      if (w->thread == &thread) PostMessageW(w->handle, WM_DEVICECHANGE, event, record);
}

uint64_t LatestDeviceChange() { return events().latest.load(); }

void ConnectDeviceNotifications() {
  auto& e = events();
  std::lock_guard lock(e.mutex);
  if (e.listener >= 0) return;
  // Threads that exist now have seen nothing before this point.
  e.listener = storage::AddDeviceChangeListener([](const storage::DeviceChange& change) {
    QueueDeviceChange(change.event, change.device_type, change.unit_mask);
  });
}

void DisconnectDeviceNotifications() {
  auto& e = events();
  int id;
  {
    std::lock_guard lock(e.mutex);
    id = e.listener;
    e.listener = -1;
  }
  if (id >= 0) storage::RemoveDeviceChangeListener(id);
}

}  // namespace platform::ui
