#include "mainapp/clone/manual_sizing.h"

#include <algorithm>

#include "program_support/language_table.h"
#include "program_support/number_text.h"

ManualSizingState ManualSizing;

namespace {

constexpr uint64_t kOneMiB = 2048;     // sectors
constexpr uint64_t kTwoMiB = 4096;     // sectors
constexpr int32_t kWriteBackItems = 16;

bool IsFree(const DiskMapItem& item) { return item.partitionIndex < 0; }
uint64_t EndOf(const DiskMapItem& item) { return item.start + item.length; }
int32_t Count(const DiskMapRecord& map) { return std::clamp(map.count, 0, kMaxDiskMapItems); }

void Remove(DiskMapRecord& map, int32_t index) {
  for (int32_t i = index; i + 1 < map.count; ++i) map.items[i] = map.items[i + 1];
  map.items[--map.count] = DiskMapItem{};
}

void Move(DiskMapItem& item, int64_t by) {
  const int64_t s = static_cast<int64_t>(item.start) + by;
  item.start = static_cast<uint64_t>(std::max<int64_t>(s, 0));
}

DiskMapItem FreeItem(uint64_t start, uint64_t length, int32_t outsideExtended) {
  DiskMapItem free{};
  free.partitionIndex = -1;
  free.type = -1;
  free.driveLetter = -1;
  free.outsideExtended = outsideExtended;
  free.start = start;
  free.length = length;
  return free;
}

}  // namespace

uint64_t ResizePlannedItem(DiskMapRecord& map, int32_t item, uint64_t requested, uint64_t diskSectors) {
  map.count = Count(map);
  if (item < 0 || item >= map.count || requested == 0) return 0;
  DiskMapItem& sized = map.items[item];
  int64_t delta = static_cast<int64_t>(requested) - static_cast<int64_t>(sized.length);
  sized.length = requested;
  for (int32_t i = item + 1; i < map.count; ++i) {
    DiskMapItem& next = map.items[i];
    if (!IsFree(next)) {
      Move(next, delta);
      continue;
    }
    if (static_cast<int64_t>(next.length) > delta) {
      next.length = static_cast<uint64_t>(static_cast<int64_t>(next.length) - delta);
      Move(next, delta);
      break;
    }
    if (i == map.count - 1) {
      Remove(map, i);
      break;
    }
    const int64_t old = static_cast<int64_t>(next.length);
    next.length = kOneMiB;
    Move(next, delta);
    delta = delta - old + static_cast<int64_t>(kOneMiB);
  }
  // The free space kept between the items may leave less room than the
  // bounds promised: what would run past the disk is taken back from the
  // resized item, and everything after it moves back by as much.
  if (map.count > 0 && diskSectors > 0) {
    const uint64_t end = EndOf(map.items[map.count - 1]);
    if (end > diskSectors) {
      const uint64_t over = std::min(end - diskSectors, sized.length - 1);
      sized.length -= over;
      for (int32_t i = item + 1; i < map.count; ++i) Move(map.items[i], -static_cast<int64_t>(over));
    }
  }
  if (map.count > 0) {
    DiskMapItem& last = map.items[map.count - 1];
    const uint64_t end = EndOf(last);
    if (end < diskSectors) {
      const uint64_t rest = diskSectors - end;
      if (rest < kTwoMiB)
        last.length += rest;
      else if (map.count < kMaxDiskMapItems)
        map.items[map.count++] = FreeItem(end, rest, last.outsideExtended);
    }
  }
  if (map.count > 1 && map.items[map.count - 1].length < kTwoMiB) {
    map.items[map.count - 2].length += map.items[map.count - 1].length;
    map.items[map.count - 1] = DiskMapItem{};
    --map.count;
  }
  return item < map.count ? map.items[item].length : 0;
}

void ApplySourceSizeToPartition(DiskMapRecord& map, int32_t item, uint64_t sourceLength) {
  map.count = Count(map);
  if (item < 0 || item >= map.count) return;
  DiskMapItem& sized = map.items[item];
  // A source at least as long as the partition keeps the partition whole:
  // a longer one would reach into what follows it.
  if (sourceLength == 0 || sourceLength >= sized.length) return;
  const uint64_t freed = sized.length - sourceLength;
  sized.length = sourceLength;
  if (item == map.count - 2 && IsFree(map.items[map.count - 1])) {
    DiskMapItem& last = map.items[map.count - 1];
    last.start -= freed;
    last.length += freed;
    return;
  }
  if (map.count >= kMaxDiskMapItems) return;
  for (int32_t i = map.count; i > item + 1; --i) map.items[i] = map.items[i - 1];
  map.items[item + 1] = FreeItem(EndOf(sized), freed, sized.outsideExtended);
  ++map.count;
}

