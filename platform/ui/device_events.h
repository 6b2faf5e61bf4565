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
void DeliverDeviceChanges(UiThread& thread);

// Records an event as the storage layer would (and wakes the loops).
// `device_type` 2 is a volume with `unit_mask` letters, 5 a disk interface.
void QueueDeviceChange(uint32_t event, uint32_t device_type, uint32_t unit_mask);

// The newest event's number (a new thread starts from it).
uint64_t LatestDeviceChange();

}  // namespace platform::ui
