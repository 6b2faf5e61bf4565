// WM_DEVICECHANGE from the storage layer's device notifications: each
// disk or volume arrival and removal is posted to every top-level window on
// that window's own thread, with lParam pointing at the broadcast record
// (DEV_BROADCAST_VOLUME for volume events), as the platform broadcasts it.
#pragma once

#include <cstdint>

namespace platform::ui {

struct UiThread;

// Starts forwarding (idempotent). Program start-up calls it once.
void ConnectDeviceNotifications();
void DisconnectDeviceNotifications();

// Posts the events this thread has not seen yet; the message loop calls it.
// Once notifications are connected it also looks for disks attached or
// detached (simpc attach/detach) every kDevicePollMs of the loop's clock, so
// an idle program sees them; on a virtual clock that time passes only when
// something else advances it.
constexpr uint64_t kDevicePollMs = 1000;
void DeliverDeviceChanges(UiThread& thread);
// The clock time at which `thread` next looks for disks, or UINT64_MAX when
// it does not look (notifications not connected).
uint64_t NextDevicePoll(const UiThread& thread);

// Records an event as the storage layer would (and wakes the loops).
// `device_type` 2 is a volume with `unit_mask` letters, 5 a disk interface.
void QueueDeviceChange(uint32_t event, uint32_t device_type, uint32_t unit_mask);

// The newest event's number (a new thread starts from it).
uint64_t LatestDeviceChange();

}  // namespace platform::ui