void WriteBackPlannedMap(const DiskMapRecord& map, LayoutEntry* table, int32_t count) {
  count = std::clamp(count, 0, kMaxLayoutEntries);
  const int32_t items = std::min(Count(map), kWriteBackItems);
  for (int32_t e = count - 1; e >= 0; --e) {
    LayoutEntry& entry = table[e];
    if (entry.driveLetter <= 0) continue;
    const DiskMapItem* match = nullptr;
    for (int32_t i = 0; i < items && !match; ++i)
      if (map.items[i].partitionIndex >= 0 && map.items[i].driveLetter == entry.driveLetter) match = &map.items[i];
    if (!match) continue;
    const int64_t start = static_cast<int64_t>(match->start * 512);
    const int64_t length = static_cast<int64_t>(match->length * 512);
    if (entry.nesting > 0 && entry.containerIndex >= 0 && entry.containerIndex < count && entry.containerIndex != e) {
      LayoutEntry& container = table[entry.containerIndex];
      container.newLengthBytes =
          static_cast<uint64_t>(static_cast<int64_t>(container.newLengthBytes) + length -
                                static_cast<int64_t>(entry.newLengthBytes));
      if (entry.containerIndex != 0)
        container.newStartBytes = static_cast<uint64_t>(static_cast<int64_t>(container.newStartBytes) + start -
                                                        static_cast<int64_t>(entry.newStartBytes));
    }
    entry.newStartBytes = static_cast<uint64_t>(start);
    entry.newLengthBytes = static_cast<uint64_t>(length);
  }
}

int32_t FindMapItem(const DiskMapItem* items, int32_t count, int32_t position) {
  count = std::clamp(count, 0, kMaxDiskMapItems);
  for (int32_t i = 0; i < count; ++i)
    if (items[i].partitionIndex == position && position >= 0) return i;
  return -1;
}

namespace {

uint64_t FreeAfter(const DiskMapRecord& map, int32_t item) {
  uint64_t sum = 0;
  for (int32_t i = item + 1; i < Count(map); ++i)
    if (IsFree(map.items[i])) sum += map.items[i].length;
  return sum;
}

}  // namespace

ManualBounds WholeDiskBounds(const DiskMapRecord& planned, int32_t item, uint64_t usedSectors) {
  ManualBounds b;
  if (item < 0 || item >= Count(planned)) return b;
  b.current = planned.items[item].length;
  b.maximum = b.current + FreeAfter(planned, item);
  // An item without a volume is copied by sectors: it cannot shrink.
  b.minimum = planned.items[item].driveLetter > 0 ? usedSectors + usedSectors / 4 : b.current;
  b.minimum = std::min(b.minimum, b.maximum);
  return b;
}

ManualBounds PartitionBounds(const DiskMapRecord& destination, int32_t item, uint64_t usedSectors) {
  ManualBounds b;
  if (item < 0 || item >= Count(destination)) return b;
  b.maximum = destination.items[item].length + FreeAfter(destination, item);
  b.minimum = std::min(usedSectors, b.maximum);
  b.current = b.maximum;
  return b;
}

uint64_t TypedLength(const CString& text, uint64_t minimum, uint64_t maximum) {
  // Read as a decimal number the way the field's text always was: leading
  // blanks, an optional sign, then the digits up to the first other character.
  const CString digits = text.GetLength() > 8 ? text.Left(8) : text;
  int i = 0;
  while (i < digits.GetLength() && digits[i] == u' ') ++i;
  bool negative = false;
  if (i < digits.GetLength() && (digits[i] == u'-' || digits[i] == u'+')) negative = digits[i++] == u'-';
  uint64_t mib = 0;
  for (; i < digits.GetLength() && digits[i] >= u'0' && digits[i] <= u'9'; ++i)
    mib = mib * 10 + static_cast<uint64_t>(digits[i] - u'0');
  uint64_t requested = mib * 2048;
  if (negative && mib != 0) requested = maximum;
  if (maximum < 2048 || requested > maximum - 2048) requested = maximum;
  if (requested < minimum) requested = minimum;
  return requested;
}

uint64_t TrackbarLength(int position, uint64_t maximum) {
  uint64_t requested = position > 0 ? static_cast<uint64_t>(position) * 16 : 0;
  if (requested >= maximum || maximum - requested < 16) requested = maximum;
  return requested;
}

CString PartitionComboLine(const DiskMapItem& item, int32_t index) {
  return LookupString(u"IDS_Partition") + u" " + IntToText(index) + u" " + FormatSectorCount(item.length);
}

int32_t ItemOfComboLine(const CString& line) {
  const CString prefix = LookupString(u"IDS_Partition") + u" ";
  if (line.Left(prefix.GetLength()) != prefix) return -1;
  int32_t value = 0;
  int i = prefix.GetLength();
  if (i >= line.GetLength() || line[i] < u'0' || line[i] > u'9') return -1;
  for (; i < line.GetLength() && line[i] >= u'0' && line[i] <= u'9' && value < 1000; ++i) value = value * 10 + (line[i] - u'0');
  return value;
}
