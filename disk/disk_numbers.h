// The two numbers a disk goes by, as distinct types.
//
// A physical number names the disk to the platform (PhysicalDriveN) and
// indexes the per-disk geometry tables. A listed index is the disk's 0-based
// position in the listed-disk table; the lists show index + 1, and the
// DiskContext tables keep index + 1 as their slot (slot 0 stays empty). The
// two differ as soon as the physical numbering has a gap, so neither converts
// to the other or to a plain integer without saying so: a listed index passed
// where a physical number is expected does not compile.
//
// Each is one int32_t, so records holding them keep their layout; -1 stands
// for "none" in both.
#pragma once

#include <compare>
#include <cstdint>

template <class Tag>
struct DiskNumber {
  int32_t value;

  // Left as the enclosing record's initialisation leaves it: zero in a
  // value-initialised record, as the plain integer was.
  DiskNumber() = default;
  constexpr explicit DiskNumber(int32_t v) : value(v) {}

  constexpr bool is_none() const { return value < 0; }

  friend constexpr bool operator==(DiskNumber, DiskNumber) = default;
  friend constexpr auto operator<=>(DiskNumber, DiskNumber) = default;
};

using PhysicalDiskNumber = DiskNumber<struct PhysicalDiskTag>;
using ListedDiskIndex = DiskNumber<struct ListedDiskTag>;

inline constexpr PhysicalDiskNumber kNoPhysicalDisk{-1};
inline constexpr ListedDiskIndex kNoListedDisk{-1};
