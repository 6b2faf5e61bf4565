// One-click copy: clones the system's disk onto a new disk without the
// wizard's first pages. It picks the source and the destination itself,
// fixes the settings (whole disk, no scan, no verify; sector by sector on
// old systems, else basic with automatic sizing), plans the destination,
// makes every planned partition hold its data, and opens the clone page
// (which starts by itself in one-click auto mode, after "/B ONECLICK").
#pragma once

#include <cstdint>

#include "mainapp/clone/plan_application.h"

class CWnd;

// Lengthens planned entry `entry` of the layout table by `missing` 512-byte
// units taken from the spare room (planned length beyond used + used / 4) of
// the later lettered partitions, in order; the partitions between move up
// so each giving partition keeps its planned end. Stops with false at a
// logical or extended entry, or when the later partitions lack the room.
bool BorrowFreeSpace(int32_t entry, uint64_t missing, int32_t count, const UsedSectorsOf& used);

// The main dialog's One Click Copy (kCmdOneClick, the picture, the
// one-click countdown).
void OnOneClickCopy(CWnd* owner);
